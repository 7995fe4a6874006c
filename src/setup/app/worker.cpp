// The worker thread: runs the install or uninstall sequence and reports to
// the dialog when it is over.
#include "setup_dialog.h"

#include "../install/install_record.h"
#include "../trace/trace.h"
#include "dialog_data.h"
#include "messages.h"

DWORD WINAPI WorkerThreadProc(LPVOID pParameter)
{
    CDialogData* pData = static_cast<CDialogData*>(pParameter);
    if (IsTraceEnabled(TRACE_FLOW)) {
        TraceEvent(g_guidSetupComponent, 35, static_cast<const void*>(pData));
    }

    // Each thread picks its own resource language.
    UseShowableLanguage();
    int nResult = 0;
    if (pData->m_bInstall) {
        nResult = pData->Install();
    } else {
        if (IsTraceEnabled(TRACE_FLOW)) {
            TraceEvent(g_guidSetupComponent, 52);
        }
        // A silent run must not stop on a box of its own.
        if (pData->Uninstall(pData->m_bSilent ? 0 : 1, 1)) {
            CheckDriverServices(pData);
        }
    }

    if (IsTraceEnabled(TRACE_FLOW)) {
        TraceEvent(g_guidSetupComponent, 36);
    }
    // Synchronous: returns after the dialog has shown the result. In silent
    // runs there is no dialog and the message goes nowhere.
    SendMessageA(pData->m_hWnd, WM_SETUP_DONE, 0, static_cast<LPARAM>(nResult));
    return static_cast<DWORD>(nResult);
}

bool StartWorkerThread(CDialogData* pData)
{
    pData->m_hThread = CreateThread(nullptr, 0, WorkerThreadProc, pData, CREATE_SUSPENDED, &pData->m_dwThreadId);
    if (pData->m_hThread != nullptr && ResumeThread(pData->m_hThread) == static_cast<DWORD>(-1)) {
        DWORD dwError = GetLastError();
        CloseHandle(pData->m_hThread);
        pData->m_hThread = nullptr;
        SetLastError(dwError);
    }
    return pData->m_hThread != nullptr;
}
