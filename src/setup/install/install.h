// Install sequence helpers.
#pragma once

#include <windows.h>

class CDialogData;

// Path of string nStringId's file in the target folder; false, with an
// empty path, when it does not fit 260 characters.
bool BuildTargetFilePath(const CDialogData* pData, UINT nStringId, char* pszPath);

// Writes the installed-programs entry pszName under the Uninstall key. TRUE
// when the key and all four values were written.
BOOL WriteUninstallEntry(const char* pszTargetDir, const char* pszName, const char* pszPublisher,
                         const char* pszVersion, int bSilent);
