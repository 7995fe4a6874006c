// The run record shared by RunSetup, the dialog and the worker thread.
#pragma once

#include <windows.h>

#include "../res/resource.h"

// Private message by which the worker tells the dialog the work is over.
#define WM_SETUP_DONE WM_APP

// Length of every fixed path and text buffer, NUL included.
#define SETUP_PATH_LENGTH 260

class CDialogData {
public:
    CDialogData();
    virtual ~CDialogData();

    // Install and uninstall sequences; both run on the worker thread.
    // Uninstall returns 0 when it stopped at an open port or left a device
    // of the driver, with m_nResultId set.
    int Install();
    int Uninstall(int bShowMessage, int bDeleteEntry);

    // Progress bar (control 1003 of m_hWnd); no-ops when there is no dialog.
    void InitProgress(int nMinimum, int nMaximum);
    void StepProgress();

    HWND m_hWnd;
    int m_bInstall;
    int m_bInstalled;
    int m_bRebootRequired;
    int m_bSilent;
    int m_nResultId;
    HANDLE m_hThread;
    DWORD m_dwThreadId;
    char m_szSourceDir[SETUP_PATH_LENGTH];
    char m_szTargetDir[SETUP_PATH_LENGTH];
};

// Nonzero when the driver is installed on this machine.
int IsDriverInstalled();
