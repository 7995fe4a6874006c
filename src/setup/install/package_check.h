// The check an install makes before it changes anything: the package beside
// the program holds every file its two INF files name.
#pragma once

#include <windows.h>

// TRUE when both INF files are in pszSourceDir, can be read, and every file
// their [SourceDisksFiles] sections and [Version] catalogue entries name is
// there too. FALSE names the first missing file in the trace and the log.
BOOL IsPackageComplete(const char* pszSourceDir);

// Called for one file of the package; false ends the walk.
typedef bool (*PackageFileVisitor)(const char* pszSourceDir, const char* pszName, const void* pContext);

// Visits every file of the package in pszSourceDir: each INF file, then the
// files its [SourceDisksFiles] sections and [Version] catalogue entries name,
// in the decorations Windows reads on an x64 machine. FALSE when a visit
// returned false or an INF file could not be read (traced).
BOOL VisitPackageFiles(const char* pszSourceDir, PackageFileVisitor pfnVisit, const void* pContext);
