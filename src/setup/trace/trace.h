// Event-tracing provider. The program registers one control GUID and writes
// binary TraceMessage events. While a run writes its text log, every event
// also goes there as a line of text (run_log.h).
#pragma once

#include <windows.h>
#include <evntrace.h>

// Enable flags a trace session can set.
#define TRACE_ERROR 0x1
#define TRACE_FLOW 0x4

// Message flags of every event: sequence, GUID, time stamp, system info.
#define TRACE_EVENT_MESSAGE_FLAGS 0x2B

// The provider's control block: one static instance, written by the control
// callback on a thread of the system's choosing.
struct TraceControlBlock {
    TraceControlBlock* m_pNext;
    TRACEHANDLE m_hRegistration;
    TRACEHANDLE m_hLogger;
    UCHAR m_nFlagWords;
    UCHAR m_nLevel;
    USHORT m_nOptions;
    ULONG m_dwEnableFlags;
    const GUID* m_pControlGuid;
};

extern const GUID g_guidTraceControl;
// Message GUIDs, one per component.
extern const GUID g_guidSetupComponent;
extern const GUID g_guidUtilComponent;
extern const GUID g_guidComdbComponent;

void RegisterTraceProvider();
void UnregisterTraceProvider();
ULONG WINAPI TraceControlCallback(WMIDPREQUESTCODE nRequestCode, PVOID pContext, ULONG* pnBufferSize,
                                  PVOID pBuffer);
// True when the trace session enabled dwFlag, and always while the run log
// is open.
bool IsTraceEnabled(DWORD dwFlag);

// One form per data shape. Callers test IsTraceEnabled first.
void TraceEvent(const GUID& guidComponent, USHORT nEvent);
void TraceEvent(const GUID& guidComponent, USHORT nEvent, DWORD dwValue);
void TraceEvent(const GUID& guidComponent, USHORT nEvent, DWORD dwFirst, DWORD dwSecond);
void TraceEvent(const GUID& guidComponent, USHORT nEvent, const void* pValue);
void TraceEvent(const GUID& guidComponent, USHORT nEvent, const char* pszValue);
void TraceEvent(const GUID& guidComponent, USHORT nEvent, const char* pszFirst, const char* pszSecond);
void TraceEvent(const GUID& guidComponent, USHORT nEvent, const char* pszFirst, const char* pszSecond,
                const void* pValue);
void TraceEvent(const GUID& guidComponent, USHORT nEvent, const char* pszFirst, DWORD dwValue,
                const char* pszSecond);

// The common TRACE_ERROR site: tests the flag, then reads the thread's last
// error and sends it.
void TraceLastError(const GUID& guidComponent, USHORT nEvent);
