// Reads files in the pieces that fgets gives on a text-mode ("r") stream,
// from binary-mode blocks: the C runtime's text-mode reading costs many
// times more a byte than the file reading under it.
#pragma once

#include <stddef.h>

#include "../app/handles.h"

class CInfPieceReader {
public:
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

private:
    bool FillBlock();
    bool TakeLineFeed();

    CHeapBlock m_block;
    size_t m_nBlockSize;
    CFileStream m_file;
    size_t m_nNext;
    size_t m_nEnd;
};
