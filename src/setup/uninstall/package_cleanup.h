// Driver package store clean-up and the installed-programs entry.
#pragma once

#include <windows.h>

// Deletes every INF (a long name ending in ".inf") of the Windows
// directory's folder pszSuffix (null: "\inf") with a line whose first 259
// bytes are the directive "AddService = pszName[, ...]" (pszName
// upper-cased; the line compared in upper case; a CR ends a line too), and
// its .pnf file.
int DeleteOemInfByService(const char* pszName, const char* pszSuffix);
// Deletes a file, read-only or not; 1 when there is no such file.
int DeleteFileForce(const char* pszPath);
// Deletes the installed-programs entry pszName.
void DeleteUninstallEntry(const char* pszName);
