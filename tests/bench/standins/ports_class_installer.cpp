// Ports class installer of the msports.dll stand-in, as Microsoft documents
// the Ports class installer and the COM port database:
// - a device is a serial port only when its driver key holds "PortSubClass"
//   = 01 (REG_BINARY, one byte), which the driver INF's install section adds;
//   the installer applies that section's registry entries to the driver key
//   before it looks. Any other device gets the default installation, with no
//   COM number;
// - a serial port keeps the "COMn" already in its hardware key (n claimed
//   without force), or gets the lowest free number; "PortName" is written
//   before the default installation and the number shown in the friendly
//   name;
// - removing a device frees its number only while its driver key still says
//   serial port: a driver key deleted beforehand leaves the number claimed;
// - a port that Windows can start only after a restart has DI_NEEDREBOOT in
//   its install parameters. The bench makes every serial port such a one
//   while HKLM\SOFTWARE\DeviceBench "RestartPorts" is a nonzero DWORD.
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
const char* PORT_SUBCLASS_VALUE = "PortSubClass";
const BYTE SERIAL_PORT_SUBCLASS = 0x01;
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

// A device that already has a number keeps it (reinstallation): the number
// is claimed without force and the name kept whatever the claim answers
// (a number already in use stays shared). A new device takes the lowest
// free number.
LONG ClaimPortNumber(DWORD dwCurrent, DWORD* pdwPort)
{
    HCOMDB hComDB = nullptr;
    LONG lResult = ComDBOpen(&hComDB);
    if (lResult != ERROR_SUCCESS) {
        return lResult;
    }
    if (dwCurrent != 0) {
        BOOL bForced = FALSE;
        ComDBClaimPort(hComDB, dwCurrent, FALSE, &bForced);
        *pdwPort = dwCurrent;
    } else {
        // ERROR_NO_LOG_SPACE when every number is in use (COM port
        // database documentation): the installation fails with it.
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

DWORD SetFriendlyName(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData, const char* pszPortName)
{
    char szDescription[NAME_LENGTH] = "";
    ReadDeviceDescription(hDevInfo, pDevInfoData, szDescription);
    char szFriendlyName[NAME_LENGTH * 2] = "";
    int nLength = snprintf(szFriendlyName, sizeof(szFriendlyName), "%s (%s)", szDescription, pszPortName);
    if (!SetupDiSetDeviceRegistryPropertyA(hDevInfo, pDevInfoData, SPDRP_FRIENDLYNAME,
                                           reinterpret_cast<const BYTE*>(szFriendlyName),
                                           static_cast<DWORD>(nLength + 1))) {
        return GetLastError();
    }
    return NO_ERROR;
}

// The selected driver's INF and install section (without its platform
// extension), or false when the device has no selected driver.
bool ReadSelectedDriver(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData, CHeapBlock& detail)
{
    SP_DRVINFO_DATA_W driver = {};
    driver.cbSize = sizeof(driver);
    if (!SetupDiGetSelectedDriverW(hDevInfo, pDevInfoData, &driver)) {
        return false;
    }
    // Windows answers the size query with ERROR_INSUFFICIENT_BUFFER, Wine
    // with success: both give the size. It counts the hardware IDs only as
    // long as they are, so a short list asks for less than the structure.
    DWORD cbDetail = 0;
    SetupDiGetDriverInfoDetailW(hDevInfo, pDevInfoData, &driver, nullptr, 0, &cbDetail);
    if (cbDetail < sizeof(SP_DRVINFO_DETAIL_DATA_W)) {
        cbDetail = sizeof(SP_DRVINFO_DETAIL_DATA_W);
    }
    detail.Reset(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, cbDetail));
    if (!detail.IsValid()) {
        return false;
    }
    PSP_DRVINFO_DETAIL_DATA_W pDetail = static_cast<PSP_DRVINFO_DETAIL_DATA_W>(detail.Get());
    pDetail->cbSize = sizeof(SP_DRVINFO_DETAIL_DATA_W);
    return SetupDiGetDriverInfoDetailW(hDevInfo, pDevInfoData, &driver, pDetail, cbDetail, nullptr) != FALSE;
}

// Applies the AddReg entries of the selected driver's install section to the
// device's driver key, creating the key. A step that fails leaves the key
// without them: the device is then not taken for a serial port.
void ApplyDriverRegistry(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData)
{
    CHeapBlock detail;
    if (!ReadSelectedDriver(hDevInfo, pDevInfoData, detail)) {
        return;
    }
    PSP_DRVINFO_DETAIL_DATA_W pDetail = static_cast<PSP_DRVINFO_DETAIL_DATA_W>(detail.Get());
    CInfHandle inf(SetupOpenInfFileW(pDetail->InfFileName, nullptr, INF_STYLE_WIN4, nullptr));
    wchar_t szSection[MAX_INF_SECTION_NAME_LENGTH + 1] = L"";
    if (!inf.IsValid() || !SetupDiGetActualSectionToInstallW(inf.Get(), pDetail->SectionName, szSection,
                                                             MAX_INF_SECTION_NAME_LENGTH + 1, nullptr, nullptr)) {
        return;
    }
    HKEY hKey = SetupDiCreateDevRegKeyW(hDevInfo, pDevInfoData, DICS_FLAG_GLOBAL, 0, DIREG_DRV, nullptr, nullptr);
    if (hKey == INVALID_HANDLE_VALUE) {
        return;
    }
    CRegistryKey driverKey(hKey);
    SetupInstallFromInfSectionW(nullptr, inf.Get(), szSection, SPINST_REGISTRY, driverKey.Get(), nullptr, 0, nullptr,
                                nullptr, nullptr, nullptr);
}

// Whether the device's existing driver key says serial port: "PortSubClass"
// of type REG_BINARY, exactly one byte, 01. The key is opened, never made.
bool IsSerialPort(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData)
{
    HKEY hKey = SetupDiOpenDevRegKey(hDevInfo, pDevInfoData, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ);
    if (hKey == INVALID_HANDLE_VALUE) {
        return false;
    }
    CRegistryKey driverKey(hKey);
    // One spare byte: a longer value does not fit and is refused.
    BYTE abData[2] = {};
    DWORD cbData = sizeof(abData);
    DWORD dwType = REG_NONE;
    return RegQueryValueExA(driverKey.Get(), PORT_SUBCLASS_VALUE, nullptr, &dwType, abData, &cbData) ==
               ERROR_SUCCESS &&
           dwType == REG_BINARY && cbData == 1 && abData[0] == SERIAL_PORT_SUBCLASS;
}

// The port name is in the hardware key before the default installation
// starts the driver, which reads it from there.
DWORD InstallSerialPort(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData)
{
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
    char szPortName[NAME_LENGTH] = "";
    snprintf(szPortName, sizeof(szPortName), "COM%lu", static_cast<unsigned long>(dwPort));
    lResult = RegSetValueExA(deviceKey.Get(), PORT_NAME_VALUE, 0, REG_SZ, reinterpret_cast<const BYTE*>(szPortName),
                             static_cast<DWORD>(strlen(szPortName) + 1));
    if (lResult != ERROR_SUCCESS) {
        return static_cast<DWORD>(lResult);
    }
    if (!SetupDiInstallDevice(hDevInfo, pDevInfoData)) {
        return GetLastError();
    }
    return SetFriendlyName(hDevInfo, pDevInfoData, szPortName);
}

// Asks for a restart when the bench says that ports start only after one.
DWORD AskForRestartIfBenchSays(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData)
{
    DWORD dwRestart = 0;
    DWORD cbData = sizeof(dwRestart);
    if (RegGetValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\DeviceBench", "RestartPorts", RRF_RT_REG_DWORD, nullptr,
                     &dwRestart, &cbData) != ERROR_SUCCESS ||
        dwRestart == 0) {
        return ERROR_SUCCESS;
    }
    SP_DEVINSTALL_PARAMS_A params = {};
    params.cbSize = sizeof(params);
    if (!SetupDiGetDeviceInstallParamsA(hDevInfo, pDevInfoData, &params)) {
        return GetLastError();
    }
    params.Flags |= DI_NEEDREBOOT;
    return SetupDiSetDeviceInstallParamsA(hDevInfo, pDevInfoData, &params) ? ERROR_SUCCESS : GetLastError();
}

DWORD InstallPortDevice(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData)
{
    ApplyDriverRegistry(hDevInfo, pDevInfoData);
    if (!IsSerialPort(hDevInfo, pDevInfoData)) {
        return ERROR_DI_DO_DEFAULT;
    }
    DWORD dwError = InstallSerialPort(hDevInfo, pDevInfoData);
    return dwError == ERROR_SUCCESS ? AskForRestartIfBenchSays(hDevInfo, pDevInfoData) : dwError;
}

void ReleasePortOfDevice(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData)
{
    if (!IsSerialPort(hDevInfo, pDevInfoData)) {
        return;
    }
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
        // The device itself goes by the default removal (SetupDiRemoveDevice),
        // which deletes its driver and hardware keys.
        ReleasePortOfDevice(hDevInfo, pDevInfoData);
        return ERROR_DI_DO_DEFAULT;
    default:
        return ERROR_DI_DO_DEFAULT;
    }
}
