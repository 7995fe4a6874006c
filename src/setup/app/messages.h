// The two message boxes of the program.
#pragma once

#include <windows.h>

// Shows string nStringId of the program's module with an empty caption.
void ShowStringMessage(HWND hOwner, UINT nStringId, UINT nStyle);

// Shows the system's text for the thread's last error, without an owner.
void ShowLastErrorMessage(const char* pszCaption);

// The thread's last error after a call that failed. A failure that left no
// code is ERROR_GEN_FAILURE, so it can never pass for success.
DWORD GetFailureError();
