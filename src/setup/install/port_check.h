// Reads back the COM port names that the devices with one hardware ID came
// up with: a number is forced only as far as the system follows the arbiter.
#pragma once

#include <windows.h>

#include "../app/dialog_data.h"

struct PortNameCount {
    DWORD nDevices;                    // present devices with the ID
    DWORD nWanted;                     // of those, named COM<n> as wanted
    bool bComplete;                    // every device was seen and its name read
    char szOther[SETUP_PATH_LENGTH];   // the first other name; empty for none
};

// Counts the present devices with pszHardwareId and those of them named
// "COM<nPort>".
void CountPortNames(const char* pszHardwareId, DWORD nPort, PortNameCount* pCount);
// Whether any device at all, of any class, present or not, has "PortName"
// "COM<nPort>"; also true when the devices cannot be listed, so that a
// number nobody can vouch for stays claimed.
bool IsPortNameInUse(DWORD nPort);
