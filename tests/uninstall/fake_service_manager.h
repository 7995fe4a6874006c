// A stand-in service control manager and clock, patched into the test
// executable's import table: it plays services in situations Wine cannot
// produce (active dependents, budgets running out, calls failing), with a
// fake tick count that only Sleep moves forward.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "support/iat_patch.h"

// One service as the stand-in plays it. Times are milliseconds on the fake
// clock after the stand-in was created; INFINITE means never.
struct FakeService {
    std::string name;
    DWORD dwState = SERVICE_RUNNING;     // reported until dwChangeAt
    DWORD dwWaitHint = 0;
    DWORD dwStopTakes = 0;               // a stop request: STOP_PENDING this long, then stopped
    DWORD dwChangeAt = INFINITE;
    DWORD dwNextState = SERVICE_RUNNING;
    DWORD dwOpenError = 0;               // OpenServiceA fails with it
    DWORD dwControlError = 0;            // ControlService fails with it
    DWORD dwQueryFailsAt = 0;            // this status query (1-based) and later ones fail
    std::vector<std::string> dependents; // its active dependents, in order
};

// Error code of a status query the stand-in fails.
const DWORD FAKE_QUERY_ERROR = ERROR_INVALID_HANDLE;

class CFakeServiceManager {
public:
    explicit CFakeServiceManager(DWORD dwStartTick);
    ~CFakeServiceManager();
    CFakeServiceManager(const CFakeServiceManager&) = delete;
    CFakeServiceManager& operator=(const CFakeServiceManager&) = delete;

    bool IsApplied() const { return m_bApplied; }
    void Add(const FakeService& service);
    SC_HANDLE ManagerHandle() const;
    // The handle OpenServiceA would give for the service at nIndex.
    SC_HANDLE ServiceHandle(size_t nIndex) const;

    static CFakeServiceManager* s_pCurrent;

    DWORD m_dwManagerError = 0;   // OpenSCManagerA fails with it
    DWORD m_dwEnumError = 0;      // EnumDependentServicesA fails with it
    DWORD m_dwNow;
    DWORD m_dwStartTick;
    std::vector<DWORD> m_sleeps;
    std::vector<std::string> m_stopRequests;
    // Whether every second enumeration had a zero-filled buffer of exactly
    // the size the first one reported.
    bool m_bEnumBuffersExact = true;

    struct Played {
        FakeService service;
        DWORD dwStopAt = INFINITE;
        DWORD nQueries = 0;
    };
    std::vector<Played> m_played;

private:
    void Patch(const char* pszDll, const char* pszFunction, void* pfnFake);

    bool m_bApplied = true;
    std::vector<std::unique_ptr<CIatPatch>> m_patches;
};
