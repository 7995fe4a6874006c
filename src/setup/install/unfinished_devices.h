// Root devices this program creates carry a marker description until their
// driver is installed, which replaces it. A run killed between creating
// such a device and giving it its hardware ID leaves a device nothing else
// could ever find; the next run removes it by its marker, or, when the kill
// came inside the system's creation of the device, before the marker was
// written, by its instance ID. A run killed inside the driver's
// installation leaves a device with one of the function driver's hardware
// IDs and no service; the next run removes it by those.
#pragma once

#include <windows.h>

class CDialogData;

#define SETUP_UNFINISHED_DEVICE_DESC "qzvrcom port, installation unfinished"
// The root device ID of the devices this program creates: their instance
// IDs are ROOT\QZVRCOM\nnnn, which says they are ours from the moment the
// device exists, before the system has written any of its properties.
#define SETUP_ROOT_DEVICE_ID "QZVRCOM"

// Removes, through the class installer, every root device that carries the
// marker description, and every one without a service that carries our
// root device ID or a hardware ID of the function driver INF in the run's
// target folder (empty: none). Failures are traced; the run goes on.
void RemoveUnfinishedDevices(const CDialogData* pData);
