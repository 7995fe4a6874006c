// Root devices this program creates carry a marker description until their
// driver is installed, which replaces it. A run killed between creating
// such a device and giving it its hardware ID leaves a device nothing else
// could ever find; the next run removes it by its marker. A run killed
// inside the driver's installation leaves a device with one of the function
// driver's hardware IDs and no service; the next run removes it by those.
#pragma once

#include <windows.h>

class CDialogData;

#define SETUP_UNFINISHED_DEVICE_DESC "qzvrcom port, installation unfinished"

// Removes, through the class installer, every root device that still
// carries the marker description, and every one without a service that
// carries a hardware ID of the function driver INF in the run's target
// folder (empty: none). Failures are traced; the run goes on.
void RemoveUnfinishedDevices(const CDialogData* pData);
