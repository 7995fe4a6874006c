// The Install/Uninstall dialog, its About box and the worker thread.
#pragma once

#include <windows.h>

INT_PTR CALLBACK SetupDlgProc(HWND hWnd, UINT nMessage, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AboutDlgProc(HWND hWnd, UINT nMessage, WPARAM wParam, LPARAM lParam);

// Thread start routine; the parameter is the run record.
DWORD WINAPI WorkerThreadProc(LPVOID pParameter);
