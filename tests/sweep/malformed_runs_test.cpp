// Malformed input through whole silent runs, under Wine's heap checking
// (the test runs with WINEDEBUG=warn+heap): generated function driver INFs
// installed and uninstalled from a package folder, and an INF folder of
// generated files scanned by the uninstall. Nothing may crash or corrupt a
// heap, and no file may be deleted without both words on one line.
#include <windows.h>

#include <gtest/gtest.h>

#include "../../src/setup/app/run_setup.h"
#include "device_tree.h"
#include "generated_infs.h"
#include "machine_state.h"
#include "package_folder.h"
#include "run_patches.h"

namespace {

void WriteText(const std::string& path, const std::string& text) {
    HANDLE hFile = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD cbWritten = 0;
    WriteFile(hFile, text.data(), static_cast<DWORD>(text.size()), &cbWritten, nullptr);
    CloseHandle(hFile);
}

bool AreHeapsValid() {
    HANDLE ahHeaps[64];
    DWORD nHeaps = GetProcessHeaps(64, ahHeaps);
    for (DWORD i = 0; i < nHeaps && i < 64; ++i) {
        if (!HeapValidate(ahHeaps[i], 0, nullptr)) return false;
    }
    return nHeaps != 0;
}

// RunSetup in-process from pszFolder; boxes are answered at once.
int RunSilently(const char* pszFolder, const wchar_t* pszCommandLine) {
    CStartFolder folder(pszFolder);
    CCommandLinePatch commandLine(pszCommandLine);
    CMessageBoxRecorder boxes;
    CMutexCloser mutexes;
    return RunSetup();
}

class MalformedRunTest : public ::testing::Test {
protected:
    void SetUp() override { m_clean = ReadMachineState(); }
    void TearDown() override {
        // The generated INFs install ports without a service, which no
        // uninstall finds.
        RemoveDevicesWithIdPrefix("QZ");
    }
    MachineState m_clean;
};

TEST_F(MalformedRunTest, GeneratedFunctionDriverInfsInstallAndUninstall) {
    std::string folder = "C:\\malformed\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    for (const char* pszFile : {"qzusbdr.inf", "qzusbdr.cat", "qzusbdr.sys", "qzvrcom.cat", "qzvrcom.sys"}) {
        CopyFileA((PackageFolder() + pszFile).c_str(), (folder + pszFile).c_str(), FALSE);
    }
    for (size_t i = 0; i < g_nGeneratedInfs; ++i) {
        SCOPED_TRACE(g_aGeneratedInfs[i].pszName);
        WriteText(folder + "qzvrcom.inf", g_aGeneratedInfs[i].pfnText());
        int nInstall = RunSilently(folder.c_str(), L"setup.exe /s");
        EXPECT_TRUE(nInstall == 0 || nInstall == -1) << nInstall;
        EXPECT_TRUE(AreHeapsValid());
        EXPECT_EQ(0, RunSilently(folder.c_str(), L"setup.exe /s /u"));
        EXPECT_TRUE(AreHeapsValid());
        MachineState after = ReadMachineState();
        EXPECT_FALSE(HasService(after, "qzusbdr"));
        EXPECT_FALSE(HasService(after, "qzvrcom"));
        RemoveDevicesWithIdPrefix("QZ");
    }
}

TEST_F(MalformedRunTest, GeneratedInfFolderLosesOnlyFilesWithBothWordsOnOneLine) {
    char szWindows[MAX_PATH] = "";
    GetWindowsDirectoryA(szWindows, MAX_PATH);
    std::string infFolder = std::string(szWindows) + "\\inf\\generated";
    std::mt19937 random(20261208);
    std::vector<std::string> texts;
    for (int nFile = 0; nFile < 80; ++nFile) {
        texts.push_back(GenerateInfLikeText(random));
        // Every fourth file is about the bus driver instead.
        if (nFile % 4 == 0) texts.back() = "AddService=qzusbdr\n" + texts.back();
        if (nFile % 5 == 0) texts.back() += std::string(70000, nFile % 2 == 0 ? '\x83' : '\0');
        WriteText(infFolder + std::to_string(nFile) + ".inf", texts.back());
        WriteText(infFolder + std::to_string(nFile) + ".pnf", "pnf");
    }
    EXPECT_EQ(0, RunSilently(PackageFolder().c_str(), L"setup.exe /s"));
    EXPECT_EQ(0, RunSilently(PackageFolder().c_str(), L"setup.exe /s /u"));
    EXPECT_TRUE(AreHeapsValid());
    int nDeleted = 0;
    for (size_t nFile = 0; nFile < texts.size(); ++nFile) {
        std::string name = infFolder + std::to_string(nFile);
        bool bInfGone = GetFileAttributesA((name + ".inf").c_str()) == INVALID_FILE_ATTRIBUTES;
        bool bPnfGone = GetFileAttributesA((name + ".pnf").c_str()) == INVALID_FILE_ATTRIBUTES;
        nDeleted += bInfGone ? 1 : 0;
        // A bus driver file's first line adds the bus driver's service.
        EXPECT_TRUE(nFile % 4 != 0 || bInfGone) << name;
        if (bInfGone || bPnfGone) {
            EXPECT_TRUE(bInfGone) << name;
            EXPECT_TRUE(HoldsBothWordsOnOneLine(texts[nFile], "qzvrcom") ||
                        HoldsBothWordsOnOneLine(texts[nFile], "qzusbdr"))
                << texts[nFile];
        }
        DeleteFileA((name + ".inf").c_str());
        DeleteFileA((name + ".pnf").c_str());
    }
    // The bus driver files all go; the others only where a line of theirs
    // is an AddService directive naming a service of ours.
    EXPECT_GE(nDeleted, 20);
    EXPECT_EQ(std::vector<std::string>(), DescribeDifferences(m_clean, ReadMachineState()));
}

} // namespace
