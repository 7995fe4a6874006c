// Registry, folder and run helpers of the environment-check tests.
#include "checks_bench.h"

#include <string.h>

namespace {

// How long a refused run must stay alive with its box open before the test
// believes it waits for the box.
const DWORD BOX_HOLD_MS = 400;

} // namespace

bool WriteRegistryString(HKEY hRoot, const char* pszKey, const char* pszName, const char* pszValue)
{
    HKEY hKey = nullptr;
    if (RegCreateKeyExA(hRoot, pszKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &hKey, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    LONG nResult = RegSetValueExA(hKey, pszName, 0, REG_SZ, reinterpret_cast<const BYTE*>(pszValue),
                                  static_cast<DWORD>(strlen(pszValue) + 1));
    RegCloseKey(hKey);
    return nResult == ERROR_SUCCESS;
}

bool WriteRegistryDword(HKEY hRoot, const char* pszKey, const char* pszName, DWORD dwValue)
{
    HKEY hKey = nullptr;
    if (RegCreateKeyExA(hRoot, pszKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &hKey, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    LONG nResult =
        RegSetValueExA(hKey, pszName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwValue), sizeof(dwValue));
    RegCloseKey(hKey);
    return nResult == ERROR_SUCCESS;
}

bool ReadRegistryDword(HKEY hRoot, const char* pszKey, const char* pszName, DWORD* pdwValue)
{
    DWORD dwSize = sizeof(*pdwValue);
    return RegGetValueA(hRoot, pszKey, pszName, RRF_RT_REG_DWORD, nullptr, pdwValue, &dwSize) == ERROR_SUCCESS;
}

void DeleteRegistryValue(HKEY hRoot, const char* pszKey, const char* pszName)
{
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(hRoot, pszKey, 0, KEY_SET_VALUE, &hKey) == ERROR_SUCCESS) {
        RegDeleteValueA(hKey, pszName);
        RegCloseKey(hKey);
    }
}

CRegistryValueKeeper::CRegistryValueKeeper(HKEY hRoot, const char* pszKey, const char* pszName)
    : m_hRoot(hRoot), m_key(pszKey), m_name(pszName), m_bExisted(false), m_dwType(REG_NONE)
{
    DWORD dwSize = 0;
    if (RegGetValueA(hRoot, pszKey, pszName, RRF_RT_ANY | RRF_NOEXPAND, &m_dwType, nullptr, &dwSize) != ERROR_SUCCESS) {
        return;
    }
    m_data.resize(dwSize);
    m_bExisted = RegGetValueA(hRoot, pszKey, pszName, RRF_RT_ANY | RRF_NOEXPAND, &m_dwType, m_data.data(), &dwSize) ==
                 ERROR_SUCCESS;
    m_data.resize(dwSize);
}

CRegistryValueKeeper::~CRegistryValueKeeper()
{
    if (!m_bExisted) {
        DeleteRegistryValue(m_hRoot, m_key.c_str(), m_name.c_str());
        return;
    }
    HKEY hKey = nullptr;
    if (RegCreateKeyExA(m_hRoot, m_key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &hKey, nullptr) ==
        ERROR_SUCCESS) {
        RegSetValueExA(hKey, m_name.c_str(), 0, m_dwType, m_data.data(), static_cast<DWORD>(m_data.size()));
        RegCloseKey(hKey);
    }
}

CProgramVersion::CProgramVersion(const char* pszExeName, const char* pszVersion)
    : m_key(std::string(WINE_KEY "\\AppDefaults\\") + pszExeName)
{
    EXPECT_TRUE(WriteRegistryString(HKEY_CURRENT_USER, m_key.c_str(), "Version", pszVersion));
}

CProgramVersion::~CProgramVersion()
{
    RegDeleteTreeA(HKEY_CURRENT_USER, m_key.c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, m_key.c_str());
}

CScratchFolder::CScratchFolder(const char* pszName)
{
    char szTemp[MAX_PATH] = "";
    GetTempPathA(MAX_PATH, szTemp);
    m_path = std::string(szTemp) + pszName + "\\";
    CreateDirectoryA(m_path.c_str(), nullptr);
}

CScratchFolder::~CScratchFolder()
{
    WIN32_FIND_DATAA found;
    HANDLE hFind = FindFirstFileA((m_path + "*").c_str(), &found);
    if (hFind != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                DeleteFileA((m_path + found.cFileName).c_str());
            }
        } while (FindNextFileA(hFind, &found));
        FindClose(hFind);
    }
    RemoveDirectoryA(m_path.c_str());
}

std::string SystemFolder()
{
    char szFolder[MAX_PATH] = "";
    GetSystemDirectoryA(szFolder, MAX_PATH);
    return szFolder;
}

bool DoesFileExist(const char* pszPath)
{
    return GetFileAttributesA(pszPath) != INVALID_FILE_ATTRIBUTES;
}

::testing::AssertionResult ShowsInstallDialog(const char* pszArguments, const char* pszProgram, const char* pszWorkDir)
{
    std::string program = pszProgram != nullptr ? pszProgram : PackageSetupPath();
    CProgramRun run;
    if (!run.Start(program.c_str(), pszArguments, pszWorkDir)) {
        return ::testing::AssertionFailure() << "cannot start " << program << ": " << GetLastError();
    }
    HWND hDialog = run.WaitForWindow("#32770", "Install");
    if (hDialog == nullptr) {
        MessageBoxState box;
        if (run.WaitForMessageBox(&box, 0)) {
            return ::testing::AssertionFailure() << "box instead of the dialog: \"" << box.text << "\"";
        }
        return ::testing::AssertionFailure() << "no Install dialog";
    }
    ClickButton(hDialog, IDCANCEL);
    DWORD dwExitCode = 0xDEAD;
    if (!run.WaitForExit(&dwExitCode)) {
        return ::testing::AssertionFailure() << "still running after Cancel";
    }
    if (dwExitCode != 0) {
        return ::testing::AssertionFailure() << "exit code " << dwExitCode << " after Cancel";
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult IsRefusedWithBox(CProgramRun& run, const char* pszText)
{
    MessageBoxState box;
    if (!run.WaitForMessageBox(&box)) {
        DWORD dwExitCode = 0xDEAD;
        bool bEnded = run.WaitForExit(&dwExitCode, 0);
        return ::testing::AssertionFailure()
               << "no message box (" << (bEnded ? "ended with " : "running, ") << dwExitCode << ")";
    }
    if (box.text != pszText || !box.caption.empty()) {
        return ::testing::AssertionFailure() << "box \"" << box.text << "\" captioned \"" << box.caption << "\"";
    }
    DWORD dwExitCode = 0xDEAD;
    if (run.WaitForExit(&dwExitCode, BOX_HOLD_MS)) {
        return ::testing::AssertionFailure() << "ended with " << dwExitCode << " while its box was open";
    }
    DismissMessageBox(box);
    if (!run.WaitForExit(&dwExitCode)) {
        return ::testing::AssertionFailure() << "still running after the box was dismissed";
    }
    if (dwExitCode != 0xFFFFFFFF) {
        return ::testing::AssertionFailure() << "exit code " << dwExitCode;
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult StartIsRefusedWithBox(const char* pszArguments, const char* pszText, bool bRestricted)
{
    CProgramRun run;
    if (!run.Start(PackageSetupPath().c_str(), pszArguments, nullptr, bRestricted)) {
        return ::testing::AssertionFailure() << "cannot start setup.exe: " << GetLastError();
    }
    return IsRefusedWithBox(run, pszText);
}
