// PLACEHOLDER: built by its own change.
#include "device_install.h"

BOOL InstallDevicesFromInf(CDialogData*, const char*) { return TRUE; }
BOOL InstallDeviceDriver(const char*, const char*, BOOL*) { return TRUE; }
