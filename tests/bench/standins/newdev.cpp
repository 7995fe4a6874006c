// newdev.dll stand-in: UpdateDriverForPlugAndPlayDevices as Windows has it.
// It fails when no present device carries the hardware ID, keeps the INF
// in the driver store as oemN.inf, and installs the driver on every device
// with the ID through the class installer.
#include <windows.h>

#include <cfgmgr32.h>
#include <newdev.h>
#include <setupapi.h>
#include <strsafe.h>
#include <wchar.h>

#include "app/handles.h"
#include "oem_inf_copy.h"

namespace {

const DWORD KNOWN_FLAGS = INSTALLFLAG_FORCE | INSTALLFLAG_READONLY | INSTALLFLAG_NONINTERACTIVE;

// The installation requests Windows sends for a selected driver; a request
// that has no default action fails with ERROR_DI_DO_DEFAULT, which is fine.
const DI_FUNCTION INSTALL_REQUESTS[] = {
    DIF_SELECTBESTCOMPATDRV, DIF_ALLOW_INSTALL, DIF_INSTALLDEVICEFILES, DIF_REGISTER_COINSTALLERS,
    DIF_INSTALLINTERFACES,   DIF_INSTALLDEVICE, DIF_NEWDEVICEWIZARD_FINISHINSTALL,
};

// Compares pszId with each entry of the device's hardware ID multi-string.
bool HasHardwareId(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData, const wchar_t* pszId)
{
    DWORD cbSize = 0;
    SetupDiGetDeviceRegistryPropertyW(hDevInfo, pDevInfoData, SPDRP_HARDWAREID, nullptr, nullptr, 0, &cbSize);
    if (cbSize == 0) {
        return false;
    }
    // Two spare characters keep a badly terminated property terminated.
    CHeapBlock ids(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, cbSize + 2 * sizeof(wchar_t)));
    if (!ids.IsValid() || !SetupDiGetDeviceRegistryPropertyW(hDevInfo, pDevInfoData, SPDRP_HARDWAREID, nullptr,
                                                             static_cast<BYTE*>(ids.Get()), cbSize, nullptr)) {
        return false;
    }
    for (const wchar_t* pszEntry = static_cast<const wchar_t*>(ids.Get()); *pszEntry != L'\0';
         pszEntry += wcslen(pszEntry) + 1) {
        if (_wcsicmp(pszEntry, pszId) == 0) {
            return true;
        }
    }
    return false;
}

bool AnyDeviceHasHardwareId(HDEVINFO hDevInfo, const wchar_t* pszId)
{
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof(device);
    for (DWORD dwIndex = 0; SetupDiEnumDeviceInfo(hDevInfo, dwIndex, &device); ++dwIndex) {
        if (HasHardwareId(hDevInfo, &device, pszId)) {
            return true;
        }
    }
    return false;
}

DWORD InstallDriverOnDevice(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData, const wchar_t* pszInfPath,
                            bool* pbReboot)
{
    SP_DEVINSTALL_PARAMS_W params = {};
    params.cbSize = sizeof(params);
    if (!SetupDiSetSelectedDevice(hDevInfo, pDevInfoData) ||
        !SetupDiGetDeviceInstallParamsW(hDevInfo, pDevInfoData, &params)) {
        return GetLastError();
    }
    if (FAILED(StringCchCopyW(params.DriverPath, MAX_PATH, pszInfPath))) {
        return ERROR_FILENAME_EXCED_RANGE;
    }
    params.Flags |= DI_ENUMSINGLEINF;
    if (!SetupDiSetDeviceInstallParamsW(hDevInfo, pDevInfoData, &params) ||
        !SetupDiBuildDriverInfoList(hDevInfo, pDevInfoData, SPDIT_COMPATDRIVER)) {
        return GetLastError();
    }
    for (DI_FUNCTION difRequest : INSTALL_REQUESTS) {
        if (!SetupDiCallClassInstaller(difRequest, hDevInfo, pDevInfoData)) {
            DWORD dwError = GetLastError();
            if (dwError != ERROR_DI_DO_DEFAULT) {
                return dwError;
            }
        }
    }
    if (SetupDiGetDeviceInstallParamsW(hDevInfo, pDevInfoData, &params) &&
        (params.Flags & (DI_NEEDREBOOT | DI_NEEDRESTART)) != 0) {
        *pbReboot = true;
    }
    return ERROR_SUCCESS;
}

// True when the device's driver came from the driver store copy at
// pszOemPath: the driver key's InfPath names that oemN.inf.
bool HasDriverFrom(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData, const wchar_t* pszOemPath)
{
    HKEY hKey = SetupDiOpenDevRegKey(hDevInfo, pDevInfoData, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_QUERY_VALUE);
    if (hKey == INVALID_HANDLE_VALUE) {
        return false;
    }
    CRegistryKey driverKey(hKey);
    wchar_t szInfPath[MAX_PATH + 1] = L"";
    DWORD cbData = sizeof(szInfPath) - sizeof(wchar_t);
    if (RegQueryValueExW(driverKey.Get(), L"InfPath", nullptr, nullptr, reinterpret_cast<BYTE*>(szInfPath),
                         &cbData) != ERROR_SUCCESS) {
        return false;
    }
    const wchar_t* pszOemName = wcsrchr(pszOemPath, L'\\');
    return _wcsicmp(szInfPath, pszOemName != nullptr ? pszOemName + 1 : pszOemPath) == 0;
}

// Installs the driver on every device with the ID. Without INSTALLFLAG_FORCE
// a device whose driver already came from this INF is left alone: the new
// driver is no better a match than its current one, and when no device is
// left to install on, the call fails with ERROR_NO_MORE_ITEMS
// (UpdateDriverForPlugAndPlayDevices, Microsoft's documentation).
DWORD InstallOnDevicesWithId(HDEVINFO hDevInfo, const wchar_t* pszId, const wchar_t* pszInfPath,
                             const wchar_t* pszOemPath, bool bForce, bool* pbReboot)
{
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof(device);
    bool bInstalled = false;
    for (DWORD dwIndex = 0; SetupDiEnumDeviceInfo(hDevInfo, dwIndex, &device); ++dwIndex) {
        if (!HasHardwareId(hDevInfo, &device, pszId) || (!bForce && HasDriverFrom(hDevInfo, &device, pszOemPath))) {
            continue;
        }
        DWORD dwError = InstallDriverOnDevice(hDevInfo, &device, pszInfPath, pbReboot);
        if (dwError != ERROR_SUCCESS) {
            return dwError;
        }
        bInstalled = true;
    }
    return bInstalled ? ERROR_SUCCESS : ERROR_NO_MORE_ITEMS;
}

DWORD CheckInfFile(const wchar_t* pszInfPath, wchar_t* pszFullPath)
{
    DWORD cchFull = GetFullPathNameW(pszInfPath, MAX_PATH, pszFullPath, nullptr);
    if (cchFull == 0) {
        return GetLastError();
    }
    if (cchFull >= MAX_PATH) {
        return ERROR_FILENAME_EXCED_RANGE;
    }
    DWORD dwAttributes = GetFileAttributesW(pszFullPath);
    if (dwAttributes == INVALID_FILE_ATTRIBUTES) {
        return GetLastError();
    }
    return (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
}

DWORD UpdateDriver(const wchar_t* pszHardwareId, const wchar_t* pszInfPath, DWORD dwFlags, PBOOL pbRebootRequired)
{
    if (pszHardwareId == nullptr || *pszHardwareId == L'\0' || pszInfPath == nullptr || *pszInfPath == L'\0') {
        return ERROR_INVALID_PARAMETER;
    }
    if ((dwFlags & ~KNOWN_FLAGS) != 0) {
        return ERROR_INVALID_FLAGS;
    }
    if (pbRebootRequired != nullptr) {
        *pbRebootRequired = FALSE;
    }
    wchar_t szFullPath[MAX_PATH] = L"";
    DWORD dwError = CheckInfFile(pszInfPath, szFullPath);
    if (dwError != ERROR_SUCCESS) {
        return dwError;
    }
    CDeviceList devices(SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT));
    if (!devices.IsValid()) {
        return GetLastError();
    }
    if (!AnyDeviceHasHardwareId(devices.Get(), pszHardwareId)) {
        return ERROR_NO_SUCH_DEVINST;
    }
    wchar_t szOemInf[MAX_PATH] = L"";
    dwError = CopyInfToDriverStore(szFullPath, szOemInf);
    if (dwError != ERROR_SUCCESS) {
        return dwError;
    }
    // Windows reads the driver files from where the INF came from (the
    // .pnf records it); Wine's Setup API looks beside the INF it is given,
    // so the driver list is built from the original. Wine's installation
    // then finds the identical oemN.inf and records that name as InfPath.
    bool bReboot = false;
    dwError = InstallOnDevicesWithId(devices.Get(), pszHardwareId, szFullPath, szOemInf,
                                     (dwFlags & INSTALLFLAG_FORCE) != 0, &bReboot);
    if (dwError == ERROR_SUCCESS && bReboot && pbRebootRequired != nullptr) {
        *pbRebootRequired = TRUE;
    }
    return dwError;
}

// A null stays null; text that does not fit is refused.
bool WidenArgument(const char* pszText, wchar_t* pszWide, int cchWide, const wchar_t** ppszResult)
{
    *ppszResult = nullptr;
    if (pszText == nullptr) {
        return true;
    }
    if (MultiByteToWideChar(CP_ACP, 0, pszText, -1, pszWide, cchWide) == 0) {
        return false;
    }
    *ppszResult = pszWide;
    return true;
}

} // namespace

extern "C" __declspec(dllexport) BOOL WINAPI UpdateDriverForPlugAndPlayDevicesW(HWND /*hwndParent*/,
                                                                                LPCWSTR pszHardwareId,
                                                                                LPCWSTR pszFullInfPath,
                                                                                DWORD dwInstallFlags,
                                                                                PBOOL pbRebootRequired)
{
    DWORD dwError = UpdateDriver(pszHardwareId, pszFullInfPath, dwInstallFlags, pbRebootRequired);
    SetLastError(dwError);
    return dwError == ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) BOOL WINAPI UpdateDriverForPlugAndPlayDevicesA(HWND hwndParent,
                                                                                LPCSTR pszHardwareId,
                                                                                LPCSTR pszFullInfPath,
                                                                                DWORD dwInstallFlags,
                                                                                PBOOL pbRebootRequired)
{
    wchar_t szHardwareId[MAX_DEVICE_ID_LEN] = L"";
    wchar_t szInfPath[MAX_PATH] = L"";
    const wchar_t* pszWideId = nullptr;
    const wchar_t* pszWidePath = nullptr;
    if (!WidenArgument(pszHardwareId, szHardwareId, MAX_DEVICE_ID_LEN, &pszWideId) ||
        !WidenArgument(pszFullInfPath, szInfPath, MAX_PATH, &pszWidePath)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return UpdateDriverForPlugAndPlayDevicesW(hwndParent, pszWideId, pszWidePath, dwInstallFlags,
                                              pbRebootRequired);
}
