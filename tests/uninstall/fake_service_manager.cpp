// The stand-in service control manager and clock.
#include "fake_service_manager.h"

#include <string.h>

CFakeServiceManager* CFakeServiceManager::s_pCurrent = nullptr;

namespace {

const UINT_PTR MANAGER_HANDLE = 0x5C0000;

CFakeServiceManager& Fake()
{
    return *CFakeServiceManager::s_pCurrent;
}

CFakeServiceManager::Played* FindPlayed(SC_HANDLE hService)
{
    UINT_PTR nIndex = reinterpret_cast<UINT_PTR>(hService) - MANAGER_HANDLE - 1;
    return nIndex < Fake().m_played.size() ? &Fake().m_played[nIndex] : nullptr;
}

DWORD CurrentState(const CFakeServiceManager::Played& played)
{
    DWORD dwElapsed = Fake().m_dwNow - Fake().m_dwStartTick;
    if (played.dwStopAt != INFINITE) {
        DWORD dwTakes = played.service.dwStopTakes;
        return dwTakes != INFINITE && dwElapsed - played.dwStopAt >= dwTakes ? SERVICE_STOPPED : SERVICE_STOP_PENDING;
    }
    return dwElapsed >= played.service.dwChangeAt ? played.service.dwNextState : played.service.dwState;
}

void FillStatus(const CFakeServiceManager::Played& played, SERVICE_STATUS* pStatus)
{
    pStatus->dwServiceType = SERVICE_KERNEL_DRIVER;
    pStatus->dwCurrentState = CurrentState(played);
    pStatus->dwControlsAccepted = SERVICE_ACCEPT_STOP;
    pStatus->dwWin32ExitCode = 0;
    pStatus->dwServiceSpecificExitCode = 0;
    pStatus->dwCheckPoint = played.nQueries;
    pStatus->dwWaitHint = played.service.dwWaitHint;
}

BOOL Fail(DWORD dwError)
{
    SetLastError(dwError);
    return FALSE;
}

SC_HANDLE WINAPI FakeOpenSCManagerA(LPCSTR, LPCSTR, DWORD)
{
    if (Fake().m_dwManagerError != 0) {
        Fail(Fake().m_dwManagerError);
        return nullptr;
    }
    return Fake().ManagerHandle();
}

SC_HANDLE WINAPI FakeOpenServiceA(SC_HANDLE hManager, LPCSTR pszName, DWORD)
{
    for (size_t i = 0; hManager == Fake().ManagerHandle() && i < Fake().m_played.size(); ++i) {
        const FakeService& service = Fake().m_played[i].service;
        if (_stricmp(service.name.c_str(), pszName) != 0) {
            continue;
        }
        if (service.dwOpenError != 0) {
            Fail(service.dwOpenError);
            return nullptr;
        }
        return Fake().ServiceHandle(i);
    }
    Fail(ERROR_SERVICE_DOES_NOT_EXIST);
    return nullptr;
}

// CloseServiceHandle and DeleteService on a stand-in handle succeed.
BOOL WINAPI FakeAcceptHandle(SC_HANDLE)
{
    return TRUE;
}

// Counts the query; false when the service's script fails it.
bool CountQuery(CFakeServiceManager::Played* pPlayed)
{
    if (pPlayed == nullptr) {
        return false;
    }
    ++pPlayed->nQueries;
    return pPlayed->service.dwQueryFailsAt == 0 || pPlayed->nQueries < pPlayed->service.dwQueryFailsAt;
}

BOOL WINAPI FakeQueryServiceStatusEx(SC_HANDLE hService, SC_STATUS_TYPE nLevel, LPBYTE pBuffer, DWORD cbBuffer,
                                     LPDWORD pcbNeeded)
{
    *pcbNeeded = sizeof(SERVICE_STATUS_PROCESS);
    if (nLevel != SC_STATUS_PROCESS_INFO || cbBuffer != sizeof(SERVICE_STATUS_PROCESS)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    CFakeServiceManager::Played* pPlayed = FindPlayed(hService);
    if (!CountQuery(pPlayed)) {
        return Fail(FAKE_QUERY_ERROR);
    }
    memset(pBuffer, 0, cbBuffer);
    FillStatus(*pPlayed, reinterpret_cast<SERVICE_STATUS*>(pBuffer));
    return TRUE;
}

BOOL WINAPI FakeQueryServiceStatus(SC_HANDLE hService, LPSERVICE_STATUS pStatus)
{
    CFakeServiceManager::Played* pPlayed = FindPlayed(hService);
    if (!CountQuery(pPlayed)) {
        return Fail(FAKE_QUERY_ERROR);
    }
    FillStatus(*pPlayed, pStatus);
    return TRUE;
}

BOOL WINAPI FakeControlService(SC_HANDLE hService, DWORD dwControl, LPSERVICE_STATUS pStatus)
{
    CFakeServiceManager::Played* pPlayed = FindPlayed(hService);
    if (pPlayed == nullptr || dwControl != SERVICE_CONTROL_STOP) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    Fake().m_stopRequests.push_back(pPlayed->service.name);
    if (pPlayed->service.dwControlError != 0) {
        return Fail(pPlayed->service.dwControlError);
    }
    pPlayed->dwStopAt = Fake().m_dwNow - Fake().m_dwStartTick;
    FillStatus(*pPlayed, pStatus);
    return TRUE;
}

// Records first, names after them, as the service manager packs them.
void FillDependents(const std::vector<std::string>& names, ENUM_SERVICE_STATUSA* pRecords)
{
    char* pszNext = reinterpret_cast<char*>(pRecords + names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        memcpy(pszNext, names[i].c_str(), names[i].size() + 1);
        pRecords[i].lpServiceName = pszNext;
        pszNext += names[i].size() + 1;
    }
}

BOOL WINAPI FakeEnumDependentServicesA(SC_HANDLE hService, DWORD dwState, LPENUM_SERVICE_STATUSA pRecords,
                                       DWORD cbBuffer, LPDWORD pcbNeeded, LPDWORD pnCount)
{
    CFakeServiceManager::Played* pPlayed = FindPlayed(hService);
    if (pPlayed == nullptr || dwState != SERVICE_ACTIVE) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (Fake().m_dwEnumError != 0) {
        return Fail(Fake().m_dwEnumError);
    }
    const std::vector<std::string>& names = pPlayed->service.dependents;
    DWORD cbNeeded = static_cast<DWORD>(names.size() * sizeof(ENUM_SERVICE_STATUSA));
    for (const std::string& name : names) {
        cbNeeded += static_cast<DWORD>(name.size() + 1);
    }
    *pcbNeeded = cbNeeded;
    *pnCount = 0;
    if (cbBuffer < cbNeeded) {
        return Fail(ERROR_MORE_DATA);
    }
    std::vector<BYTE> zeros(cbNeeded, 0);
    if (cbBuffer != cbNeeded || memcmp(pRecords, zeros.data(), cbNeeded) != 0) {
        Fake().m_bEnumBuffersExact = false;
    }
    FillDependents(names, pRecords);
    *pnCount = static_cast<DWORD>(names.size());
    return TRUE;
}

DWORD WINAPI FakeGetTickCount()
{
    return Fake().m_dwNow;
}

VOID WINAPI FakeSleep(DWORD dwMilliseconds)
{
    Fake().m_sleeps.push_back(dwMilliseconds);
    Fake().m_dwNow += dwMilliseconds;
}

} // namespace

CFakeServiceManager::CFakeServiceManager(DWORD dwStartTick) : m_dwNow(dwStartTick), m_dwStartTick(dwStartTick)
{
    s_pCurrent = this;
    Patch("advapi32.dll", "OpenSCManagerA", reinterpret_cast<void*>(FakeOpenSCManagerA));
    Patch("advapi32.dll", "OpenServiceA", reinterpret_cast<void*>(FakeOpenServiceA));
    Patch("advapi32.dll", "CloseServiceHandle", reinterpret_cast<void*>(FakeAcceptHandle));
    Patch("advapi32.dll", "QueryServiceStatusEx", reinterpret_cast<void*>(FakeQueryServiceStatusEx));
    Patch("advapi32.dll", "QueryServiceStatus", reinterpret_cast<void*>(FakeQueryServiceStatus));
    Patch("advapi32.dll", "ControlService", reinterpret_cast<void*>(FakeControlService));
    Patch("advapi32.dll", "DeleteService", reinterpret_cast<void*>(FakeAcceptHandle));
    Patch("advapi32.dll", "EnumDependentServicesA", reinterpret_cast<void*>(FakeEnumDependentServicesA));
    Patch("kernel32.dll", "GetTickCount", reinterpret_cast<void*>(FakeGetTickCount));
    Patch("kernel32.dll", "Sleep", reinterpret_cast<void*>(FakeSleep));
}

CFakeServiceManager::~CFakeServiceManager()
{
    m_patches.clear();
    s_pCurrent = nullptr;
}

void CFakeServiceManager::Patch(const char* pszDll, const char* pszFunction, void* pfnFake)
{
    m_patches.emplace_back(new CIatPatch(pszDll, pszFunction, pfnFake));
    m_bApplied = m_bApplied && m_patches.back()->IsApplied();
}

void CFakeServiceManager::Add(const FakeService& service)
{
    Played played;
    played.service = service;
    m_played.push_back(played);
}

SC_HANDLE CFakeServiceManager::ManagerHandle() const
{
    return reinterpret_cast<SC_HANDLE>(MANAGER_HANDLE);
}

SC_HANDLE CFakeServiceManager::ServiceHandle(size_t nIndex) const
{
    return reinterpret_cast<SC_HANDLE>(MANAGER_HANDLE + 1 + nIndex);
}
