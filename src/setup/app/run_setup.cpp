// RunSetup: picks the run mode, runs the checks, fills the run record and
// runs the work silently or behind the dialog.
#include "run_setup.h"

#include <windows.h>

#include <commctrl.h>
#include <mbstring.h>
#include <setupapi.h>
#include <shellapi.h>
#include <strsafe.h>

#include "../install/comdb_journal.h"
#include "../install/install_record.h"
#include "../install/package_check.h"
#include "../install/unfinished_devices.h"
#include "../trace/run_log.h"
#include "../trace/trace.h"
#include "checks.h"
#include "command_line.h"
#include "dialog_data.h"
#include "local_memory.h"
#include "messages.h"
#include "setup_dialog.h"
#include "visible_desktop.h"

namespace {

const int EXIT_FAILED = -1;

// Runs the checks in their fixed order and returns the string ID of the
// first failure's message, or 0 when all pass.
// The single-instance check was made before the log was opened, so that a
// refused instance never rotates the log the running one writes.
UINT FindFailingCheck(bool bAnotherInstance)
{
    if (IsTraceEnabled(TRACE_FLOW)) TraceEvent(g_guidSetupComponent, 15);
    if (bAnotherInstance) {
        return IDS_ANOTHER_INSTANCE;
    }
    if (IsTraceEnabled(TRACE_FLOW)) TraceEvent(g_guidSetupComponent, 16);
    if (!IsUserAdmin()) {
        return IDS_NOT_ADMIN;
    }
    if (IsTraceEnabled(TRACE_FLOW)) TraceEvent(g_guidSetupComponent, 17);
    // Time-out 0: a poll; pending installations refuse the run, never wait.
    DWORD dwPending = WaitNoPendingInstallEvents(0);
    if (dwPending == WAIT_TIMEOUT) {
        return IDS_INSTALL_PENDING;
    }
    if (dwPending == 0xFFFFFFFF) {
        TraceLastError(g_guidSetupComponent, 18);
        return IDS_ERROR;
    }
    if (IsTraceEnabled(TRACE_FLOW)) TraceEvent(g_guidSetupComponent, 19);
    if (!CheckOsVersion()) {
        if (IsTraceEnabled(TRACE_ERROR)) TraceEvent(g_guidSetupComponent, 20);
        return IDS_UNSUPPORTED_OS;
    }
    if (IsWow64()) {
        if (IsTraceEnabled(TRACE_ERROR)) TraceEvent(g_guidSetupComponent, 21);
        return IDS_UNSUPPORTED_OS;
    }
    return 0;
}

// Fills the source folder with the folder of the running setup.exe: the
// package installed is the one beside the program, whatever the current
// directory. Returns false when the path cannot be read or does not fit;
// the folder is then left empty, never truncated.
bool FillSourceFolder(CDialogData* pData)
{
    DWORD dwLength = GetModuleFileNameA(nullptr, pData->m_szSourceDir, SETUP_PATH_LENGTH);
    unsigned char* pSeparator = nullptr;
    if (dwLength != 0 && dwLength < SETUP_PATH_LENGTH) {
        // Multibyte-aware: a trail byte equal to '\' is not a separator.
        pSeparator = _mbsrchr(reinterpret_cast<unsigned char*>(pData->m_szSourceDir), '\\');
    }
    // A folder the ANSI code page cannot spell comes back as a look-alike
    // (best fit: "C:\pkga" for "C:\pkg" + a-macron), which may hold another
    // package: it is refused, never read.
    wchar_t szWide[SETUP_PATH_LENGTH] = L"";
    DWORD dwWide = GetModuleFileNameW(nullptr, szWide, SETUP_PATH_LENGTH);
    if (pSeparator != nullptr &&
        (dwWide == 0 || dwWide >= SETUP_PATH_LENGTH || !IsSpelledAlike(pData->m_szSourceDir, szWide))) {
        if (IsTraceEnabled(TRACE_ERROR)) TraceEvent(g_guidSetupComponent, 170, pData->m_szSourceDir);
        pSeparator = nullptr;
    }
    if (pSeparator == nullptr) {
        pData->m_szSourceDir[0] = '\0';
        if (IsTraceEnabled(TRACE_ERROR)) TraceEvent(g_guidSetupComponent, 123, static_cast<DWORD>(dwLength));
    } else {
        *pSeparator = '\0';
    }
    if (IsTraceEnabled(TRACE_FLOW)) TraceEvent(g_guidSetupComponent, 26, pData->m_szSourceDir);
    return pSeparator != nullptr;
}

// Fills the source folder and the target folder (Windows directory +
// "\qzvrcom"). Returns false when either does not fit its buffer; that
// folder is then left empty, never truncated.
bool FillFolders(CDialogData* pData)
{
    bool bSourceFits = FillSourceFolder(pData);
    UINT nLength = GetWindowsDirectoryA(pData->m_szTargetDir, SETUP_PATH_LENGTH);
    if (nLength == 0) {
        ShowLastErrorMessage("Error");
    }
    bool bTargetFits = nLength < SETUP_PATH_LENGTH &&
                       SUCCEEDED(StringCchCatA(pData->m_szTargetDir, SETUP_PATH_LENGTH, "\\qzvrcom"));
    if (!bTargetFits) {
        pData->m_szTargetDir[0] = '\0';
    }
    if (IsTraceEnabled(TRACE_FLOW)) TraceEvent(g_guidSetupComponent, 27, pData->m_szTargetDir);
    return bSourceFits && bTargetFits;
}

// Silent runs: the worker starts at once and the main thread waits for it.
// Returns false when the wait failed.
bool RunSilently(CDialogData* pData)
{
    if (!StartWorkerThread(pData)) {
        TraceLastError(g_guidSetupComponent, 28);
        pData->m_nResultId = IDS_ERROR;
    }
    // After a failed creation there is nothing to wait for: the wait fails
    // and the run ends here with -1.
    if (WaitForSingleObject(pData->m_hThread, INFINITE) == WAIT_FAILED) {
        TraceLastError(g_guidSetupComponent, 29);
        if (pData->m_hThread != nullptr) {
            CloseHandle(pData->m_hThread);
            pData->m_hThread = nullptr;
        }
        return false;
    }
    CloseHandle(pData->m_hThread);
    pData->m_hThread = nullptr;
    return true;
}

} // namespace

int RunSetup()
{
    CDialogData data;
    InitCommonControls();

    int nArguments = 0;
    CLocalMemory<LPWSTR> arguments(CommandLineToArgvW(GetCommandLineW(), &nArguments));
    if (arguments.Get() == nullptr) {
        if (IsTraceEnabled(TRACE_ERROR)) TraceEvent(g_guidSetupComponent, 13);
        return EXIT_FAILED;
    }
    CommandLineSwitches switches = ReadSwitches(nArguments, arguments.Get());
    arguments.Reset();

    if (switches.bQuery) {
        // Only a finished installation counts: a deployment tool must run
        // an interrupted or failed one again.
        int nInstalled = IsInstallationFinished();
        if (IsTraceEnabled(TRACE_FLOW)) TraceEvent(g_guidSetupComponent, 14, static_cast<DWORD>(nInstalled));
        return nInstalled ? 1 : 0;
    }
    // Every box and log line from here on can be read.
    UseShowableLanguage();
    if (switches.bUninstall) {
        data.m_bInstall = 0;
    }
    bool bAnotherInstance = IsAnotherInstanceRunning() != 0;
    // Every run but a query leaves its lines in the log.
    CRunLog log(DescribeRunMode(switches), !bAnotherInstance);

    UINT nFailure = FindFailingCheck(bAnotherInstance);
    if (nFailure != 0) {
        ShowStringMessage(nullptr, nFailure, MB_ICONINFORMATION);
        return log.End(nFailure, 0, EXIT_FAILED);
    }
    // A run killed while a temporary arbiter value stood left it behind.
    // It is repaired before any other work; one that cannot be repaired
    // stays for the next run, and this run changes nothing.
    if (!RepairArbiter()) {
        ShowStringMessage(nullptr, IDS_ERROR, MB_ICONINFORMATION);
        return log.End(IDS_ERROR, 0, EXIT_FAILED);
    }
    bool bFoldersFit = FillFolders(&data);
    RemoveUnfinishedDevices(&data);
    // An install must never copy from or into a shortened folder, nor go
    // on without its package: it is refused before anything changes.
    if (data.m_bInstall && (!bFoldersFit || !IsPackageComplete(data.m_szSourceDir))) {
        ShowStringMessage(nullptr, IDS_ERROR, MB_ICONINFORMATION);
        return log.End(IDS_ERROR, 0, EXIT_FAILED);
    }
    data.m_bSilent = switches.bSilent ? 1 : 0;
    if (data.m_bInstall) {
        data.m_bInstalled = IsDriverInstalled();
    }

    // A run no one can see must not wait on its dialog: it runs as a silent
    // one would, and registers the uninstall command of its own mode.
    bool bUnseen = !data.m_bSilent && !IsDesktopVisible();
    if (bUnseen && IsTraceEnabled(TRACE_FLOW)) TraceEvent(g_guidSetupComponent, 137);
    if (data.m_bSilent || bUnseen) {
        // Windows must not ask about a missing file or an untrusted
        // publisher where no one can answer: it fails the step instead.
        SetupSetNonInteractiveMode(TRUE);
        if (IsTraceEnabled(TRACE_FLOW)) TraceEvent(g_guidSetupComponent, 138);
        if (!RunSilently(&data)) {
            return log.End(IDS_ERROR, data.m_bRebootRequired, EXIT_FAILED);
        }
    } else {
        INT_PTR nDialog = DialogBoxParamA(GetModuleHandleA(nullptr),
                                          MAKEINTRESOURCEA(data.m_bInstall ? IDD_INSTALL : IDD_UNINSTALL), nullptr,
                                          SetupDlgProc, reinterpret_cast<LPARAM>(&data));
        if (nDialog == -1) {
            // No dialog, no work: the run must not report success.
            TraceLastError(g_guidSetupComponent, 124);
            return log.End(IDS_ERROR, 0, EXIT_FAILED);
        }
    }

    int nExitCode = data.m_nResultId == IDS_SUCCESS ? 0 : EXIT_FAILED;
    if (IsTraceEnabled(TRACE_FLOW)) TraceEvent(g_guidSetupComponent, 30, static_cast<DWORD>(nExitCode));
    return log.End(static_cast<UINT>(data.m_nResultId), data.m_bRebootRequired, nExitCode);
}
