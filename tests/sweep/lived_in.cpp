// The lived-in machine of the sweeps; see lived_in.h.
#include "lived_in.h"

#include <windows.h>

#include <setupapi.h>
#include <string.h>

#include <map>

#include "device_tree.h"
#include "package_folder.h"

namespace {

const GUID PORTS_CLASS = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
const GUID HID_CLASS = {0x745a17a0, 0x74d3, 0x11d0, {0xb6, 0xfe, 0x00, 0xa0, 0xc9, 0x0f, 0x57, 0xda}};
const GUID SYSTEM_CLASS = {0x4d36e97d, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
const char ARBITER_KEY[] = "System\\CurrentControlSet\\Control\\COM Name Arbiter";
const char SERVICES_KEY[] = "System\\CurrentControlSet\\Services\\";

enum FileFolder { FOLDER_INF, FOLDER_PACKAGE };

struct LivedInFile {
    FileFolder eFolder;
    const char* pszName;
    const char* pszText;
};

const char FOREIGN_PACKAGE_FILE[] = "ADAPTER-NOTES.TXT";

// The other vendor's driver store: each INF with its .pnf, as Windows
// keeps them. oem0 names our service only in a comment, oem1 only in a
// [Strings] value, oem2 (lines ended by CR alone, so that a reader going by
// line feeds sees one line) after an AddService of its own service; oem3
// is the vendor's current INF, and oem3.inf_old its previous one, which a
// "*.inf" search also finds through its short name (OEM3~xxx.INF) and
// whose .pnf name would be oem3's own.
const LivedInFile c_files[] = {
    {FOLDER_INF, "oem0.inf",
     "; Serial adapter driver of another vendor.\r\n"
     "; AddService for qzvrcom lives in the vendor package\r\n"
     "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Ports\r\n"
     "ClassGuid={4D36E978-E325-11CE-BFC1-08002BE10318}\r\nProvider=%Vendor%\r\n\r\n"
     "[FzSer_Install.NTamd64.Services]\r\nAddService=fzser,0x00000002,FzSer_Service\r\n\r\n"
     "[Strings]\r\nVendor=\"Other Vendor\"\r\n"},
    {FOLDER_INF, "oem0.pnf", "PNF\r\nSource=C:\\Drivers\\fzser\\fzser.inf\r\n"},
    {FOLDER_INF, "oem1.inf",
     "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=HIDClass\r\n"
     "ClassGuid={745A17A0-74D3-11D0-B6FE-00A0C90F57DA}\r\nProvider=%Vendor%\r\n\r\n"
     "[FzHid_Install.NTamd64.Services]\r\nAddService=fzhid,0x00000002,FzHid_Service\r\n\r\n"
     "[Strings]\r\nVendor=\"Other Vendor\"\r\nAddServiceDesc = \"QZVRCOM port helper\"\r\n"},
    {FOLDER_INF, "oem1.pnf", "PNF\r\nSource=C:\\Drivers\\fzhid\\fzhid.inf\r\n"},
    {FOLDER_INF, "oem2.inf",
     "[FzUsbSer_Install.NTamd64.Services]\rAddService=fzusbser,0x00000002,FzUsbSer_Service\r"
     "[FzUsbSer_Install.NTamd64.HW]\rHKR,,CoexistsWith,,qzvrcom\r"
     "[Version]\rSignature=\"$Windows NT$\"\rClass=Ports\r"},
    {FOLDER_INF, "oem2.pnf", "PNF\r\nSource=C:\\Drivers\\fzusbser\\fzusbser.inf\r\n"},
    {FOLDER_INF, "oem3.inf",
     "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Ports\r\nDriverVer=03/02/2025,2.1.0.0\r\n\r\n"
     "[FzSer_Install.NTamd64.Services]\r\nAddService=fzser,0x00000002,FzSer_Service\r\n"},
    {FOLDER_INF, "oem3.pnf", "PNF\r\nSource=C:\\Drivers\\fzser-2.1\\fzser.inf\r\n"},
    {FOLDER_INF, "oem3.inf_old",
     "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Ports\r\nDriverVer=01/10/2023,2.0.0.0\r\n\r\n"
     "[FzSer_Install.NTamd64.Services]\r\nAddService=fzser,0x00000002,FzSer_Service ; took over from qzvrcom\r\n"},
    // A user's file beside setup.exe, which is no part of the package.
    {FOLDER_PACKAGE, FOREIGN_PACKAGE_FILE, "Adapter notes: COM3 is the docking station, COM4 the USB adapter.\r\n"},
};

struct LivedInDevice {
    const GUID* pClass;
    const char* pszClassName;   // the enumerator name of a generated root ID
    const char* pszInstanceId;  // a whole instance ID, or null for a generated one
    const char* pszHardwareId;
    const char* pszService;     // null: none
    const char* pszPortName;    // null: none
    int nPort;                  // claimed in "ComDB", or 0
};

// The present port comes first, so that the walks meet it before ours.
const LivedInDevice c_devices[] = {
    {&PORTS_CLASS, "PORTS", nullptr, "FZSER\\COM3", "fzser", "COM3", 3},
    {&PORTS_CLASS, nullptr, "USB\\VID_F0A1&PID_0004\\6&1B2C3D&0&2", "USB\\VID_F0A1&PID_0004", "fzusbser", "COM4", 4},
    {&HID_CLASS, "HIDCLASS", nullptr, "FZHID\\KEYPAD", "fzhid", nullptr, 0},
    {&SYSTEM_CLASS, "SYSTEM", nullptr, "FZBUS\\TIMER", nullptr, nullptr, 0},
};

const wchar_t* const c_apszServices[] = {L"fzser", L"fzusbser", L"fzhid"};

typedef std::map<std::string, std::pair<DWORD, std::vector<BYTE>>> ValueMap;
// The services' registry values as built: compared value for value.
std::map<std::string, ValueMap> g_serviceValues;

std::string FilePath(const LivedInFile& file) {
    if (file.eFolder == FOLDER_PACKAGE) return PackageFolder() + file.pszName;
    char szWindows[MAX_PATH] = "";
    GetWindowsDirectoryA(szWindows, MAX_PATH);
    return std::string(szWindows) + "\\inf\\" + file.pszName;
}

std::string TargetFolderPath(const char* pszName) {
    char szWindows[MAX_PATH] = "";
    GetWindowsDirectoryA(szWindows, MAX_PATH);
    return std::string(szWindows) + "\\qzvrcom\\" + pszName;
}

bool ReadWholeFile(const std::string& strPath, std::string* pstrText) {
    HANDLE hFile = CreateFileA(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) return false;
    char buffer[4096];
    DWORD cbRead = 0;
    while (ReadFile(hFile, buffer, sizeof buffer, &cbRead, nullptr) && cbRead != 0) pstrText->append(buffer, cbRead);
    CloseHandle(hFile);
    return true;
}

void WriteWholeFile(const std::string& strPath, const char* pszText) {
    SetFileAttributesA(strPath.c_str(), FILE_ATTRIBUTE_NORMAL);
    HANDLE hFile = CreateFileA(strPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD cbWritten = 0;
    WriteFile(hFile, pszText, static_cast<DWORD>(strlen(pszText)), &cbWritten, nullptr);
    CloseHandle(hFile);
}

ValueMap ReadServiceValues(const std::string& strName) {
    ValueMap values;
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, (SERVICES_KEY + strName).c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS) {
        return values;
    }
    char szName[MAX_PATH];
    BYTE data[2048];
    for (DWORD i = 0;; ++i) {
        DWORD cchName = MAX_PATH, cbData = sizeof data, dwType = 0;
        if (RegEnumValueA(hKey, i, szName, &cchName, nullptr, &dwType, data, &cbData) != ERROR_SUCCESS) break;
        values[szName] = {dwType, std::vector<BYTE>(data, data + cbData)};
    }
    RegCloseKey(hKey);
    return values;
}

std::string Narrow(const wchar_t* pszWide) {
    char szName[MAX_PATH] = "";
    WideCharToMultiByte(CP_ACP, 0, pszWide, -1, szName, MAX_PATH, nullptr, nullptr);
    return szName;
}

// A kernel driver started on demand whose file is not there, as a driver
// of a removed product often is. Made with the wide call: the ANSI one
// corrupts its arguments under Wine.
void CreateForeignService(const wchar_t* pszName) {
    SC_HANDLE hManager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE);
    std::wstring strImage = std::wstring(L"\\SystemRoot\\System32\\drivers\\") + pszName + L".sys";
    SC_HANDLE hService = CreateServiceW(hManager, pszName, pszName, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                                        SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, strImage.c_str(), nullptr,
                                        nullptr, nullptr, nullptr, nullptr);
    if (hService != nullptr) CloseServiceHandle(hService);
    CloseServiceHandle(hManager);
}

void SetStringProperty(HDEVINFO hList, SP_DEVINFO_DATA* pDevice, DWORD dwProperty, const char* pszValue,
                       bool bMulti) {
    std::string strValue = std::string(pszValue) + (bMulti ? std::string(1, '\0') : std::string());
    SetupDiSetDeviceRegistryPropertyA(hList, pDevice, dwProperty, reinterpret_cast<const BYTE*>(strValue.c_str()),
                                      static_cast<DWORD>(strValue.size() + 1));
}

void CreateForeignDevice(const LivedInDevice& foreign) {
    HDEVINFO hList = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    const char* pszName = foreign.pszInstanceId != nullptr ? foreign.pszInstanceId : foreign.pszClassName;
    if (SetupDiCreateDeviceInfoA(hList, pszName, foreign.pClass, nullptr, nullptr,
                                 foreign.pszInstanceId != nullptr ? 0 : DICD_GENERATE_ID, &device)) {
        SetStringProperty(hList, &device, SPDRP_HARDWAREID, foreign.pszHardwareId, true);
        SetupDiCallClassInstaller(DIF_REGISTERDEVICE, hList, &device);
        if (foreign.pszService != nullptr) SetStringProperty(hList, &device, SPDRP_SERVICE, foreign.pszService, false);
        HKEY hKey = SetupDiCreateDevRegKeyA(hList, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, nullptr, nullptr);
        if (hKey != INVALID_HANDLE_VALUE && foreign.pszPortName != nullptr) {
            RegSetValueExA(hKey, "PortName", 0, REG_SZ, reinterpret_cast<const BYTE*>(foreign.pszPortName),
                           static_cast<DWORD>(strlen(foreign.pszPortName) + 1));
        }
        if (hKey != INVALID_HANDLE_VALUE) RegCloseKey(hKey);
    }
    SetupDiDestroyDeviceInfoList(hList);
}

std::vector<BYTE> ReadComDb() {
    BYTE data[1024];
    DWORD cbData = sizeof data;
    if (RegGetValueA(HKEY_LOCAL_MACHINE, ARBITER_KEY, "ComDB", RRF_RT_REG_BINARY, nullptr, data, &cbData) !=
        ERROR_SUCCESS) {
        return std::vector<BYTE>();
    }
    return std::vector<BYTE>(data, data + cbData);
}

bool IsPortClaimed(const std::vector<BYTE>& comDb, int nPort) {
    size_t nIndex = static_cast<size_t>(nPort - 1) / 8;
    return nIndex < comDb.size() && (comDb[nIndex] & (1u << ((nPort - 1) % 8))) != 0;
}

void ClaimPorts() {
    std::vector<BYTE> comDb = ReadComDb();
    for (const LivedInDevice& foreign : c_devices) {
        size_t nIndex = static_cast<size_t>(foreign.nPort - 1) / 8;
        if (foreign.nPort > 0 && nIndex < comDb.size()) comDb[nIndex] |= static_cast<BYTE>(1u << ((foreign.nPort - 1) % 8));
    }
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, ARBITER_KEY, "ComDB", REG_BINARY, comDb.data(),
                    static_cast<DWORD>(comDb.size()));
}

// "" when exactly one device has the foreign's hardware ID with its service
// and port name; otherwise what is wrong.
std::string DescribeDeviceChange(const std::vector<DeviceRecord>& vecDevices, const LivedInDevice& foreign) {
    int nFound = 0;
    std::string strWrong;
    for (const DeviceRecord& device : vecDevices) {
        if (device.hardwareId != foreign.pszHardwareId) continue;
        ++nFound;
        if (device.service != (foreign.pszService != nullptr ? foreign.pszService : "") ||
            device.portName != (foreign.pszPortName != nullptr ? foreign.pszPortName : "")) {
            strWrong = " now service=" + device.service + " port=" + device.portName;
        }
    }
    if (nFound == 0) return "gone";
    if (nFound > 1) return std::to_string(nFound) + " of them";
    return strWrong;
}

} // namespace

void BuildLivedInMachine() {
    for (const LivedInFile& file : c_files) WriteWholeFile(FilePath(file), file.pszText);
    for (const wchar_t* pszName : c_apszServices) CreateForeignService(pszName);
    for (const LivedInDevice& foreign : c_devices) CreateForeignDevice(foreign);
    ClaimPorts();
    for (const wchar_t* pszName : c_apszServices) g_serviceValues[Narrow(pszName)] = ReadServiceValues(Narrow(pszName));
}

std::vector<std::string> ListLivedInChanges() {
    std::vector<std::string> vecLines;
    for (const LivedInFile& file : c_files) {
        std::string strText;
        if (!ReadWholeFile(FilePath(file), &strText)) vecLines.push_back(std::string("- file ") + file.pszName);
        else if (strText != file.pszText) vecLines.push_back(std::string("~ file ") + file.pszName);
    }
    if (GetFileAttributesA(TargetFolderPath(FOREIGN_PACKAGE_FILE).c_str()) != INVALID_FILE_ATTRIBUTES) {
        vecLines.push_back(std::string("+ package copy of ") + FOREIGN_PACKAGE_FILE);
    }
    std::vector<DeviceRecord> vecDevices = ListDevices();
    std::vector<BYTE> comDb = ReadComDb();
    for (const LivedInDevice& foreign : c_devices) {
        std::string strChange = DescribeDeviceChange(vecDevices, foreign);
        if (!strChange.empty()) vecLines.push_back(std::string("~ device ") + foreign.pszHardwareId + " " + strChange);
        if (foreign.nPort > 0 && !IsPortClaimed(comDb, foreign.nPort)) {
            vecLines.push_back("~ COM" + std::to_string(foreign.nPort) + " released in ComDB");
        }
    }
    for (const auto& service : g_serviceValues) {
        if (ReadServiceValues(service.first) != service.second) vecLines.push_back("~ service " + service.first);
    }
    return vecLines;
}

void RestoreLivedInMachine() {
    for (const LivedInFile& file : c_files) WriteWholeFile(FilePath(file), file.pszText);
    DeleteFileA(TargetFolderPath(FOREIGN_PACKAGE_FILE).c_str());
    for (const wchar_t* pszName : c_apszServices) {
        if (ReadServiceValues(Narrow(pszName)).empty()) CreateForeignService(pszName);
    }
    std::vector<DeviceRecord> vecDevices = ListDevices();
    for (const LivedInDevice& foreign : c_devices) {
        if (DescribeDeviceChange(vecDevices, foreign).empty()) continue;
        RemoveDevicesWithIdPrefix(foreign.pszHardwareId);
        CreateForeignDevice(foreign);
    }
    ClaimPorts();
}

bool IsForeignPackageFile(const std::string& strUpperName) {
    return strUpperName == FOREIGN_PACKAGE_FILE;
}
