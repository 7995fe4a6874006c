// Uninstall sequence and the installed check.
#include <mbstring.h>

#include "../app/dialog_data.h"
#include "../app/messages.h"
#include "../install/install_record.h"
#include "../trace/trace.h"
#include "devices.h"
#include "package_cleanup.h"
#include "services.h"

namespace {

// Loads a driver service name and upper-cases it in the current code page,
// so a double-byte character is never split. The device walks compare it
// without regard to case; the INF scan compares it with upper-cased lines.
void LoadServiceName(UINT nStringId, char* pszName)
{
    pszName[0] = '\0';
    LoadStringA(GetModuleHandleA(nullptr), nStringId, pszName, SETUP_PATH_LENGTH);
    // LoadStringA always terminates within the buffer, and upper-casing
    // keeps the byte length, so the conversion stays within the bound.
    _mbsupr(reinterpret_cast<unsigned char*>(pszName));
}

// Devices, service and driver package of one driver; the service and
// package steps each run whatever the one before reported. While a device
// of the driver is left, its service and INF copies stay, so that the next
// uninstall finds it again: false then. A device removal that leaves Windows to restart sets
// *pbRebootRequired; such a device counts as removed.
bool RemoveDriver(const char* pszName, int* pbRebootRequired)
{
    if (RemoveDevicesByService(pszName, pbRebootRequired) != 0) {
        return false;
    }
    StopServiceAndWait(pszName);
    DeleteDriverService(pszName);
    DeleteOemInfByService(pszName, nullptr);
    return true;
}

} // namespace

int CDialogData::Uninstall(int bShowMessage, int bDeleteEntry)
{
    char szName[SETUP_PATH_LENGTH];

    StepProgress();
    // A port held open keeps its driver from being removed. It is checked
    // before anything is removed: a half-removed pair would leave the USB
    // device without its bus driver and the function driver in place.
    LoadServiceName(IDS_FUNCTION_SERVICE, szName);
    if (!CheckPortsClosed(szName)) {
        if (bShowMessage) {
            char szCaption[SETUP_PATH_LENGTH] = "";
            char szText[SETUP_PATH_LENGTH] = "";
            LoadStringA(GetModuleHandleA(nullptr), IDS_PORT_OPEN_CAPTION, szCaption, SETUP_PATH_LENGTH);
            LoadStringA(GetModuleHandleA(nullptr), IDS_PORT_OPEN, szText, SETUP_PATH_LENGTH);
            ShowMessage(m_hWnd, szText, szCaption, MB_ICONWARNING);
        }
        m_nResultId = IDS_PORT_OPEN;
        return 0;
    }
    // Before the first removal: a half-removed driver is no installation.
    if (!DeleteInstallRecord()) {
        m_nResultId = IDS_ERROR;
        return 0;
    }

    LoadServiceName(IDS_BUS_SERVICE, szName);
    bool bRemoved = RemoveDriver(szName, &m_bRebootRequired);

    StepProgress();
    LoadServiceName(IDS_FUNCTION_SERVICE, szName);
    StepProgress();
    // The Serial Print keys are found through the devices' port names, so
    // they go before the devices.
    DeleteSerialPrintKeys(szName);
    bRemoved = RemoveDriver(szName, &m_bRebootRequired) && bRemoved;

    StepProgress();
    // A driver that is not removed keeps its entry, for the next uninstall;
    // an install does not go on over it.
    if (!bRemoved) {
        m_nResultId = IDS_ERROR;
        return 0;
    }
    if (bDeleteEntry) {
        char szEntry[SETUP_PATH_LENGTH] = "";
        LoadStringA(GetModuleHandleA(nullptr), IDS_UNINSTALL_KEY, szEntry, SETUP_PATH_LENGTH);
        DeleteUninstallEntry(szEntry);
    }
    return 1;
}

int IsDriverInstalled()
{
    char szName[SETUP_PATH_LENGTH] = "";
    LoadStringA(GetModuleHandleA(nullptr), IDS_BUS_SERVICE, szName, SETUP_PATH_LENGTH);
    if (ServiceExists(szName)) {
        if (IsTraceEnabled(TRACE_FLOW)) {
            TraceEvent(g_guidSetupComponent, 56);
        }
        return 1;
    }
    LoadStringA(GetModuleHandleA(nullptr), IDS_FUNCTION_SERVICE, szName, SETUP_PATH_LENGTH);
    if (ServiceExists(szName)) {
        if (IsTraceEnabled(TRACE_FLOW)) {
            TraceEvent(g_guidSetupComponent, 57);
        }
        return 1;
    }
    return 0;
}
