// The Install/Uninstall dialog, its About box and the worker thread.
#pragma once

#include <windows.h>

INT_PTR CALLBACK SetupDlgProc(HWND hWnd, UINT nMessage, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AboutDlgProc(HWND hWnd, UINT nMessage, WPARAM wParam, LPARAM lParam);

// Thread start routine; the parameter is the run record.
DWORD WINAPI WorkerThreadProc(LPVOID pParameter);

class CDialogData;
// Creates the worker suspended and resumes it, keeping its handle and ID in
// the record. A worker that cannot be resumed would never run: it is closed
// and the start fails like a creation, m_hThread null and the last error set.
bool StartWorkerThread(CDialogData* pData);
