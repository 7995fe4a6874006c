// Service control through the local service control manager: presence,
// stop with active dependents inside a time budget, and deletion.
#include "services.h"

#include "../app/handles.h"
#include "../trace/trace.h"

namespace {

// Budget of a stop, in milliseconds; the wait ends only when it is exceeded.
const DWORD STOP_BUDGET = 30000;

const DWORD STOP_SERVICE_ACCESS = SERVICE_STOP | SERVICE_QUERY_STATUS | SERVICE_ENUMERATE_DEPENDENTS;
const DWORD STOP_DEPENDENT_ACCESS = SERVICE_STOP | SERVICE_QUERY_STATUS;
const DWORD DELETE_SERVICE_ACCESS = DELETE | SERVICE_QUERY_STATUS;

// Unsigned subtraction gives the true elapsed time across a wrap of the
// tick count.
bool IsBudgetExceeded(DWORD dwStartTick)
{
    return GetTickCount() - dwStartTick > STOP_BUDGET;
}

// Sleeps for a service's wait hint, but never past the budget: a service
// may report hours, or INFINITE, which would hold the uninstall for good.
// One millisecond past what is left makes the budget test that follows end
// the wait; once the budget is spent the wait only polls.
void SleepWithinBudget(DWORD dwWaitHint, DWORD dwStartTick)
{
    DWORD dwElapsed = GetTickCount() - dwStartTick;
    DWORD dwLeft = dwElapsed <= STOP_BUDGET ? STOP_BUDGET - dwElapsed + 1 : 0;
    Sleep(dwWaitHint < dwLeft ? dwWaitHint : dwLeft);
}

BOOL QueryProcessStatus(SC_HANDLE hService, SERVICE_STATUS_PROCESS* pStatus)
{
    DWORD dwNeeded = 0;
    return QueryServiceStatusEx(hService, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(pStatus),
                                sizeof(*pStatus), &dwNeeded);
}

// A stop request refreshes the leading SERVICE_STATUS fields of the record.
BOOL RequestStop(SC_HANDLE hService, SERVICE_STATUS_PROCESS* pStatus)
{
    return ControlService(hService, SERVICE_CONTROL_STOP, reinterpret_cast<SERVICE_STATUS*>(pStatus));
}

// Stops one dependent and waits for it; 1 when it stopped in time.
int StopDependent(SC_HANDLE hManager, const char* pszName, DWORD dwStartTick)
{
    CServiceHandle hDependent(OpenServiceA(hManager, pszName, STOP_DEPENDENT_ACCESS));
    if (!hDependent.IsValid()) {
        return 0;
    }
    SERVICE_STATUS_PROCESS status = {};
    if (!RequestStop(hDependent.Get(), &status)) {
        return 0;
    }
    while (status.dwCurrentState != SERVICE_STOPPED) {
        SleepWithinBudget(status.dwWaitHint, dwStartTick);
        if (!QueryProcessStatus(hDependent.Get(), &status)) {
            return 0;
        }
        if (status.dwCurrentState == SERVICE_STOPPED) {
            break;
        }
        if (IsBudgetExceeded(dwStartTick)) {
            return 0;
        }
    }
    return 1;
}

// Waits while a stop begun by someone else is pending. 1 when the service
// left that state for another than stopped, so the stop proper must follow.
int WaitForPendingStop(SC_HANDLE hService, SERVICE_STATUS_PROCESS* pStatus, DWORD dwStartTick)
{
    while (pStatus->dwCurrentState == SERVICE_STOP_PENDING) {
        if (IsTraceEnabled(TRACE_ERROR)) {
            TraceEvent(g_guidUtilComponent, 82);
        }
        SleepWithinBudget(pStatus->dwWaitHint, dwStartTick);
        if (!QueryProcessStatus(hService, pStatus)) {
            TraceLastError(g_guidUtilComponent, 83);
            return 0;
        }
        if (pStatus->dwCurrentState == SERVICE_STOPPED) {
            if (IsTraceEnabled(TRACE_ERROR)) {
                TraceEvent(g_guidUtilComponent, 84);
            }
            return 0;
        }
        if (IsBudgetExceeded(dwStartTick)) {
            if (IsTraceEnabled(TRACE_ERROR)) {
                TraceEvent(g_guidUtilComponent, 85);
            }
            return 0;
        }
    }
    return 1;
}

// Sends the stop request and waits until the service reports stopped.
void StopAndWait(SC_HANDLE hService, SERVICE_STATUS_PROCESS* pStatus, DWORD dwStartTick)
{
    if (!RequestStop(hService, pStatus)) {
        TraceLastError(g_guidUtilComponent, 86);
        return;
    }
    while (pStatus->dwCurrentState != SERVICE_STOPPED) {
        // The first pass sleeps for the hint the stop request returned.
        SleepWithinBudget(pStatus->dwWaitHint, dwStartTick);
        if (!QueryProcessStatus(hService, pStatus)) {
            TraceLastError(g_guidUtilComponent, 87);
            return;
        }
        if (pStatus->dwCurrentState == SERVICE_STOPPED) {
            break;
        }
        if (IsBudgetExceeded(dwStartTick)) {
            if (IsTraceEnabled(TRACE_ERROR)) {
                TraceEvent(g_guidUtilComponent, 88);
            }
            return;
        }
    }
    if (IsTraceEnabled(TRACE_FLOW)) {
        TraceEvent(g_guidUtilComponent, 89);
    }
}

// Traces the status read after a delete request, field by field.
void TraceStatusAfterDelete(const SERVICE_STATUS& status)
{
    if (IsTraceEnabled(TRACE_FLOW)) {
        TraceEvent(g_guidUtilComponent, 73);
    }
    if (IsTraceEnabled(TRACE_FLOW)) {
        TraceEvent(g_guidUtilComponent, 74, status.dwCurrentState);
    }
    if (IsTraceEnabled(TRACE_FLOW)) {
        TraceEvent(g_guidUtilComponent, 75, status.dwControlsAccepted);
    }
    if (IsTraceEnabled(TRACE_FLOW)) {
        TraceEvent(g_guidUtilComponent, 76, status.dwCheckPoint);
    }
    if (IsTraceEnabled(TRACE_FLOW)) {
        TraceEvent(g_guidUtilComponent, 77, status.dwWaitHint);
    }
}

// Outcome of a delete whose service did not open: a missing service is
// already what the delete wants.
int ReportUnopenedService(DWORD dwError)
{
    if (dwError == ERROR_SERVICE_DOES_NOT_EXIST) {
        if (IsTraceEnabled(TRACE_ERROR)) {
            TraceEvent(g_guidUtilComponent, 68);
        }
        return 1;
    }
    if (IsTraceEnabled(TRACE_ERROR)) {
        TraceEvent(g_guidUtilComponent, 69, dwError);
    }
    return 0;
}

} // namespace

int ServiceExists(const char* pszName)
{
    if (IsTraceEnabled(TRACE_FLOW)) {
        TraceEvent(g_guidSetupComponent, 53, pszName != nullptr ? pszName : "NULL");
    }
    if (pszName == nullptr) {
        return 0;
    }
    CServiceHandle hManager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!hManager.IsValid()) {
        TraceLastError(g_guidSetupComponent, 54);
        return 0;
    }
    CServiceHandle hService(OpenServiceA(hManager.Get(), pszName, SERVICE_QUERY_STATUS));
    if (hService.IsValid()) {
        return 1;
    }
    // A missing service is the expected negative answer, not an error.
    DWORD dwError = GetLastError();
    if (dwError != ERROR_SERVICE_DOES_NOT_EXIST) {
        if (IsTraceEnabled(TRACE_ERROR)) {
            TraceEvent(g_guidSetupComponent, 55, dwError);
        }
    }
    return 0;
}

void StopServiceAndWait(const char* pszName)
{
    // The budget covers the whole operation, dependents included.
    DWORD dwStartTick = GetTickCount();
    CServiceHandle hManager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!hManager.IsValid()) {
        TraceLastError(g_guidUtilComponent, 78);
        return;
    }
    CServiceHandle hService(OpenServiceA(hManager.Get(), pszName, STOP_SERVICE_ACCESS));
    if (!hService.IsValid()) {
        TraceLastError(g_guidUtilComponent, 79);
        return;
    }
    SERVICE_STATUS_PROCESS status = {};
    if (!QueryProcessStatus(hService.Get(), &status)) {
        TraceLastError(g_guidUtilComponent, 80);
        return;
    }
    if (status.dwCurrentState == SERVICE_STOPPED) {
        if (IsTraceEnabled(TRACE_ERROR)) {
            TraceEvent(g_guidUtilComponent, 81);
        }
        return;
    }
    if (!WaitForPendingStop(hService.Get(), &status, dwStartTick)) {
        return;
    }
    StopDependentServices(hManager.Get(), hService.Get());
    StopAndWait(hService.Get(), &status, dwStartTick);
}

int StopDependentServices(SC_HANDLE hManager, SC_HANDLE hService)
{
    DWORD dwStartTick = GetTickCount();
    DWORD dwNeeded = 0;
    DWORD dwCount = 0;
    if (EnumDependentServicesA(hService, SERVICE_ACTIVE, nullptr, 0, &dwNeeded, &dwCount)) {
        return 1;
    }
    if (GetLastError() != ERROR_MORE_DATA) {
        return 0;
    }
    CHeapBlock block(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, dwNeeded));
    if (!block.IsValid()) {
        return 0;
    }
    ENUM_SERVICE_STATUSA* pDependents = static_cast<ENUM_SERVICE_STATUSA*>(block.Get());
    if (!EnumDependentServicesA(hService, SERVICE_ACTIVE, pDependents, dwNeeded, &dwNeeded, &dwCount)) {
        return 0;
    }
    for (DWORD i = 0; i < dwCount; ++i) {
        if (!StopDependent(hManager, pDependents[i].lpServiceName, dwStartTick)) {
            return 0;
        }
    }
    return 1;
}

int DeleteDriverService(const char* pszName)
{
    if (IsTraceEnabled(TRACE_FLOW)) {
        TraceEvent(g_guidUtilComponent, 66, pszName);
    }
    CServiceHandle hManager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!hManager.IsValid()) {
        TraceLastError(g_guidUtilComponent, 67);
        return 0;
    }
    // Status access lets the same handle report the state after the delete.
    CServiceHandle hService(OpenServiceA(hManager.Get(), pszName, DELETE_SERVICE_ACCESS));
    if (!hService.IsValid()) {
        DWORD dwError = GetLastError();
        hManager.Reset();
        return ReportUnopenedService(dwError);
    }
    if (DeleteService(hService.Get())) {
        if (IsTraceEnabled(TRACE_ERROR)) {
            TraceEvent(g_guidUtilComponent, 71);
        }
    } else {
        TraceLastError(g_guidUtilComponent, 70);
    }
    SERVICE_STATUS status = {};
    BOOL bQueried = QueryServiceStatus(hService.Get(), &status);
    if (bQueried) {
        TraceStatusAfterDelete(status);
    } else {
        TraceLastError(g_guidUtilComponent, 72);
    }
    return bQueried;
}
