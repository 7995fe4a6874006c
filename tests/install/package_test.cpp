// The sample package: its INF walked in-process and, from a package folder
// holding planted newdev.dll and msports.dll, in a process of its own.
#include <gtest/gtest.h>

#include <stdio.h>

#include "device_tree.h"
#include "install/device_install.h"
#include "install_bench.h"
#include "machine_state.h"
#include "package_folder.h"

namespace {

const char* const c_packageFiles[] = {"qzvrcom.inf", "qzvrcom.cat", "qzvrcom.sys"};

// The sample package copied into the test's package folder.
void CopySamplePackage(const std::string& folder)
{
    std::string source = "Z:" PACKAGE_DIR "/";
    for (char& c : source) {
        c = c == '/' ? '\\' : c;
    }
    for (const char* pszFile : c_packageFiles) {
        ASSERT_TRUE(CopyFileA((source + pszFile).c_str(), (folder + pszFile).c_str(), FALSE)) << pszFile;
    }
}

// Each port gets the number in its ID although COM2 and up are free; a
// second walk reserves nothing and installs again on the same devices.
TEST_F(CWalkTest, SamplePackageTwice)
{
    CopySamplePackage(m_package.Path());
    const char* pszDevices = "QZVRCOM\\5=COM5 QZVRCOM\\12=COM12 QZVRCOM\\27=COM27";
    EXPECT_TRUE(InstallDevicesFromInf(&m_data, m_infPath.c_str()));
    EXPECT_EQ(pszDevices, Devices());
    EXPECT_EQ("3:11 08 00 04", ReadArbiterValue());
    EXPECT_TRUE(InstallDevicesFromInf(&m_data, m_infPath.c_str()));
    EXPECT_EQ(pszDevices, Devices());
    EXPECT_EQ("3:11 08 00 04", ReadArbiterValue());
    EXPECT_EQ("TIIWTIIWTIIWIII", m_log.m_sequence);
    EXPECT_EQ(IDS_SUCCESS, m_data.m_nResultId);
    for (const DeviceRecord& device : ListDevicesWithIdPrefix(TEST_ID_PREFIX)) {
        EXPECT_EQ("qzvrcom", device.service) << device.instanceId;
    }
}

// newdev.dll and msports.dll beside the program and in its working folder
// are never loaded: both come from the system folder.
TEST_F(CWalkTest, PlantedLibrariesAreNeverLoaded)
{
    CopySamplePackage(m_package.Path());
    std::string probe = m_package.Path() + "install_probe.exe";
    std::string planted = BinaryFolder() + "checks_standins\\planted\\cfgmgr32.dll";
    ASSERT_TRUE(CopyFileA((BinaryFolder() + "install_probe.exe").c_str(), probe.c_str(), FALSE));
    for (const char* pszName : {"newdev.dll", "msports.dll"}) {
        ASSERT_TRUE(CopyFileA(planted.c_str(), (m_package.Path() + pszName).c_str(), FALSE));
    }
    CProgramRun run;
    ASSERT_TRUE(run.Start(probe.c_str(), m_infPath.c_str(), m_package.Path().c_str()));
    DWORD dwExitCode = 0;
    // A loaded stand-in fails the walk, and its error box keeps the probe
    // waiting.
    EXPECT_TRUE(run.WaitForExit(&dwExitCode));
    EXPECT_EQ(static_cast<DWORD>(IDS_SUCCESS), dwExitCode);
    EXPECT_FALSE(DoesFileExist((m_package.Path() + "planted.marker").c_str()));
    EXPECT_EQ("QZVRCOM\\5=COM5 QZVRCOM\\12=COM12 QZVRCOM\\27=COM27", Devices());
}

// A release folder as users keep it: a file of the user's own beside the
// package stays out of the Windows folder; an old copy's file held open by a
// scanner ends the install with -1, the log naming the file and the error,
// and nothing is staged from the old copy.
struct PackageCopyCase {
    const char* pszFile; // made in the release folder, or held open in the target with FILE_SHARE_READ
    bool bLocked;
    std::vector<std::string> copy; // the target folder's files but the log
    const char* pszLogLine;        // %s: the target folder
};

const PackageCopyCase c_copyCases[] = {
    {"tax-return-2026.pdf", false,
     {"QZUSBDR.CAT", "QZUSBDR.INF", "QZUSBDR.SYS", "QZVRCOM.CAT", "QZVRCOM.INF", "QZVRCOM.SYS", "SETUP.EXE"},
     "setup 38: Copying C:\\package\\qzvrcom.sys to %s\\qzvrcom.sys\r\n"},
    {"qzusbdr.inf", true, {"QZUSBDR.INF", "SETUP.EXE"},
     "setup 150: C:\\package\\qzusbdr.inf not copied to %s\\qzusbdr.inf, error 0x00000020; install stopped\r\n"},
};

TEST(PackageCopyTest, CopiesExactlyThePackage)
{
    std::string target = WindowsFolder() + "\\qzvrcom";
    for (const PackageCopyCase& test : c_copyCases) {
        SCOPED_TRACE(test.pszFile);
        CreateDirectoryA(target.c_str(), nullptr);
        for (const std::string& name : ListFiles(target)) DeleteFileA((target + "\\" + name).c_str());
        std::string file = (test.bLocked ? target + "\\" : PackageFolder()) + test.pszFile;
        HANDLE hFile = CreateFileA(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, hFile);
        if (!test.bLocked) CloseHandle(hFile);
        EXPECT_EQ(test.bLocked ? 0xFFFFFFFF : 0u, RunPackageSetup("/s"));
        EXPECT_EQ(test.copy, ReadMachineState().packageCopy);
        char szLine[MAX_PATH * 2] = "";
        snprintf(szLine, sizeof(szLine), test.pszLogLine, target.c_str());
        EXPECT_NE(std::string::npos, ReadWholeFile(target + "\\setup.log").find(szLine)) << szLine;
        EXPECT_EQ(test.bLocked ? 0u : 1u, RunPackageSetup("/debug"));
        EXPECT_EQ(test.bLocked, GetFileAttributesA((WindowsFolder() + "\\inf\\qzusbdr.inf").c_str()) ==
                                    INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(0u, RunPackageSetup("/u /s"));
        if (test.bLocked) CloseHandle(hFile);
        DeleteFileA(file.c_str());
    }
}

} // namespace
