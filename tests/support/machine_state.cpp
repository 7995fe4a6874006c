// Reads and compares the machine state a driver installation touches.
#include "machine_state.h"

#include <stdlib.h>

#include <algorithm>

namespace {

const char ARBITER_KEY[] = "System\\CurrentControlSet\\Control\\COM Name Arbiter";
const char SERIAL_PRINT_KEY[] = "System\\CurrentControlSet\\Control\\Serial Print";
const char ENTRY_KEY[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\qzvrcom";

std::string Upper(std::string text)
{
    CharUpperBuffA(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

} // namespace

std::vector<std::string> ListFiles(const std::string& folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE hFind = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (hFind != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                names.push_back(Upper(found.cFileName));
            }
        } while (FindNextFileA(hFind, &found));
        FindClose(hFind);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string WindowsFolder()
{
    char szFolder[MAX_PATH] = "";
    GetWindowsDirectoryA(szFolder, MAX_PATH);
    return szFolder;
}

bool WriteArbiterValue(DWORD dwType, const std::vector<BYTE>& data)
{
    return RegSetKeyValueA(HKEY_LOCAL_MACHINE, ARBITER_KEY, "ComDB", dwType, data.data(),
                           static_cast<DWORD>(data.size())) == ERROR_SUCCESS;
}

namespace {

std::vector<std::string> ListServices()
{
    std::vector<std::string> names;
    SC_HANDLE hManager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE);
    if (hManager == nullptr) {
        return names;
    }
    DWORD cbNeeded = 0, nCount = 0, dwResume = 0;
    EnumServicesStatusA(hManager, SERVICE_TYPE_ALL, SERVICE_STATE_ALL, nullptr, 0, &cbNeeded, &nCount, &dwResume);
    std::vector<BYTE> buffer(cbNeeded + 1);
    dwResume = 0;
    ENUM_SERVICE_STATUSA* pServices = reinterpret_cast<ENUM_SERVICE_STATUSA*>(buffer.data());
    if (EnumServicesStatusA(hManager, SERVICE_TYPE_ALL, SERVICE_STATE_ALL, pServices,
                            static_cast<DWORD>(buffer.size()), &cbNeeded, &nCount, &dwResume)) {
        for (DWORD i = 0; i < nCount; ++i) {
            names.push_back(Upper(pServices[i].lpServiceName));
        }
    }
    CloseServiceHandle(hManager);
    std::sort(names.begin(), names.end());
    return names;
}

void ListSubKeys(HKEY hRoot, const std::string& path, const std::string& relative, std::vector<std::string>* pKeys)
{
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(hRoot, path.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS) {
        return;
    }
    char szName[MAX_PATH];
    for (DWORD i = 0;; ++i) {
        DWORD cchName = MAX_PATH;
        if (RegEnumKeyExA(hKey, i, szName, &cchName, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        std::string child = relative.empty() ? szName : relative + "\\" + szName;
        pKeys->push_back(child);
        ListSubKeys(hRoot, path + "\\" + szName, child, pKeys);
    }
    RegCloseKey(hKey);
}

void ReadValues(HKEY hRoot, const char* pszPath, bool* pbExists, std::map<std::string, RegistryValue>* pValues)
{
    HKEY hKey = nullptr;
    *pbExists = RegOpenKeyExA(hRoot, pszPath, 0, KEY_READ, &hKey) == ERROR_SUCCESS;
    if (!*pbExists) {
        return;
    }
    char szName[MAX_PATH];
    BYTE data[4096];
    for (DWORD i = 0;; ++i) {
        DWORD cchName = MAX_PATH, cbData = sizeof(data), dwType = 0;
        if (RegEnumValueA(hKey, i, szName, &cchName, nullptr, &dwType, data, &cbData) != ERROR_SUCCESS) {
            break;
        }
        (*pValues)[szName] = RegistryValue{dwType, std::vector<BYTE>(data, data + cbData)};
    }
    RegCloseKey(hKey);
}

std::vector<BYTE> ReadBinary(HKEY hRoot, const char* pszPath, const char* pszName)
{
    BYTE data[1024];
    DWORD cbData = sizeof(data);
    if (RegGetValueA(hRoot, pszPath, pszName, RRF_RT_ANY, nullptr, data, &cbData) != ERROR_SUCCESS) {
        return std::vector<BYTE>();
    }
    return std::vector<BYTE>(data, data + cbData);
}

std::string Describe(const DeviceRecord& device)
{
    return device.instanceId + " [" + device.hardwareId + "] service=" + device.service + " port=" + device.portName;
}

// Lines for what is only in one of two sorted lists.
void CompareLists(const char* pszWhat, std::vector<std::string> before, std::vector<std::string> after,
                  std::vector<std::string>* pLines)
{
    std::sort(before.begin(), before.end());
    std::sort(after.begin(), after.end());
    std::vector<std::string> gone, added;
    std::set_difference(before.begin(), before.end(), after.begin(), after.end(), std::back_inserter(gone));
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(added));
    for (const std::string& item : gone) {
        pLines->push_back(std::string("- ") + pszWhat + " " + item);
    }
    for (const std::string& item : added) {
        pLines->push_back(std::string("+ ") + pszWhat + " " + item);
    }
}

std::string Hex(const std::vector<BYTE>& data)
{
    static const char DIGITS[] = "0123456789ABCDEF";
    std::string text;
    for (BYTE b : data) {
        text += DIGITS[b >> 4];
        text += DIGITS[b & 15];
    }
    return text;
}

} // namespace

MachineState ReadMachineState()
{
    MachineState state;
    state.devices = ListDevices();
    state.services = ListServices();
    std::string windows = WindowsFolder();
    state.infFiles = ListFiles(windows + "\\inf");
    // The run log beside the package copy is no part of it.
    for (const std::string& name : ListFiles(windows + "\\qzvrcom")) {
        if (name != "SETUP.LOG" && name != "SETUP.OLD.LOG") {
            state.packageCopy.push_back(name);
        }
    }
    state.comDb = ReadBinary(HKEY_LOCAL_MACHINE, ARBITER_KEY, "ComDB");
    ListSubKeys(HKEY_LOCAL_MACHINE, SERIAL_PRINT_KEY, "", &state.serialPrintKeys);
    std::sort(state.serialPrintKeys.begin(), state.serialPrintKeys.end());
    ReadValues(HKEY_LOCAL_MACHINE, ENTRY_KEY, &state.bEntryExists, &state.entryValues);
    ReadValues(HKEY_LOCAL_MACHINE, "SOFTWARE\\qzvrcom", &state.bProgramKey, &state.programValues);
    return state;
}

std::vector<std::string> DescribeDifferences(const MachineState& before, const MachineState& after,
                                             bool bWithPackageCopy)
{
    std::vector<std::string> lines;
    std::vector<std::string> devicesBefore, devicesAfter;
    for (const DeviceRecord& device : before.devices) devicesBefore.push_back(Describe(device));
    for (const DeviceRecord& device : after.devices) devicesAfter.push_back(Describe(device));
    CompareLists("device", devicesBefore, devicesAfter, &lines);
    CompareLists("service", before.services, after.services, &lines);
    CompareLists("inf", before.infFiles, after.infFiles, &lines);
    if (bWithPackageCopy) {
        CompareLists("package file", before.packageCopy, after.packageCopy, &lines);
    }
    if (before.comDb != after.comDb) {
        lines.push_back("~ ComDB " + Hex(before.comDb) + " -> " + Hex(after.comDb));
    }
    CompareLists("Serial Print key", before.serialPrintKeys, after.serialPrintKeys, &lines);
    if (before.bProgramKey != after.bProgramKey) {
        lines.push_back(after.bProgramKey ? "+ program key" : "- program key");
    } else if (!(before.programValues == after.programValues)) {
        lines.push_back("~ program key values");
    }
    if (before.bEntryExists != after.bEntryExists || !(before.entryValues == after.entryValues)) {
        lines.push_back(std::string("~ installed-programs entry ") + (before.bEntryExists ? "present" : "absent") +
                        " -> " + (after.bEntryExists ? "present" : "absent"));
    }
    return lines;
}

std::vector<DeviceRecord> DevicesOfService(const MachineState& state, const char* pszService)
{
    std::vector<DeviceRecord> devices;
    for (const DeviceRecord& device : state.devices) {
        if (lstrcmpiA(device.service.c_str(), pszService) == 0) {
            devices.push_back(device);
        }
    }
    return devices;
}

bool HasService(const MachineState& state, const char* pszService)
{
    return std::find(state.services.begin(), state.services.end(), Upper(pszService)) != state.services.end();
}

std::string EntryString(const MachineState& state, const char* pszName)
{
    auto it = state.entryValues.find(pszName);
    if (it == state.entryValues.end() || it->second.data.empty()) {
        return std::string();
    }
    return std::string(reinterpret_cast<const char*>(it->second.data.data()));
}

std::vector<std::string> DescribePortNameProblems(const MachineState& state)
{
    std::vector<std::string> lines;
    std::vector<std::string> names;
    for (const DeviceRecord& device : state.devices) {
        if (device.portName.compare(0, 3, "COM") != 0) {
            continue;
        }
        size_t nBit = static_cast<size_t>(atoi(device.portName.c_str() + 3) - 1);
        if (nBit / 8 >= state.comDb.size() || !((state.comDb[nBit / 8] >> (nBit % 8)) & 1)) {
            lines.push_back(device.portName + " not claimed");
        }
        if (std::find(names.begin(), names.end(), device.portName) != names.end()) {
            lines.push_back(device.portName + " held twice");
        }
        names.push_back(device.portName);
    }
    return lines;
}
