// Driver installation for one hardware ID, creating a root device of the
// INF's class when no present device takes the driver.
#include "device_install.h"

#include <cfgmgr32.h>
#include <newdev.h>
#include <setupapi.h>
#include <strsafe.h>

#include "../app/dialog_data.h"
#include "../app/handles.h"
#include "../app/messages.h"
#include "../app/system_library.h"
#include "../trace/trace.h"
#include "unfinished_devices.h"

namespace {

typedef BOOL(WINAPI* UpdateDriverProc)(HWND hParent, LPCSTR pszHardwareId, LPCSTR pszInfPath, DWORD dwFlags,
                                       PBOOL pbRebootRequired);

// newdev.dll is not a known DLL: it comes from the system folder, and a
// missing library or entry point fails like the call itself.
BOOL UpdateDriver(const char* pszHardwareId, const char* pszInfPath, BOOL* pbRebootRequired)
{
    UpdateDriverProc pfnUpdate = reinterpret_cast<UpdateDriverProc>(
        reinterpret_cast<void*>(FindSystemFunction("newdev.dll", "UpdateDriverForPlugAndPlayDevicesA")));
    if (pfnUpdate == nullptr) {
        return FALSE;
    }
    // A run that must not wait for an answer has set SetupAPI's
    // non-interactive mode: the installation then fails where Windows
    // would ask. A person at a visible dialog may still answer.
    DWORD dwFlags = INSTALLFLAG_FORCE | (SetupGetNonInteractiveMode() ? INSTALLFLAG_NONINTERACTIVE : 0);
    return pfnUpdate(nullptr, pszHardwareId, pszInfPath, dwFlags, pbRebootRequired);
}

// Creates a root device with the hardware ID and installs the driver on it;
// the device is removed again when that fails. Returns the error of the step
// that failed, ERROR_SUCCESS when installed.
DWORD InstallOnNewDevice(const char* pszHardwareId, const BYTE* pProperty, DWORD cbProperty,
                         const char* pszInfPath, BOOL* pbRebootRequired)
{
    GUID guidClass;
    char szClassName[MAX_CLASS_NAME_LEN] = "";
    if (!SetupDiGetINFClassA(pszInfPath, &guidClass, szClassName, MAX_CLASS_NAME_LEN, nullptr)) {
        DWORD dwError = GetFailureError();
        if (IsTraceEnabled(TRACE_ERROR)) {
            TraceEvent(g_guidUtilComponent, 48, dwError);
        }
        return dwError;
    }
    CDeviceList hList(SetupDiCreateDeviceInfoList(&guidClass, nullptr));
    if (!hList.IsValid()) {
        DWORD dwError = GetFailureError();
        if (IsTraceEnabled(TRACE_ERROR)) {
            TraceEvent(g_guidUtilComponent, 49, dwError);
        }
        return dwError;
    }
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof(device);
    // Its instance ID and the marker description let the next run find and
    // remove a device this run could not finish, even one that has no
    // hardware ID yet.
    if (!SetupDiCreateDeviceInfoA(hList.Get(), SETUP_ROOT_DEVICE_ID, &guidClass, SETUP_UNFINISHED_DEVICE_DESC, nullptr,
                                  DICD_GENERATE_ID, &device)) {
        DWORD dwError = GetFailureError();
        if (IsTraceEnabled(TRACE_ERROR)) {
            TraceEvent(g_guidUtilComponent, 50, dwError);
        }
        return dwError;
    }
    if (!SetupDiSetDeviceRegistryPropertyA(hList.Get(), &device, SPDRP_HARDWAREID, pProperty, cbProperty)) {
        DWORD dwError = GetFailureError();
        if (IsTraceEnabled(TRACE_ERROR)) {
            TraceEvent(g_guidUtilComponent, 51, dwError);
        }
        return dwError;
    }
    if (!SetupDiCallClassInstaller(DIF_REGISTERDEVICE, hList.Get(), &device)) {
        DWORD dwError = GetFailureError();
        if (IsTraceEnabled(TRACE_ERROR)) {
            TraceEvent(g_guidUtilComponent, 52, dwError);
        }
        return dwError;
    }
    if (UpdateDriver(pszHardwareId, pszInfPath, pbRebootRequired)) {
        return ERROR_SUCCESS;
    }
    DWORD dwError = GetFailureError();
    if (IsTraceEnabled(TRACE_ERROR)) {
        TraceEvent(g_guidUtilComponent, 53, dwError);
    }
    SetupDiCallClassInstaller(DIF_REMOVE, hList.Get(), &device);
    return dwError;
}

} // namespace

BOOL InstallDeviceDriver(const char* pszHardwareId, const char* pszInfPath, BOOL* pbRebootRequired)
{
    if (IsTraceEnabled(TRACE_FLOW)) {
        TraceEvent(g_guidUtilComponent, 46, pszHardwareId, pszInfPath, pbRebootRequired);
    }
    // A one-entry multi-string: the ID followed by two NULs. An ID that
    // leaves no room for them is refused, never cut short.
    char szProperty[SETUP_PATH_LENGTH] = {};
    size_t cchHardwareId = 0;
    if (FAILED(StringCchLengthA(pszHardwareId, SETUP_PATH_LENGTH - 1, &cchHardwareId))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    CopyMemory(szProperty, pszHardwareId, cchHardwareId);
    if (UpdateDriver(pszHardwareId, pszInfPath, pbRebootRequired)) {
        if (IsTraceEnabled(TRACE_FLOW)) {
            TraceEvent(g_guidUtilComponent, 47);
        }
        return TRUE;
    }
    // Only a missing device is made good by creating one. Any other refusal
    // (a bad signature, a service marked for deletion) would refuse the new
    // device too, which would then stand beside the old one with its ID.
    DWORD dwError = GetFailureError();
    if (dwError != ERROR_NO_SUCH_DEVINST) {
        if (IsTraceEnabled(TRACE_ERROR)) {
            TraceEvent(g_guidUtilComponent, 54, dwError);
        }
        SetLastError(dwError);
        return FALSE;
    }
    dwError = InstallOnNewDevice(pszHardwareId, reinterpret_cast<const BYTE*>(szProperty),
                                       static_cast<DWORD>(cchHardwareId + 2), pszInfPath, pbRebootRequired);
    SetLastError(dwError);
    return dwError == ERROR_SUCCESS;
}
