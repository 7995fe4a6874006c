// Installation of the COM port devices named by the function driver INF.
#pragma once

#include <windows.h>
#include <setupapi.h>

class CDialogData;

// Reads the models section name of a [Manufacturer] line as the install
// walk does. FALSE when a field is missing or the name does not fit.
BOOL ReadInfModelsSectionName(INFCONTEXT* pLine, char* pszSection);

// The COM number a hardware ID names after its first backslash; 0 for none.
DWORD ReadHardwareIdPort(const char* pszHardwareId);

// Installs one device per hardware ID of the INF's models sections, each
// with the COM number its ID carries. FALSE when the INF cannot be opened or
// has no [Manufacturer] line; device failures go to pData->m_nResultId.
BOOL InstallDevicesFromInf(CDialogData* pData, const char* pszInfPath);

// Installs the driver on the devices with pszHardwareId, creating a root
// device of the INF's class when none takes it. On FALSE the thread's last
// error holds the failing step's code.
BOOL InstallDeviceDriver(const char* pszHardwareId, const char* pszInfPath, BOOL* pbRebootRequired);
