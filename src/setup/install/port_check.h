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
    bool bProblem;                     // a device does not work, or its status is unknown
    bool bRestart;                     // a device works only after a restart
};

// Counts the present devices with pszHardwareId and those of them named
// "COM<nPort>".
void CountPortNames(const char* pszHardwareId, DWORD nPort, PortNameCount* pCount);
// Whether any device at all, of any class, present or not, has "PortName"
// "COM<nPort>"; also true when the devices cannot be listed, so that a
// number nobody can vouch for stays claimed.
bool IsPortNameInUse(DWORD nPort);

// Reads the device's status through the configuration manager and notes a
// problem (traced with its code and meaning, naming pszPort) or a needed
// restart in pCount.
void ReadPortStatus(DWORD dnDevice, const char* pszPort, PortNameCount* pCount);
