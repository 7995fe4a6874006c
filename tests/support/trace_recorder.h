// Stands in for the event-tracing API of advapi32 while it lives: records
// the provider's registration and every TraceMessage call, and plays the
// part of a trace session that enables or disables the provider.
#pragma once

#include <windows.h>
#include <evntrace.h>

#include <memory>
#include <string>
#include <vector>

#include "iat_patch.h"

struct RecordedEvent {
    TRACEHANDLE hLogger;
    ULONG dwMessageFlags;
    GUID guidMessage;
    USHORT nNumber;
    std::vector<std::vector<BYTE>> arguments;
};

struct RecordedRegistration {
    WMIDPREQUEST pfnCallback;
    PVOID pContext;
    GUID guidControl;
    ULONG nGuidCount;
    GUID guidRegistered;
    bool bMofImagePathNull;
    bool bMofResourceNameNull;
};

class CTraceRecorder {
public:
    CTraceRecorder();
    ~CTraceRecorder();
    CTraceRecorder(const CTraceRecorder&) = delete;
    CTraceRecorder& operator=(const CTraceRecorder&) = delete;

    // What the next RegisterTraceGuidsA call returns, and the handle it stores.
    void SetRegisterResult(ULONG nResult, TRACEHANDLE hRegistration);

    // Calls the registered control callback as a trace session would.
    ULONG Enable(ULONG dwFlags, UCHAR nLevel, TRACEHANDLE hLogger);
    ULONG Disable();
    ULONG SendRequest(WMIDPREQUESTCODE nCode);

    const std::vector<RecordedEvent>& Events() const { return m_events; }
    void ClearEvents() { m_events.clear(); }
    const std::vector<RecordedRegistration>& Registrations() const { return m_registrations; }
    const std::vector<TRACEHANDLE>& Unregistrations() const { return m_unregistrations; }
    ULONG LastCallbackBufferSize() const { return m_nLastBufferSize; }

    // "component number" for each event, e.g. "setup 15", for compact checks.
    std::vector<std::string> EventNames() const;
    // Writes the events in the text format the trace decoder reads.
    bool WriteRecording(const char* pszPath) const;

    static CTraceRecorder* Current() { return s_pCurrent; }

    // State of the fake trace session, read by the stand-in functions.
    TRACEHANDLE m_hSessionLogger;
    UCHAR m_nSessionLevel;
    ULONG m_dwSessionFlags;
    ULONG m_nRegisterResult;
    TRACEHANDLE m_hRegistration;
    std::vector<RecordedEvent> m_events;
    std::vector<RecordedRegistration> m_registrations;
    std::vector<TRACEHANDLE> m_unregistrations;
    ULONG m_nLastBufferSize;

private:
    static CTraceRecorder* s_pCurrent;
    std::vector<std::unique_ptr<CIatPatch>> m_patches;
};

// Each event as "component number" followed by its 32-bit arguments in
// decimal ("setup 79 5"; "?" for an argument of another size).
std::vector<std::string> DescribeEvents(const std::vector<RecordedEvent>& events);

// Short name of a component message GUID: "setup", "util", "comdb" or "?".
const char* ComponentName(const GUID& guid);

// Argument helpers for expectations.
std::vector<BYTE> DwordBytes(DWORD dwValue);
std::vector<BYTE> PointerBytes(const void* pValue);
std::vector<BYTE> StringBytes(const char* pszValue);
