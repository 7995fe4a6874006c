// The sample driver package with setup.exe beside it, copied into the
// prefix the way a user's release folder holds them, and in-process runs
// started from it.
#pragma once

#include <windows.h>

#include <string>

#include "iat_patch.h"

// Copies the build's sample package and setup.exe into C:\package (once per
// process) and returns that folder with a trailing backslash.
const std::string& PackageFolder();

// PackageFolder() + "setup.exe".
std::string PackageSetupPath();

// Runs "setup.exe pszArguments" from the package folder and waits for it;
// returns its exit code, or 0x12345678 when it could not be run.
DWORD RunPackageSetup(const char* pszArguments);

// A file's whole content; empty when it cannot be read.
std::string ReadWholeFile(const std::string& path);

// While the object lives, an in-process run behaves as setup.exe started
// from pszFolder (with a trailing backslash): pszFolder is the current
// directory, and GetModuleFileNameA and GetModuleFileNameW of the program
// answer pszFolder + "setup.exe". Other modules' paths are passed through;
// the test's own path stays at hand through QueryFullProcessImageNameW.
class CStartFolder {
public:
    explicit CStartFolder(const char* pszFolder);
    ~CStartFolder();
    CStartFolder(const CStartFolder&) = delete;
    CStartFolder& operator=(const CStartFolder&) = delete;

private:
    char m_szPrevious[MAX_PATH];
    CIatPatch m_moduleName;
    CIatPatch m_wideModuleName;
};
