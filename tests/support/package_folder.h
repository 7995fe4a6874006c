// The sample driver package with setup.exe beside it, copied into the
// prefix the way a user's release folder holds them, and the current
// directory set to it for in-process runs.
#pragma once

#include <windows.h>

#include <string>

// Copies the build's sample package and setup.exe into C:\package (once per
// process) and returns that folder with a trailing backslash.
const std::string& PackageFolder();

// PackageFolder() + "setup.exe".
std::string PackageSetupPath();

// Runs "setup.exe pszArguments" from the package folder and waits for it;
// returns its exit code, or 0x12345678 when it could not be run.
DWORD RunPackageSetup(const char* pszArguments);

// Makes pszFolder the current directory while the object lives.
class CCurrentDirectory {
public:
    explicit CCurrentDirectory(const char* pszFolder);
    ~CCurrentDirectory();
    CCurrentDirectory(const CCurrentDirectory&) = delete;
    CCurrentDirectory& operator=(const CCurrentDirectory&) = delete;

private:
    char m_szPrevious[MAX_PATH];
};
