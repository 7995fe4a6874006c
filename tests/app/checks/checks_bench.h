// Shared by the environment-check tests: registry values that are put back
// when a test ends, per-program Windows versions, and the two outcomes of a
// setup.exe run that a user sees (the Install dialog, or a refusal box).
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "package_folder.h"
#include "uidriver/ui_driver.h"

// Where the stand-in cfgmgr32.dll reads its answer and records its calls.
#define STANDIN_KEY "Software\\SetupTest"
#define WINE_KEY "Software\\Wine"
#define NT_VERSION_KEY "Software\\Microsoft\\Windows NT\\CurrentVersion"

bool WriteRegistryString(HKEY hRoot, const char* pszKey, const char* pszName, const char* pszValue);
bool WriteRegistryDword(HKEY hRoot, const char* pszKey, const char* pszName, DWORD dwValue);
bool ReadRegistryDword(HKEY hRoot, const char* pszKey, const char* pszName, DWORD* pdwValue);
void DeleteRegistryValue(HKEY hRoot, const char* pszKey, const char* pszName);

// Remembers one registry value, or that it is absent, and puts that back
// when the object dies.
class CRegistryValueKeeper {
public:
    CRegistryValueKeeper(HKEY hRoot, const char* pszKey, const char* pszName);
    ~CRegistryValueKeeper();
    CRegistryValueKeeper(const CRegistryValueKeeper&) = delete;
    CRegistryValueKeeper& operator=(const CRegistryValueKeeper&) = delete;

private:
    HKEY m_hRoot;
    std::string m_key;
    std::string m_name;
    bool m_bExisted;
    DWORD m_dwType;
    std::vector<BYTE> m_data;
};

// Gives programs named pszExeName the Windows version pszVersion (a Wine
// name such as "win7") until the object dies. Read at process start.
class CProgramVersion {
public:
    CProgramVersion(const char* pszExeName, const char* pszVersion);
    ~CProgramVersion();
    CProgramVersion(const CProgramVersion&) = delete;
    CProgramVersion& operator=(const CProgramVersion&) = delete;

private:
    std::string m_key;
};

// A folder of its own under the prefix's temporary folder, emptied and
// removed when the object dies. Path ends with a backslash.
class CScratchFolder {
public:
    explicit CScratchFolder(const char* pszName);
    ~CScratchFolder();
    CScratchFolder(const CScratchFolder&) = delete;
    CScratchFolder& operator=(const CScratchFolder&) = delete;

    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

std::string SystemFolder();
bool DoesFileExist(const char* pszPath);

// Starts pszProgram (default: setup.exe) and checks the run passes the
// environment checks: the Install dialog shows; Cancel ends it with 0.
::testing::AssertionResult ShowsInstallDialog(const char* pszArguments, const char* pszProgram = nullptr,
                                              const char* pszWorkDir = nullptr);

// Checks that a started run shows a box with pszText and an empty caption,
// keeps running while the box is open, and exits with -1 once dismissed.
::testing::AssertionResult IsRefusedWithBox(CProgramRun& run, const char* pszText);

// Starts setup.exe with pszArguments and checks IsRefusedWithBox.
::testing::AssertionResult StartIsRefusedWithBox(const char* pszArguments, const char* pszText,
                                                 bool bRestricted = false);
