// newdev.dll stand-in: UpdateDriverForPlugAndPlayDevices as Windows has it.
// It fails when no present device carries the hardware ID, asks the user
// about a package it cannot take as it is, keeps the INF in the driver
// store as oemN.inf, and installs the driver on every device with the ID
// through the class installer.
//
// Bench switch: while HKLM\SOFTWARE\DeviceBench "UntrustedPackages" is a
// nonzero DWORD, every package counts as signed by a publisher of unknown
// trust, the case in which Windows asks an administrator before installing
// ("Signature Categories and Driver Installation", Microsoft's driver
// documentation). Tests write and delete the value.
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

// The installation requests Windows sends once the driver is selected.
const DI_FUNCTION INSTALL_REQUESTS[] = {
    DIF_ALLOW_INSTALL,     DIF_INSTALLDEVICEFILES, DIF_REGISTER_COINSTALLERS,
    DIF_INSTALLINTERFACES, DIF_INSTALLDEVICE,      DIF_NEWDEVICEWIZARD_FINISHINSTALL,
};

const wchar_t BENCH_KEY[] = L"SOFTWARE\\DeviceBench";
const wchar_t UNTRUSTED_VALUE[] = L"UntrustedPackages";
const wchar_t PLATFORM_SUFFIX[] = L".amd64";

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

// A request that has no default action fails with ERROR_DI_DO_DEFAULT,
// which is fine.
DWORD SendRequest(DI_FUNCTION difRequest, HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData)
{
    if (SetupDiCallClassInstaller(difRequest, hDevInfo, pDevInfoData)) {
        return ERROR_SUCCESS;
    }
    DWORD dwError = GetLastError();
    return dwError == ERROR_DI_DO_DEFAULT ? ERROR_SUCCESS : dwError;
}

// Lets the class installer choose the device's driver from pszInfPath alone.
DWORD SelectDriver(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData, const wchar_t* pszInfPath)
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
    return SendRequest(DIF_SELECTBESTCOMPATDRV, hDevInfo, pDevInfoData);
}

DWORD InstallDriverOnDevice(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData, const wchar_t* pszInfPath,
                            bool* pbReboot)
{
    DWORD dwError = SelectDriver(hDevInfo, pDevInfoData, pszInfPath);
    for (DI_FUNCTION difRequest : INSTALL_REQUESTS) {
        if (dwError != ERROR_SUCCESS) {
            return dwError;
        }
        dwError = SendRequest(difRequest, hDevInfo, pDevInfoData);
    }
    if (dwError != ERROR_SUCCESS) {
        return dwError;
    }
    SP_DEVINSTALL_PARAMS_W params = {};
    params.cbSize = sizeof(params);
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

// Appends one element of a path ("disk1\amd64", "qzvrcom.sys") to pszPath;
// an empty one adds nothing.
DWORD AppendPathElement(wchar_t* pszPath, const wchar_t* pszElement)
{
    while (*pszElement == L'\\') {
        ++pszElement;
    }
    if (*pszElement == L'\0') {
        return ERROR_SUCCESS;
    }
    size_t cchPath = wcslen(pszPath);
    HRESULT hr = cchPath > 0 && pszPath[cchPath - 1] != L'\\' ? StringCchCatW(pszPath, MAX_PATH, L"\\") : S_OK;
    if (SUCCEEDED(hr)) {
        hr = StringCchCatW(pszPath, MAX_PATH, pszElement);
    }
    return SUCCEEDED(hr) ? ERROR_SUCCESS : ERROR_FILENAME_EXCED_RANGE;
}

// Field nField of the line keyed pszKey in [pszSection.amd64], or else in
// [pszSection]; "" when there is none.
void ReadSourceField(HINF hInf, const wchar_t* pszSection, const wchar_t* pszKey, DWORD nField, wchar_t* pszValue)
{
    pszValue[0] = L'\0';
    wchar_t szDecorated[MAX_INF_SECTION_NAME_LENGTH] = L"";
    INFCONTEXT line = {};
    bool bFound = SUCCEEDED(StringCchPrintfW(szDecorated, MAX_INF_SECTION_NAME_LENGTH, L"%ls%ls", pszSection,
                                             PLATFORM_SUFFIX)) &&
                  SetupFindFirstLineW(hInf, szDecorated, pszKey, &line);
    if ((bFound || SetupFindFirstLineW(hInf, pszSection, pszKey, &line)) &&
        !SetupGetStringFieldW(&line, nField, pszValue, MAX_PATH, nullptr)) {
        pszValue[0] = L'\0';
    }
}

// Where Windows reads a package file from: the INF's folder, the path of
// the file's disk (SourceDisksNames field 4) and its subfolder
// (SourceDisksFiles field 2), as Microsoft's INF documentation gives them.
DWORD BuildSourcePath(HINF hInf, const wchar_t* pszInfFolder, const wchar_t* pszFile, wchar_t* pszPath)
{
    wchar_t szDisk[MAX_PATH] = L"";
    wchar_t szDiskPath[MAX_PATH] = L"";
    wchar_t szSubfolder[MAX_PATH] = L"";
    ReadSourceField(hInf, L"SourceDisksFiles", pszFile, 1, szDisk);
    ReadSourceField(hInf, L"SourceDisksFiles", pszFile, 2, szSubfolder);
    if (szDisk[0] != L'\0') {
        ReadSourceField(hInf, L"SourceDisksNames", szDisk, 4, szDiskPath);
    }
    if (FAILED(StringCchCopyW(pszPath, MAX_PATH, pszInfFolder))) {
        return ERROR_FILENAME_EXCED_RANGE;
    }
    DWORD dwError = AppendPathElement(pszPath, szDiskPath);
    if (dwError == ERROR_SUCCESS) {
        dwError = AppendPathElement(pszPath, szSubfolder);
    }
    return dwError == ERROR_SUCCESS ? AppendPathElement(pszPath, pszFile) : dwError;
}

// Records pszFile's source path in pszMissing when no file is there.
DWORD CheckSourceFile(HINF hInf, const wchar_t* pszInfFolder, const wchar_t* pszFile, wchar_t* pszMissing)
{
    wchar_t szPath[MAX_PATH] = L"";
    DWORD dwError = BuildSourcePath(hInf, pszInfFolder, pszFile, szPath);
    if (dwError != ERROR_SUCCESS) {
        return dwError;
    }
    DWORD dwAttributes = GetFileAttributesW(szPath);
    if (dwAttributes == INVALID_FILE_ATTRIBUTES || (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return StringCchCopyW(pszMissing, MAX_PATH, szPath) == S_OK ? ERROR_SUCCESS : ERROR_FILENAME_EXCED_RANGE;
    }
    return ERROR_SUCCESS;
}

// One value of a CopyFiles directive: "@name" is a single file, anything
// else a section with one "destination[,source]" line per file.
DWORD CheckCopyFilesValue(HINF hInf, const wchar_t* pszInfFolder, const wchar_t* pszValue, wchar_t* pszMissing)
{
    if (pszValue[0] == L'@') {
        return CheckSourceFile(hInf, pszInfFolder, pszValue + 1, pszMissing);
    }
    INFCONTEXT line = {};
    for (BOOL bLine = SetupFindFirstLineW(hInf, pszValue, nullptr, &line); bLine && pszMissing[0] == L'\0';
         bLine = SetupFindNextLine(&line, &line)) {
        wchar_t szName[MAX_PATH] = L"";
        if ((!SetupGetStringFieldW(&line, 2, szName, MAX_PATH, nullptr) || szName[0] == L'\0') &&
            !SetupGetStringFieldW(&line, 1, szName, MAX_PATH, nullptr)) {
            return GetLastError();
        }
        DWORD dwError = CheckSourceFile(hInf, pszInfFolder, szName, pszMissing);
        if (dwError != ERROR_SUCCESS) {
            return dwError;
        }
    }
    return ERROR_SUCCESS;
}

// Follows every CopyFiles directive of the install section.
DWORD CheckInstallSection(HINF hInf, const wchar_t* pszInfFolder, const wchar_t* pszSection, wchar_t* pszMissing)
{
    INFCONTEXT directive = {};
    for (BOOL bLine = SetupFindFirstLineW(hInf, pszSection, L"CopyFiles", &directive); bLine;
         bLine = SetupFindNextMatchLineW(&directive, L"CopyFiles", &directive)) {
        DWORD nFields = SetupGetFieldCount(&directive);
        for (DWORD nField = 1; nField <= nFields && pszMissing[0] == L'\0'; ++nField) {
            wchar_t szValue[MAX_PATH] = L"";
            if (!SetupGetStringFieldW(&directive, nField, szValue, MAX_PATH, nullptr) || szValue[0] == L'\0') {
                continue;
            }
            DWORD dwError = CheckCopyFilesValue(hInf, pszInfFolder, szValue, pszMissing);
            if (dwError != ERROR_SUCCESS) {
                return dwError;
            }
        }
    }
    return ERROR_SUCCESS;
}

// The selected driver's install section, decorated for this platform
// ("QzVrCom_Install.NTamd64"), and the INF that holds it.
DWORD OpenSelectedInstallSection(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData, CInfHandle* pInf,
                                 wchar_t* pszSection)
{
    SP_DRVINFO_DATA_W driver = {};
    driver.cbSize = sizeof(driver);
    if (!SetupDiGetSelectedDriverW(hDevInfo, pDevInfoData, &driver)) {
        return GetLastError();
    }
    // Only the fixed fields are read; the hardware IDs behind them may not fit.
    union {
        SP_DRVINFO_DETAIL_DATA_W detail;
        BYTE abSpace[4096];
    } info = {};
    info.detail.cbSize = sizeof(info.detail);
    if (!SetupDiGetDriverInfoDetailW(hDevInfo, pDevInfoData, &driver, &info.detail, sizeof(info), nullptr) &&
        GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return GetLastError();
    }
    pInf->Reset(SetupOpenInfFileW(info.detail.InfFileName, nullptr, INF_STYLE_WIN4, nullptr));
    if (!pInf->IsValid() || !SetupDiGetActualSectionToInstallW(pInf->Get(), info.detail.SectionName, pszSection,
                                                               MAX_INF_SECTION_NAME_LENGTH, nullptr, nullptr)) {
        return GetLastError();
    }
    return ERROR_SUCCESS;
}

// The source path of the first file that the driver chosen for a device
// with the ID copies and that the package lacks; "" when none is missing.
// A device without a driver in the INF is left to the installation, which
// fails on it as before.
DWORD FindMissingPackageFile(const wchar_t* pszId, const wchar_t* pszInfPath, wchar_t* pszMissing)
{
    pszMissing[0] = L'\0';
    wchar_t szFolder[MAX_PATH] = L"";
    const wchar_t* pszName = wcsrchr(pszInfPath, L'\\');
    if (pszName == nullptr || FAILED(StringCchCopyNW(szFolder, MAX_PATH, pszInfPath, pszName - pszInfPath))) {
        return ERROR_FILENAME_EXCED_RANGE;
    }
    CDeviceList devices(SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT));
    if (!devices.IsValid()) {
        return GetLastError();
    }
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof(device);
    for (DWORD dwIndex = 0; pszMissing[0] == L'\0' && SetupDiEnumDeviceInfo(devices.Get(), dwIndex, &device);
         ++dwIndex) {
        if (!HasHardwareId(devices.Get(), &device, pszId) ||
            SelectDriver(devices.Get(), &device, pszInfPath) != ERROR_SUCCESS) {
            continue;
        }
        CInfHandle inf;
        wchar_t szSection[MAX_INF_SECTION_NAME_LENGTH] = L"";
        DWORD dwError = OpenSelectedInstallSection(devices.Get(), &device, &inf, szSection);
        if (dwError == ERROR_SUCCESS) {
            dwError = CheckInstallSection(inf.Get(), szFolder, szSection, pszMissing);
        }
        if (dwError != ERROR_SUCCESS) {
            return dwError;
        }
    }
    return ERROR_SUCCESS;
}

// Windows shows no UI when the caller asks for none: with
// INSTALLFLAG_NONINTERACTIVE "the function will return FALSE when any
// attempt to display UI is detected" (UpdateDriverForPlugAndPlayDevices),
// and in Setup API's non-interactive mode (SetupSetNonInteractiveMode).
bool CanAskUser(DWORD dwFlags)
{
    return (dwFlags & INSTALLFLAG_NONINTERACTIVE) == 0 && !SetupGetNonInteractiveMode();
}

// The box's answer: nGoOn lets the installation go on; any other answer is
// the user cancelling, which Setup API reports as ERROR_CANCELLED
// (SPFILENOTIFY_NEEDMEDIA, FILEOP_ABORT).
DWORD ReadAnswer(int nAnswer, int nGoOn)
{
    if (nAnswer == 0) {
        return GetLastError();
    }
    return nAnswer == nGoOn ? ERROR_SUCCESS : ERROR_CANCELLED;
}

// The bench switch described at the top of this file.
bool IsMarkedUntrusted()
{
    DWORD dwValue = 0;
    DWORD cbValue = sizeof(dwValue);
    return RegGetValueW(HKEY_LOCAL_MACHINE, BENCH_KEY, UNTRUSTED_VALUE, RRF_RT_REG_DWORD, nullptr, &dwValue,
                        &cbValue) == ERROR_SUCCESS &&
           dwValue != 0;
}

// "Windows Security": install a package of unknown trust anyway? The
// default answer is No.
DWORD ConfirmTrust(HWND hwndParent, DWORD dwFlags, const wchar_t* pszInfPath)
{
    if (!IsMarkedUntrusted()) {
        return ERROR_SUCCESS;
    }
    if (!CanAskUser(dwFlags)) {
        return ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION;
    }
    wchar_t szText[2 * MAX_PATH] = L"";
    StringCchPrintfW(szText, ARRAYSIZE(szText),
                     L"Windows can't verify the publisher of this driver software.\n\n%ls\n\n"
                     L"Install this driver software anyway?",
                     pszInfPath);
    int nAnswer = MessageBoxW(hwndParent, szText, L"Windows Security", MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2);
    return ReadAnswer(nAnswer, IDYES);
}

// "Files Needed", until every file is there or the user cancels (the
// default answer).
DWORD ConfirmFilesPresent(HWND hwndParent, DWORD dwFlags, const wchar_t* pszId, const wchar_t* pszInfPath)
{
    for (;;) {
        wchar_t szMissing[MAX_PATH] = L"";
        DWORD dwError = FindMissingPackageFile(pszId, pszInfPath, szMissing);
        if (dwError != ERROR_SUCCESS || szMissing[0] == L'\0') {
            return dwError;
        }
        if (!CanAskUser(dwFlags)) {
            return ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION;
        }
        const wchar_t* pszName = wcsrchr(szMissing, L'\\');
        wchar_t szText[3 * MAX_PATH] = L"";
        StringCchPrintfW(szText, ARRAYSIZE(szText),
                         L"The file '%ls' is needed.\n\nIt is not at %ls.\n\n"
                         L"Put the file there and choose Retry, or choose Cancel.",
                         pszName != nullptr ? pszName + 1 : szMissing, szMissing);
        int nAnswer =
            MessageBoxW(hwndParent, szText, L"Files Needed", MB_RETRYCANCEL | MB_ICONWARNING | MB_DEFBUTTON2);
        dwError = ReadAnswer(nAnswer, IDRETRY);
        if (dwError != ERROR_SUCCESS) {
            return dwError;
        }
    }
}

// Windows asks before it stages a package it cannot take as it is; without
// the user that fails with ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION, the
// error that makes a device installation fail when it needs the user
// (DIF_ALLOW_INSTALL, Microsoft's driver documentation).
DWORD ConfirmPackage(HWND hwndParent, DWORD dwFlags, const wchar_t* pszId, const wchar_t* pszInfPath)
{
    DWORD dwError = ConfirmTrust(hwndParent, dwFlags, pszInfPath);
    return dwError == ERROR_SUCCESS ? ConfirmFilesPresent(hwndParent, dwFlags, pszId, pszInfPath) : dwError;
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

DWORD UpdateDriver(HWND hwndParent, const wchar_t* pszHardwareId, const wchar_t* pszInfPath, DWORD dwFlags,
                   PBOOL pbRebootRequired)
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
    // The prompts come before anything is copied or installed.
    dwError = ConfirmPackage(hwndParent, dwFlags, pszHardwareId, szFullPath);
    if (dwError != ERROR_SUCCESS) {
        return dwError;
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

extern "C" __declspec(dllexport) BOOL WINAPI UpdateDriverForPlugAndPlayDevicesW(HWND hwndParent,
                                                                                LPCWSTR pszHardwareId,
                                                                                LPCWSTR pszFullInfPath,
                                                                                DWORD dwInstallFlags,
                                                                                PBOOL pbRebootRequired)
{
    DWORD dwError = UpdateDriver(hwndParent, pszHardwareId, pszFullInfPath, dwInstallFlags, pbRebootRequired);
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
