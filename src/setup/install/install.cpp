// Install sequence: removes an existing installation, copies the package,
// pre-installs the bus driver, installs the COM port devices and registers
// the installed-programs entry.
#include "install.h"

#include <setupapi.h>
#include <strsafe.h>

#include "../app/dialog_data.h"
#include "../app/handles.h"
#include "../app/messages.h"
#include "../trace/trace.h"
#include "device_install.h"

namespace {

const char UNINSTALL_KEY[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// pszFolder + "\" + pszFileName into a 260-character buffer. A path that does
// not fit is an error (ERROR_FILENAME_EXCED_RANGE), never a shortened path.
bool BuildPath(char* pszPath, const char* pszFolder, const char* pszFileName)
{
    if (FAILED(StringCchPrintfA(pszPath, SETUP_PATH_LENGTH, "%s\\%s", pszFolder, pszFileName))) {
        pszPath[0] = '\0';
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    return true;
}

// Path of string nStringId in the target folder.
bool BuildTargetPath(const CDialogData* pData, UINT nStringId, char* pszPath)
{
    char szFileName[SETUP_PATH_LENGTH] = "";
    LoadStringA(GetModuleHandleA(nullptr), nStringId, szFileName, SETUP_PATH_LENGTH);
    return BuildPath(pszPath, pData->m_szTargetDir, szFileName);
}

// Copies one file of the source folder over whatever the target holds.
void CopyPackageFile(const CDialogData* pData, const char* pszFileName)
{
    char szSource[SETUP_PATH_LENGTH];
    char szTarget[SETUP_PATH_LENGTH];
    if (!BuildPath(szSource, pData->m_szSourceDir, pszFileName) ||
        !BuildPath(szTarget, pData->m_szTargetDir, pszFileName)) {
        if (IsTraceEnabled(TRACE_ERROR)) {
            TraceEvent(g_guidSetupComponent, 120, pszFileName);
        }
        return;
    }
    if (IsTraceEnabled(TRACE_FLOW)) {
        TraceEvent(g_guidSetupComponent, 38, pszFileName, szTarget);
    }
    // A read-only or hidden copy left by an earlier installation must not
    // stop the overwrite; a target that does not exist yet fails here.
    if (!SetFileAttributesA(szTarget, FILE_ATTRIBUTE_NORMAL)) {
        TraceLastError(g_guidSetupComponent, 39);
    }
    if (!CopyFileA(szSource, szTarget, FALSE)) {
        TraceLastError(g_guidSetupComponent, 40);
    }
}

// The run log and its older generation live in the target folder: a copy
// found in a release folder must not replace the machine's own log.
bool IsRunLogName(const char* pszFileName)
{
    return lstrcmpiA(pszFileName, "setup.log") == 0 || lstrcmpiA(pszFileName, "setup.old.log") == 0;
}

// Copies every file (no subfolder) of the source folder to the target,
// but the run log.
void CopyPackage(const CDialogData* pData)
{
    CreateDirectoryA(pData->m_szTargetDir, nullptr);
    char szPattern[SETUP_PATH_LENGTH];
    if (!BuildPath(szPattern, pData->m_szSourceDir, "*.*")) {
        if (IsTraceEnabled(TRACE_ERROR)) {
            TraceEvent(g_guidSetupComponent, 122, pData->m_szSourceDir);
        }
        return;
    }
    WIN32_FIND_DATAA findData;
    CFindHandle find(FindFirstFileA(szPattern, &findData));
    if (!find.IsValid()) {
        return;
    }
    do {
        if ((findData.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && !IsRunLogName(findData.cFileName)) {
            CopyPackageFile(pData, findData.cFileName);
        }
    } while (FindNextFileA(find.Get(), &findData));
}

// Pre-installs the bus driver package from the target folder. On failure
// the system's text of the error is shown.
bool PreinstallBusDriver(const CDialogData* pData)
{
    char szInfPath[SETUP_PATH_LENGTH];
    bool bDone = BuildTargetPath(pData, IDS_BUS_INF, szInfPath);
    if (bDone) {
        if (IsTraceEnabled(TRACE_FLOW)) {
            TraceEvent(g_guidSetupComponent, 41, szInfPath, pData->m_szTargetDir);
        }
        bDone = SetupCopyOEMInfA(szInfPath, pData->m_szTargetDir, SPOST_PATH, 0, nullptr, 0, nullptr,
                                 nullptr) != FALSE;
    }
    if (!bDone) {
        ShowLastErrorMessage("Error");
    }
    return bDone;
}

// Installs the COM port devices of the function driver INF.
bool InstallPorts(CDialogData* pData)
{
    char szInfPath[SETUP_PATH_LENGTH];
    if (!BuildTargetPath(pData, IDS_FUNCTION_INF, szInfPath)) {
        if (IsTraceEnabled(TRACE_ERROR)) {
            TraceEvent(g_guidSetupComponent, 121, pData->m_szTargetDir);
        }
        pData->m_nResultId = IDS_ERROR;
        return false;
    }
    if (IsTraceEnabled(TRACE_FLOW)) {
        TraceEvent(g_guidSetupComponent, 46, szInfPath);
    }
    return InstallDevicesFromInf(pData, szInfPath) != FALSE;
}

void RegisterUninstallEntry(const CDialogData* pData)
{
    char szName[SETUP_PATH_LENGTH] = "";
    char szPublisher[SETUP_PATH_LENGTH] = "";
    char szVersion[SETUP_PATH_LENGTH] = "";
    HINSTANCE hModule = GetModuleHandleA(nullptr);
    LoadStringA(hModule, IDS_UNINSTALL_KEY, szName, SETUP_PATH_LENGTH);
    LoadStringA(hModule, IDS_PUBLISHER, szPublisher, SETUP_PATH_LENGTH);
    LoadStringA(hModule, IDS_DISPLAY_VERSION, szVersion, SETUP_PATH_LENGTH);
    // A failure here is not the run's failure: the driver is installed.
    WriteUninstallEntry(pData->m_szTargetDir, szName, szPublisher, szVersion, pData->m_bSilent);
}

// One REG_EXPAND_SZ value whose size counts the terminating NUL.
LONG SetStringValue(HKEY hKey, const char* pszName, const char* pszValue)
{
    DWORD cbValue = static_cast<DWORD>(lstrlenA(pszValue) + 1);
    return RegSetValueExA(hKey, pszName, 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(pszValue), cbValue);
}

} // namespace

bool BuildTargetFilePath(const CDialogData* pData, UINT nStringId, char* pszPath)
{
    return BuildTargetPath(pData, nStringId, pszPath);
}

int CDialogData::Install()
{
    if (IsTraceEnabled(TRACE_FLOW)) {
        TraceEvent(g_guidSetupComponent, 37);
    }
    // An open port stops the removal of the old installation; nothing of
    // the new one may then be installed over it.
    if (m_bInstalled && !Uninstall(0, 1)) {
        return 0;
    }
    StepProgress();
    CopyPackage(this);
    StepProgress();
    if (!PreinstallBusDriver(this)) {
        m_nResultId = IDS_ERROR;
        return 0;
    }
    StepProgress();
    if (!InstallPorts(this)) {
        return 0;
    }
    StepProgress();
    RegisterUninstallEntry(this);
    return 0;
}

BOOL WriteUninstallEntry(const char* pszTargetDir, const char* pszName, const char* pszPublisher,
                         const char* pszVersion, int bSilent)
{
    if (IsTraceEnabled(TRACE_FLOW)) {
        TraceEvent(g_guidUtilComponent, 55);
    }
    // The command is built first: one that does not fit is not written, and
    // then no part of the entry is.
    char szCommand[SETUP_PATH_LENGTH];
    if (FAILED(StringCchPrintfA(szCommand, SETUP_PATH_LENGTH, bSilent ? "%s\\setup.exe /u /s" : "%s\\setup.exe /u",
                                pszTargetDir))) {
        if (IsTraceEnabled(TRACE_ERROR)) {
            TraceEvent(g_guidUtilComponent, 120, pszTargetDir);
        }
        return FALSE;
    }
    CRegistryKey parent;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, 0, KEY_READ | KEY_WRITE, parent.AddressOf()) !=
        ERROR_SUCCESS) {
        return FALSE;
    }
    CRegistryKey entry;
    if (RegCreateKeyExA(parent.Get(), pszName, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                        entry.AddressOf(), nullptr) != ERROR_SUCCESS) {
        return FALSE;
    }
    // The first value that cannot be written ends the writing.
    return SetStringValue(entry.Get(), "UninstallString", szCommand) == ERROR_SUCCESS &&
           SetStringValue(entry.Get(), "DisplayName", pszName) == ERROR_SUCCESS &&
           SetStringValue(entry.Get(), "Publisher", pszPublisher) == ERROR_SUCCESS &&
           SetStringValue(entry.Get(), "DisplayVersion", pszVersion) == ERROR_SUCCESS;
}
