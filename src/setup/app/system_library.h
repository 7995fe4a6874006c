// Libraries that are not "known DLLs" are loaded from the system folder by
// full path: the program runs elevated from a package folder, and a copy
// planted there must never be loaded.
#pragma once

#include <windows.h>

// Loads pszFileName ("newdev.dll") from the system folder; null with the
// thread's last error set on failure. The library stays loaded.
HMODULE LoadSystemLibrary(const char* pszFileName);

// Looks up pszFunction in the system library pszFileName. Null with the
// last error (126 for a missing library, 127 for a missing entry point).
FARPROC FindSystemFunction(const char* pszFileName, const char* pszFunction);
