// The event-tracing stand-in: import-table replacements of the six ETW
// entry points, backed by one current recorder.
#include "trace_recorder.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "trace/trace.h"

CTraceRecorder* CTraceRecorder::s_pCurrent = nullptr;

namespace {

// The buffer a real session passes to the callback; only its address matters.
BYTE g_sessionBuffer[64];

ULONG WINAPI FakeRegisterTraceGuidsA(WMIDPREQUEST pfnCallback, PVOID pContext, LPCGUID pControlGuid,
                                     ULONG nGuidCount, PTRACE_GUID_REGISTRATION pGuids, LPCSTR pszMofImagePath,
                                     LPCSTR pszMofResourceName, PTRACEHANDLE phRegistration)
{
    CTraceRecorder* pRecorder = CTraceRecorder::Current();
    RecordedRegistration registration = {};
    registration.pfnCallback = pfnCallback;
    registration.pContext = pContext;
    registration.guidControl = *pControlGuid;
    registration.nGuidCount = nGuidCount;
    registration.guidRegistered = nGuidCount > 0 ? *pGuids[0].Guid : GUID{};
    registration.bMofImagePathNull = pszMofImagePath == nullptr;
    registration.bMofResourceNameNull = pszMofResourceName == nullptr;
    pRecorder->m_registrations.push_back(registration);
    if (pRecorder->m_nRegisterResult == ERROR_SUCCESS) {
        *phRegistration = pRecorder->m_hRegistration;
    }
    return pRecorder->m_nRegisterResult;
}

ULONG WINAPI FakeUnregisterTraceGuids(TRACEHANDLE hRegistration)
{
    CTraceRecorder::Current()->m_unregistrations.push_back(hRegistration);
    return ERROR_SUCCESS;
}

TRACEHANDLE WINAPI FakeGetTraceLoggerHandle(PVOID pBuffer)
{
    return pBuffer == g_sessionBuffer ? CTraceRecorder::Current()->m_hSessionLogger : 0;
}

UCHAR WINAPI FakeGetTraceEnableLevel(TRACEHANDLE hLogger)
{
    CTraceRecorder* pRecorder = CTraceRecorder::Current();
    return hLogger == pRecorder->m_hSessionLogger ? pRecorder->m_nSessionLevel : 0;
}

ULONG WINAPI FakeGetTraceEnableFlags(TRACEHANDLE hLogger)
{
    CTraceRecorder* pRecorder = CTraceRecorder::Current();
    return hLogger == pRecorder->m_hSessionLogger ? pRecorder->m_dwSessionFlags : 0;
}

ULONG __cdecl FakeTraceMessage(TRACEHANDLE hLogger, ULONG dwFlags, LPCGUID pGuid, USHORT nNumber, ...)
{
    RecordedEvent event;
    event.hLogger = hLogger;
    event.dwMessageFlags = dwFlags;
    event.guidMessage = *pGuid;
    event.nNumber = nNumber;
    va_list arguments;
    va_start(arguments, nNumber);
    for (;;) {
        const BYTE* pData = va_arg(arguments, const BYTE*);
        if (pData == nullptr) {
            break;
        }
        SIZE_T nSize = va_arg(arguments, SIZE_T);
        event.arguments.emplace_back(pData, pData + nSize);
    }
    va_end(arguments);
    CTraceRecorder::Current()->m_events.push_back(event);
    return ERROR_SUCCESS;
}

struct Replacement {
    const char* pszFunction;
    void* pfn;
};

} // namespace

CTraceRecorder::CTraceRecorder()
    : m_hSessionLogger(0),
      m_nSessionLevel(0),
      m_dwSessionFlags(0),
      m_nRegisterResult(ERROR_SUCCESS),
      m_hRegistration(0x5E7A11),
      m_nLastBufferSize(0xdeadbeef)
{
    s_pCurrent = this;
    const Replacement replacements[] = {
        {"RegisterTraceGuidsA", reinterpret_cast<void*>(FakeRegisterTraceGuidsA)},
        {"UnregisterTraceGuids", reinterpret_cast<void*>(FakeUnregisterTraceGuids)},
        {"GetTraceLoggerHandle", reinterpret_cast<void*>(FakeGetTraceLoggerHandle)},
        {"GetTraceEnableLevel", reinterpret_cast<void*>(FakeGetTraceEnableLevel)},
        {"GetTraceEnableFlags", reinterpret_cast<void*>(FakeGetTraceEnableFlags)},
        {"TraceMessage", reinterpret_cast<void*>(FakeTraceMessage)},
    };
    for (const Replacement& replacement : replacements) {
        m_patches.push_back(std::make_unique<CIatPatch>("advapi32.dll", replacement.pszFunction, replacement.pfn));
    }
}

CTraceRecorder::~CTraceRecorder()
{
    m_patches.clear();
    s_pCurrent = nullptr;
}

void CTraceRecorder::SetRegisterResult(ULONG nResult, TRACEHANDLE hRegistration)
{
    m_nRegisterResult = nResult;
    m_hRegistration = hRegistration;
}

ULONG CTraceRecorder::SendRequest(WMIDPREQUESTCODE nCode)
{
    if (m_registrations.empty()) {
        return ERROR_INVALID_FUNCTION;
    }
    const RecordedRegistration& registration = m_registrations.back();
    ULONG nBufferSize = sizeof(g_sessionBuffer);
    ULONG nResult = registration.pfnCallback(nCode, registration.pContext, &nBufferSize, g_sessionBuffer);
    m_nLastBufferSize = nBufferSize;
    return nResult;
}

ULONG CTraceRecorder::Enable(ULONG dwFlags, UCHAR nLevel, TRACEHANDLE hLogger)
{
    m_dwSessionFlags = dwFlags;
    m_nSessionLevel = nLevel;
    m_hSessionLogger = hLogger;
    return SendRequest(WMI_ENABLE_EVENTS);
}

ULONG CTraceRecorder::Disable()
{
    return SendRequest(WMI_DISABLE_EVENTS);
}

std::vector<std::string> CTraceRecorder::EventNames() const
{
    std::vector<std::string> names;
    for (const RecordedEvent& event : m_events) {
        names.push_back(std::string(ComponentName(event.guidMessage)) + " " + std::to_string(event.nNumber));
    }
    return names;
}

bool CTraceRecorder::WriteRecording(const char* pszPath) const
{
    FILE* pFile = fopen(pszPath, "w");
    if (pFile == nullptr) {
        return false;
    }
    for (const RecordedEvent& event : m_events) {
        const GUID& g = event.guidMessage;
        fprintf(pFile, "%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x %u 0x%lx", g.Data1, g.Data2, g.Data3,
                g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7],
                event.nNumber, event.dwMessageFlags);
        for (const std::vector<BYTE>& argument : event.arguments) {
            fputc(' ', pFile);
            if (argument.empty()) {
                fputc('-', pFile);
            }
            for (BYTE b : argument) {
                fprintf(pFile, "%02x", b);
            }
        }
        fputc('\n', pFile);
    }
    return fclose(pFile) == 0;
}

std::vector<std::string> DescribeEvents(const std::vector<RecordedEvent>& events)
{
    std::vector<std::string> lines;
    for (const RecordedEvent& event : events) {
        std::string line = std::string(ComponentName(event.guidMessage)) + " " + std::to_string(event.nNumber);
        for (const std::vector<BYTE>& argument : event.arguments) {
            DWORD dwValue = 0;
            if (argument.size() == sizeof(dwValue)) {
                memcpy(&dwValue, argument.data(), sizeof(dwValue));
                line += " " + std::to_string(dwValue);
            } else {
                line += " ?";
            }
        }
        lines.push_back(line);
    }
    return lines;
}

const char* ComponentName(const GUID& guid)
{
    if (IsEqualGUID(guid, g_guidSetupComponent)) {
        return "setup";
    }
    if (IsEqualGUID(guid, g_guidUtilComponent)) {
        return "util";
    }
    if (IsEqualGUID(guid, g_guidComdbComponent)) {
        return "comdb";
    }
    return "?";
}

std::vector<BYTE> DwordBytes(DWORD dwValue)
{
    const BYTE* p = reinterpret_cast<const BYTE*>(&dwValue);
    return std::vector<BYTE>(p, p + sizeof(dwValue));
}

std::vector<BYTE> PointerBytes(const void* pValue)
{
    const BYTE* p = reinterpret_cast<const BYTE*>(&pValue);
    return std::vector<BYTE>(p, p + sizeof(pValue));
}

std::vector<BYTE> StringBytes(const char* pszValue)
{
    return std::vector<BYTE>(pszValue, pszValue + strlen(pszValue) + 1);
}
