// Driver package clean-up on a scratch INF folder under the Windows
// directory: which INF files (and their .pnf files) are deleted, the result
// and the events; forced deletion; the installed-programs entry.
#include <gtest/gtest.h>

#include <windows.h>
#include <setupapi.h>

#include <algorithm>
#include <random>

#include "app/handles.h"
#include "support/iat_patch.h"
#include "support/generated_infs.h"
#include "support/trace_recorder.h"
#include "trace/trace.h"
#include "uninstall/package_cleanup.h"

namespace {

typedef std::vector<std::string> Names;

const char SUFFIX[] = "\\temp\\inftest";
const char UNINSTALL[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// The long-path form of an ASCII path: some test files have paths beyond
// 259 characters, which only the wide functions take.
std::wstring Full(const std::string& path)
{
    return L"\\\\?\\" + std::wstring(path.begin(), path.end());
}

bool WriteBytes(const std::string& path, const std::string& bytes)
{
    HANDLE hFile = CreateFileW(Full(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD dwWritten = 0;
    BOOL bWritten = WriteFile(hFile, bytes.data(), static_cast<DWORD>(bytes.size()), &dwWritten, nullptr);
    CloseHandle(hFile);
    return bWritten && dwWritten == bytes.size();
}

bool Exists(const std::string& path)
{
    return GetFileAttributesW(Full(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Opens a file without sharing, as another program might hold it.
HANDLE HoldFile(const std::string& path)
{
    return CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

class PackageCleanupTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char szWindows[MAX_PATH] = "";
        GetWindowsDirectoryA(szWindows, MAX_PATH);
        m_folder = std::string(szWindows) + SUFFIX + "\\";
        RemoveFolder();
        ASSERT_TRUE(CreateDirectoryA(m_folder.c_str(), nullptr));
        RegisterTraceProvider();
        ASSERT_EQ(0u, m_recorder.Enable(TRACE_ERROR | TRACE_FLOW, 0, 0x77));
    }
    void TearDown() override
    {
        UnregisterTraceProvider();
        RemoveFolder();
    }

    void RemoveFolder()
    {
        WIN32_FIND_DATAA found = {};
        HANDLE hFind = FindFirstFileA((m_folder + "*").c_str(), &found);
        for (BOOL bMore = hFind != INVALID_HANDLE_VALUE; bMore; bMore = FindNextFileA(hFind, &found)) {
            std::wstring path = Full(m_folder + found.cFileName);
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(path.c_str()) || RemoveDirectoryW(path.c_str());
        }
        if (hFind != INVALID_HANDLE_VALUE) {
            FindClose(hFind);
        }
        RemoveDirectoryA(m_folder.c_str());
    }
    // Writes name.inf with the text and name.pnf beside it.
    void WriteInf(const std::string& name, const std::string& text, DWORD dwAttributes = FILE_ATTRIBUTE_NORMAL)
    {
        ASSERT_TRUE(WriteBytes(m_folder + name + ".inf", text));
        ASSERT_TRUE(WriteBytes(m_folder + name + ".pnf", "precompiled"));
        SetFileAttributesW(Full(m_folder + name + ".inf").c_str(), dwAttributes);
        SetFileAttributesW(Full(m_folder + name + ".pnf").c_str(), dwAttributes);
    }
    bool HasInf(const std::string& name) const { return Exists(m_folder + name + ".inf"); }
    bool HasPnf(const std::string& name) const { return Exists(m_folder + name + ".pnf"); }

    int Clean(const char* pszName)
    {
        m_recorder.ClearEvents();
        int nResult = DeleteOemInfByService(pszName, SUFFIX);
        m_events = DescribeEvents(m_recorder.Events());
        return nResult;
    }
    long CountEvents(const char* pszEvent) const { return std::count(m_events.begin(), m_events.end(), pszEvent); }

    std::string m_folder;
    CTraceRecorder m_recorder;
    Names m_events;
};

struct InfCase {
    const char* pszLabel;
    std::string text;
    bool bDeleted;
};

std::string Utf16(const wchar_t* pszText)
{
    std::string bytes = "\xFF\xFE";
    for (const wchar_t* p = pszText; *p != 0; ++p) {
        bytes += static_cast<char>(*p & 0xFF);
        bytes += static_cast<char>(*p >> 8);
    }
    return bytes;
}

// For the service QZVRCOM: a line that is an AddService directive whose
// first field is the name, within the line's first 259 bytes; a CR ends a
// line too.
const InfCase INF_CASES[] = {
    {"service line", "[Svc]\r\nAddService = qzvrcom, 0x00000002, qzvrcom_Service_Inst\r\n", true},
    {"any case", "[Svc]\naddSERVICE=QzVrCom,2,inst\n", true},
    {"comment line", "; ADDSERVICE qzvrcom was here\n", false},
    {"tab and quotes", "AddService\t=\t\"qzvrcom\"", true},
    {"whole name after a longer one", "AddService = qzvrcomx, 2, qzvrcom\n", false},
    {"keyword across eight-byte words", std::string(7, ' ') + "aDDservice= qzvrcom\n", true},
    {"keyword after a NUL", std::string("x\0AddService=qzvrcom\n", 22), false},
    {"name at the end of the head", "AddService=" + std::string(241, ' ') + "qzvrcomx\n", false},
    {"field ending within the head", "AddService=" + std::string(240, ' ') + "qzvrcom,2\n", true},
    {"longer service", "AddService = qzvrcomx, 2, inst\n", false},
    {"service ending in the name", "AddService = myqzvrcom, 2, inst\n", false},
    {"different lines", "AddService = other, 2, inst\nqzvrcom\n", false},
    {"different pieces", "AddService" + std::string(260, ' ') + "qzvrcom\n", false},
    {"key beyond the head", std::string(600, ' ') + "AddService=qzvrcom\n", false},
    {"UTF-16 text", Utf16(L"AddService = qzvrcom, 2, inst\r\n"), false},
    {"vendor comment", "; AddService for qzvrcom lives in the vendor package\r\n", false},
    {"Strings entry", "[Strings]\r\nAddServiceDesc = \"QZVRCOM port helper\"\r\n", false},
    {"CR-only, another service", "[Svc]\rAddService = other, 2, inst\r; qzvrcom helper\rDesc=qzvrcom\r", false},
    {"CR-only, ours", "[Svc]\rAddService=qzvrcom,2,inst\r[Next]\r", true},
    {"odd case and spacing", " \t aDdSeRvIcE \t=  \"QzVrCom\" \t;\r\n", true},
    {"quoted value", "Desc = \"AddService = qzvrcom\"\r\n", false},
    {"name not quoted whole", "AddService = \"qzvrcom, 2\r\n", false},
};

TEST_F(PackageCleanupTest, DeletesEveryInfThatAddsTheServiceWithItsPnf)
{
    size_t nDeleted = 0;
    for (size_t i = 0; i < sizeof(INF_CASES) / sizeof(INF_CASES[0]); ++i) {
        // Read-only files are made writable first.
        WriteInf("case" + std::to_string(i), INF_CASES[i].text, i == 0 ? FILE_ATTRIBUTE_READONLY : 0);
        nDeleted += INF_CASES[i].bDeleted ? 1 : 0;
    }
    ASSERT_TRUE(CreateDirectoryA((m_folder + "folder.inf").c_str(), nullptr));
    // "*.inf" finds it through its short alias (ALIAS~XX.INF); "alias.pnf"
    // would be another INF's.
    ASSERT_TRUE(WriteBytes(m_folder + "alias.inf_old", INF_CASES[0].text) && WriteBytes(m_folder + "alias.pnf", "x"));

    EXPECT_EQ(1, Clean("QZVRCOM"));
    EXPECT_TRUE(Exists(m_folder + "alias.inf_old") && Exists(m_folder + "alias.pnf"));
    for (size_t i = 0; i < sizeof(INF_CASES) / sizeof(INF_CASES[0]); ++i) {
        SCOPED_TRACE(INF_CASES[i].pszLabel);
        EXPECT_EQ(!INF_CASES[i].bDeleted, HasInf("case" + std::to_string(i)));
        EXPECT_EQ(!INF_CASES[i].bDeleted, HasPnf("case" + std::to_string(i)));
    }
    EXPECT_TRUE(Exists(m_folder + "folder.inf"));
    EXPECT_EQ(static_cast<long>(nDeleted), CountEvents("util 94 ?"));
    EXPECT_EQ(static_cast<long>(nDeleted), CountEvents("util 96 ?"));
    EXPECT_EQ("util 90", m_events.front());

    // Pieces are upper-cased, the name is not: lower case never matches.
    WriteInf("again", INF_CASES[0].text);
    EXPECT_EQ(1, Clean("qzvrcom"));
    EXPECT_TRUE(HasInf("again"));
}

TEST_F(PackageCleanupTest, NamesAndFoldersThatEndTheScanAtOnce)
{
    WriteInf("match", INF_CASES[0].text);
    EXPECT_EQ(0, Clean(nullptr));
    EXPECT_EQ(Names{"util 90"}, m_events);
    EXPECT_EQ(0, Clean(""));
    EXPECT_EQ(Names{"util 90"}, m_events);
    EXPECT_TRUE(HasInf("match"));

    ASSERT_TRUE(DeleteFileA((m_folder + "match.inf").c_str()));
    EXPECT_EQ(1, Clean("QZVRCOM"));
    EXPECT_EQ((Names{"util 90", "util 92 2"}), m_events);
    EXPECT_TRUE(HasPnf("match"));
}

TEST_F(PackageCleanupTest, SkipsFilesItCannotReadAndReportsAFailedLastDeletion)
{
    // 240 characters: the folder, a backslash and this name exceed 259.
    const std::string longName(236, 'L');
    WriteInf(longName, INF_CASES[0].text);
    WriteInf("held", INF_CASES[0].text);
    WriteInf("pnfheld", INF_CASES[0].text);
    CFileHandle held(HoldFile(m_folder + "held.inf")), pnfHeld(HoldFile(m_folder + "pnfheld.pnf"));
    ASSERT_TRUE(held.IsValid() && pnfHeld.IsValid());

    // "pnfheld" keeps its INF, for the next uninstall to find: its failed
    // .pnf deletion is the last one.
    EXPECT_EQ(0, Clean("QZVRCOM"));
    EXPECT_TRUE(HasInf(longName));
    EXPECT_EQ(1, CountEvents("util 111 ?"));
    EXPECT_TRUE(HasInf("held"));
    EXPECT_EQ(1, CountEvents("util 93 32"));
    EXPECT_TRUE(HasInf("pnfheld"));
    EXPECT_TRUE(HasPnf("pnfheld"));
    EXPECT_EQ(1, CountEvents("util 98 32"));
}

// An INF is deleted after its .pnf and kept when that fails, so that nothing is
// left that a later uninstall could not find.
TEST_F(PackageCleanupTest, InfThatCannotBeDeletedIsFoundAgainWithoutItsPnf)
{
    WriteInf("infheld", INF_CASES[0].text);
    {
        CFileHandle held(CreateFileA((m_folder + "infheld.inf").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held.IsValid());
        EXPECT_EQ(0, Clean("QZVRCOM")); // the INF's deletion, the last one, failed
        EXPECT_TRUE(HasInf("infheld"));
        EXPECT_FALSE(HasPnf("infheld"));
    }
    EXPECT_EQ(1, Clean("QZVRCOM"));
    EXPECT_FALSE(HasInf("infheld"));
}

// Random INF-like files: a file that does not hold both words on one line
// is never deleted, whatever else it holds.
TEST_F(PackageCleanupTest, NeverDeletesAFileWithoutBothWordsOnOneLine)
{
    std::mt19937 random(20240611);
    std::vector<std::string> texts;
    for (int nFile = 0; nFile < 60; ++nFile) {
        texts.push_back(GenerateInfLikeText(random));
        WriteInf("random" + std::to_string(nFile), texts.back());
    }
    Clean("QZVRCOM");
    for (size_t nFile = 0; nFile < texts.size(); ++nFile) {
        if (!HoldsBothWordsOnOneLine(texts[nFile], "qzvrcom")) {
            EXPECT_TRUE(HasInf("random" + std::to_string(nFile))) << texts[nFile];
        }
    }
}

// A code page in which another byte upper-cases to a letter of the keyword,
// as the dotless i does to 'I' in Turkish: a search for the keyword's ASCII
// letters would miss "ADDSERV\xFDCE", so every piece is tested.
void* g_pfnRealMbsupr = nullptr;
unsigned char* __cdecl UpperCaseDotlessI(unsigned char* pszText)
{
    reinterpret_cast<unsigned char*(__cdecl*)(unsigned char*)>(g_pfnRealMbsupr)(pszText);
    std::replace(pszText, pszText + strlen(reinterpret_cast<char*>(pszText)), static_cast<unsigned char>(0xFD),
                 static_cast<unsigned char>('I'));
    return pszText;
}

TEST_F(PackageCleanupTest, FindsTheKeywordThatOtherBytesUpperCaseTo)
{
    CIatPatch upper("msvcrt.dll", "_mbsupr", reinterpret_cast<void*>(UpperCaseDotlessI));
    g_pfnRealMbsupr = upper.Original();
    ASSERT_TRUE(upper.IsApplied());
    WriteInf("dotless", "ADDSERV\xFD" "CE = qzvrcom, 2, inst\r\n");
    EXPECT_EQ(1, Clean("QZVRCOM"));
    EXPECT_FALSE(HasInf("dotless"));
}

TEST_F(PackageCleanupTest, DeleteFileForceRemovesReadOnlyFilesAndReportsFailures)
{
    const std::string readOnly = m_folder + "readonly.txt", held = m_folder + "held.txt";
    ASSERT_TRUE(WriteBytes(readOnly, "x") && WriteBytes(held, "x"));
    SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);
    CFileHandle holder(HoldFile(held));

    m_recorder.ClearEvents();
    EXPECT_EQ(1, DeleteFileForce((m_folder + "missing.txt").c_str()));
    EXPECT_NE(0, DeleteFileForce(readOnly.c_str()));
    EXPECT_FALSE(Exists(readOnly));
    EXPECT_EQ(0, DeleteFileForce(held.c_str()));
    EXPECT_EQ((Names{"util 97", "util 97", "util 97", "util 98 32"}), DescribeEvents(m_recorder.Events()));
}

// The driver store: records each call and refuses "oem91.inf".
std::vector<std::string> g_storeCalls;
void* g_pfnRealUninstallOemInf = nullptr;
BOOL WINAPI RecordingUninstallOemInf(PCSTR pszInfName, DWORD dwFlags, PVOID pReserved)
{
    g_storeCalls.push_back(std::string(pszInfName) + (dwFlags == SUOI_FORCEDELETE ? " forced" : ""));
    SetLastError(ERROR_ACCESS_DENIED);
    return strcmp(pszInfName, "oem91.inf") != 0 &&
           reinterpret_cast<decltype(&SetupUninstallOEMInfA)>(g_pfnRealUninstallOemInf)(pszInfName, dwFlags, pReserved);
}

// Copies in the system's INF folder leave through the driver store, which
// takes the package and its catalogue along; a refusal falls back to the
// files. Another folder is never handed to the driver store.
TEST_F(PackageCleanupTest, SystemFolderCopiesLeaveThroughTheDriverStore)
{
    CIatPatch store("setupapi.dll", "SetupUninstallOEMInfA", reinterpret_cast<void*>(RecordingUninstallOemInf));
    g_pfnRealUninstallOemInf = store.Original();
    WriteInf("qzstore", "AddService=QZSTORE,2,Service\r\n");
    EXPECT_EQ(1, Clean("QZSTORE"));
    EXPECT_FALSE(HasInf("qzstore") || HasPnf("qzstore"));

    char szWindows[MAX_PATH] = "";
    GetWindowsDirectoryA(szWindows, MAX_PATH);
    const std::string system = std::string(szWindows) + "\\inf\\";
    for (const std::string& file : {"oem90.inf", "oem90.pnf", "oem91.inf", "oem91.pnf"}) {
        ASSERT_TRUE(WriteBytes(system + file, "AddService=QZSTORE,2,Service\r\n"));
    }
    m_recorder.ClearEvents();
    EXPECT_EQ(1, DeleteOemInfByService("QZSTORE", nullptr));
    std::sort(g_storeCalls.begin(), g_storeCalls.end());
    EXPECT_EQ((Names{"oem90.inf forced", "oem91.inf forced"}), g_storeCalls);
    for (const std::string& file : {"oem90.inf", "oem90.pnf", "oem91.inf", "oem91.pnf"}) {
        EXPECT_FALSE(Exists(system + file)) << file;
    }
    Names events = DescribeEvents(m_recorder.Events());
    EXPECT_EQ(1, std::count(events.begin(), events.end(), "util 115 ?"));
    EXPECT_EQ(1, std::count(events.begin(), events.end(), "util 114 5"));
}

TEST_F(PackageCleanupTest, DeleteUninstallEntryRemovesOnlyTheNamedEntry)
{
    const std::string entry = std::string(UNINSTALL) + "qzvrcomtest", longer = entry + "x";
    CRegistryKey key;
    for (const std::string& path : {entry, longer}) {
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                                                 key.AddressOf(), nullptr));
        RegSetValueExA(key.Get(), "DisplayName", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>("x"), 2);
    }
    key.Reset();
    m_recorder.ClearEvents();
    DeleteUninstallEntry(std::string(250, 'q').c_str()); // the key path would not fit
    DeleteUninstallEntry("");
    DeleteUninstallEntry("qzvrcomtest");
    EXPECT_EQ((Names{"util 56 ?", "util 113 ?", "util 56 ?", "util 56 ?"}), DescribeEvents(m_recorder.Events()));
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, entry.c_str(), 0, KEY_READ, key.AddressOf()));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_LOCAL_MACHINE, longer.c_str()));
}

} // namespace
