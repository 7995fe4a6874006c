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

// True when pszAnsi, read in the ANSI code page, is exactly pszWide: the
// code page can spell that text. A best-fit look-alike ("a" for "\u0101")
// or a question mark is not the same text.
bool IsSpelledAlike(const char* pszAnsi, const wchar_t* pszWide);

// Makes this thread load the English string table when the display
// language's table cannot be shown in the ANSI code page, so that no box or
// log line becomes question marks. Each thread calls it for itself.
void UseShowableLanguage();
