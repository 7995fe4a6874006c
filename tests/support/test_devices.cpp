// Test devices and busy ports; see test_devices.h.
#include "test_devices.h"

#include <cfgmgr32.h>
#include <winternl.h>
#include <setupapi.h>

#include <vector>

namespace {

const GUID PORTS_CLASS = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
const char HARDWARE_ID[] = "ROOT\\QZTESTPORT\0";

// The hardware key always exists, as on Windows; the name only when given.
bool WritePortName(HDEVINFO hList, SP_DEVINFO_DATA* pDevice, const char* pszPortName, DWORD dwType)
{
    HKEY hKey = SetupDiCreateDevRegKeyA(hList, pDevice, DICS_FLAG_GLOBAL, 0, DIREG_DEV, nullptr, nullptr);
    if (hKey == INVALID_HANDLE_VALUE) {
        return false;
    }
    if (pszPortName == nullptr) {
        RegCloseKey(hKey);
        return true;
    }
    DWORD dwSize = static_cast<DWORD>(strlen(pszPortName)) + (dwType == REG_BINARY ? 0 : 1);
    LONG nError = RegSetValueExA(hKey, "PortName", 0, dwType, reinterpret_cast<const BYTE*>(pszPortName), dwSize);
    RegCloseKey(hKey);
    return nError == ERROR_SUCCESS;
}

} // namespace

CTestDevice::CTestDevice(const char* pszService, const char* pszPortName, DWORD dwPortNameType,
                         const char* pszRootId)
{
    HDEVINFO hList = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof(device);
    char szId[MAX_DEVICE_ID_LEN] = "";
    bool bMade = SetupDiCreateDeviceInfoA(hList, pszRootId, &PORTS_CLASS, nullptr, nullptr, DICD_GENERATE_ID,
                                          &device) &&
                 SetupDiSetDeviceRegistryPropertyA(hList, &device, SPDRP_HARDWAREID,
                                                   reinterpret_cast<const BYTE*>(HARDWARE_ID),
                                                   sizeof(HARDWARE_ID)) &&
                 SetupDiCallClassInstaller(DIF_REGISTERDEVICE, hList, &device) &&
                 SetupDiGetDeviceInstanceIdA(hList, &device, szId, MAX_DEVICE_ID_LEN, nullptr);
    if (bMade && pszService != nullptr) {
        bMade = SetupDiSetDeviceRegistryPropertyA(hList, &device, SPDRP_SERVICE,
                                                  reinterpret_cast<const BYTE*>(pszService),
                                                  static_cast<DWORD>(strlen(pszService) + 1));
    }
    if (bMade) {
        bMade = WritePortName(hList, &device, pszPortName, dwPortNameType);
    }
    if (bMade) {
        m_instanceId = szId;
    } else if (szId[0] != '\0') {
        SetupDiCallClassInstaller(DIF_REMOVE, hList, &device);
    }
    SetupDiDestroyDeviceInfoList(hList);
}

CTestDevice::~CTestDevice()
{
    if (!IsCreated()) {
        return;
    }
    HDEVINFO hList = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof(device);
    if (SetupDiOpenDeviceInfoA(hList, m_instanceId.c_str(), nullptr, 0, &device)) {
        SetupDiCallClassInstaller(DIF_REMOVE, hList, &device);
    }
    SetupDiDestroyDeviceInfoList(hList);
}

bool CTestDevice::IsPresent() const
{
    HDEVINFO hList = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof(device);
    bool bFound = false;
    for (DWORD i = 0; !bFound && SetupDiEnumDeviceInfo(hList, i, &device); ++i) {
        char szId[MAX_DEVICE_ID_LEN] = "";
        SetupDiGetDeviceInstanceIdA(hList, &device, szId, MAX_DEVICE_ID_LEN, nullptr);
        bFound = m_instanceId == szId;
    }
    SetupDiDestroyDeviceInfoList(hList);
    return bFound;
}

bool RunUnixProgram(const std::string& commandLine)
{
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

CBusyPort::CBusyPort(int nPort) : m_hPipe(INVALID_HANDLE_VALUE), m_hLink(nullptr), m_bMade(false)
{
    const std::string pipe = "qzbusyport" + std::to_string(nPort);
    m_hPipe = CreateNamedPipeA(("\\\\.\\pipe\\" + pipe).c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE,
                               PIPE_UNLIMITED_INSTANCES, 0, 0, 0, nullptr);
    typedef LONG(WINAPI * CreateLink)(HANDLE*, ACCESS_MASK, OBJECT_ATTRIBUTES*, UNICODE_STRING*);
    CreateLink pfnCreateLink = reinterpret_cast<CreateLink>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtCreateSymbolicLinkObject")));
    if (m_hPipe == INVALID_HANDLE_VALUE || pfnCreateLink == nullptr) {
        return;
    }
    std::wstring name = L"\\??\\COM" + std::to_wstring(nPort);
    std::wstring target = L"\\Device\\NamedPipe\\" + std::wstring(pipe.begin(), pipe.end());
    UNICODE_STRING nameString = {static_cast<USHORT>(name.size() * 2), static_cast<USHORT>(name.size() * 2),
                                 &name[0]};
    UNICODE_STRING targetString = {static_cast<USHORT>(target.size() * 2), static_cast<USHORT>(target.size() * 2),
                                   &target[0]};
    OBJECT_ATTRIBUTES attributes = {};
    attributes.Length = sizeof(attributes);
    attributes.ObjectName = &nameString;
    attributes.Attributes = OBJ_CASE_INSENSITIVE;
    const ACCESS_MASK SYMBOLIC_LINK_ALL_ACCESS = 0xF0001;
    if (pfnCreateLink(&m_hLink, SYMBOLIC_LINK_ALL_ACCESS, &attributes, &targetString) != 0) {
        m_hLink = nullptr;
        return;
    }
    const std::string device = "\\\\.\\COM" + std::to_string(nPort);
    m_bMade = OpenPort(device) == ERROR_ACCESS_DENIED &&
              OpenPort("\\\\.\\Global\\COM" + std::to_string(nPort)) == ERROR_ACCESS_DENIED;
}

CBusyPort::~CBusyPort()
{
    if (m_hLink != nullptr) {
        CloseHandle(m_hLink);
    }
    if (m_hPipe != INVALID_HANDLE_VALUE) {
        CloseHandle(m_hPipe);
    }
}

DWORD CBusyPort::OpenPort(const std::string& device)
{
    HANDLE hPort = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (hPort == INVALID_HANDLE_VALUE) {
        return GetLastError();
    }
    CloseHandle(hPort);
    return ERROR_SUCCESS;
}
