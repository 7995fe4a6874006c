// Device tree reader for tests.
#include "device_tree.h"

#include <cfgmgr32.h>
#include <setupapi.h>
#include <string.h>

#include <algorithm>

namespace {

std::string ReadStringProperty(HDEVINFO hList, SP_DEVINFO_DATA* pDevice, DWORD dwProperty)
{
    char szValue[1024] = "";
    if (!SetupDiGetDeviceRegistryPropertyA(hList, pDevice, dwProperty, nullptr, reinterpret_cast<BYTE*>(szValue),
                                           sizeof(szValue) - 2, nullptr)) {
        return "";
    }
    return szValue;
}

std::string ReadPortName(HDEVINFO hList, SP_DEVINFO_DATA* pDevice)
{
    HKEY hKey = SetupDiOpenDevRegKey(hList, pDevice, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
    if (hKey == INVALID_HANDLE_VALUE) {
        return "";
    }
    char szValue[260] = "";
    DWORD cbValue = sizeof(szValue) - 1;
    DWORD dwType = 0;
    if (RegQueryValueExA(hKey, "PortName", nullptr, &dwType, reinterpret_cast<BYTE*>(szValue), &cbValue) !=
        ERROR_SUCCESS) {
        szValue[0] = '\0';
    }
    RegCloseKey(hKey);
    return szValue;
}

bool HasIdPrefix(const DeviceRecord& device, const char* pszPrefix)
{
    return _strnicmp(device.hardwareId.c_str(), pszPrefix, strlen(pszPrefix)) == 0;
}

// Calls pfnVisit(list, device, record) for every device.
template <typename TVisit>
void VisitDevices(TVisit visit)
{
    HDEVINFO hList = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    if (hList == INVALID_HANDLE_VALUE) {
        return;
    }
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof(device);
    for (DWORD nIndex = 0; SetupDiEnumDeviceInfo(hList, nIndex, &device); ++nIndex) {
        DeviceRecord record;
        char szInstanceId[MAX_DEVICE_ID_LEN] = "";
        if (SetupDiGetDeviceInstanceIdA(hList, &device, szInstanceId, sizeof(szInstanceId), nullptr)) {
            record.instanceId = szInstanceId;
        }
        record.hardwareId = ReadStringProperty(hList, &device, SPDRP_HARDWAREID);
        record.service = ReadStringProperty(hList, &device, SPDRP_SERVICE);
        record.portName = ReadPortName(hList, &device);
        visit(hList, &device, record);
    }
    SetupDiDestroyDeviceInfoList(hList);
}

} // namespace

std::vector<DeviceRecord> ListDevices()
{
    std::vector<DeviceRecord> devices;
    VisitDevices([&](HDEVINFO, SP_DEVINFO_DATA*, const DeviceRecord& record) { devices.push_back(record); });
    return devices;
}

std::vector<DeviceRecord> ListDevicesWithIdPrefix(const char* pszPrefix)
{
    std::vector<DeviceRecord> devices;
    for (const DeviceRecord& device : ListDevices()) {
        if (HasIdPrefix(device, pszPrefix)) {
            devices.push_back(device);
        }
    }
    std::sort(devices.begin(), devices.end(),
              [](const DeviceRecord& a, const DeviceRecord& b) { return a.instanceId < b.instanceId; });
    return devices;
}

int RemoveDevicesWithIdPrefix(const char* pszPrefix)
{
    int nRemoved = 0;
    VisitDevices([&](HDEVINFO hList, SP_DEVINFO_DATA* pDevice, const DeviceRecord& record) {
        if (HasIdPrefix(record, pszPrefix) && SetupDiCallClassInstaller(DIF_REMOVE, hList, pDevice)) {
            ++nRemoved;
        }
    });
    return nRemoved;
}
