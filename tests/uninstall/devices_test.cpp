// Device operations by service on real root devices of the prefix: which
// devices are removed, when a port counts as open, which Serial Print keys
// go, and the results, last-error values and events of each operation.
#include <gtest/gtest.h>

#include <windows.h>
#include <setupapi.h>

#include <algorithm>
#include <memory>

#include "support/iat_patch.h"
#include "support/test_devices.h"
#include "support/trace_recorder.h"
#include "trace/trace.h"
#include "uninstall/devices.h"

namespace {

typedef std::vector<std::string> Names;
typedef int (*Operation)(const char*);

const char SERIAL_PRINT[] = "System\\CurrentControlSet\\Control\\Serial Print\\";

// The removal as an operation of the walk table; the restart it may ask for
// is kept here.
int g_bRebootRequired = 0;
int RemoveDevices(const char* pszName)
{
    return RemoveDevicesByService(pszName, &g_bRebootRequired);
}

bool HasKey(const std::string& path)
{
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(hKey);
    return true;
}

bool MakeKey(const std::string& path)
{
    HKEY hKey = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &hKey, nullptr) !=
        ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(hKey);
    return true;
}

class DevicesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegisterTraceProvider();
        ASSERT_EQ(0u, m_recorder.Enable(TRACE_ERROR | TRACE_FLOW, 0, 0x77));
    }
    void TearDown() override { UnregisterTraceProvider(); }

    // Runs the operation with the last error preset, as Wine's own tests do.
    int Run(Operation pfnOperation, const char* pszName)
    {
        m_recorder.ClearEvents();
        SetLastError(0xdeadbeef);
        int nResult = pfnOperation(pszName);
        m_dwLastError = GetLastError();
        m_events = DescribeEvents(m_recorder.Events());
        return nResult;
    }
    bool HasEvent(const char* pszEvent) const
    {
        return std::find(m_events.begin(), m_events.end(), pszEvent) != m_events.end();
    }

    CTraceRecorder m_recorder;
    DWORD m_dwLastError = 0;
    Names m_events;
};

TEST_F(DevicesTest, RemovesTheDevicesOfTheServiceInAnyCaseAndLeavesOthers)
{
    CTestDevice lower("qzdevrm"), mixed("QzDevRm"), longer("qzdevrmx"), other("serial"), none(nullptr);
    ASSERT_TRUE(lower.IsCreated() && mixed.IsCreated() && longer.IsCreated() && other.IsCreated() &&
                none.IsCreated());

    EXPECT_NE(0, Run(RemoveDevices, "QZDEVRM"));
    // The most recent failing call: a size query (122, or 13 without a service).
    EXPECT_TRUE(m_dwLastError == ERROR_INSUFFICIENT_BUFFER || m_dwLastError == ERROR_INVALID_DATA)
        << m_dwLastError;
    EXPECT_FALSE(lower.IsPresent());
    EXPECT_FALSE(mixed.IsPresent());
    EXPECT_TRUE(longer.IsPresent());
    EXPECT_TRUE(other.IsPresent());
    EXPECT_TRUE(none.IsPresent());
    EXPECT_EQ(2, std::count(m_events.begin(), m_events.end(), "util 63"));
    EXPECT_EQ("util 57", m_recorder.EventNames().front());
}

// Windows keeps a removed device's install parameters, where a device that
// cannot be stopped at once asks for a restart; Wine forgets the device.
BOOL WINAPI ReportRestartNeeded(HDEVINFO, PSP_DEVINFO_DATA, PSP_DEVINSTALL_PARAMS_A pParams)
{
    pParams->Flags = DI_NEEDRESTART;
    return TRUE;
}

TEST_F(DevicesTest, RemovalThatNeedsARestartSaysSo)
{
    g_bRebootRequired = 0;
    CTestDevice second("qzrestart");
    ASSERT_TRUE(second.IsCreated());
    CIatPatch params("setupapi.dll", "SetupDiGetDeviceInstallParamsA", reinterpret_cast<void*>(ReportRestartNeeded));
    ASSERT_TRUE(params.IsApplied());
    Run(RemoveDevices, "QZRESTART");
    EXPECT_EQ(1, g_bRebootRequired);
    EXPECT_FALSE(second.IsPresent());
}

// Stand-ins for the device list: none at all, or one with no members.
HDEVINFO WINAPI FailDeviceList(const GUID*, PCSTR, HWND, DWORD)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
}

BOOL WINAPI EnumerateNoDevice(HDEVINFO, DWORD, PSP_DEVINFO_DATA)
{
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
}

// Faults injected into one step of every device's turn.
BOOL WINAPI FailServiceSizeQuery(HDEVINFO, PSP_DEVINFO_DATA, DWORD, PDWORD, PBYTE, DWORD, PDWORD)
{
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
}

// The patched function's original, for stand-ins that pass calls on.
void* g_pfnOriginal = nullptr;

BOOL WINAPI FailServiceRead(HDEVINFO hList, PSP_DEVINFO_DATA pDevice, DWORD dwProperty, PDWORD pdwType,
                            PBYTE pBuffer, DWORD dwSize, PDWORD pdwRequired)
{
    if (pBuffer != nullptr) {
        SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    }
    return reinterpret_cast<decltype(&SetupDiGetDeviceRegistryPropertyA)>(g_pfnOriginal)(
        hList, pDevice, dwProperty, pdwType, pBuffer, dwSize, pdwRequired);
}

// Fails LocalAlloc for blocks of g_nFailedSize bytes only.
SIZE_T g_nFailedSize = 0;
HLOCAL WINAPI FailLocalAllocOfSize(UINT uFlags, SIZE_T nBytes)
{
    if (nBytes == g_nFailedSize) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return reinterpret_cast<decltype(&LocalAlloc)>(g_pfnOriginal)(uFlags, nBytes);
}

HKEY WINAPI FailOpenKey(HDEVINFO, PSP_DEVINFO_DATA, DWORD, DWORD, DWORD, REGSAM)
{
    SetLastError(ERROR_FILE_NOT_FOUND);
    return static_cast<HKEY>(INVALID_HANDLE_VALUE);
}

BOOL WINAPI FailRemoval(DI_FUNCTION, HDEVINFO, PSP_DEVINFO_DATA)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

// One fault and what each operation (removal, port check, Serial Print
// clean-up) then reports: its last error and its events after the entry
// event; null where the fault does not concern the operation.
struct WalkCase {
    const char* pszLabel;
    const char* pszFunction; // LocalAlloc is kernel32's, the others setupapi's
    void* pfnReplacement;
    SIZE_T nFailedSize;
    DWORD adwLastError[3];
    const char* apszEvents[3];
};

#define PROPERTY "SetupDiGetDeviceRegistryPropertyA"
#define FAULT(f) reinterpret_cast<void*>(f)

// "QZWALK" is the service of the one test device, the first device with a
// service in the walk. Blocks are one byte longer than the value: 8 bytes
// for its service "qzwalk", 7 for its port "COM77".
const WalkCase WALK_CASES[] = {
    {"null name", nullptr, nullptr, 0, {87, 87, 87}, {"util 58 87", "setup 59 87", "setup 70 87"}},
    {"no list", "SetupDiGetClassDevsA", FAULT(FailDeviceList), 0, {5, 5, 5},
     {"util 59 5", "setup 60 5", "setup 71 5"}},
    {"empty list", "SetupDiEnumDeviceInfo", FAULT(EnumerateNoDevice), 0, {0, 0, ERROR_NO_MORE_ITEMS}, {"", "", ""}},
    {"size query", PROPERTY, FAULT(FailServiceSizeQuery), 0, {31, 31, 31},
     {"util 60 31", "setup 61 31", "setup 72 31"}},
    {"service read", PROPERTY, FAULT(FailServiceRead), 0, {31, 31, 31},
     {"util 62 31", "setup 63 31", "setup 74 31"}},
    {"service block", "LocalAlloc", FAULT(FailLocalAllocOfSize), 8, {8, 8, 8},
     {"util 61 8", "setup 62 8", "setup 73 8"}},
    {"port name block", "LocalAlloc", FAULT(FailLocalAllocOfSize), 7, {0, 8, 8},
     {nullptr, "setup 64, setup 110 8", "setup 75, setup 111 8"}},
    {"hardware key", "SetupDiOpenDevRegKey", FAULT(FailOpenKey), 0, {0, 2, 2},
     {nullptr, "setup 64, setup 65 2", "setup 75, setup 76 2"}},
    {"removal", "SetupDiCallClassInstaller", FAULT(FailRemoval), 0, {5, 0, 0},
     {"util 63, util 65 5", nullptr, nullptr}},
};

const Operation OPERATIONS[] = {RemoveDevices, CheckPortsClosed, DeleteSerialPrintKeys};
const char* const ENTRY_EVENTS[] = {"util 57 ?", "setup 58 ?", "setup 69 ?"};

std::string Join(const Names& names)
{
    std::string text;
    for (const std::string& name : names) {
        text += (text.empty() ? "" : ", ") + name;
    }
    return text;
}

TEST_F(DevicesTest, EachOperationReportsTheEndsOfTheWalk)
{
    CTestDevice device("qzwalk", "COM77");
    ASSERT_TRUE(device.IsCreated());
    for (const WalkCase& test : WALK_CASES) {
        g_nFailedSize = test.nFailedSize;
        std::unique_ptr<CIatPatch> patch;
        if (test.pszFunction != nullptr) {
            const char* pszDll = test.nFailedSize != 0 ? "kernel32.dll" : "setupapi.dll";
            patch.reset(new CIatPatch(pszDll, test.pszFunction, test.pfnReplacement));
            ASSERT_TRUE(patch->IsApplied());
            g_pfnOriginal = patch->Original();
        }
        for (int nOperation = 0; nOperation < 3; ++nOperation) {
            if (test.apszEvents[nOperation] == nullptr) {
                continue;
            }
            SCOPED_TRACE(std::string(test.pszLabel) + ", " + ENTRY_EVENTS[nOperation]);
            int nResult = Run(OPERATIONS[nOperation], test.pszFunction != nullptr ? "QZWALK" : nullptr);
            // Only an open port makes the port check answer 0.
            EXPECT_EQ(nOperation == 1 || test.adwLastError[nOperation] != 0, nResult != 0);
            EXPECT_EQ(test.adwLastError[nOperation], m_dwLastError);
            std::string events = test.apszEvents[nOperation];
            EXPECT_EQ(ENTRY_EVENTS[nOperation] + (events.empty() ? "" : ", " + events), Join(m_events));
            if (test.pszFunction == nullptr) {
                EXPECT_EQ(StringBytes("NULL"), m_recorder.Events().front().arguments.at(0));
            }
        }
    }
    EXPECT_TRUE(device.IsPresent());
}

struct PortCase {
    const char* pszLabel;
    const char* pszFirstPort; // null: the first device has no "PortName"
    DWORD dwFirstType;
    const char* pszSecondPort;
    int nResult;
    DWORD dwLastError;
    const char* pszEvent; // an event the check must send
    int nMatches;
};

// COM45 and COM12 are held open; COM46 does not exist.
const PortCase PORT_CASES[] = {
    {"open port ends the check at once", "COM45", REG_SZ, nullptr, 0, 5, "setup 68 5", 1},
    // Wine's own devices after ours leave their size queries' 122 behind.
    {"missing port counts as closed", "COM46", REG_SZ, "COM46", 1, 122, "setup 67", 2},
    {"no PortName ends the check", nullptr, REG_SZ, "COM45", 1, 122, "setup 66", 1},
    {"empty PortName skipped", "", REG_SZ, "COM45", 0, 5, "setup 68 5", 2},
    {"port ten or above reached as a port", "COM12", REG_SZ, nullptr, 0, 5, "setup 68 5", 1},
    {"PortName without its NUL", "COM45", REG_BINARY, nullptr, 0, 5, "setup 68 5", 1},
};

TEST_F(DevicesTest, ChecksThePortsOfMatchingDevicesInOrder)
{
    CBusyPort busy45(45), busy12(12);
    ASSERT_TRUE(busy45.IsMade() && busy12.IsMade());
    // Opened without the device prefix, "COM12" would be this file.
    HANDLE hFile = CreateFileA("COM12", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hFile);
    CloseHandle(hFile);
    for (const PortCase& test : PORT_CASES) {
        SCOPED_TRACE(test.pszLabel);
        CTestDevice first("QzPort", test.pszFirstPort, test.dwFirstType);
        CTestDevice second("qzport", test.pszSecondPort);
        ASSERT_TRUE(first.IsCreated() && second.IsCreated());
        ASSERT_LT(first.InstanceId(), second.InstanceId());
        EXPECT_EQ(test.nResult, Run(CheckPortsClosed, "QZPORT"));
        EXPECT_EQ(test.dwLastError, m_dwLastError);
        EXPECT_TRUE(HasEvent(test.pszEvent));
        EXPECT_EQ(test.nMatches, std::count(m_events.begin(), m_events.end(), "setup 64"));
    }
    DeleteFileA("COM12");
}

TEST_F(DevicesTest, DeletesTheSerialPrintKeysOfMatchingPortsOnly)
{
    // 206 characters: the port key path fits 259, its "default" path does not.
    const std::string longPort(206, 'P');
    CTestDevice withDefault("qzprint", "COM31"), alone("QZPRINT", "COM32"), empty("qzprint", ""),
        tooLong("qzprint", longPort.c_str()), other("qzprintx", "COM33");
    ASSERT_TRUE(withDefault.IsCreated() && alone.IsCreated() && empty.IsCreated() && tooLong.IsCreated() &&
                other.IsCreated());
    const std::string base = SERIAL_PRINT;
    for (const char* pszKey : {"COM31\\default", "COM32", "COM33\\default", "COM34\\default"}) {
        ASSERT_TRUE(MakeKey(base + pszKey));
    }
    // What a cut "default" path would name.
    ASSERT_TRUE(MakeKey(base + longPort + "\\defaul"));

    EXPECT_EQ(1, Run(DeleteSerialPrintKeys, "QZPRINT"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_ITEMS), m_dwLastError);
    EXPECT_FALSE(HasKey(base + "COM31"));
    EXPECT_FALSE(HasKey(base + "COM32"));
    EXPECT_TRUE(HasKey(base + "COM33\\default"));
    EXPECT_TRUE(HasKey(base + "COM34\\default"));
    EXPECT_TRUE(HasKey(base + longPort + "\\defaul"));
    EXPECT_EQ(4, std::count(m_events.begin(), m_events.end(), "setup 75"));
    EXPECT_EQ(1, std::count(m_events.begin(), m_events.end(), "setup 112 ?"));
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, SERIAL_PRINT);
}

} // namespace
