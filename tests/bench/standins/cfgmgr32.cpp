// cfgmgr32.dll stand-in: the device status that Windows' configuration
// manager reports, which Wine's own CM_Get_DevNode_Status does not (it
// answers CR_SUCCESS and leaves both outputs untouched, even for a devnode
// that does not exist), and the pending-installation probe setup.exe makes.
//
// CM_Get_DevNode_Status, as Microsoft documents it:
// - a null status or problem pointer gives CR_INVALID_POINTER, flags other
//   than 0 CR_INVALID_FLAG, a handle that names no devnode CR_INVALID_DEVNODE;
// - a device whose key is gone gives CR_NO_SUCH_DEVINST;
// - a device without an installed driver (no "Driver" value in its key)
//   has DN_HAS_PROBLEM with CM_PROB_FAILED_INSTALL (28);
// - any other has DN_DRIVER_LOADED | DN_STARTED and problem 0.
// The problem number is written whenever the call succeeds.
//
// Bench switch: HKLM\SOFTWARE\DeviceBench\DeviceProblems, a DWORD value
// named by a hardware ID, gives every device with that first hardware ID
// DN_HAS_PROBLEM and that problem code (10: the driver failed to start, 14:
// CM_PROB_NEED_RESTART...). Tests write and delete the values.

// This module is cfgmgr32: its header then declares the functions for
// export, not import.
#define _CFGMGR32_
#include <windows.h>

#include <cfgmgr32.h>
#include <strsafe.h>

namespace {

typedef CONFIGRET(WINAPI* GetDeviceIdProc)(DEVINST dnDevInst, PWSTR pszBuffer, ULONG cchBuffer, ULONG ulFlags);

const wchar_t ENUM_KEY[] = L"System\\CurrentControlSet\\Enum\\";
const wchar_t PROBLEMS_KEY[] = L"SOFTWARE\\DeviceBench\\DeviceProblems";

// The devnode handles are SetupAPI's, of this process.
CONFIGRET ReadInstanceId(DEVINST dnDevInst, wchar_t* pszId, ULONG cchId)
{
    GetDeviceIdProc pfnGetId = reinterpret_cast<GetDeviceIdProc>(
        reinterpret_cast<void*>(GetProcAddress(LoadLibraryW(L"setupapi.dll"), "CM_Get_Device_IDW")));
    if (pfnGetId == nullptr) {
        return CR_FAILURE;
    }
    return pfnGetId(dnDevInst, pszId, cchId, 0) == CR_SUCCESS ? CR_SUCCESS : CR_INVALID_DEVNODE;
}

DWORD ReadBenchProblem(HKEY hDevice)
{
    wchar_t szIds[1024] = L"";
    DWORD cbIds = sizeof(szIds) - sizeof(wchar_t);
    DWORD dwProblem = 0;
    DWORD cbProblem = sizeof(dwProblem);
    if (RegQueryValueExW(hDevice, L"HardwareID", nullptr, nullptr, reinterpret_cast<BYTE*>(szIds), &cbIds) !=
            ERROR_SUCCESS ||
        RegGetValueW(HKEY_LOCAL_MACHINE, PROBLEMS_KEY, szIds, RRF_RT_REG_DWORD, nullptr, &dwProblem, &cbProblem) !=
            ERROR_SUCCESS) {
        return 0;
    }
    return dwProblem;
}

} // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}

extern "C" __declspec(dllexport) CONFIGRET WINAPI CM_Get_DevNode_Status(PULONG pulStatus, PULONG pulProblemNumber,
                                                                         DEVINST dnDevInst, ULONG ulFlags)
{
    if (pulStatus == nullptr || pulProblemNumber == nullptr) {
        return CR_INVALID_POINTER;
    }
    if (ulFlags != 0) {
        return CR_INVALID_FLAG;
    }
    wchar_t szPath[512] = L"";
    StringCchCopyW(szPath, ARRAYSIZE(szPath), ENUM_KEY);
    size_t cchPrefix = wcslen(szPath);
    CONFIGRET nResult = ReadInstanceId(dnDevInst, szPath + cchPrefix, static_cast<ULONG>(ARRAYSIZE(szPath) - cchPrefix));
    if (nResult != CR_SUCCESS) {
        return nResult;
    }
    HKEY hDevice = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, szPath, 0, KEY_QUERY_VALUE, &hDevice) != ERROR_SUCCESS) {
        return CR_NO_SUCH_DEVINST;
    }
    DWORD dwProblem = RegQueryValueExW(hDevice, L"Driver", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS
                          ? ReadBenchProblem(hDevice)
                          : CM_PROB_FAILED_INSTALL;
    RegCloseKey(hDevice);
    *pulStatus = dwProblem != 0 ? DN_HAS_PROBLEM : DN_DRIVER_LOADED | DN_STARTED;
    *pulProblemNumber = dwProblem;
    return CR_SUCCESS;
}

// No device installation is ever pending on the bench (WAIT_OBJECT_0).
extern "C" __declspec(dllexport) DWORD WINAPI CMP_WaitNoPendingInstallEvents(DWORD /*dwTimeout*/)
{
    return WAIT_OBJECT_0;
}
