// Sample package folder for tests that install.
#include "package_folder.h"

#include <stdio.h>

#include "uidriver/ui_driver.h"

namespace {

const char PACKAGE_FOLDER[] = "C:\\package\\";

void CopyFolderFiles(const std::string& source, const std::string& target)
{
    WIN32_FIND_DATAA found;
    HANDLE hFind = FindFirstFileA((source + "*").c_str(), &found);
    if (hFind == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            CopyFileA((source + found.cFileName).c_str(), (target + found.cFileName).c_str(), FALSE);
        }
    } while (FindNextFileA(hFind, &found));
    FindClose(hFind);
}

} // namespace

const std::string& PackageFolder()
{
    static std::string folder;
    if (folder.empty()) {
        folder = PACKAGE_FOLDER;
        CreateDirectoryA(folder.c_str(), nullptr);
        CopyFolderFiles(BinaryFolder() + "package\\", folder);
        CopyFileA(SetupPath().c_str(), (folder + "setup.exe").c_str(), FALSE);
    }
    return folder;
}

std::string PackageSetupPath()
{
    return PackageFolder() + "setup.exe";
}

DWORD RunPackageSetup(const char* pszArguments)
{
    CProgramRun run;
    DWORD dwExitCode = 0x12345678;
    if (run.Start(PackageSetupPath().c_str(), pszArguments, PackageFolder().c_str())) {
        run.WaitForExit(&dwExitCode, 120000);
    }
    return dwExitCode;
}

std::string ReadWholeFile(const std::string& path)
{
    std::string text;
    FILE* pFile = fopen(path.c_str(), "rb");
    for (int c = pFile != nullptr ? fgetc(pFile) : EOF; c != EOF; c = fgetc(pFile)) {
        text += static_cast<char>(c);
    }
    if (pFile != nullptr) {
        fclose(pFile);
    }
    return text;
}

namespace {

typedef DWORD(WINAPI* GetModuleFileNameAProc)(HMODULE, LPSTR, DWORD);
GetModuleFileNameAProc g_pfnGetModuleFileNameA = nullptr;
std::string g_programPath;

// The program's own path for the null module; the test folders are short,
// so the path always fits.
DWORD WINAPI FakeGetModuleFileNameA(HMODULE hModule, LPSTR pszPath, DWORD nSize)
{
    if (hModule != nullptr && hModule != GetModuleHandleW(nullptr)) {
        return g_pfnGetModuleFileNameA(hModule, pszPath, nSize);
    }
    return static_cast<DWORD>(snprintf(pszPath, nSize, "%s", g_programPath.c_str()));
}

typedef DWORD(WINAPI* GetModuleFileNameWProc)(HMODULE, LPWSTR, DWORD);
GetModuleFileNameWProc g_pfnGetModuleFileNameW = nullptr;

DWORD WINAPI FakeGetModuleFileNameW(HMODULE hModule, LPWSTR pszPath, DWORD nSize)
{
    if (hModule != nullptr && hModule != GetModuleHandleW(nullptr)) {
        return g_pfnGetModuleFileNameW(hModule, pszPath, nSize);
    }
    return static_cast<DWORD>(
        MultiByteToWideChar(CP_ACP, 0, g_programPath.c_str(), -1, pszPath, static_cast<int>(nSize)) - 1);
}

} // namespace

CStartFolder::CStartFolder(const char* pszFolder)
    : m_moduleName("kernel32.dll", "GetModuleFileNameA", reinterpret_cast<void*>(FakeGetModuleFileNameA)),
      m_wideModuleName("kernel32.dll", "GetModuleFileNameW", reinterpret_cast<void*>(FakeGetModuleFileNameW))
{
    g_pfnGetModuleFileNameA = reinterpret_cast<GetModuleFileNameAProc>(m_moduleName.Original());
    g_pfnGetModuleFileNameW = reinterpret_cast<GetModuleFileNameWProc>(m_wideModuleName.Original());
    g_programPath = std::string(pszFolder) + "setup.exe";
    m_szPrevious[0] = '\0';
    GetCurrentDirectoryA(MAX_PATH, m_szPrevious);
    SetCurrentDirectoryA(pszFolder);
}

CStartFolder::~CStartFolder()
{
    SetCurrentDirectoryA(m_szPrevious);
}
