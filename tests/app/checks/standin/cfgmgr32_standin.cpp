// Stand-ins for cfgmgr32.dll, one source for three builds:
//  STANDIN_ANSWERS  CMP_WaitNoPendingInstallEvents returns the DWORD in
//                   HKCU\Software\SetupTest\PendingResult (0 when absent) and
//                   records its time-out and call count beside it;
//  STANDIN_PLANTED  creates "planted.marker" in its own folder when loaded,
//                   so a test sees that a process loaded it;
//  neither          a library without that entry point.
#include <windows.h>

#include <string.h>

#include <strsafe.h>

namespace {

#ifdef STANDIN_ANSWERS
const char* STANDIN_KEY = "Software\\SetupTest";
#endif

#ifdef STANDIN_PLANTED
void CreateMarkerBesideModule(HMODULE hModule)
{
    char szPath[MAX_PATH] = "";
    DWORD dwLength = GetModuleFileNameA(hModule, szPath, MAX_PATH);
    if (dwLength == 0 || dwLength >= MAX_PATH) {
        return;
    }
    char* pszSlash = strrchr(szPath, '\\');
    if (pszSlash == nullptr) {
        return;
    }
    pszSlash[1] = '\0';
    if (FAILED(StringCchCatA(szPath, MAX_PATH, "planted.marker"))) {
        return;
    }
    HANDLE hFile = CreateFileA(szPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile != INVALID_HANDLE_VALUE) {
        CloseHandle(hFile);
    }
}
#endif

} // namespace

BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID /*pReserved*/)
{
#ifdef STANDIN_PLANTED
    if (dwReason == DLL_PROCESS_ATTACH) {
        CreateMarkerBesideModule(hInstance);
    }
#else
    (void)hInstance;
    (void)dwReason;
#endif
    return TRUE;
}

#if defined(STANDIN_ANSWERS) || defined(STANDIN_PLANTED)
extern "C" __declspec(dllexport) DWORD WINAPI CMP_WaitNoPendingInstallEvents(DWORD dwTimeout)
{
    DWORD dwResult = 0;
#ifdef STANDIN_ANSWERS
    HKEY hKey = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, STANDIN_KEY, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &hKey,
                        nullptr) != ERROR_SUCCESS) {
        return dwResult;
    }
    DWORD dwSize = sizeof(dwResult);
    if (RegQueryValueExA(hKey, "PendingResult", nullptr, nullptr, reinterpret_cast<BYTE*>(&dwResult), &dwSize) !=
        ERROR_SUCCESS) {
        dwResult = 0;
    }
    DWORD dwCalls = 0;
    dwSize = sizeof(dwCalls);
    RegQueryValueExA(hKey, "PendingCalls", nullptr, nullptr, reinterpret_cast<BYTE*>(&dwCalls), &dwSize);
    ++dwCalls;
    RegSetValueExA(hKey, "PendingCalls", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwCalls), sizeof(dwCalls));
    RegSetValueExA(hKey, "PendingTimeout", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwTimeout), sizeof(dwTimeout));
    RegCloseKey(hKey);
#else
    (void)dwTimeout;
#endif
    return dwResult;
}
#else
// Some other export, so the library is a plausible cfgmgr32.dll without
// the entry point.
extern "C" __declspec(dllexport) DWORD WINAPI CM_Get_Version()
{
    return 0x0400;
}
#endif
