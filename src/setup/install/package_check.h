// The check an install makes before it changes anything: the package beside
// the program holds every file its two INF files name.
#pragma once

#include <windows.h>

// TRUE when both INF files are in pszSourceDir, can be read, and every file
// their [SourceDisksFiles] sections and [Version] catalogue entries name is
// there too. FALSE names the first missing file in the trace and the log.
BOOL IsPackageComplete(const char* pszSourceDir);
