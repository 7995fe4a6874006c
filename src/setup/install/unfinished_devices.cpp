// Removal of root devices left with the marker description by a run that
// ended before their driver was installed.
#include "unfinished_devices.h"

#include <setupapi.h>

#include "../app/dialog_data.h"
#include "../app/handles.h"
#include "../trace/trace.h"

namespace {

bool HasMarkerDescription(HDEVINFO hList, SP_DEVINFO_DATA* pDevice)
{
    char szDescription[SETUP_PATH_LENGTH] = "";
    return SetupDiGetDeviceRegistryPropertyA(hList, pDevice, SPDRP_DEVICEDESC, nullptr,
                                             reinterpret_cast<BYTE*>(szDescription), sizeof(szDescription) - 1,
                                             nullptr) &&
           lstrcmpA(szDescription, SETUP_UNFINISHED_DEVICE_DESC) == 0;
}

} // namespace

void RemoveUnfinishedDevices()
{
    // Not only present devices: an unfinished one was never started.
    CDeviceList hList(SetupDiGetClassDevsA(nullptr, "ROOT", nullptr, DIGCF_ALLCLASSES));
    if (!hList.IsValid()) {
        TraceLastError(g_guidUtilComponent, 131);
        return;
    }
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof(device);
    for (DWORD nIndex = 0; SetupDiEnumDeviceInfo(hList.Get(), nIndex, &device); ++nIndex) {
        if (!HasMarkerDescription(hList.Get(), &device)) {
            continue;
        }
        if (!SetupDiCallClassInstaller(DIF_REMOVE, hList.Get(), &device)) {
            TraceLastError(g_guidUtilComponent, 131);
        } else if (IsTraceEnabled(TRACE_FLOW)) {
            TraceEvent(g_guidUtilComponent, 130);
        }
    }
}
