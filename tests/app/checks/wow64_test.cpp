// WOW64: IsWow64Process is looked up at run time, so a GetProcAddress
// stand-in in this executable's import table decides whether it exists
// and what it reports; CheckOsVersion, IsWow64 and a silent RunSetup run
// in-process against it.
#include <gtest/gtest.h>

#include <stdarg.h>
#include <string.h>

#include "app/checks.h"
#include "app/run_setup.h"
#include "support/iat_patch.h"
#include "support/run_patches.h"
#include "support/trace_recorder.h"
#include "trace/trace.h"

namespace {

typedef std::vector<std::string> Lines;

enum Wow64Answer { WOW64_YES, WOW64_MISSING, WOW64_FAILING };

// Error codes of the stand-in's failures, and what a trace message leaves
// behind, so the tests can tell whose last error they see.
const DWORD LOOKUP_ERROR = ERROR_PROC_NOT_FOUND;
const DWORD CALL_ERROR = ERROR_INVALID_HANDLE;
const DWORD TRACE_SIDE_EFFECT = ERROR_GEN_FAILURE;

struct Wow64Lookups {
    Wow64Answer answer;
    bool bArm64; // IsWow64Process2 reports an ARM64 machine
    FARPROC(WINAPI* pfnGetProcAddress)(HMODULE, LPCSTR);
    int nLookups;
    HMODULE hModule;
    int nCalls;
    HANDLE hProcess;
};

Wow64Lookups g_lookups;

BOOL WINAPI StandInIsWow64Process(HANDLE hProcess, PBOOL pbWow64)
{
    ++g_lookups.nCalls;
    g_lookups.hProcess = hProcess;
    if (g_lookups.answer == WOW64_FAILING) {
        SetLastError(CALL_ERROR);
        return FALSE;
    }
    *pbWow64 = TRUE;
    return TRUE;
}

// An x64 process emulated on ARM64 Windows: no WOW64 process, an ARM64
// machine.
BOOL WINAPI StandInIsWow64Process2(HANDLE, USHORT* pnProcessMachine, USHORT* pnNativeMachine)
{
    *pnProcessMachine = IMAGE_FILE_MACHINE_UNKNOWN;
    *pnNativeMachine = IMAGE_FILE_MACHINE_ARM64;
    return TRUE;
}

FARPROC WINAPI StandInGetProcAddress(HMODULE hModule, LPCSTR pszName)
{
    bool bByName = reinterpret_cast<ULONG_PTR>(pszName) > 0xFFFF;
    if (bByName && g_lookups.bArm64 && strcmp(pszName, "IsWow64Process2") == 0) {
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(StandInIsWow64Process2));
    }
    if (!bByName || strcmp(pszName, "IsWow64Process") != 0) {
        return g_lookups.pfnGetProcAddress(hModule, pszName);
    }
    ++g_lookups.nLookups;
    g_lookups.hModule = hModule;
    if (g_lookups.answer == WOW64_MISSING) {
        SetLastError(LOOKUP_ERROR);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(StandInIsWow64Process));
}

typedef ULONG(__cdecl* TraceMessageProc)(TRACEHANDLE, ULONG, LPCGUID, USHORT, ...);
TraceMessageProc g_pfnRecordMessage = nullptr;

// Passes a message on to the recorder (the events here carry at most one
// argument) and then changes the last error, as a real call may.
ULONG __cdecl TraceMessageChangingLastError(TRACEHANDLE hLogger, ULONG dwFlags, LPCGUID pGuid, USHORT nNumber, ...)
{
    va_list arguments;
    va_start(arguments, nNumber);
    const void* pData = va_arg(arguments, const void*);
    SIZE_T nSize = pData != nullptr ? va_arg(arguments, SIZE_T) : 0;
    va_end(arguments);
    ULONG nResult = pData != nullptr ? g_pfnRecordMessage(hLogger, dwFlags, pGuid, nNumber, pData, nSize, nullptr)
                                     : g_pfnRecordMessage(hLogger, dwFlags, pGuid, nNumber, nullptr);
    SetLastError(TRACE_SIDE_EFFECT);
    return nResult;
}

class Wow64Test : public ::testing::Test {
protected:
    Wow64Test()
        : m_lookups("kernel32.dll", "GetProcAddress", reinterpret_cast<void*>(StandInGetProcAddress)),
          m_messages("advapi32.dll", "TraceMessage", reinterpret_cast<void*>(TraceMessageChangingLastError))
    {
        g_lookups = Wow64Lookups();
        g_lookups.pfnGetProcAddress = reinterpret_cast<FARPROC(WINAPI*)(HMODULE, LPCSTR)>(m_lookups.Original());
        g_pfnRecordMessage = reinterpret_cast<TraceMessageProc>(m_messages.Original());
    }
    void SetUp() override
    {
        ASSERT_TRUE(m_lookups.IsApplied());
        ASSERT_TRUE(m_messages.IsApplied());
        RegisterTraceProvider();
        ASSERT_EQ(0u, m_recorder.Enable(TRACE_ERROR | TRACE_FLOW, 0, 0x77));
    }
    void TearDown() override { UnregisterTraceProvider(); }

    // Declared first: its TraceMessage slot is the one m_messages wraps.
    CTraceRecorder m_recorder;
    CIatPatch m_lookups;
    CIatPatch m_messages;
};

TEST_F(Wow64Test, Windows10UnderWow64IsClassifiedAsSuch)
{
    g_lookups.answer = WOW64_YES;
    EXPECT_EQ(1, CheckOsVersion());
    Lines expected = {"setup 79 5",  "setup 80 0", "setup 79 6", "setup 80 0",
                      "setup 79 10", "setup 80 0", "util 10",    "setup 81"};
    EXPECT_EQ(expected, DescribeEvents(m_recorder.Events()));
    EXPECT_EQ(1, g_lookups.nLookups);
    // Looked up in the kernel32 already loaded, for this process.
    EXPECT_EQ(GetModuleHandleA("kernel32.dll"), g_lookups.hModule);
    EXPECT_EQ(GetCurrentProcess(), g_lookups.hProcess);
}

// A WOW64 process, and x64 emulation on ARM64, which passes IsWow64Process
// while IsWow64Process2 tells the machine (event util 170 after each util
// 10): the WOW64 check refuses the run before anything changes.
TEST_F(Wow64Test, SilentRunUnderWow64OrEmulatedOnArm64IsRefused)
{
    struct Case {
        Wow64Answer answer;
        bool bArm64;
        int nLookupsAndCalls; // of IsWow64Process
    };
    for (const Case& test : {Case{WOW64_YES, false, 2}, Case{WOW64_MISSING, true, 0}}) {
        SCOPED_TRACE(test.bArm64 ? "ARM64" : "WOW64");
        g_lookups.answer = test.answer;
        g_lookups.bArm64 = test.bArm64;
        g_lookups.nLookups = g_lookups.nCalls = 0;
        m_recorder.ClearEvents();
        CCommandLinePatch commandLine(L"setup.exe /s");
        CMessageBoxRecorder boxes;
        CMutexCloser mutexes;
        EXPECT_EQ(-1, RunSetup());
        ASSERT_EQ(1u, boxes.m_boxes.size());
        EXPECT_EQ(nullptr, boxes.m_boxes[0].hOwner);
        EXPECT_EQ("ERROR", boxes.m_boxes[0].text);
        EXPECT_EQ("", boxes.m_boxes[0].caption);
        EXPECT_EQ(static_cast<UINT>(MB_ICONINFORMATION), boxes.m_boxes[0].nStyle);
        // The version passes (81); the fifth check refuses (21) and nothing follows.
        Lines expected = {"setup 15",   "setup 16",    "setup 17",   "setup 19", "setup 79 5", "setup 80 0",
                          "setup 79 6", "setup 80 0", "setup 79 10", "setup 80 0", "util 10",  "setup 81",
                          "util 10",    "setup 21"};
        const std::string arm64 = "util 170 " + std::to_string(IMAGE_FILE_MACHINE_ARM64);
        for (size_t i = 0; test.bArm64 && i < expected.size(); ++i) {
            if (expected[i] == "util 10") expected.insert(expected.begin() + ++i, arm64);
        }
        EXPECT_EQ(expected, DescribeEvents(m_recorder.Events()));
        EXPECT_EQ(test.nLookupsAndCalls, g_lookups.nLookups);
        EXPECT_EQ(test.nLookupsAndCalls, g_lookups.nCalls);
    }
}

TEST_F(Wow64Test, MissingFunctionMeansNoWow64AndKeepsTheLookupError)
{
    g_lookups.answer = WOW64_MISSING;
    SetLastError(0);
    int nWow64 = IsWow64();
    DWORD dwError = GetLastError();
    EXPECT_EQ(0, nWow64);
    EXPECT_EQ(LOOKUP_ERROR, dwError);
    EXPECT_EQ((Lines{"util 10", "util 12 " + std::to_string(LOOKUP_ERROR)}), DescribeEvents(m_recorder.Events()));
    EXPECT_EQ(0, g_lookups.nCalls);
}

TEST_F(Wow64Test, FailingCallMeansNoWow64AndKeepsItsError)
{
    g_lookups.answer = WOW64_FAILING;
    SetLastError(0);
    int nWow64 = IsWow64();
    DWORD dwError = GetLastError();
    EXPECT_EQ(0, nWow64);
    EXPECT_EQ(CALL_ERROR, dwError);
    EXPECT_EQ((Lines{"util 10", "util 11 " + std::to_string(CALL_ERROR)}), DescribeEvents(m_recorder.Events()));
    EXPECT_EQ(1, g_lookups.nCalls);
}

} // namespace
