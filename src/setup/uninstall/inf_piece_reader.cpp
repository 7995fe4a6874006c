// The text-mode translation done over binary blocks. It follows the C
// runtime's: a CR is dropped only when the next byte of the file is a LF,
// also when that byte is the first of the next block; the first Ctrl-Z
// ends the text, and a CR before it or at the end of the file stays.
//
// The keyword search rests on two facts of that translation. A piece never
// runs past a LF, and inside a line no CR LF pair is left (one would end
// it), so a line's pieces start at every (piece size - 1)th byte from its
// start in the file's own bytes. Hence a piece is only made where the
// keyword was found, from the start of its line.
#include "inf_piece_reader.h"

#include <emmintrin.h>
#include <stdint.h>
#include <string.h>

namespace {

const char CTRL_Z = 0x1A;

// LF, CR and Ctrl-Z: the bytes a piece cannot simply copy.
bool IsTextControl(char ch)
{
    unsigned int nByte = static_cast<unsigned char>(ch);
    const unsigned int nMask = (1u << '\n') | (1u << '\r') | (1u << CTRL_Z);
    return nByte < 32 && ((nMask >> nByte) & 1) != 0;
}

// Length of the run of bytes before the first LF, CR or Ctrl-Z of pBytes;
// words of eight bytes none below 0x20 are passed over whole.
size_t MeasurePlainRun(const char* pBytes, size_t nCount)
{
    const uint64_t nOnes = 0x0101010101010101ull;
    size_t i = 0;
    while (i < nCount) {
        uint64_t nWord = 0;
        if (nCount - i >= sizeof(nWord)) {
            memcpy(&nWord, pBytes + i, sizeof(nWord));
            if (((nWord - 0x20 * nOnes) & ~nWord & 0x80 * nOnes) == 0) {
                i += sizeof(nWord);
                continue;
            }
        }
        size_t nStop = nCount - i < sizeof(nWord) ? nCount : i + sizeof(nWord);
        for (; i < nStop; ++i) {
            if (IsTextControl(pBytes[i])) {
                return i;
            }
        }
    }
    return i;
}

// The keyword search reads up to this many bytes past the block's end.
const size_t SEARCH_SLACK = 16;

// Marks, sixteen positions at a time, where a keyword of two bytes or more
// may start (its first, second and last bytes there, letters in either
// case) and where a Ctrl-Z is. Three bytes rule out nearly every other
// place in INF text.
class CKeywordProbe {
public:
    CKeywordProbe(const char* pszKeyword, size_t nKeyword)
        : m_vCase(_mm_set1_epi8(0x20)), m_vFirst(FoldedByte(pszKeyword[0])), m_vSecond(FoldedByte(pszKeyword[1])),
          m_vLast(FoldedByte(pszKeyword[nKeyword - 1])), m_vCtrlZ(_mm_set1_epi8(CTRL_Z)), m_nLast(nKeyword - 1)
    {
    }
    // Bit n stands for pBytes[n]; reads pBytes[0] to pBytes[keyword length + 14].
    unsigned int Probe(const char* pBytes) const
    {
        __m128i vFirst = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pBytes));
        __m128i vKeyword = _mm_and_si128(IsFolded(vFirst, m_vFirst), IsFolded(Load(pBytes + 1), m_vSecond));
        vKeyword = _mm_and_si128(vKeyword, IsFolded(Load(pBytes + m_nLast), m_vLast));
        return static_cast<unsigned int>(_mm_movemask_epi8(_mm_or_si128(vKeyword, _mm_cmpeq_epi8(vFirst, m_vCtrlZ))));
    }

private:
    static __m128i FoldedByte(char ch) { return _mm_set1_epi8(static_cast<char>(ch | 0x20)); }
    static __m128i Load(const char* pBytes) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(pBytes)); }
    __m128i IsFolded(__m128i vBytes, __m128i vFolded) const
    {
        return _mm_cmpeq_epi8(_mm_or_si128(vBytes, m_vCase), vFolded);
    }

    __m128i m_vCase;
    __m128i m_vFirst;
    __m128i m_vSecond;
    __m128i m_vLast;
    __m128i m_vCtrlZ;
    size_t m_nLast;
};

// True when pBytes holds the keyword (capitals) with letters in any case.
bool IsKeywordAt(const char* pBytes, const char* pszKeyword, size_t nKeyword)
{
    for (size_t i = 0; i < nKeyword; ++i) {
        char ch = pBytes[i] >= 'a' && pBytes[i] <= 'z' ? static_cast<char>(pBytes[i] - 0x20) : pBytes[i];
        if (ch != pszKeyword[i]) {
            return false;
        }
    }
    return true;
}

} // namespace

CInfPieceReader::CInfPieceReader(size_t nBlockSize)
    : m_block(HeapAlloc(GetProcessHeap(), 0, MAX_PIECE_SIZE + nBlockSize + SEARCH_SLACK)), m_nBlockSize(nBlockSize),
      m_nNext(MAX_PIECE_SIZE), m_nEnd(MAX_PIECE_SIZE), m_nLineStart(MAX_PIECE_SIZE), m_bCrEndsLine(false)
{
}

void CInfPieceReader::Close()
{
    m_file.Reset();
    m_nNext = m_nEnd = m_nLineStart = MAX_PIECE_SIZE;
    m_bCrEndsLine = false;
}

bool CInfPieceReader::Open(const char* pszPath)
{
    Close();
    if (!m_block.IsValid() || m_nBlockSize == 0) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    m_file.Reset(fopen(pszPath, "rb"));
    return m_file.IsValid();
}

// Reads the next block behind the last MAX_PIECE_SIZE bytes of the one
// before, which move to the front; the indexes move with them. Closes the
// file at its end or on a read error.
bool CInfPieceReader::FillBlock()
{
    char* pBlock = static_cast<char*>(m_block.Get());
    size_t nShift = m_nEnd - MAX_PIECE_SIZE;
    memmove(pBlock, pBlock + nShift, MAX_PIECE_SIZE);
    m_nNext -= nShift;
    m_nLineStart -= nShift;
    m_nEnd = MAX_PIECE_SIZE;
    if (m_file.IsValid()) {
        m_nEnd += fread(pBlock + MAX_PIECE_SIZE, 1, m_nBlockSize, m_file.Get());
    }
    if (m_nEnd == MAX_PIECE_SIZE) {
        m_file.Reset();
    }
    return m_nEnd != MAX_PIECE_SIZE;
}

// After a CR: consumes the next byte of the file when it is a LF.
bool CInfPieceReader::TakeLineFeed()
{
    if (m_nNext == m_nEnd && !FillBlock()) {
        return false;
    }
    if (static_cast<const char*>(m_block.Get())[m_nNext] != '\n') {
        return false;
    }
    ++m_nNext;
    return true;
}

size_t CInfPieceReader::ReadPiece(char* pszPiece, size_t nPieceSize)
{
    size_t nLength = 0;
    while (nLength + 1 < nPieceSize && (m_nNext < m_nEnd || FillBlock())) {
        const char* pBlock = static_cast<const char*>(m_block.Get());
        // Copy the run of plain bytes, up to the piece's room.
        size_t nRun = m_nEnd - m_nNext;
        if (nRun > nPieceSize - 1 - nLength) {
            nRun = nPieceSize - 1 - nLength;
        }
        size_t i = MeasurePlainRun(pBlock + m_nNext, nRun);
        memcpy(pszPiece + nLength, pBlock + m_nNext, i);
        nLength += i;
        m_nNext += i;
        if (i == nRun) {
            continue;
        }
        char ch = pBlock[m_nNext++];
        if (ch == CTRL_Z) {
            Close();
            break;
        }
        if (ch == '\r' && TakeLineFeed()) {
            ch = '\n';
        }
        pszPiece[nLength++] = ch;
        if (ch == '\n') {
            break;
        }
    }
    if (nLength != 0) {
        pszPiece[nLength] = '\0';
    }
    return nLength;
}

// Moves m_nNext forward to nTo, and the line start past the last LF on the way.
void CInfPieceReader::PassLines(size_t nTo)
{
    const char* pBlock = static_cast<const char*>(m_block.Get());
    for (size_t i = nTo; i > m_nNext; --i) {
        if (pBlock[i - 1] == '\n' || (m_bCrEndsLine && pBlock[i - 1] == '\r')) {
            m_nLineStart = i;
            break;
        }
    }
    m_nNext = nTo;
}

// Searches from m_nNext on for the keyword and moves m_nNext to it. False
// at the end of the text: the end of the file or its first Ctrl-Z. The last
// bytes of a block, too few for the keyword, are searched with the next.
bool CInfPieceReader::FindKeyword(const char* pszKeyword, size_t nKeyword)
{
    const CKeywordProbe probe(pszKeyword, nKeyword);
    do {
        const char* pBlock = static_cast<const char*>(m_block.Get());
        size_t nStop = m_nEnd - m_nNext < nKeyword ? m_nNext : m_nEnd - nKeyword + 1;
        for (size_t i = m_nNext; i < nStop; i += 16) {
            unsigned int nMask = probe.Probe(pBlock + i);
            if (nMask != 0 && nStop - i < 16) {
                nMask &= (1u << (nStop - i)) - 1; // places the block does not yet hold whole
            }
            for (; nMask != 0; nMask &= nMask - 1) {
                unsigned long nBit = 0;
                BitScanForward(&nBit, nMask);
                if (pBlock[i + nBit] == CTRL_Z) {
                    Close();
                    return false;
                }
                if (IsKeywordAt(pBlock + i + nBit, pszKeyword, nKeyword)) {
                    PassLines(i + nBit);
                    return true;
                }
            }
        }
        PassLines(nStop);
    } while (FillBlock());
    return false;
}

size_t CInfPieceReader::ReadPieceHolding(char* pszPiece, size_t nPieceSize, const char* pszKeyword)
{
    size_t nKeyword = strlen(pszKeyword);
    if (nPieceSize > MAX_PIECE_SIZE || nKeyword < 2 || nKeyword >= nPieceSize) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    while (FindKeyword(pszKeyword, nKeyword)) {
        size_t nIntoPiece = (m_nNext - m_nLineStart) % (nPieceSize - 1);
        if (nIntoPiece + nKeyword > nPieceSize - 1) {
            ++m_nNext; // the keyword runs from one piece into the next
            continue;
        }
        m_nNext -= nIntoPiece;
        size_t nLength = ReadPiece(pszPiece, nPieceSize);
        if (pszPiece[nLength - 1] == '\n') {
            m_nLineStart = m_nNext;
        }
        return nLength;
    }
    return 0;
}

// Copies the head of the line at m_nNext and passes over the whole line.
bool CInfPieceReader::CopyLineHead(char* pszHead, size_t nHeadSize)
{
    size_t nLength = 0;
    bool bRead = false;
    while (m_nNext < m_nEnd || FillBlock()) {
        bRead = true;
        const char* pBlock = static_cast<const char*>(m_block.Get());
        // The whole run is passed over; only what fits the head is kept.
        size_t nRun = MeasurePlainRun(pBlock + m_nNext, m_nEnd - m_nNext);
        size_t nCopy = nRun < nHeadSize - 1 - nLength ? nRun : nHeadSize - 1 - nLength;
        memcpy(pszHead + nLength, pBlock + m_nNext, nCopy);
        nLength += nCopy;
        m_nNext += nRun;
        if (m_nNext == m_nEnd) {
            continue;
        }
        if (pBlock[m_nNext++] == CTRL_Z) {
            Close();
        }
        // A CR LF pair ends one line: its LF leaves an empty one, which
        // holds nothing a caller looks for.
        m_nLineStart = m_nNext;
        break;
    }
    pszHead[nLength] = '\0';
    return bRead;
}

bool CInfPieceReader::ReadLineHead(char* pszHead, size_t nHeadSize, const char* pszKeyword)
{
    m_bCrEndsLine = true;
    if (pszKeyword == nullptr) {
        return CopyLineHead(pszHead, nHeadSize);
    }
    size_t nKeyword = strlen(pszKeyword);
    if (nHeadSize > MAX_PIECE_SIZE || nKeyword < 2 || nKeyword >= nHeadSize) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    while (FindKeyword(pszKeyword, nKeyword)) {
        // A keyword beyond the head is not in it. The head's bytes are
        // still in the block: the last MAX_PIECE_SIZE bytes are kept.
        if (m_nNext - m_nLineStart + nKeyword > nHeadSize - 1) {
            ++m_nNext;
            continue;
        }
        m_nNext = m_nLineStart;
        return CopyLineHead(pszHead, nHeadSize);
    }
    return false;
}
