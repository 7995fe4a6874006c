// Windows version tests and the classification of the running version.
#include "checks.h"

#include "../trace/trace.h"

int VerifyOsVersion(const DWORD* pnVersion, BYTE nCondition)
{
    OSVERSIONINFOEXA versionInfo = {};
    versionInfo.dwOSVersionInfoSize = sizeof(versionInfo);
    versionInfo.dwMajorVersion = pnVersion[0];
    versionInfo.dwMinorVersion = pnVersion[1];
    versionInfo.wProductType = static_cast<BYTE>(pnVersion[2]);
    versionInfo.wSuiteMask = static_cast<WORD>(pnVersion[3]);
    versionInfo.dwBuildNumber = pnVersion[4];
    DWORD dwTypes = VER_MAJORVERSION | VER_MINORVERSION;
    DWORDLONG nConditionMask = VerSetConditionMask(0, VER_MAJORVERSION, nCondition);
    nConditionMask = VerSetConditionMask(nConditionMask, VER_MINORVERSION, nCondition);
    // The other fields are tested only when given.
    if (pnVersion[4] != 0) {
        dwTypes |= VER_BUILDNUMBER;
        nConditionMask = VerSetConditionMask(nConditionMask, VER_BUILDNUMBER, nCondition);
    }
    if (pnVersion[2] != 0) {
        dwTypes |= VER_PRODUCT_TYPE;
        nConditionMask = VerSetConditionMask(nConditionMask, VER_PRODUCT_TYPE, VER_EQUAL);
    }
    if (pnVersion[3] != 0) {
        dwTypes |= VER_SUITENAME;
        nConditionMask = VerSetConditionMask(nConditionMask, VER_SUITENAME, VER_AND);
    }
    return VerifyVersionInfoA(&versionInfo, dwTypes, nConditionMask) ? 1 : 0;
}

static int VerifyOsVersion(int nMajor, int nMinor, BYTE nCondition)
{
    const DWORD anVersion[5] = {static_cast<DWORD>(nMajor), static_cast<DWORD>(nMinor), 0, 0, 0};
    return VerifyOsVersion(anVersion, nCondition);
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
