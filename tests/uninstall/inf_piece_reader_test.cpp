// The piece reader against fgets on the same file opened "r": the same
// pieces, byte for byte, whatever the block size, on chosen and on random
// files full of CR, LF, Ctrl-Z, NUL, high bytes, over-long lines and the
// keyword; with the keyword search, the same pieces less those without it.
// Its line heads against the text split at every CR and LF.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "app/handles.h"
#include "uninstall/inf_piece_reader.h"

namespace {

const size_t PIECE_SIZE = 260;
const char KEYWORD[] = "ADDSERVICE";
typedef std::vector<std::string> Pieces;

bool HoldsKeyword(std::string piece)
{
    for (char& ch : piece) {
        ch = ch >= 'a' && ch <= 'z' ? static_cast<char>(ch - 0x20) : ch;
    }
    return piece.find(KEYWORD) != std::string::npos;
}

// Each piece as the whole buffer it was read into, the buffer first filled
// with 0xCC: so the bytes after a NUL and the terminator's place count.
Pieces ReadWithFgets(const std::string& path)
{
    Pieces pieces;
    CFileStream file(fopen(path.c_str(), "r"));
    char szPiece[PIECE_SIZE];
    for (memset(szPiece, 0xCC, PIECE_SIZE); file.IsValid() && fgets(szPiece, PIECE_SIZE, file.Get()) != nullptr;
         memset(szPiece, 0xCC, PIECE_SIZE)) {
        pieces.push_back(std::string(szPiece, PIECE_SIZE));
    }
    return pieces;
}

// Every piece, or with pszKeyword only those the keyword search gives.
Pieces ReadWithReader(const std::string& path, size_t nBlockSize, const char* pszKeyword)
{
    Pieces pieces;
    CInfPieceReader reader(nBlockSize);
    bool bOpen = reader.Open(path.c_str());
    char szPiece[PIECE_SIZE];
    size_t nLength = 0;
    for (memset(szPiece, 0xCC, PIECE_SIZE);
         bOpen && (nLength = pszKeyword != nullptr ? reader.ReadPieceHolding(szPiece, PIECE_SIZE, pszKeyword)
                                                   : reader.ReadPiece(szPiece, PIECE_SIZE)) != 0;
         memset(szPiece, 0xCC, PIECE_SIZE)) {
        pieces.push_back(std::string(szPiece, PIECE_SIZE));
        // The length counts the bytes before the terminator, NULs included.
        EXPECT_EQ(std::string(1, '\0') + std::string(PIECE_SIZE - nLength - 1, '\xCC'), pieces.back().substr(nLength));
    }
    return pieces;
}

// The line heads of the text: up to its first Ctrl-Z, lines ended by CR or
// LF (a Ctrl-Z ends the last one), each cut to 259 bytes; with bKeyword
// only those that hold the keyword. Compared up to their first NUL.
Pieces SplitHeads(std::string text, bool bKeyword)
{
    size_t nCtrlZ = text.find('\x1A');
    text = nCtrlZ == std::string::npos ? text : text.substr(0, nCtrlZ) + "\n";
    Pieces heads;
    for (size_t nStart = 0, nEnd = 0; nStart < text.size(); nStart = nEnd + 1) {
        nEnd = std::min(text.find_first_of("\r\n", nStart), text.size());
        std::string head = text.substr(nStart, std::min<size_t>(nEnd - nStart, PIECE_SIZE - 1));
        if (!bKeyword || HoldsKeyword(head)) {
            heads.push_back(head.c_str());
        }
    }
    return heads;
}

Pieces ReadHeads(const std::string& path, size_t nBlockSize, const char* pszKeyword)
{
    Pieces heads;
    CInfPieceReader reader(nBlockSize);
    char szHead[PIECE_SIZE];
    for (bool bOpen = reader.Open(path.c_str()); bOpen && reader.ReadLineHead(szHead, PIECE_SIZE, pszKeyword);) {
        heads.push_back(szHead);
    }
    return heads;
}

// About half the files hold a Ctrl-Z somewhere.
std::string MakeRandomText(std::mt19937& random)
{
    static const std::string units[] = {"a", "Z", " ", "\r", "\n", "\r\n", "\r\r\n", std::string(1, '\0'), "\x81\x40", "\xFF",
                                        "AddService", "aDDSERVICE", "ADDSERVIC"};
    std::string text;
    for (size_t nUnits = random() % 600; nUnits > 0; --nUnits) {
        unsigned nUnit = random() % 400;
        if (nUnit == 0) {
            text += '\x1A';
        } else if (nUnit < 12) {
            text += std::string(200 + random() % 200, 'L'); // longer than a piece
        } else {
            text += units[nUnit % 13];
        }
    }
    return text;
}

class InfPieceReaderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char szTemp[MAX_PATH] = "";
        GetTempPathA(MAX_PATH, szTemp);
        m_path = std::string(szTemp) + "piece_reader_test.inf";
    }
    void TearDown() override { DeleteFileA(m_path.c_str()); }

    void ExpectSamePieces(const std::string& text, const std::string& label)
    {
        CFileHandle file(CreateFileA(m_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD dwWritten = 0;
        ASSERT_TRUE(WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &dwWritten, nullptr));
        file.Reset();
        Pieces expected = ReadWithFgets(m_path), holding;
        std::copy_if(expected.begin(), expected.end(), std::back_inserter(holding), HoldsKeyword);
        for (size_t nBlockSize : {1, 2, 3, 7, 64, 259, 4096, 65536}) {
            EXPECT_EQ(expected, ReadWithReader(m_path, nBlockSize, nullptr)) << label << ", blocks of " << nBlockSize;
            EXPECT_EQ(holding, ReadWithReader(m_path, nBlockSize, KEYWORD)) << label << ", keyword, blocks of " << nBlockSize;
            EXPECT_EQ(SplitHeads(text, false), ReadHeads(m_path, nBlockSize, nullptr)) << label << ", heads";
            EXPECT_EQ(SplitHeads(text, true), ReadHeads(m_path, nBlockSize, KEYWORD)) << label << ", keyword heads";
        }
    }

    std::string m_path;
};

TEST_F(InfPieceReaderTest, GivesThePiecesFgetsGivesInTextMode)
{
    const std::string chosen[] = {"", "\r", "\n", "\x1A", "a\r", "a\r\r\n\r", "ab\r\x1A\r\n", "a\x1A\nafter",
                                  "one\r\ntwo\n\rthree", std::string("nul\0inside\r\n", 12) + std::string(300, 'n'),
                                  std::string(258, 'a') + "\r\nb", std::string(259, 'a') + "\r\nb",
                                  std::string(259, 'a') + "\r", std::string(600, 'a') + "\x1A",
                                  // the keyword ending a piece, running into the next, starting one
                                  std::string(1026, 'x') + "ADDSERVICE\r\n" + std::string(1027, 'x') + "addservice",
                                  std::string(1036, 'x') + "AddService\r\r\n\rAddService\x1A AddService"};
    for (const std::string& text : chosen) {
        ExpectSamePieces(text, "chosen text of " + std::to_string(text.size()) + " bytes");
    }
    std::mt19937 random(20240612);
    for (int nFile = 0; nFile < 40 && !HasFailure(); ++nFile) {
        ExpectSamePieces(MakeRandomText(random), "random file " + std::to_string(nFile));
    }
}

TEST_F(InfPieceReaderTest, OpenFailsWithTheSystemsErrorAndEndsThePieces)
{
    CInfPieceReader reader(64);
    char szPiece[PIECE_SIZE] = "untouched";
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(reader.Open((m_path + ".missing").c_str()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    EXPECT_EQ(0u, reader.ReadPiece(szPiece, PIECE_SIZE));
    EXPECT_STREQ("untouched", szPiece);
}

} // namespace
