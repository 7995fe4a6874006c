// Dialog procedures of the Install/Uninstall dialog and the About box.
#include "setup_dialog.h"

#include "../trace/trace.h"
#include "dialog_data.h"
#include "messages.h"

namespace {

// Appends a separator and the About item to the dialog's system menu.
void AppendAboutItem(HWND hWnd)
{
    HMENU hSystemMenu = GetSystemMenu(hWnd, FALSE);
    if (hSystemMenu == nullptr) {
        TraceLastError(g_guidSetupComponent, 32);
        return;
    }
    char szText[SETUP_PATH_LENGTH] = "";
    LoadStringA(GetModuleHandleA(nullptr), IDS_ABOUT_MENU, szText, SETUP_PATH_LENGTH);
    AppendMenuA(hSystemMenu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(hSystemMenu, MF_STRING, IDM_ABOUT, szText);
}

void ShowControl(HWND hWnd, int nId, int nShow)
{
    ShowWindow(GetDlgItem(hWnd, nId), nShow);
}

void InitSetupDialog(HWND hWnd, CDialogData* pData)
{
    pData->m_hWnd = hWnd;
    SetWindowLongPtrA(hWnd, DWLP_USER, reinterpret_cast<LONG_PTR>(pData));
    if (IsTraceEnabled(TRACE_FLOW)) {
        TraceEvent(g_guidSetupComponent, 31);
    }
    HANDLE hIcon = LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_SETUP), IMAGE_ICON, 0, 0,
                              LR_SHARED);
    SendMessageA(hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(hIcon));
    AppendAboutItem(hWnd);
    ShowControl(hWnd, IDC_PROMPT, SW_SHOW);
    ShowControl(hWnd, IDC_PROGRESS, SW_HIDE);
    pData->InitProgress(0, 4);
}

// Shows the run's result, owned by the dialog, and ends the dialog. The
// worker handle is closed only after the box: while it is set, close
// requests are ignored, so the dialog cannot vanish behind its result box.
void ReportResult(HWND hWnd, CDialogData* pData)
{
    UINT nStyle = pData->m_nResultId == IDS_SUCCESS ? MB_ICONINFORMATION : MB_ICONERROR;
    ShowResultMessage(hWnd, static_cast<UINT>(pData->m_nResultId), pData->m_bRebootRequired, nStyle);
    if (pData->m_hThread != nullptr) {
        CloseHandle(pData->m_hThread);
        pData->m_hThread = nullptr;
    }
    EndDialog(hWnd, 0);
}

// OK: switch the dialog to its working state and start the worker.
void StartWork(HWND hWnd, CDialogData* pData)
{
    int nSteps = 4;
    if (pData->m_bInstall) {
        pData->m_bInstalled = IsDriverInstalled();
        if (pData->m_bInstalled) {
            // The old installation is removed first: four more steps.
            nSteps = 8;
        }
    }
    pData->InitProgress(0, nSteps);
    EnableWindow(GetDlgItem(hWnd, IDOK), FALSE);
    EnableWindow(GetDlgItem(hWnd, IDCANCEL), FALSE);
    ShowControl(hWnd, IDC_PROMPT, SW_HIDE);
    ShowControl(hWnd, IDC_PROGRESS, SW_SHOW);

    if (!StartWorkerThread(pData)) {
        TraceLastError(g_guidSetupComponent, 34);
        pData->m_nResultId = IDS_ERROR;
        // No worker will report: show the error now rather than leave the
        // dialog stuck with its buttons disabled.
        ReportResult(hWnd, pData);
    }
}

void HandleCommand(HWND hWnd, CDialogData* pData, WORD nId)
{
    if (IsTraceEnabled(TRACE_FLOW)) {
        TraceEvent(g_guidSetupComponent, 33);
    }
    if (nId == IDOK) {
        // A second OK (a double click, a posted command) while the worker
        // runs must not start another worker on the same run record.
        if (pData->m_hThread == nullptr) {
            StartWork(hWnd, pData);
        }
    } else if (nId == IDCANCEL) {
        // Escape, Alt+F4 and the close button arrive here too. Once the
        // worker runs, the dialog ends only after it has reported.
        if (pData->m_hThread == nullptr) {
            EndDialog(hWnd, 0);
        }
    }
}

} // namespace

INT_PTR CALLBACK SetupDlgProc(HWND hWnd, UINT nMessage, WPARAM wParam, LPARAM lParam)
{
    if (nMessage == WM_INITDIALOG) {
        InitSetupDialog(hWnd, reinterpret_cast<CDialogData*>(lParam));
        return TRUE;
    }
    CDialogData* pData = reinterpret_cast<CDialogData*>(GetWindowLongPtrA(hWnd, DWLP_USER));
    if (pData == nullptr) {
        return FALSE;
    }
    switch (nMessage) {
    case WM_COMMAND:
        HandleCommand(hWnd, pData, LOWORD(wParam));
        break;
    case WM_SYSCOMMAND:
        if (wParam == IDM_ABOUT) {
            DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_ABOUTBOX), nullptr, AboutDlgProc, 0);
        }
        break;
    case WM_SETUP_DONE:
        ReportResult(hWnd, pData);
        break;
    default:
        break;
    }
    return FALSE;
}

INT_PTR CALLBACK AboutDlgProc(HWND hWnd, UINT nMessage, WPARAM wParam, LPARAM /*lParam*/)
{
    if (nMessage == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(hWnd, LOWORD(wParam));
    }
    return FALSE;
}
