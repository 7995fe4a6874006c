// showstate.exe: prints what the driver's installation left on this machine
// (COM port devices, services, INF copies, the arbiter value, Serial Print
// keys and the installed-programs entry), for the README's main command.
#include <windows.h>

#include <stdio.h>

#include "machine_state.h"

namespace {

void PrintList(const char* pszTitle, const std::vector<std::string>& items)
{
    printf("%s:%s\n", pszTitle, items.empty() ? " none" : "");
    for (const std::string& item : items) {
        printf("    %s\n", item.c_str());
    }
}

bool IsDriverItem(const std::string& name)
{
    return name.find("QZVRCOM") != std::string::npos || name.find("QZUSBDR") != std::string::npos ||
           name.compare(0, 3, "OEM") == 0;
}

std::vector<std::string> DriverItems(const std::vector<std::string>& items)
{
    std::vector<std::string> found;
    for (const std::string& item : items) {
        if (IsDriverItem(item)) {
            found.push_back(item);
        }
    }
    return found;
}

} // namespace

int main()
{
    MachineState state = ReadMachineState();
    std::vector<std::string> ports;
    for (const char* pszService : {"qzvrcom", "qzusbdr"}) {
        for (const DeviceRecord& device : DevicesOfService(state, pszService)) {
            ports.push_back(device.portName + "  hardware ID " + device.hardwareId + "  (" + device.instanceId +
                            ", service " + device.service + ")");
        }
    }
    PrintList("Devices of the drivers", ports);
    PrintList("Driver services", DriverItems(state.services));
    PrintList("Driver INF copies in the INF folder", DriverItems(state.infFiles));
    std::string ports_in_use;
    for (size_t i = 0; i < state.comDb.size() * 8; ++i) {
        if (state.comDb[i / 8] & (1 << (i % 8))) {
            ports_in_use += " COM" + std::to_string(i + 1);
        }
    }
    printf("COM numbers in use (ComDB):%s\n", ports_in_use.empty() ? " none" : ports_in_use.c_str());
    PrintList("Serial Print keys", state.serialPrintKeys);
    std::vector<std::string> entry;
    for (const auto& value : state.entryValues) {
        entry.push_back(value.first + " = " + EntryString(state, value.first.c_str()));
    }
    printf("Installed-programs entry: %s\n", state.bEntryExists ? "present" : "absent");
    for (const std::string& line : entry) {
        printf("    %s\n", line.c_str());
    }
    return 0;
}
