// Ports class installer of the msports.dll stand-in. As on Windows, a new
// port device gets the lowest COM number the arbiter database marks free:
// the number is claimed, written as "PortName" into the device's hardware
// key and shown in its friendly name. Removing the device frees the number.
#include <windows.h>

#include <setupapi.h>
#include <ddk/msports.h>
#include <mbstring.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "app/handles.h"

namespace {

const char* PORT_NAME_VALUE = "PortName";
const DWORD NAME_LENGTH = 260;

// "COMn" (any case) gives n; anything else gives 0.
DWORD ParsePortName(const char* pszPortName)
{
    if (_mbsnicmp(reinterpret_cast<const unsigned char*>(pszPortName),
                  reinterpret_cast<const unsigned char*>("COM"), 3) != 0) {
        return 0;
    }
    if (pszPortName[3] < '0' || pszPortName[3] > '9') {
        return 0;
    }
    char* pszEnd = nullptr;
    unsigned long ulPort = strtoul(pszPortName + 3, &pszEnd, 10);
    return (*pszEnd == '\0' && ulPort <= COMDB_MAX_PORTS_ARBITRATED) ? static_cast<DWORD>(ulPort) : 0;
}

// The COM number already in the device's hardware key, or 0.
DWORD ReadPortNumber(HKEY hDeviceKey)
{
    char szPortName[NAME_LENGTH] = "";
    DWORD dwType = 0;
    DWORD cbData = sizeof(szPortName) - 1;
    if (RegQueryValueExA(hDeviceKey, PORT_NAME_VALUE, nullptr, &dwType, reinterpret_cast<BYTE*>(szPortName),
                         &cbData) != ERROR_SUCCESS ||
        dwType != REG_SZ) {
        return 0;
    }
    szPortName[cbData] = '\0';
    return ParsePortName(szPortName);
}

// A device that already has a number keeps it (reinstallation); a new one
// takes the lowest free number.
LONG ClaimPortNumber(DWORD dwCurrent, DWORD* pdwPort)
{
    HCOMDB hComDB = nullptr;
    LONG lResult = ComDBOpen(&hComDB);
    if (lResult != ERROR_SUCCESS) {
        return lResult;
    }
    if (dwCurrent != 0) {
        BOOL bForced = FALSE;
        lResult = ComDBClaimPort(hComDB, dwCurrent, TRUE, &bForced);
        *pdwPort = dwCurrent;
    } else {
        lResult = ComDBClaimNextFreePort(hComDB, pdwPort);
    }
    ComDBClose(hComDB);
    return lResult;
}

void ReleasePortNumber(DWORD dwPort)
{
    HCOMDB hComDB = nullptr;
    if (ComDBOpen(&hComDB) == ERROR_SUCCESS) {
        ComDBReleasePort(hComDB, dwPort);
        ComDBClose(hComDB);
    }
}

// The device description, or the selected driver's when the device has none.
void ReadDeviceDescription(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData, char* pszDescription)
{
    DWORD cbSize = NAME_LENGTH;
    if (SetupDiGetDeviceRegistryPropertyA(hDevInfo, pDevInfoData, SPDRP_DEVICEDESC, nullptr,
                                          reinterpret_cast<BYTE*>(pszDescription), cbSize, nullptr)) {
        return;
    }
    SP_DRVINFO_DATA_A driver = {};
    driver.cbSize = sizeof(driver);
    if (SetupDiGetSelectedDriverA(hDevInfo, pDevInfoData, &driver) &&
        snprintf(pszDescription, NAME_LENGTH, "%s", driver.Description) < static_cast<int>(NAME_LENGTH)) {
        return;
    }
    snprintf(pszDescription, NAME_LENGTH, "%s", "Communications Port");
}

DWORD NamePort(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData, HKEY hDeviceKey, DWORD dwPort)
{
    char szPortName[NAME_LENGTH] = "";
    snprintf(szPortName, sizeof(szPortName), "COM%lu", static_cast<unsigned long>(dwPort));
    LONG lResult = RegSetValueExA(hDeviceKey, PORT_NAME_VALUE, 0, REG_SZ, reinterpret_cast<const BYTE*>(szPortName),
                                  static_cast<DWORD>(strlen(szPortName) + 1));
    if (lResult != ERROR_SUCCESS) {
        return static_cast<DWORD>(lResult);
    }
    char szDescription[NAME_LENGTH] = "";
    ReadDeviceDescription(hDevInfo, pDevInfoData, szDescription);
    char szFriendlyName[NAME_LENGTH * 2] = "";
    int nLength = snprintf(szFriendlyName, sizeof(szFriendlyName), "%s (%s)", szDescription, szPortName);
    if (!SetupDiSetDeviceRegistryPropertyA(hDevInfo, pDevInfoData, SPDRP_FRIENDLYNAME,
                                           reinterpret_cast<const BYTE*>(szFriendlyName),
                                           static_cast<DWORD>(nLength + 1))) {
        return GetLastError();
    }
    return NO_ERROR;
}

DWORD InstallPortDevice(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData)
{
    if (!SetupDiInstallDevice(hDevInfo, pDevInfoData)) {
        return GetLastError();
    }
    HKEY hKey = SetupDiCreateDevRegKeyA(hDevInfo, pDevInfoData, DICS_FLAG_GLOBAL, 0, DIREG_DEV, nullptr, nullptr);
    if (hKey == INVALID_HANDLE_VALUE) {
        return GetLastError();
    }
    CRegistryKey deviceKey(hKey);
    DWORD dwPort = 0;
    LONG lResult = ClaimPortNumber(ReadPortNumber(deviceKey.Get()), &dwPort);
    if (lResult != ERROR_SUCCESS) {
        return static_cast<DWORD>(lResult);
    }
    return NamePort(hDevInfo, pDevInfoData, deviceKey.Get(), dwPort);
}

void ReleasePortOfDevice(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData)
{
    HKEY hKey = SetupDiOpenDevRegKey(hDevInfo, pDevInfoData, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
    if (hKey == INVALID_HANDLE_VALUE) {
        return;
    }
    CRegistryKey deviceKey(hKey);
    DWORD dwPort = ReadPortNumber(deviceKey.Get());
    if (dwPort != 0) {
        ReleasePortNumber(dwPort);
    }
}

} // namespace

extern "C" __declspec(dllexport) DWORD WINAPI PortsClassInstaller(DI_FUNCTION difFunction, HDEVINFO hDevInfo,
                                                                  PSP_DEVINFO_DATA pDevInfoData)
{
    if (pDevInfoData == nullptr) {
        return ERROR_DI_DO_DEFAULT;
    }
    switch (difFunction) {
    case DIF_INSTALLDEVICE:
        return InstallPortDevice(hDevInfo, pDevInfoData);
    case DIF_REMOVE:
        // The number is free again; the device itself goes by the default.
        ReleasePortOfDevice(hDevInfo, pDevInfoData);
        return ERROR_DI_DO_DEFAULT;
    default:
        return ERROR_DI_DO_DEFAULT;
    }
}
