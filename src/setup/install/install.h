// Install sequence helpers.
#pragma once

#include <windows.h>

// Writes the installed-programs entry pszName under the Uninstall key. TRUE
// when the key and all four values were written.
BOOL WriteUninstallEntry(const char* pszTargetDir, const char* pszName, const char* pszPublisher,
                         const char* pszVersion, int bSilent);
