// Run record construction and the progress-bar operations.
#include "dialog_data.h"

#include <commctrl.h>

#include "../trace/trace.h"

CDialogData::CDialogData()
    : m_hWnd(nullptr),
      m_bInstall(1),
      m_bInstalled(0),
      m_bRebootRequired(0),
      m_bSilent(0),
      m_nResultId(IDS_SUCCESS),
      m_hThread(nullptr),
      m_dwThreadId(0)
{
    m_szSourceDir[0] = '\0';
    m_szTargetDir[0] = '\0';
}

// The record owns no resource: the worker handle is closed by whoever waited.
CDialogData::~CDialogData() {}

void CDialogData::InitProgress(int nMinimum, int nMaximum)
{
    if (IsTraceEnabled(TRACE_FLOW)) {
        TraceEvent(g_guidSetupComponent, 10, static_cast<DWORD>(nMinimum), static_cast<DWORD>(nMaximum));
    }
    // No marquee style: the bar fills one step at a time.
    HWND hProgress = GetDlgItem(m_hWnd, IDC_PROGRESS);
    SendMessageA(hProgress, PBM_SETRANGE, 0, MAKELPARAM(nMinimum, nMaximum));
    SendMessageA(hProgress, PBM_SETPOS, 0, 0);
    SendMessageA(hProgress, PBM_SETSTEP, 1, 0);
}

void CDialogData::StepProgress()
{
    if (IsTraceEnabled(TRACE_FLOW)) {
        TraceEvent(g_guidSetupComponent, 12);
    }
    if (IsTraceEnabled(TRACE_FLOW)) {
        TraceEvent(g_guidSetupComponent, 11, static_cast<DWORD>(0));
    }
    HWND hProgress = GetDlgItem(m_hWnd, IDC_PROGRESS);
    // The marquee animation stays off, so each step moves the bar by one.
    SendMessageA(hProgress, PBM_SETMARQUEE, FALSE, 100);
    SendMessageA(hProgress, PBM_STEPIT, 0, 0);
}
