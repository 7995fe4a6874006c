// Environment checks: single instance, administrator, pending device
// installations and WOW64.
#include "checks.h"

#include "../trace/trace.h"
#include "dialog_data.h"
#include "system_library.h"

int IsAnotherInstanceRunning()
{
    // In the global namespace: an instance run by a deployment service in
    // session 0 and one started by a user in another session exclude each
    // other, as both would rewrite the same arbiter value.
    char szName[SETUP_PATH_LENGTH] = "Global\\";
    const int cchPrefix = 7;
    if (LoadStringA(GetModuleHandleA(nullptr), IDS_MUTEX_NAME, szName + cchPrefix, SETUP_PATH_LENGTH - cchPrefix) ==
        0) {
        return 1;
    }
    // The handle is never closed: the mutex is held until the process ends.
    HANDLE hMutex = CreateMutexA(nullptr, TRUE, szName);
    if (hMutex == nullptr || GetLastError() == ERROR_ALREADY_EXISTS) {
        return 1;
    }
    return 0;
}

int IsUserAdmin()
{
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID pAdministrators = nullptr;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0,
                                  0, 0, 0, 0, &pAdministrators)) {
        return 0;
    }
    BOOL bMember = FALSE;
    if (!CheckTokenMembership(nullptr, pAdministrators, &bMember)) {
        bMember = FALSE;
    }
    FreeSid(pAdministrators);
    return bMember;
}

typedef DWORD(WINAPI* WaitNoPendingInstallEventsProc)(DWORD dwTimeout);

DWORD WaitNoPendingInstallEvents(DWORD dwTimeout)
{
    // The library stays loaded for the life of the process.
    HMODULE hConfigManager = LoadSystemLibrary("cfgmgr32.dll");
    if (hConfigManager == nullptr) {
        if (IsTraceEnabled(TRACE_ERROR)) {
            TraceEvent(g_guidUtilComponent, 18);
        }
        return 0xFFFFFFFF;
    }
    WaitNoPendingInstallEventsProc pfnWait = reinterpret_cast<WaitNoPendingInstallEventsProc>(
        reinterpret_cast<void*>(GetProcAddress(hConfigManager, "CMP_WaitNoPendingInstallEvents")));
    if (pfnWait == nullptr) {
        if (IsTraceEnabled(TRACE_ERROR)) {
            TraceEvent(g_guidUtilComponent, 19);
        }
        return 0xFFFFFFFF;
    }
    return pfnWait(dwTimeout);
}

typedef BOOL(WINAPI* IsWow64ProcessProc)(HANDLE hProcess, PBOOL pbWow64);
typedef BOOL(WINAPI* IsWow64Process2Proc)(HANDLE hProcess, USHORT* pnProcessMachine, USHORT* pnNativeMachine);

int IsWow64()
{
    if (IsTraceEnabled(TRACE_FLOW)) {
        TraceEvent(g_guidUtilComponent, 10);
    }
    // An x64 program emulated on ARM64 Windows is no WOW64 process, but the
    // x64 driver cannot load there: the machine itself must be x64. Only
    // Windows 10 1709 and later can tell, through IsWow64Process2.
    HMODULE hKernel = GetModuleHandleA("kernel32");
    IsWow64Process2Proc pfnIsWow64Process2 = reinterpret_cast<IsWow64Process2Proc>(
        reinterpret_cast<void*>(GetProcAddress(hKernel, "IsWow64Process2")));
    USHORT nProcessMachine = 0;
    USHORT nNativeMachine = IMAGE_FILE_MACHINE_AMD64;
    if (pfnIsWow64Process2 != nullptr && pfnIsWow64Process2(GetCurrentProcess(), &nProcessMachine, &nNativeMachine) &&
        nNativeMachine != IMAGE_FILE_MACHINE_AMD64) {
        if (IsTraceEnabled(TRACE_ERROR)) {
            TraceEvent(g_guidUtilComponent, 170, static_cast<DWORD>(nNativeMachine));
        }
        return 1;
    }
    IsWow64ProcessProc pfnIsWow64Process = reinterpret_cast<IsWow64ProcessProc>(
        reinterpret_cast<void*>(GetProcAddress(hKernel, "IsWow64Process")));
    if (pfnIsWow64Process == nullptr) {
        TraceLastError(g_guidUtilComponent, 12);
        return 0;
    }
    BOOL bWow64 = FALSE;
    if (!pfnIsWow64Process(GetCurrentProcess(), &bWow64)) {
        TraceLastError(g_guidUtilComponent, 11);
    }
    return bWow64;
}
