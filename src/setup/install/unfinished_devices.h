// Root devices this program creates carry a marker description until their
// driver is installed, which replaces it. A run killed between creating
// such a device and giving it its hardware ID leaves a device nothing else
// could ever find; the next run removes it by its marker.
#pragma once

#include <windows.h>

#define SETUP_UNFINISHED_DEVICE_DESC "qzvrcom port, installation unfinished"

// Removes every root device that still carries the marker description.
// Failures are traced; the run goes on.
void RemoveUnfinishedDevices();
