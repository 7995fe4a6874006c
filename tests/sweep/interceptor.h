// Counts and fails the product's Win32 calls through this executable's
// import table (and through GetProcAddress for functions looked up at run
// time), and keeps account of the resources they acquire and release. The
// calls of the modules the device installation runs through (the K rows)
// are counted through those modules' import tables, to be killed at.
#pragma once

#include <string>
#include <vector>

#include "fault_table.h"

// Exit code of a run the sweep ends at its chosen call, as a kill would.
#define SWEEP_KILL_EXIT_CODE 0xDEAD

struct LeakedResource {
    std::string function;  // the call that acquired it
    ResourceKind kind;
};

class CInterceptor {
public:
    // Patches every intercepted row; calls pass straight through until
    // BeginCounting. nInjectRow < 0: count only. bKill: the chosen call
    // ends the process with SWEEP_KILL_EXIT_CODE instead of failing.
    CInterceptor(int nInjectRow, long nInjectCall, bool bKill = false);
    ~CInterceptor();
    CInterceptor(const CInterceptor&) = delete;
    CInterceptor& operator=(const CInterceptor&) = delete;

    // Only calls between these two are counted, failed and accounted: the
    // product's own, not the driver's.
    static void BeginCounting();
    static void EndCounting();

    long GetCallCount(int nRow) const;
    bool WasInjected() const;
    // Every counted call of the row's function on the device with this
    // instance ID fails with the row's error.
    void FailDevice(const DeviceFaultRow& row, const std::string& strInstanceId);
    // Resources acquired and not released, except those held on purpose.
    std::vector<LeakedResource> ListLeaks() const;
    // Releases of handles the program never acquired (or released twice).
    std::vector<std::string> ListUnmatchedReleases() const;
};

// Index of a row by function name, or -1.
int FindFunctionRow(const char* pszName);
