// The message boxes of the program.
#pragma once

#include <windows.h>

// Shows a message box when a person can see it. When nobody can, its text
// goes to the log and the trace instead, and the run goes on as if OK had
// been pressed (every box of the program has only OK).
void ShowMessage(HWND hOwner, const char* pszText, const char* pszCaption, UINT nStyle);

// Shows string nStringId of the program's module with an empty caption.
void ShowStringMessage(HWND hOwner, UINT nStringId, UINT nStyle);

// Shows the run's result, string nResultId, with the restart notice on a
// line of its own under it when bRebootRequired.
void ShowResultMessage(HWND hOwner, UINT nResultId, int bRebootRequired, UINT nStyle);

// Shows the system's text for the thread's last error, without an owner.
void ShowLastErrorMessage(const char* pszCaption);

// The thread's last error after a call that failed. A failure that left no
// code is ERROR_GEN_FAILURE, so it can never pass for success.
DWORD GetFailureError();
