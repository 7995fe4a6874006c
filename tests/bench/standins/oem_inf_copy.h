// Driver store of the newdev.dll stand-in: an INF handed to the system is
// kept in %windir%\inf as oemN.inf with a precompiled oemN.pnf beside it.
#pragma once

#include <windows.h>

// Copies pszInfPath into %windir%\inf as the lowest free oemN.inf, or
// reuses the oemN.inf that already holds the same bytes, and writes the
// .pnf beside it. pszOemPath receives the copy's full path (MAX_PATH).
// Returns ERROR_SUCCESS or the error of the step that failed.
DWORD CopyInfToDriverStore(const wchar_t* pszInfPath, wchar_t* pszOemPath);
