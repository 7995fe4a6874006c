// Sample package folder for tests that install.
#include "package_folder.h"

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

CCurrentDirectory::CCurrentDirectory(const char* pszFolder)
{
    m_szPrevious[0] = '\0';
    GetCurrentDirectoryA(MAX_PATH, m_szPrevious);
    SetCurrentDirectoryA(pszFolder);
}

CCurrentDirectory::~CCurrentDirectory()
{
    SetCurrentDirectoryA(m_szPrevious);
}
