// Checks setup.exe as linked, read from the file beside this test: a 64-bit
// GUI program that loads on every 64-bit Windows its version check accepts
// (5.2 on), imports system DLLs only, is Terminal Services aware and small.
#include <windows.h>

#include <gtest/gtest.h>

#include <string.h>

#include <set>
#include <string>

#include "pe_file.h"
#include "uidriver/ui_driver.h"

namespace {

const size_t MAX_SETUP_SIZE = 72 * 1024;

std::string ToUpper(std::string str) {
    for (char& ch : str) {
        if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
    }
    return str;
}

// Functions that toolchains and runtimes are known to pull in and that the
// 64-bit editions of Windows 5.2 (Server 2003, XP) do not export. An import
// of any of them stops the loader before the program's first line runs.
const std::set<std::string> NEWER_FUNCTIONS = {
    // kernel32, Vista and later
    "GetTickCount64", "InitializeSRWLock", "AcquireSRWLockExclusive", "AcquireSRWLockShared",
    "ReleaseSRWLockExclusive", "ReleaseSRWLockShared", "TryAcquireSRWLockExclusive", "TryAcquireSRWLockShared",
    "InitializeConditionVariable", "SleepConditionVariableCS", "SleepConditionVariableSRW", "WakeConditionVariable",
    "WakeAllConditionVariable", "InitOnceInitialize", "InitOnceExecuteOnce", "InitOnceBeginInitialize",
    "InitOnceComplete", "InitializeCriticalSectionEx", "GetFileInformationByHandleEx", "SetFileInformationByHandle",
    "CreateEventExA", "CreateEventExW", "CreateMutexExA", "CreateMutexExW", "CreateSemaphoreExW",
    "GetSystemTimePreciseAsFileTime", "GetFinalPathNameByHandleA", "GetFinalPathNameByHandleW",
    "QueryFullProcessImageNameA", "QueryFullProcessImageNameW", "GetErrorMode", "CancelIoEx",
    "FlushProcessWriteBuffers", "AddDllDirectory", "RemoveDllDirectory", "SetDefaultDllDirectories",
    "WaitOnAddress", "WakeByAddressSingle", "WakeByAddressAll", "GetLocaleInfoEx", "LCMapStringEx",
    "CompareStringEx", "CreateSymbolicLinkA", "CreateSymbolicLinkW", "SetThreadDescription",
    // advapi32
    "RegDeleteTreeA", "RegDeleteTreeW", "RegCopyTreeA", "RegCopyTreeW", "RegSetKeyValueA", "RegSetKeyValueW",
    "RegDeleteKeyValueA", "RegDeleteKeyValueW", "RegLoadMUIStringA", "RegLoadMUIStringW", "EventRegister",
    "EventUnregister", "EventWrite", "EventEnabled",
    // setupapi, user32, shell32, comctl32
    "SetupDiGetDevicePropertyW", "SetupDiSetDevicePropertyW", "SetupDiGetClassPropertyW", "IsProcessDPIAware",
    "SetProcessDPIAware", "ChangeWindowMessageFilter", "SHGetKnownFolderPath", "TaskDialog", "TaskDialogIndirect",
};

// The bounds-checked C runtime functions (strcpy_s, _vsnprintf_s,
// _mbsupr_s...) came to the system's msvcrt.dll only with Vista.
bool IsMissingFromOldMsvcrt(const PeImport& import) {
    size_t cch = import.function.size();
    return ToUpper(import.dll) == "MSVCRT.DLL" && cch > 2 && import.function.compare(cch - 2, 2, "_s") == 0;
}

class CSetupExecutable : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_file.Load(SetupPath().c_str())) << m_file.GetError(); }

    CPeFile m_file;
};

TEST_F(CSetupExecutable, IsA64BitGuiProgram) {
    EXPECT_EQ(IMAGE_FILE_MACHINE_AMD64, m_file.GetFileHeader().Machine);
    EXPECT_EQ(IMAGE_NT_OPTIONAL_HDR64_MAGIC, m_file.GetOptionalHeader().Magic);
    EXPECT_EQ(IMAGE_SUBSYSTEM_WINDOWS_GUI, m_file.GetOptionalHeader().Subsystem);
}

// The exe runs from any folder with nothing installed beside it: every DLL
// it imports, directly or delay-loaded, ships with Windows and is always
// taken from the system folder. cfgmgr32, newdev and msports are loaded at
// run time by full path, never through the import table, where a planted
// copy beside the exe would win.
TEST_F(CSetupExecutable, ImportsOnlySystemDlls) {
    const std::set<std::string> SYSTEM_DLLS = {
        "KERNEL32.DLL", "USER32.DLL", "GDI32.DLL", "ADVAPI32.DLL", "SHELL32.DLL", "COMCTL32.DLL",
        "SETUPAPI.DLL", "MSVCRT.DLL", "OLE32.DLL", "VERSION.DLL",
    };
    std::vector<std::string> vecDlls = m_file.ListImportedDlls();
    ASSERT_FALSE(vecDlls.empty());
    std::set<std::string> setSeen;
    for (const std::string& strName : vecDlls) {
        std::string strDll = ToUpper(strName);
        setSeen.insert(strDll);
        EXPECT_EQ(1u, SYSTEM_DLLS.count(strDll)) << strName << " is not a system DLL";
        for (const char* pszRuntime : {"LIBSTDC++", "LIBGCC", "LIBWINPTHREAD"})
            EXPECT_NE(0u, strDll.rfind(pszRuntime, 0)) << strName << " is a compiler runtime";
    }
    EXPECT_EQ(1u, setSeen.count("KERNEL32.DLL"));
}

TEST_F(CSetupExecutable, ImportsOnlyFunctionsOfWindows52) {
    std::vector<PeImport> vecImports = m_file.ListImports();
    bool bSeenKnown = false;  // the table was really read
    for (const PeImport& import : vecImports) {
        EXPECT_EQ(0u, NEWER_FUNCTIONS.count(import.function)) << import.dll << "!" << import.function;
        EXPECT_FALSE(IsMissingFromOldMsvcrt(import)) << import.dll << "!" << import.function;
        if (ToUpper(import.dll) == "KERNEL32.DLL" && import.function == "GetWindowsDirectoryA") bSeenKnown = true;
    }
    EXPECT_TRUE(bSeenKnown) << vecImports.size() << " imports read, GetWindowsDirectoryA not among them";
}

// On a session host the system gives a program that is not marked aware a
// private Windows directory per user; the package must go to the real one.
TEST_F(CSetupExecutable, IsTerminalServerAware) {
    WORD wFlags = m_file.GetOptionalHeader().DllCharacteristics;
    EXPECT_EQ(IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE, wFlags & IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE)
        << std::hex << wFlags;
}

// The C++ runtime stays out of the link; the program is a few pages of code.
TEST_F(CSetupExecutable, IsAtMost72Kilobytes) {
    EXPECT_LE(m_file.GetSize(), MAX_SETUP_SIZE);
}

}  // namespace
