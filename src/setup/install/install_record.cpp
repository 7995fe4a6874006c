// The finished-install record and the service states that the detection
// rule and the end of each run check: exit code 0 and the rule must agree.
#include "install_record.h"

#include "../app/dialog_data.h"
#include "../app/handles.h"
#include "../trace/trace.h"
#include "comdb_journal.h"

namespace {

enum ServiceState { SERVICE_ABSENT, SERVICE_MARKED, SERVICE_LIVE, SERVICE_UNKNOWN };

const UINT c_anDriverNames[] = {IDS_BUS_SERVICE, IDS_FUNCTION_SERVICE};

// How the service manager knows driver service nStringId, whose name goes
// to pszName. One marked for deletion (until its last handle closes, or
// until the restart for a driver that cannot stop) still opens, but
// refuses a change of its configuration with ERROR_SERVICE_MARKED_FOR_DELETE.
// A caller without the right to change it (a user's query) learns only
// that it is there.
ServiceState GetServiceState(UINT nStringId, char* pszName)
{
    pszName[0] = '\0';
    LoadStringA(GetModuleHandleA(nullptr), nStringId, pszName, SETUP_PATH_LENGTH);
    CServiceHandle hManager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    CServiceHandle hService(OpenServiceA(hManager.Get(), pszName, SERVICE_CHANGE_CONFIG));
    // Every field SERVICE_NO_CHANGE or null: the call changes nothing.
    DWORD dwError = ERROR_SUCCESS;
    if (!hService.IsValid() || !ChangeServiceConfigA(hService.Get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                                     SERVICE_NO_CHANGE, nullptr, nullptr, nullptr, nullptr, nullptr,
                                                     nullptr, nullptr)) {
        dwError = GetLastError();
    }
    if (dwError == ERROR_SUCCESS || dwError == ERROR_ACCESS_DENIED) {
        return SERVICE_LIVE;
    }
    if (dwError == ERROR_SERVICE_DOES_NOT_EXIST) {
        return SERVICE_ABSENT;
    }
    return dwError == ERROR_SERVICE_MARKED_FOR_DELETE ? SERVICE_MARKED : SERVICE_UNKNOWN;
}

} // namespace

BOOL DeleteInstallRecord()
{
    CRegistryKey hKey;
    LONG nStatus = RegOpenKeyExA(HKEY_LOCAL_MACHINE, SETUP_PROGRAM_KEY, 0, KEY_SET_VALUE, hKey.AddressOf());
    if (nStatus == ERROR_SUCCESS) {
        nStatus = RegDeleteValueA(hKey.Get(), SETUP_RECORD_VALUE);
        hKey.Reset();
        // No journal stands here (the run's start repaired any): this
        // deletes the program's key too when nothing else is left in it.
        DeleteArbiterJournal();
    }
    if (nStatus == ERROR_SUCCESS || nStatus == ERROR_FILE_NOT_FOUND) {
        return TRUE;
    }
    if (IsTraceEnabled(TRACE_ERROR)) {
        TraceEvent(g_guidSetupComponent, 176, static_cast<DWORD>(nStatus));
    }
    return FALSE;
}

void FinishInstall(CDialogData* pData)
{
    if (pData->m_nResultId != IDS_SUCCESS) {
        return;
    }
    // What would make the query say "not installed" makes the run fail
    // too: a journal whose deletion failed, or no driver service at all
    // (an INF whose models the walk could not read).
    LONG nStatus = ERROR_ALREADY_EXISTS;
    CRegistryKey hKey;
    if (!CheckDriverServices(nullptr)) {
        nStatus = ERROR_SERVICE_DOES_NOT_EXIST;
    } else if (!HasArbiterJournal()) {
        nStatus = RegCreateKeyExA(HKEY_LOCAL_MACHINE, SETUP_PROGRAM_KEY, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_SET_VALUE, nullptr, hKey.AddressOf(), nullptr);
    }
    DWORD dwFinished = 1;
    if (nStatus == ERROR_SUCCESS) {
        nStatus = RegSetValueExA(hKey.Get(), SETUP_RECORD_VALUE, 0, REG_DWORD,
                                 reinterpret_cast<const BYTE*>(&dwFinished), sizeof(dwFinished));
    }
    if (nStatus != ERROR_SUCCESS) {
        if (IsTraceEnabled(TRACE_ERROR)) {
            TraceEvent(g_guidSetupComponent, 174, static_cast<DWORD>(nStatus));
        }
        pData->m_nResultId = IDS_ERROR;
    }
}

int CheckDriverServices(CDialogData* pData)
{
    int bLive = 0;
    for (UINT nStringId : c_anDriverNames) {
        char szName[SETUP_PATH_LENGTH];
        ServiceState eState = GetServiceState(nStringId, szName);
        bLive |= eState == SERVICE_LIVE;
        if (pData == nullptr || eState == SERVICE_ABSENT) {
            continue;
        }
        if (eState == SERVICE_MARKED) {
            if (IsTraceEnabled(TRACE_FLOW)) {
                TraceEvent(g_guidSetupComponent, 178, szName);
            }
            pData->m_bRebootRequired = 1;
        } else {
            if (IsTraceEnabled(TRACE_ERROR)) {
                TraceEvent(g_guidSetupComponent, 177, szName);
            }
            pData->m_nResultId = IDS_ERROR;
        }
    }
    return bLive;
}

int IsInstallationFinished()
{
    if (!IsDriverInstalled() ||
        RegGetValueA(HKEY_LOCAL_MACHINE, SETUP_PROGRAM_KEY, SETUP_RECORD_VALUE, RRF_RT_ANY, nullptr, nullptr,
                     nullptr) != ERROR_SUCCESS) {
        return 0;
    }
    // An install killed inside its port walk left its journal.
    if (HasArbiterJournal()) {
        if (IsTraceEnabled(TRACE_FLOW)) {
            TraceEvent(g_guidComdbComponent, 20);
        }
        return 0;
    }
    return CheckDriverServices(nullptr);
}
