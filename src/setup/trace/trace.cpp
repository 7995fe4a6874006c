// Event-tracing provider: registration, the control callback and the
// TraceMessage forms for each data shape.
#include "trace.h"

#include <string.h>

#include "run_log.h"

// {a56ab41b-574f-49f6-99f2-13d222dd9ae4}
const GUID g_guidTraceControl = {0xa56ab41b, 0x574f, 0x49f6, {0x99, 0xf2, 0x13, 0xd2, 0x22, 0xdd, 0x9a, 0xe4}};
// {5d5107e2-3f21-41ca-bcb0-94a7967efc8f}
const GUID g_guidSetupComponent = {0x5d5107e2, 0x3f21, 0x41ca, {0xbc, 0xb0, 0x94, 0xa7, 0x96, 0x7e, 0xfc, 0x8f}};
// {0e3dbc0c-99ca-411d-aef9-92ff8dafb87f}
const GUID g_guidUtilComponent = {0x0e3dbc0c, 0x99ca, 0x411d, {0xae, 0xf9, 0x92, 0xff, 0x8d, 0xaf, 0xb8, 0x7f}};
// {3344ab20-ee3e-49ce-b9f4-941b5e8fee52}
const GUID g_guidComdbComponent = {0x3344ab20, 0xee3e, 0x49ce, {0xb9, 0xf4, 0x94, 0x1b, 0x5e, 0x8f, 0xee, 0x52}};

namespace {

TraceControlBlock g_TraceControlBlock;

// Points at the control block while registered; otherwise at itself, which
// is the "not registered" sentinel and also its initial value.
TraceControlBlock* g_pTraceProvider = reinterpret_cast<TraceControlBlock*>(&g_pTraceProvider);

bool IsProviderRegistered()
{
    return g_pTraceProvider != reinterpret_cast<TraceControlBlock*>(&g_pTraceProvider);
}

const char g_szNullString[] = "NULL";

// TraceMessage reads (address, size_t length) pairs until a null address.
#define END_OF_ARGUMENTS static_cast<const void*>(nullptr), static_cast<SIZE_T>(0)

// A string argument: its bytes with the NUL, or "NULL" for a null pointer.
EventArgument StringArgument(const char* pszValue)
{
    const char* pszSent = pszValue != nullptr ? pszValue : g_szNullString;
    EventArgument argument = {pszSent, strlen(pszSent) + 1};
    return argument;
}

// Tracing never disturbs the thread's last error, which callers often still
// need after the event (to trace it or to show it).
class CLastErrorKeeper {
public:
    CLastErrorKeeper() : m_dwError(GetLastError()) {}
    ~CLastErrorKeeper() { SetLastError(m_dwError); }
    CLastErrorKeeper(const CLastErrorKeeper&) = delete;
    CLastErrorKeeper& operator=(const CLastErrorKeeper&) = delete;

private:
    DWORD m_dwError;
};

// The sentinel is no block: an event sent while not registered goes to no
// logger (handle 0) and is dropped by the system.
TRACEHANDLE CurrentLogger()
{
    return IsProviderRegistered() ? g_pTraceProvider->m_hLogger : 0;
}

// While a run writes its log, every event goes there, and IsTraceEnabled
// answers yes for the log's sake: the trace session then gets the event
// only when it enabled the event's own flag. Returns whether it does.
bool LogEvent(const GUID& guidComponent, USHORT nEvent, const EventArgument* pArguments, int nArguments)
{
    if (!IsRunLogOpen()) {
        return true; // the caller asked the session's flags
    }
    const unsigned char* pRecord = FindEventRecord(guidComponent, nEvent);
    if (pRecord == nullptr) {
        return true;
    }
    WriteEventToRunLog(pRecord, pArguments, nArguments);
    return IsProviderRegistered() && (g_pTraceProvider->m_dwEnableFlags & GetEventFlag(pRecord)) != 0;
}

// Every form of TraceEvent ends here: the log, then the trace session, to
// which the arguments go as (address, length) pairs.
void SendEvent(const GUID& guidComponent, USHORT nEvent, const EventArgument* pArguments, int nArguments)
{
    CLastErrorKeeper keeper;
    if (!LogEvent(guidComponent, nEvent, pArguments, nArguments)) {
        return;
    }
    const EventArgument* p = pArguments;
    TRACEHANDLE hLogger = CurrentLogger();
    switch (nArguments) {
    case 0:
        TraceMessage(hLogger, TRACE_EVENT_MESSAGE_FLAGS, &guidComponent, nEvent, END_OF_ARGUMENTS);
        break;
    case 1:
        TraceMessage(hLogger, TRACE_EVENT_MESSAGE_FLAGS, &guidComponent, nEvent, p[0].m_pData, p[0].m_cbData,
                     END_OF_ARGUMENTS);
        break;
    case 2:
        TraceMessage(hLogger, TRACE_EVENT_MESSAGE_FLAGS, &guidComponent, nEvent, p[0].m_pData, p[0].m_cbData,
                     p[1].m_pData, p[1].m_cbData, END_OF_ARGUMENTS);
        break;
    default:
        TraceMessage(hLogger, TRACE_EVENT_MESSAGE_FLAGS, &guidComponent, nEvent, p[0].m_pData, p[0].m_cbData,
                     p[1].m_pData, p[1].m_cbData, p[2].m_pData, p[2].m_cbData, END_OF_ARGUMENTS);
        break;
    }
}

} // namespace

void RegisterTraceProvider()
{
    TraceControlBlock* pBlock = &g_TraceControlBlock;
    pBlock->m_pNext = nullptr;
    pBlock->m_hLogger = 0;
    pBlock->m_nFlagWords = 1;
    pBlock->m_nLevel = 0;
    pBlock->m_nOptions = 0;
    pBlock->m_dwEnableFlags = 0;
    g_pTraceProvider = pBlock;

    pBlock->m_pControlGuid = &g_guidTraceControl;
    TRACE_GUID_REGISTRATION registration = {&g_guidTraceControl, nullptr};
    RegisterTraceGuidsA(TraceControlCallback, pBlock, &g_guidTraceControl, 1, &registration, nullptr,
                        nullptr, &pBlock->m_hRegistration);
}

void UnregisterTraceProvider()
{
    if (!IsProviderRegistered()) {
        return;
    }
    for (TraceControlBlock* pBlock = g_pTraceProvider; pBlock != nullptr; pBlock = pBlock->m_pNext) {
        if (pBlock->m_hRegistration != 0) {
            UnregisterTraceGuids(pBlock->m_hRegistration);
            pBlock->m_hRegistration = 0;
        }
    }
    g_pTraceProvider = reinterpret_cast<TraceControlBlock*>(&g_pTraceProvider);
}

ULONG WINAPI TraceControlCallback(WMIDPREQUESTCODE nRequestCode, PVOID pContext, ULONG* pnBufferSize,
                                  PVOID pBuffer)
{
    TraceControlBlock* pBlock = static_cast<TraceControlBlock*>(pContext);
    *pnBufferSize = 0;

    TRACEHANDLE hLogger = 0;
    UCHAR nLevel = 0;
    ULONG dwFlags = 0;
    if (nRequestCode == WMI_ENABLE_EVENTS) {
        hLogger = GetTraceLoggerHandle(pBuffer);
        nLevel = GetTraceEnableLevel(hLogger);
        dwFlags = GetTraceEnableFlags(hLogger);
    } else if (nRequestCode != WMI_DISABLE_EVENTS) {
        return ERROR_INVALID_PARAMETER;
    }

    // Level, then flags, then logger: a trace site reads the flags first.
    pBlock->m_nLevel = nLevel;
    pBlock->m_dwEnableFlags = dwFlags;
    pBlock->m_hLogger = hLogger;
    return ERROR_SUCCESS;
}

bool IsTraceEnabled(DWORD dwFlag)
{
    return IsRunLogOpen() || (IsProviderRegistered() && (g_pTraceProvider->m_dwEnableFlags & dwFlag) != 0);
}

void TraceEvent(const GUID& guidComponent, USHORT nEvent)
{
    SendEvent(guidComponent, nEvent, nullptr, 0);
}

void TraceEvent(const GUID& guidComponent, USHORT nEvent, DWORD dwValue)
{
    const EventArgument aArguments[] = {{&dwValue, sizeof(dwValue)}};
    SendEvent(guidComponent, nEvent, aArguments, 1);
}

void TraceEvent(const GUID& guidComponent, USHORT nEvent, DWORD dwFirst, DWORD dwSecond)
{
    const EventArgument aArguments[] = {{&dwFirst, sizeof(dwFirst)}, {&dwSecond, sizeof(dwSecond)}};
    SendEvent(guidComponent, nEvent, aArguments, 2);
}

void TraceEvent(const GUID& guidComponent, USHORT nEvent, const void* pValue)
{
    const EventArgument aArguments[] = {{&pValue, sizeof(pValue)}};
    SendEvent(guidComponent, nEvent, aArguments, 1);
}

void TraceEvent(const GUID& guidComponent, USHORT nEvent, const char* pszValue)
{
    const EventArgument aArguments[] = {StringArgument(pszValue)};
    SendEvent(guidComponent, nEvent, aArguments, 1);
}

void TraceEvent(const GUID& guidComponent, USHORT nEvent, const char* pszFirst, const char* pszSecond)
{
    const EventArgument aArguments[] = {StringArgument(pszFirst), StringArgument(pszSecond)};
    SendEvent(guidComponent, nEvent, aArguments, 2);
}

void TraceEvent(const GUID& guidComponent, USHORT nEvent, const char* pszFirst, const char* pszSecond,
                const void* pValue)
{
    const EventArgument aArguments[] = {StringArgument(pszFirst), StringArgument(pszSecond),
                                        {&pValue, sizeof(pValue)}};
    SendEvent(guidComponent, nEvent, aArguments, 3);
}

void TraceEvent(const GUID& guidComponent, USHORT nEvent, const char* pszFirst, DWORD dwValue,
                const char* pszSecond)
{
    const EventArgument aArguments[] = {StringArgument(pszFirst), {&dwValue, sizeof(dwValue)},
                                        StringArgument(pszSecond)};
    SendEvent(guidComponent, nEvent, aArguments, 3);
}

void TraceLastError(const GUID& guidComponent, USHORT nEvent)
{
    if (!IsTraceEnabled(TRACE_ERROR)) {
        return;
    }
    TraceEvent(guidComponent, nEvent, GetLastError());
}
