// The text-mode translation done over binary blocks. It follows the C
// runtime's: a CR is dropped only when the next byte of the file is a LF,
// also when that byte is the first of the next block; the first Ctrl-Z
// ends the text, and a CR before it or at the end of the file stays.
#include "inf_piece_reader.h"

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

} // namespace

CInfPieceReader::CInfPieceReader(size_t nBlockSize)
    : m_block(HeapAlloc(GetProcessHeap(), 0, nBlockSize)), m_nBlockSize(nBlockSize), m_nNext(0), m_nEnd(0)
{
}

void CInfPieceReader::Close()
{
    m_file.Reset();
    m_nNext = m_nEnd = 0;
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

// Reads the next block; closes the file at its end or on a read error.
bool CInfPieceReader::FillBlock()
{
    m_nNext = m_nEnd = 0;
    if (m_file.IsValid()) {
        m_nEnd = fread(m_block.Get(), 1, m_nBlockSize, m_file.Get());
    }
    if (m_nEnd == 0) {
        m_file.Reset();
    }
    return m_nEnd != 0;
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
