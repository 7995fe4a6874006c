// Install sequence helpers.
#pragma once

#include <windows.h>

class CDialogData;

// pszFolder + "\" + pszFileName into a 260-character buffer; false, with
// ERROR_FILENAME_EXCED_RANGE and an empty path, when it does not fit.
bool BuildPath(char* pszPath, const char* pszFolder, const char* pszFileName);
// Path of string nStringId's file in the target folder.
bool BuildTargetPath(const CDialogData* pData, UINT nStringId, char* pszPath);

// Writes the installed-programs entry pszName under the Uninstall key. TRUE
// when the key and all four values were written.
BOOL WriteUninstallEntry(const char* pszTargetDir, const char* pszName, const char* pszPublisher,
                         const char* pszVersion, int bSilent);
