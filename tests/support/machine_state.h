// Everything the driver's installation touches on the machine, read in one
// go so that a test can compare whole states: devices, services, the INF
// folder, the package copy, the arbiter value, the Serial Print keys and the
// installed-programs entry.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "device_tree.h"

struct RegistryValue {
    DWORD dwType;
    std::vector<BYTE> data;
    bool operator==(const RegistryValue& other) const { return dwType == other.dwType && data == other.data; }
};

struct MachineState {
    std::vector<DeviceRecord> devices;               // every device, instance-ID order
    std::vector<std::string> services;               // every service name, upper case, sorted
    std::vector<std::string> infFiles;               // C:\windows\inf, upper case, sorted
    std::vector<std::string> packageCopy;            // C:\windows\qzvrcom but the run log, upper case, sorted
    std::vector<BYTE> comDb;                         // "ComDB", empty when absent
    std::vector<std::string> serialPrintKeys;        // key paths below "Serial Print", sorted
    bool bProgramKey;                                // HKLM\SOFTWARE\qzvrcom (the journal, the install record)
    std::map<std::string, RegistryValue> programValues; // its values by name
    bool bEntryExists;                               // the installed-programs entry
    std::map<std::string, RegistryValue> entryValues; // its values by name
};

MachineState ReadMachineState();

// The Windows folder, without a trailing backslash.
std::string WindowsFolder();

// Writes the arbiter's "ComDB" with this type and data; true when written.
bool WriteArbiterValue(DWORD dwType, const std::vector<BYTE>& data);

// The file names (no folders) of a folder, upper case and sorted.
std::vector<std::string> ListFiles(const std::string& folder);

// One line per difference ("+ service QZVRCOM", "- inf OEM1.INF", ...);
// empty when equal. The package copy is left out when bWithPackageCopy is
// false: uninstallation keeps it.
std::vector<std::string> DescribeDifferences(const MachineState& before, const MachineState& after,
                                             bool bWithPackageCopy = false);

// One line per "PortName" that "ComDB" does not claim or that two devices
// share ("COM12 not claimed", "COM12 held twice"); empty when none.
std::vector<std::string> DescribePortNameProblems(const MachineState& state);

// The devices of a service (compared without regard to case).
std::vector<DeviceRecord> DevicesOfService(const MachineState& state, const char* pszService);
bool HasService(const MachineState& state, const char* pszService);

// Registry helpers for expectations.
std::string EntryString(const MachineState& state, const char* pszName);
