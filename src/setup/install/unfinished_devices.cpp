// Removal of root devices a run left unfinished: those that still carry the
// marker description, and those that carry one of the function driver's
// hardware IDs but no service.
#include "unfinished_devices.h"

#include <mbstring.h>
#include <setupapi.h>

#include "../app/dialog_data.h"
#include "../app/handles.h"
#include "../trace/trace.h"
#include "comdb.h"
#include "device_install.h"
#include "install.h"
#include "port_check.h"

namespace {

// Hardware ID buffer, NUL included, as the install walk reads them.
const DWORD HARDWARE_ID_LENGTH = 200;

bool HasMarkerDescription(HDEVINFO hList, SP_DEVINFO_DATA* pDevice)
{
    char szDescription[SETUP_PATH_LENGTH] = "";
    return SetupDiGetDeviceRegistryPropertyA(hList, pDevice, SPDRP_DEVICEDESC, nullptr,
                                             reinterpret_cast<BYTE*>(szDescription), sizeof(szDescription) - 1,
                                             nullptr) &&
           lstrcmpA(szDescription, SETUP_UNFINISHED_DEVICE_DESC) == 0;
}

// True when pszIds (a multi-string) holds pszId, without regard to case.
bool HoldsId(const char* pszIds, const char* pszId)
{
    for (; *pszIds != '\0'; pszIds += lstrlenA(pszIds) + 1) {
        if (_mbsicmp(reinterpret_cast<const unsigned char*>(pszIds),
                     reinterpret_cast<const unsigned char*>(pszId)) == 0) {
            return true;
        }
    }
    return false;
}

// True when a models line of the function driver INF names one of pszIds
// as its hardware ID (field 2).
bool IsModelsHardwareId(HINF hInf, const char* pszIds)
{
    INFCONTEXT manufacturer;
    if (!SetupFindFirstLineA(hInf, "Manufacturer", nullptr, &manufacturer)) {
        return false;
    }
    do {
        char szSection[SETUP_PATH_LENGTH];
        INFCONTEXT line;
        if (!ReadInfModelsSectionName(&manufacturer, szSection) ||
            !SetupFindFirstLineA(hInf, szSection, nullptr, &line)) {
            continue;
        }
        do {
            char szId[HARDWARE_ID_LENGTH];
            if (SetupGetStringFieldA(&line, 2, szId, HARDWARE_ID_LENGTH, nullptr) && HoldsId(pszIds, szId)) {
                return true;
            }
        } while (SetupFindNextLine(&line, &line));
    } while (SetupFindNextLine(&manufacturer, &manufacturer));
    return false;
}

// True when the device has no "Service" property at all.
bool HasNoService(HDEVINFO hList, SP_DEVINFO_DATA* pDevice)
{
    DWORD dwSize = 0;
    return !SetupDiGetDeviceRegistryPropertyA(hList, pDevice, SPDRP_SERVICE, nullptr, nullptr, 0, &dwSize) &&
           GetLastError() == ERROR_INVALID_DATA;
}

// A run killed inside the system's creation of the device, before it
// wrote the marker description, leaves a device that only its instance ID
// (ROOT\QZVRCOM\nnnn) tells apart.
bool HasOurInstanceId(HDEVINFO hList, SP_DEVINFO_DATA* pDevice)
{
    const char szPrefix[] = "ROOT\\" SETUP_ROOT_DEVICE_ID "\\";
    char szId[SETUP_PATH_LENGTH] = "";
    return SetupDiGetDeviceInstanceIdA(hList, pDevice, szId, SETUP_PATH_LENGTH, nullptr) &&
           _mbsnbicmp(reinterpret_cast<const unsigned char*>(szId), reinterpret_cast<const unsigned char*>(szPrefix),
                      sizeof(szPrefix) - 1) == 0;
}

// A run killed inside the system's device installation, after the Ports
// class installer claimed the port's number but before the device got its
// service, leaves a device with one of our hardware IDs and no service:
// nothing that walks devices by service would find it.
// pnPort receives the COM number its first hardware ID names (0: none).
bool IsHalfInstalled(HDEVINFO hList, SP_DEVINFO_DATA* pDevice, HINF hInf, DWORD* pnPort)
{
    if (hInf == INVALID_HANDLE_VALUE || !HasNoService(hList, pDevice)) {
        return false;
    }
    // Zeroed, and two bytes longer than read: the multi-string always ends.
    char szIds[SETUP_PATH_LENGTH + 1] = "";
    if (!SetupDiGetDeviceRegistryPropertyA(hList, pDevice, SPDRP_HARDWAREID, nullptr, reinterpret_cast<BYTE*>(szIds),
                                           SETUP_PATH_LENGTH - 1, nullptr) ||
        !IsModelsHardwareId(hInf, szIds)) {
        return false;
    }
    *pnPort = ReadHardwareIdPort(szIds);
    return true;
}

// A port killed after the class installer claimed its number but before it
// wrote "PortName" leaves that number claimed: the class installer's removal
// releases only a number the device names. It is released here when no
// device at all, of any class, holds it.
void ReleaseUnheldPort(DWORD nPort)
{
    CComDB comDb;
    if (IsPortNameInUse(nPort) || !comDb.Load() || !comDb.IsPortInUse(nPort)) {
        return;
    }
    comDb.ReleasePort(nPort);
    comDb.Save();
}

} // namespace

void RemoveUnfinishedDevices(const CDialogData* pData)
{
    // The package copy's INF names the hardware IDs of the ports that a
    // run installed from it. Without it only the marker is looked for.
    char szInfPath[SETUP_PATH_LENGTH] = "";
    CInfHandle hInf(pData->m_szTargetDir[0] != '\0' && BuildTargetFilePath(pData, IDS_FUNCTION_INF, szInfPath)
                        ? SetupOpenInfFileA(szInfPath, nullptr, INF_STYLE_WIN4, nullptr)
                        : INVALID_HANDLE_VALUE);
    // Not only present devices: an unfinished one was never started.
    CDeviceList hList(SetupDiGetClassDevsA(nullptr, "ROOT", nullptr, DIGCF_ALLCLASSES));
    if (!hList.IsValid()) {
        TraceLastError(g_guidUtilComponent, 131);
        return;
    }
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof(device);
    for (DWORD nIndex = 0; SetupDiEnumDeviceInfo(hList.Get(), nIndex, &device); ++nIndex) {
        DWORD nPort = 0;
        bool bUnfinished = IsHalfInstalled(hList.Get(), &device, hInf.Get(), &nPort) ||
                           HasMarkerDescription(hList.Get(), &device) ||
                           (HasOurInstanceId(hList.Get(), &device) && HasNoService(hList.Get(), &device));
        if (!bUnfinished) {
            continue;
        }
        // Through the class installer, which releases the port's number.
        if (!SetupDiCallClassInstaller(DIF_REMOVE, hList.Get(), &device)) {
            TraceLastError(g_guidUtilComponent, 131);
            continue;
        }
        if (IsTraceEnabled(TRACE_FLOW)) {
            TraceEvent(g_guidUtilComponent, 130);
        }
        if (nPort != 0) {
            ReleaseUnheldPort(nPort);
        }
    }
}
