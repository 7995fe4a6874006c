// Reads files in the pieces that fgets gives on a text-mode ("r") stream,
// from binary-mode blocks: the C runtime's text-mode reading costs many
// times more a byte than the file reading under it.
#pragma once

#include <stddef.h>

#include "../app/handles.h"

class CInfPieceReader {
public:
    // The longest piece buffer ReadPieceHolding takes.
    static constexpr size_t MAX_PIECE_SIZE = 260;

    // The block, nBlockSize bytes (at least 1), is allocated once and
    // serves every file the reader opens.
    explicit CInfPieceReader(size_t nBlockSize);

    // Opens pszPath for reading in binary mode and closes the file before.
    // FALSE with the last error set when the file cannot be read.
    bool Open(const char* pszPath);
    void Close();

    // Fills pszPiece (nPieceSize bytes, at least 2) with the next piece of
    // the text and a terminating NUL, as fgets(pszPiece, nPieceSize, stream)
    // on the file opened "r" would: CR LF reads as LF, a lone CR stays,
    // Ctrl-Z ends the text, and a piece ends after a LF or when full.
    // Returns the piece's length in bytes, NUL bytes in it included; 0,
    // with pszPiece untouched, at the end of the text.
    size_t ReadPiece(char* pszPiece, size_t nPieceSize);

    // As ReadPiece, but passes over every piece that does not hold
    // pszKeyword (ASCII capitals; in the piece its letters may be in either
    // case). The text is searched for the keyword first, and only the piece
    // around a find is made. Reads a file with this function or ReadPiece,
    // not both. 0 with ERROR_INVALID_PARAMETER when nPieceSize exceeds
    // MAX_PIECE_SIZE or the keyword is shorter than 2 bytes or longer than
    // a piece.
    size_t ReadPieceHolding(char* pszPiece, size_t nPieceSize, const char* pszKeyword);

    // Line heads: here a line ends at a LF, at a CR that no LF follows as
    // well, and at the end of the text. Fills pszHead (nHeadSize bytes, 2
    // to MAX_PIECE_SIZE) with the first nHeadSize - 1 bytes of the next
    // line at most, without its end, and a NUL, and passes over the rest of
    // the line. With pszKeyword (as for ReadPieceHolding) it passes over
    // every line whose head does not hold it. False at the end of the text,
    // and with ERROR_INVALID_PARAMETER for a keyword shorter than 2 bytes
    // or longer than the head, or a head longer than MAX_PIECE_SIZE with it. Reads a file with this function alone.
    bool ReadLineHead(char* pszHead, size_t nHeadSize, const char* pszKeyword = nullptr);

private:
    bool FillBlock();
    bool TakeLineFeed();
    bool FindKeyword(const char* pszKeyword, size_t nKeyword);
    bool CopyLineHead(char* pszHead, size_t nHeadSize);
    void PassLines(size_t nTo);

    CHeapBlock m_block;
    size_t m_nBlockSize;
    CFileStream m_file;
    // Indexes into the block. The last MAX_PIECE_SIZE bytes read stay in
    // front of each new block, for a piece that began before it.
    size_t m_nNext;
    size_t m_nEnd;
    // Where the line of m_nNext begins, kept by ReadPieceHolding. It may lie
    // before the bytes kept: unsigned, it then wraps, and its distance to
    // an index is still right.
    size_t m_nLineStart;
    // Whether a lone CR ends a line too: set by the head functions.
    bool m_bCrEndsLine;
};
