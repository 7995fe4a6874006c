// A Windows service whose stop behaviour comes from its command line, for
// the service-control tests:
//   test_service.exe [hint=MS] [delay=MS] [life=MS] [mode=normal|bounce|refuse]
// normal  a stop request reports STOP_PENDING with the hint, then STOPPED
//         after the delay;
// bounce  the first stop request reports STOP_PENDING, then RUNNING again
//         after the delay; later requests stop it as normal;
// refuse  accepts no controls, so a stop request is refused.
// Whatever the mode, the service stops by itself after its life time.
#include <windows.h>

#include <stdlib.h>
#include <string.h>

namespace {

DWORD g_dwHint = 1000;
DWORD g_dwDelay = 0;
DWORD g_dwLife = 20000;
char g_szMode[16] = "normal";

SERVICE_STATUS_HANDLE g_hStatus = nullptr;
HANDLE g_hStopRequested = nullptr;
SERVICE_STATUS g_status = {};

void ReadArguments(int nArgs, char** ppszArgs)
{
    for (int i = 1; i < nArgs; ++i) {
        const char* pszValue = strchr(ppszArgs[i], '=');
        if (pszValue == nullptr) {
            continue;
        }
        ++pszValue;
        if (strncmp(ppszArgs[i], "hint=", 5) == 0) {
            g_dwHint = strtoul(pszValue, nullptr, 10);
        } else if (strncmp(ppszArgs[i], "delay=", 6) == 0) {
            g_dwDelay = strtoul(pszValue, nullptr, 10);
        } else if (strncmp(ppszArgs[i], "life=", 5) == 0) {
            g_dwLife = strtoul(pszValue, nullptr, 10);
        } else if (strncmp(ppszArgs[i], "mode=", 5) == 0) {
            strncpy(g_szMode, pszValue, sizeof(g_szMode) - 1);
        }
    }
}

void ReportState(DWORD dwState, DWORD dwHint)
{
    g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    g_status.dwCurrentState = dwState;
    g_status.dwControlsAccepted = strcmp(g_szMode, "refuse") == 0 || dwState != SERVICE_RUNNING ? 0 : SERVICE_ACCEPT_STOP;
    g_status.dwWaitHint = dwHint;
    g_status.dwCheckPoint = dwState == SERVICE_STOP_PENDING ? g_status.dwCheckPoint + 1 : 0;
    SetServiceStatus(g_hStatus, &g_status);
}

DWORD WINAPI HandleControl(DWORD dwControl, DWORD, void*, void*)
{
    if (dwControl == SERVICE_CONTROL_STOP) {
        ReportState(SERVICE_STOP_PENDING, g_dwHint);
        SetEvent(g_hStopRequested);
    } else if (dwControl == SERVICE_CONTROL_INTERROGATE) {
        SetServiceStatus(g_hStatus, &g_status);
    }
    return NO_ERROR;
}

void WINAPI RunService(DWORD, char**)
{
    g_hStatus = RegisterServiceCtrlHandlerExA("", HandleControl, nullptr);
    ReportState(SERVICE_RUNNING, 0);
    bool bBounce = strcmp(g_szMode, "bounce") == 0;
    DWORD dwStart = GetTickCount();
    for (;;) {
        DWORD dwElapsed = GetTickCount() - dwStart;
        if (dwElapsed >= g_dwLife || WaitForSingleObject(g_hStopRequested, g_dwLife - dwElapsed) != WAIT_OBJECT_0) {
            break;
        }
        Sleep(g_dwDelay);
        if (!bBounce) {
            break;
        }
        bBounce = false;
        ReportState(SERVICE_RUNNING, 0);
    }
    ReportState(SERVICE_STOPPED, 0);
}

} // namespace

int main(int nArgs, char** ppszArgs)
{
    ReadArguments(nArgs, ppszArgs);
    g_hStopRequested = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    char szName[] = "";
    SERVICE_TABLE_ENTRYA table[] = {{szName, RunService}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
