// Windows version tests and the classification of the running version.
#include "checks.h"

#include "../trace/trace.h"

static int VerifyOsVersion(int nMajor, int nMinor, BYTE nCondition)
{
    OSVERSIONINFOEXA versionInfo = {};
    versionInfo.dwOSVersionInfoSize = sizeof(versionInfo);
    versionInfo.dwMajorVersion = static_cast<DWORD>(nMajor);
    versionInfo.dwMinorVersion = static_cast<DWORD>(nMinor);
    DWORDLONG nConditionMask = 0;
    nConditionMask = VerSetConditionMask(nConditionMask, VER_MAJORVERSION, nCondition);
    nConditionMask = VerSetConditionMask(nConditionMask, VER_MINORVERSION, nCondition);
    return VerifyVersionInfoA(&versionInfo, VER_MAJORVERSION | VER_MINORVERSION, nConditionMask) ? 1 : 0;
}

int IsOsVersionEqual(int nMajor, int nMinor)
{
    if (IsTraceEnabled(TRACE_FLOW)) {
        TraceEvent(g_guidSetupComponent, 77, static_cast<DWORD>(nMajor));
    }
    if (IsTraceEnabled(TRACE_FLOW)) {
        TraceEvent(g_guidSetupComponent, 78, static_cast<DWORD>(nMinor));
    }
    return VerifyOsVersion(nMajor, nMinor, VER_EQUAL);
}

int IsOsVersionAtLeast(int nMajor, int nMinor)
{
    if (IsTraceEnabled(TRACE_FLOW)) {
        TraceEvent(g_guidSetupComponent, 79, static_cast<DWORD>(nMajor));
    }
    if (IsTraceEnabled(TRACE_FLOW)) {
        TraceEvent(g_guidSetupComponent, 80, static_cast<DWORD>(nMinor));
    }
    return VerifyOsVersion(nMajor, nMinor, VER_GREATER_EQUAL);
}

int CheckOsVersion()
{
    if (!IsOsVersionAtLeast(5, 0)) {
        if (IsTraceEnabled(TRACE_FLOW)) TraceEvent(g_guidSetupComponent, 90);
        return 0;
    }
    if (IsOsVersionAtLeast(6, 0)) {
        if (IsOsVersionAtLeast(10, 0)) {
            if (IsWow64()) {
                if (IsTraceEnabled(TRACE_FLOW)) TraceEvent(g_guidSetupComponent, 81);
            } else {
                if (IsTraceEnabled(TRACE_FLOW)) TraceEvent(g_guidSetupComponent, 82);
            }
        } else if (IsWow64()) {
            if (IsTraceEnabled(TRACE_FLOW)) TraceEvent(g_guidSetupComponent, 83);
        } else {
            if (IsTraceEnabled(TRACE_FLOW)) TraceEvent(g_guidSetupComponent, 84);
        }
        return 1;
    }
    if (IsOsVersionEqual(5, 0)) {
        if (IsTraceEnabled(TRACE_FLOW)) TraceEvent(g_guidSetupComponent, 85);
        return 1;
    }
    if (IsOsVersionEqual(5, 1)) {
        if (IsTraceEnabled(TRACE_FLOW)) TraceEvent(g_guidSetupComponent, 86);
        return 1;
    }
    if (IsOsVersionEqual(5, 2)) {
        if (IsWow64()) {
            if (IsTraceEnabled(TRACE_FLOW)) TraceEvent(g_guidSetupComponent, 87);
        } else {
            if (IsTraceEnabled(TRACE_FLOW)) TraceEvent(g_guidSetupComponent, 88);
        }
        return 1;
    }
    // Any other 5.x is refused.
    if (IsTraceEnabled(TRACE_FLOW)) TraceEvent(g_guidSetupComponent, 89);
    return 0;
}
