// Reads the device tree as a test sees it: every device with its first
// hardware ID, its service and the "PortName" of its hardware key. Shared by
// the installation and the end-to-end tests.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct DeviceRecord {
    std::string instanceId;
    std::string hardwareId; // first entry of the multi-string, "" if none
    std::string service;    // "" if none
    std::string portName;   // "" if none
};

// All devices of all classes known to the system, present or not.
std::vector<DeviceRecord> ListDevices();

// The devices whose first hardware ID starts with pszPrefix (case-
// insensitive), in instance-ID order.
std::vector<DeviceRecord> ListDevicesWithIdPrefix(const char* pszPrefix);

// Removes the devices whose first hardware ID starts with pszPrefix
// (DIF_REMOVE); the number removed.
int RemoveDevicesWithIdPrefix(const char* pszPrefix);
