// Device operations by service on real root devices of the prefix: which
// devices are removed, when a port counts as open, which Serial Print keys
// go, and the results, last-error values and events of each operation.
#include <gtest/gtest.h>

#include <windows.h>
#include <setupapi.h>

#include <algorithm>
#include <map>
#include <memory>

#include "support/iat_patch.h"
#include "support/test_devices.h"
#include "app/dialog_data.h"
#include "support/trace_recorder.h"
#include "trace/trace.h"
#include "uninstall/devices.h"

namespace {

typedef std::vector<std::string> Names;
typedef int (*Operation)(const char*);

const char SERIAL_PRINT[] = "System\\CurrentControlSet\\Control\\Serial Print\\";
#define PROPERTY_READ "SetupDiGetDeviceRegistryPropertyA"

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

    EXPECT_EQ(0, Run(RemoveDevices, "QZDEVRM")); // none left
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

std::string InstanceIdOf(HDEVINFO hList, PSP_DEVINFO_DATA pDevice)
{
    char szId[MAX_PATH] = "";
    SetupDiGetDeviceInstanceIdA(hList, pDevice, szId, MAX_PATH, nullptr);
    return szId;
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

// Faults of one device only, when its ID is set here: its service property
// cannot be read, or it cannot be removed.
std::string g_unreadableDevice, g_unremovableDevice;

// Every device's service read fails, or every property read of the
// unreadable device.
BOOL WINAPI FailServiceRead(HDEVINFO hList, PSP_DEVINFO_DATA pDevice, DWORD dwProperty, PDWORD pdwType,
                            PBYTE pBuffer, DWORD dwSize, PDWORD pdwRequired)
{
    if (g_unreadableDevice.empty() ? pBuffer != nullptr : InstanceIdOf(hList, pDevice) == g_unreadableDevice) {
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

// Every call fails, or the removal of the unremovable device.
void* g_pfnRealInstaller = nullptr;
BOOL WINAPI FailRemoval(DI_FUNCTION nFunction, HDEVINFO hList, PSP_DEVINFO_DATA pDevice)
{
    if (g_unremovableDevice.empty() ||
        (nFunction == DIF_REMOVE && InstanceIdOf(hList, pDevice) == g_unremovableDevice)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return reinterpret_cast<decltype(&SetupDiCallClassInstaller)>(g_pfnRealInstaller)(nFunction, hList, pDevice);
}

// Another vendor's device that cannot be read, between two of our ports,
// and our first port, which cannot be removed: the walks go on to the last
// port, and the function driver keeps its service, INF copies and
// installed-programs entry for the next uninstall; the result is "Error".
TEST_F(DevicesTest, UninstallGoesOnPastDevicesAndKeepsTheDriverOfAPortLeft)
{
    CTestDevice first("qzvrcom", "COM47"), foreign("serial"), last("QZVRCOM", "COM48");
    CIatPatch property("setupapi.dll", PROPERTY_READ, reinterpret_cast<void*>(FailServiceRead));
    g_pfnOriginal = property.Original();
    CIatPatch installer("setupapi.dll", "SetupDiCallClassInstaller", reinterpret_cast<void*>(FailRemoval));
    g_pfnRealInstaller = installer.Original();
    ASSERT_TRUE(first.IsCreated() && foreign.IsCreated() && last.IsCreated());
    ASSERT_TRUE(property.IsApplied() && installer.IsApplied());
    g_unreadableDevice = foreign.InstanceId();
    g_unremovableDevice = first.InstanceId();
    CDialogData data;
    m_recorder.ClearEvents();
    EXPECT_EQ(0, data.Uninstall(0, 1));
    g_unreadableDevice = g_unremovableDevice = "";
    EXPECT_EQ(IDS_ERROR, data.m_nResultId);
    EXPECT_TRUE(first.IsPresent() && foreign.IsPresent());
    EXPECT_FALSE(last.IsPresent());
    Names events = DescribeEvents(m_recorder.Events());
    // Tried in both walks; the log names the port, its error and service.
    EXPECT_EQ(2, std::count(events.begin(), events.end(), "util 65 ? 5 ?"));
    for (const RecordedEvent& event : m_recorder.Events()) {
        if (event.nNumber == 65 && IsEqualGUID(event.guidMessage, g_guidUtilComponent)) {
            EXPECT_EQ(StringBytes(first.InstanceId().c_str()), event.arguments.at(0));
            EXPECT_EQ(StringBytes("QZVRCOM"), event.arguments.at(2));
        }
    }
    // Service deletion and package clean-up ran for the bus driver only.
    EXPECT_EQ(1, std::count(events.begin(), events.end(), "util 66 ?"));
    EXPECT_EQ(1, std::count(events.begin(), events.end(), "util 90"));
    EXPECT_EQ(0, std::count(events.begin(), events.end(), "util 56 ?"));
}

// One fault and what each operation (removal, port check, Serial Print
// clean-up) then reports: its last error and its events after the entry
// event, a run of equal events shown once; null where the fault does not
// concern the operation. The walk goes on past the device, and is made a
// second time when it passed over one (the removal also when it failed to
// remove one).
struct WalkCase {
    const char* pszLabel;
    const char* pszFunction; // LocalAlloc is kernel32's, the others setupapi's
    void* pfnReplacement;
    SIZE_T nFailedSize;
    DWORD adwLastError[3];
    const char* apszEvents[3];
    int nLeft; // the removal's result
};

#define FAULT(f) reinterpret_cast<void*>(f)

// "QZWALK" is the service of the one test device, the first device with a
// service in the walk. Blocks are one byte longer than the value: 8 bytes
// for its service "qzwalk", 7 for its port "COM77".
// Wine's devices after it leave their size queries' 122 behind, and the
// Serial Print clean-up the enumeration's end (259).
const WalkCase WALK_CASES[] = {
    {"null name", nullptr, nullptr, 0, {87, 87, 87}, {"util 58 87", "setup 59 87", "setup 70 87"}, 1},
    {"no list", "SetupDiGetClassDevsA", FAULT(FailDeviceList), 0, {5, 5, 5},
     {"util 59 5, util 57 ?, util 59 5", "setup 60 5, setup 58 ?, setup 60 5",
      "setup 71 5, setup 69 ?, setup 71 5"}, 1},
    {"empty list", "SetupDiEnumDeviceInfo", FAULT(EnumerateNoDevice), 0, {0, 0, ERROR_NO_MORE_ITEMS}, {"", "", ""}, 0},
    {"size query", PROPERTY_READ, FAULT(FailServiceSizeQuery), 0, {31, 31, 259},
     {"util 60 31, util 57 ?, util 60 31", "setup 61 31, setup 58 ?, setup 61 31",
      "setup 72 31, setup 69 ?, setup 72 31"}, 0},
    {"service read", PROPERTY_READ, FAULT(FailServiceRead), 0, {31, 31, 259},
     {"util 62 31, util 57 ?, util 62 31", "setup 63 31, setup 58 ?, setup 63 31",
      "setup 74 31, setup 69 ?, setup 74 31"}, 0},
    {"service block", "LocalAlloc", FAULT(FailLocalAllocOfSize), 8, {122, 122, 259},
     {"util 61 8, util 57 ?, util 61 8", "setup 62 8, setup 58 ?, setup 62 8",
      "setup 73 8, setup 69 ?, setup 73 8"}, 0},
    {"port name block", "LocalAlloc", FAULT(FailLocalAllocOfSize), 7, {0, 122, 259},
     {nullptr, "setup 64, setup 110 8, setup 58 ?, setup 64, setup 110 8", "setup 75, setup 111 8"}, 0},
    {"hardware key", "SetupDiOpenDevRegKey", FAULT(FailOpenKey), 0, {0, 122, 259},
     {nullptr, "setup 64, setup 65 2, setup 58 ?, setup 64, setup 65 2", "setup 75, setup 76 2"}, 0},
    {"removal", "SetupDiCallClassInstaller", FAULT(FailRemoval), 0, {122, 0, 0},
     {"util 63, util 65 ? 5 ?, util 57 ?, util 63, util 65 ? 5 ?", nullptr, nullptr}, 1},
};

const Operation OPERATIONS[] = {RemoveDevices, CheckPortsClosed, DeleteSerialPrintKeys};
const char* const ENTRY_EVENTS[] = {"util 57 ?", "setup 58 ?", "setup 69 ?"};

// The names, a run of equal ones shown once.
std::string Join(const Names& names)
{
    std::string text;
    for (size_t i = 0; i < names.size(); ++i) {
        if (i == 0 || names[i] != names[i - 1]) {
            text += (text.empty() ? "" : ", ") + names[i];
        }
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
            const int anResults[] = {test.nLeft, 1, test.adwLastError[2] != 0};
            EXPECT_EQ(anResults[nOperation], nResult);
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
    bool bFirstGone = false; // the first device is no longer present
};

// The ports the bench cannot make fail as Windows may, with the error an
// exclusive open of each gives: held by another program (32), a name the
// system does not take (3, 123), a driver that failed to start (31).
const std::map<std::string, DWORD> FAILING_PORTS = {{"\\\\.\\Global\\COM60", 32}, {"\\\\.\\Global\\COM61", 3},
                                                   {"\\\\.\\Global\\COM62", 123}, {"\\\\.\\Global\\COM63", 31}};

// Opened under another name, the port would not fail.
HANDLE WINAPI OpenPortOrFail(LPCSTR pszPath, DWORD dwAccess, DWORD dwShare, LPSECURITY_ATTRIBUTES pSecurity,
                             DWORD dwCreation, DWORD dwFlags, HANDLE hTemplate)
{
    auto failing = FAILING_PORTS.find(pszPath);
    if (failing != FAILING_PORTS.end()) {
        SetLastError(failing->second);
        return INVALID_HANDLE_VALUE;
    }
    return reinterpret_cast<decltype(&CreateFileA)>(g_pfnOriginal)(pszPath, dwAccess, dwShare, pSecurity, dwCreation,
                                                                   dwFlags, hTemplate);
}

// Wine lists every device as present. As Windows documents DIGCF_PRESENT,
// a list of present devices leaves out the one whose ID is g_goneDevice.
std::string g_goneDevice;
void* g_pfnRealGetClassDevs = nullptr;
HDEVINFO WINAPI ListPresentDevices(const GUID* pClass, PCSTR pszEnumerator, HWND hParent, DWORD dwFlags)
{
    auto pfnReal = reinterpret_cast<decltype(&SetupDiGetClassDevsA)>(g_pfnRealGetClassDevs);
    HDEVINFO hList = pfnReal(pClass, pszEnumerator, hParent, dwFlags);
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof(device);
    for (DWORD i = 0; (dwFlags & DIGCF_PRESENT) != 0 && SetupDiEnumDeviceInfo(hList, i, &device); ++i) {
        if (InstanceIdOf(hList, &device) == g_goneDevice) {
            SetupDiDeleteDeviceInfo(hList, &device);
        }
    }
    return hList;
}

// COM45 and COM12 are held open; COM46 does not exist.
const PortCase PORT_CASES[] = {
    {"open port ends the check at once", "COM45", REG_SZ, nullptr, 0, 5, "setup 68 5", 1},
    // Wine's own devices after ours leave their size queries' 122 behind.
    {"missing port counts as closed", "COM46", REG_SZ, "COM46", 1, 122, "setup 67", 2},
    {"no PortName skipped", nullptr, REG_SZ, "COM45", 0, 5, "setup 66", 2},
    {"empty PortName skipped", "", REG_SZ, "COM45", 0, 5, "setup 68 5", 2},
    {"port ten or above reached as a port", "COM12", REG_SZ, nullptr, 0, 5, "setup 68 5", 1},
    {"PortName without its NUL", "COM45", REG_BINARY, nullptr, 0, 5, "setup 68 5", 1},
    {"stored device prefix taken off", "\\\\.\\COM45", REG_SZ, nullptr, 0, 5, "setup 68 5", 1},
    {"trailing colon taken off", "COM45:", REG_SZ, nullptr, 0, 5, "setup 68 5", 1},
    {"sharing violation means open", "COM60", REG_SZ, nullptr, 0, 32, "setup 68 32", 1},
    {"path not found means not there", "COM61", REG_SZ, "COM46", 1, 122, "setup 67", 2},
    {"invalid name means not there", "COM62", REG_SZ, "COM46", 1, 122, "setup 67", 2},
    {"other errors traced, port not held", "COM63", REG_SZ, "COM45", 0, 5, "setup 140 ? 31 ?", 2},
    {"device no longer present not opened", "COM45", REG_SZ, "COM46", 1, 122, "setup 67", 1, true},
};

TEST_F(DevicesTest, ChecksThePortsOfMatchingDevicesInOrder)
{
    CBusyPort busy45(45), busy12(12);
    ASSERT_TRUE(busy45.IsMade() && busy12.IsMade());
    // Opened without the device prefix, "COM12" would be this file.
    HANDLE hFile = CreateFileA("COM12", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hFile);
    CloseHandle(hFile);
    CIatPatch open("kernel32.dll", "CreateFileA", reinterpret_cast<void*>(OpenPortOrFail));
    g_pfnOriginal = open.Original();
    CIatPatch list("setupapi.dll", "SetupDiGetClassDevsA", reinterpret_cast<void*>(ListPresentDevices));
    g_pfnRealGetClassDevs = list.Original();
    ASSERT_TRUE(open.IsApplied() && list.IsApplied());
    for (const PortCase& test : PORT_CASES) {
        SCOPED_TRACE(test.pszLabel);
        CTestDevice first("QzPort", test.pszFirstPort, test.dwFirstType);
        CTestDevice second("qzport", test.pszSecondPort);
        ASSERT_TRUE(first.IsCreated() && second.IsCreated());
        ASSERT_LT(first.InstanceId(), second.InstanceId());
        g_goneDevice = test.bFirstGone ? first.InstanceId() : "";
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
