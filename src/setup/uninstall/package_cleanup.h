// Driver package store clean-up and the installed-programs entry.
#pragma once

#include <windows.h>

// Deletes every INF of the Windows directory's folder pszSuffix (null:
// "\inf") with a line holding "ADDSERVICE" and pszName, and its .pnf file.
int DeleteOemInfByService(const char* pszName, const char* pszSuffix);
// Deletes a file, read-only or not; 1 when there is no such file.
int DeleteFileForce(const char* pszPath);
// Deletes the installed-programs entry pszName.
void DeleteUninstallEntry(const char* pszName);
