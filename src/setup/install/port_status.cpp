// The status of an installed port: a driver that Windows could not load
// leaves a device with a problem code, which the COM port name does not show.
#include "port_check.h"

#include <cfgmgr32.h>

#include "../app/system_library.h"
#include "../trace/trace.h"

namespace {

typedef CONFIGRET(WINAPI* GetDevNodeStatusProc)(PULONG pnStatus, PULONG pnProblem, DEVINST dnDevice, ULONG nFlags);

struct ProblemText {
    ULONG nProblem;
    const char* pszMeaning;
};

// The codes a port driver that did not load leaves (Microsoft's "Device
// Manager error messages").
const ProblemText c_aProblems[] = {
    {CM_PROB_FAILED_START, "cannot start"},
    {CM_PROB_FAILED_ADD, "driver not loaded"},
    {CM_PROB_DRIVER_FAILED_LOAD, "driver missing or corrupt"},
    {CM_PROB_UNSIGNED_DRIVER, "driver not signed"},
};

} // namespace

void ReadPortStatus(DWORD dnDevice, const char* pszPort, PortNameCount* pCount)
{
    // cfgmgr32.dll is not a known DLL: it comes from the system folder.
    GetDevNodeStatusProc pfnGetStatus = reinterpret_cast<GetDevNodeStatusProc>(
        reinterpret_cast<void*>(FindSystemFunction("cfgmgr32.dll", "CM_Get_DevNode_Status")));
    ULONG nStatus = 0;
    ULONG nProblem = 0;
    CONFIGRET nResult = pfnGetStatus != nullptr ? pfnGetStatus(&nStatus, &nProblem, dnDevice, 0) : CR_FAILURE;
    const char* pszMeaning = "status not read";
    if (nResult == CR_SUCCESS) {
        // A device waiting for the restart has DN_NEED_RESTART, or the
        // problem CM_PROB_NEED_RESTART.
        if ((nStatus & DN_NEED_RESTART) != 0 ||
            ((nStatus & DN_HAS_PROBLEM) != 0 && nProblem == CM_PROB_NEED_RESTART)) {
            pCount->bRestart = true;
            return;
        }
        if ((nStatus & DN_HAS_PROBLEM) == 0) {
            return;
        }
        pszMeaning = "see Device Manager";
        for (const ProblemText& problem : c_aProblems) {
            if (problem.nProblem == nProblem) {
                pszMeaning = problem.pszMeaning;
            }
        }
    } else {
        nProblem = nResult;
    }
    if (IsTraceEnabled(TRACE_ERROR)) {
        TraceEvent(g_guidSetupComponent, 172, pszPort, static_cast<DWORD>(nProblem), pszMeaning);
    }
    pCount->bProblem = true;
}
