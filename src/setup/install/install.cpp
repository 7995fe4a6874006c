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
#include "install_record.h"
#include "package_check.h"

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

// Copies pszSource over whatever pszTarget holds. A file that cannot be
// copied ends the install: the package staged would be partly another
// release's. The log names the file and the error.
bool CopyPackageFileTo(const char* pszSource, const char* pszTarget)
{
    if (IsTraceEnabled(TRACE_FLOW)) {
        TraceEvent(g_guidSetupComponent, 38, pszSource, pszTarget);
    }
    // A read-only or hidden copy left by an earlier installation must not
    // stop the overwrite; a target that does not exist yet fails here.
    if (!SetFileAttributesA(pszTarget, FILE_ATTRIBUTE_NORMAL)) {
        TraceLastError(g_guidSetupComponent, 39);
    }
    if (CopyFileA(pszSource, pszTarget, FALSE)) {
        return true;
    }
    if (IsTraceEnabled(TRACE_ERROR)) {
        TraceEvent(g_guidSetupComponent, 150, pszSource, GetFailureError(), pszTarget);
    }
    return false;
}

// One file of the package, from the source folder to the target folder.
bool CopyPackageFile(const char* pszSourceDir, const char* pszName, const void* pContext)
{
    const CDialogData* pData = static_cast<const CDialogData*>(pContext);
    char szSource[SETUP_PATH_LENGTH];
    char szTarget[SETUP_PATH_LENGTH];
    if (!BuildPath(szSource, pszSourceDir, pszName) || !BuildPath(szTarget, pData->m_szTargetDir, pszName)) {
        if (IsTraceEnabled(TRACE_ERROR)) {
            TraceEvent(g_guidSetupComponent, 120, pszName);
        }
        return false;
    }
    return CopyPackageFileTo(szSource, szTarget);
}

// Copies exactly the package: the program itself, under the name its
// uninstall command uses, the two INF files and every file they name.
// Nothing else of the release folder, which may be a Downloads folder
// full of a user's own files, goes into the Windows folder.
bool CopyPackage(const CDialogData* pData)
{
    // Started from the package copy itself: it is in place already.
    if (lstrcmpiA(pData->m_szSourceDir, pData->m_szTargetDir) == 0) {
        return true;
    }
    CreateDirectoryA(pData->m_szTargetDir, nullptr);
    char szProgram[SETUP_PATH_LENGTH];
    char szTarget[SETUP_PATH_LENGTH];
    DWORD nLength = GetModuleFileNameA(nullptr, szProgram, SETUP_PATH_LENGTH);
    if (nLength == 0 || nLength >= SETUP_PATH_LENGTH || !BuildPath(szTarget, pData->m_szTargetDir, "setup.exe")) {
        if (IsTraceEnabled(TRACE_ERROR)) {
            TraceEvent(g_guidSetupComponent, 120, "setup.exe");
        }
        return false;
    }
    return CopyPackageFileTo(szProgram, szTarget) &&
           VisitPackageFiles(pData->m_szSourceDir, CopyPackageFile, pData);
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
    // The record of a finished install goes before the first change: a run
    // that ends half-way must never pass for an installation.
    if (!DeleteInstallRecord()) {
        m_nResultId = IDS_ERROR;
        return 0;
    }
    StepProgress();
    // The old installation, if there was one, is gone by now: the -1 of
    // this result reports it.
    if (!CopyPackage(this)) {
        m_nResultId = IDS_ERROR;
        return 0;
    }
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
    // The very last step: only now does the detection rule say "installed".
    FinishInstall(this);
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
