// Operations on every device whose service has a given name.
#pragma once

#include <windows.h>

// Removes the matching devices. Returns how many are left (1 also for a
// null name or when no device list could be opened), with the last error
// of the most recent failing call. Sets *pbRebootRequired to 1 when a
// removed device needs Windows to restart before it is gone, and leaves it
// alone otherwise.
int RemoveDevicesByService(const char* pszName, int* pbRebootRequired);
// 0 when a present matching device's COM port is held open, 1 otherwise.
int CheckPortsClosed(const char* pszName);
// Deletes the Serial Print keys of the matching devices' ports.
int DeleteSerialPrintKeys(const char* pszName);
