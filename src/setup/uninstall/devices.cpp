// Operations on every device whose service has a given name. One walk over
// all devices serves the three operations; each differs only in what it does
// with a matching device and in the events it sends.
#include "devices.h"

#include <mbstring.h>
#include <strsafe.h>

#include "../app/dialog_data.h"
#include "../app/handles.h"
#include "../trace/trace.h"

namespace {

enum DeviceAction { ACTION_REMOVE, ACTION_CHECK_PORT, ACTION_DELETE_SERIAL_PRINT };

// The failures the walk itself traces, in the same order for every action.
enum WalkFailure { FAILURE_NULL_NAME, FAILURE_LIST, FAILURE_SIZE, FAILURE_BLOCK, FAILURE_READ };

// What a device's action tells the walk.
enum ActionOutcome { OUTCOME_NEXT, OUTCOME_END_WALK, OUTCOME_PORT_OPEN };

// What one walk leaves behind for its operation's result.
struct DeviceWalk {
    DeviceAction m_eAction;
    DWORD m_dwError;     // the most recent failing call's code
    DWORD m_dwLastError; // the thread's last error when the walk ended
    bool m_bPortOpen;
    bool m_bRebootRequired; // a removed device waits for a restart
};

const char g_szPortName[] = "PortName";
const char g_szSerialPrintKey[] = "System\\CurrentControlSet\\Control\\Serial Print\\%s";
const char g_szSerialPrintDefaultKey[] = "System\\CurrentControlSet\\Control\\Serial Print\\%s\\default";

void TraceWalkEntry(DeviceAction eAction, const char* pszName)
{
    if (IsTraceEnabled(TRACE_FLOW)) {
        switch (eAction) {
        case ACTION_REMOVE: TraceEvent(g_guidUtilComponent, 57, pszName); break;
        case ACTION_CHECK_PORT: TraceEvent(g_guidSetupComponent, 58, pszName); break;
        case ACTION_DELETE_SERIAL_PRINT: TraceEvent(g_guidSetupComponent, 69, pszName); break;
        }
    }
}

void TraceWalkMatch(DeviceAction eAction)
{
    if (IsTraceEnabled(TRACE_FLOW)) {
        switch (eAction) {
        case ACTION_REMOVE: TraceEvent(g_guidUtilComponent, 63); break;
        case ACTION_CHECK_PORT: TraceEvent(g_guidSetupComponent, 64); break;
        case ACTION_DELETE_SERIAL_PRINT: TraceEvent(g_guidSetupComponent, 75); break;
        }
    }
}

void TraceRemoveFailure(WalkFailure eFailure, DWORD dwError)
{
    if (IsTraceEnabled(TRACE_ERROR)) {
        switch (eFailure) {
        case FAILURE_NULL_NAME: TraceEvent(g_guidUtilComponent, 58, dwError); break;
        case FAILURE_LIST: TraceEvent(g_guidUtilComponent, 59, dwError); break;
        case FAILURE_SIZE: TraceEvent(g_guidUtilComponent, 60, dwError); break;
        case FAILURE_BLOCK: TraceEvent(g_guidUtilComponent, 61, dwError); break;
        case FAILURE_READ: TraceEvent(g_guidUtilComponent, 62, dwError); break;
        }
    }
}

void TraceCheckFailure(WalkFailure eFailure, DWORD dwError)
{
    if (IsTraceEnabled(TRACE_ERROR)) {
        switch (eFailure) {
        case FAILURE_NULL_NAME: TraceEvent(g_guidSetupComponent, 59, dwError); break;
        case FAILURE_LIST: TraceEvent(g_guidSetupComponent, 60, dwError); break;
        case FAILURE_SIZE: TraceEvent(g_guidSetupComponent, 61, dwError); break;
        case FAILURE_BLOCK: TraceEvent(g_guidSetupComponent, 62, dwError); break;
        case FAILURE_READ: TraceEvent(g_guidSetupComponent, 63, dwError); break;
        }
    }
}

void TraceSerialPrintFailure(WalkFailure eFailure, DWORD dwError)
{
    if (IsTraceEnabled(TRACE_ERROR)) {
        switch (eFailure) {
        case FAILURE_NULL_NAME: TraceEvent(g_guidSetupComponent, 70, dwError); break;
        case FAILURE_LIST: TraceEvent(g_guidSetupComponent, 71, dwError); break;
        case FAILURE_SIZE: TraceEvent(g_guidSetupComponent, 72, dwError); break;
        case FAILURE_BLOCK: TraceEvent(g_guidSetupComponent, 73, dwError); break;
        case FAILURE_READ: TraceEvent(g_guidSetupComponent, 74, dwError); break;
        }
    }
}

void TraceWalkFailure(DeviceAction eAction, WalkFailure eFailure, DWORD dwError)
{
    switch (eAction) {
    case ACTION_REMOVE: TraceRemoveFailure(eFailure, dwError); break;
    case ACTION_CHECK_PORT: TraceCheckFailure(eFailure, dwError); break;
    case ACTION_DELETE_SERIAL_PRINT: TraceSerialPrintFailure(eFailure, dwError); break;
    }
}

// Records a failing call's code, as the removal and the port check report
// the most recent one; the Serial Print clean-up keeps none.
void RecordFailure(DeviceWalk& walk, DWORD dwError)
{
    if (walk.m_eAction != ACTION_DELETE_SERIAL_PRINT) {
        walk.m_dwError = dwError;
    }
}

enum PortNameResult { PORT_NAME_READ, PORT_NAME_NO_KEY, PORT_NAME_MISSING, PORT_NAME_NO_BLOCK };

// Reads the device's "PortName" into a zeroed block one byte longer than the
// value, so a value stored without its NUL still ends within the block.
PortNameResult ReadPortName(HDEVINFO hList, SP_DEVINFO_DATA* pDevice, CLocalBlock& portName, DWORD* pdwError)
{
    HKEY hKey = SetupDiOpenDevRegKey(hList, pDevice, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (hKey == INVALID_HANDLE_VALUE || hKey == nullptr) {
        *pdwError = GetLastError();
        return PORT_NAME_NO_KEY;
    }
    CRegistryKey key(hKey);
    DWORD dwSize = 0;
    RegQueryValueExA(key.Get(), g_szPortName, nullptr, nullptr, nullptr, &dwSize);
    if (dwSize == 0) {
        return PORT_NAME_MISSING;
    }
    portName.Reset(LocalAlloc(LMEM_ZEROINIT, static_cast<SIZE_T>(dwSize) + 1));
    if (!portName.IsValid()) {
        *pdwError = GetLastError();
        return PORT_NAME_NO_BLOCK;
    }
    // A failed read leaves the block zeroed: an empty name, skipped.
    RegQueryValueExA(key.Get(), g_szPortName, nullptr, nullptr, static_cast<BYTE*>(portName.Get()), &dwSize);
    return PORT_NAME_READ;
}

// The class installer removes the device and both of its keys. The driver
// key must still be there when it runs: the Ports class installer reads it
// to know the device for a COM port and only then releases its number. A
// device that cannot be stopped at once is gone only after a restart: its
// install parameters then ask for one.
ActionOutcome RemoveDevice(HDEVINFO hList, SP_DEVINFO_DATA* pDevice, DeviceWalk& walk)
{
    if (!SetupDiCallClassInstaller(DIF_REMOVE, hList, pDevice)) {
        walk.m_dwError = GetLastError();
        if (IsTraceEnabled(TRACE_ERROR)) {
            TraceEvent(g_guidUtilComponent, 65, walk.m_dwError);
        }
        return OUTCOME_END_WALK;
    }
    SP_DEVINSTALL_PARAMS_A params = {};
    params.cbSize = sizeof(params);
    if (SetupDiGetDeviceInstallParamsA(hList, pDevice, &params) &&
        (params.Flags & (DI_NEEDREBOOT | DI_NEEDRESTART)) != 0) {
        walk.m_bRebootRequired = true;
    }
    return OUTCOME_NEXT;
}

// Opens the port exclusively for a moment. The device-namespace prefix makes
// COM10 and above reach the port, not a file of the current directory.
ActionOutcome OpenPortOnce(const char* pszPort, DeviceWalk& walk)
{
    char szDevice[SETUP_PATH_LENGTH] = "";
    if (FAILED(StringCchPrintfA(szDevice, SETUP_PATH_LENGTH, "\\\\.\\%s", pszPort))) {
        if (IsTraceEnabled(TRACE_ERROR)) {
            TraceEvent(g_guidSetupComponent, 113, pszPort);
        }
        return OUTCOME_NEXT;
    }
    CFileHandle port(CreateFileA(szDevice, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (port.IsValid()) {
        return OUTCOME_NEXT;
    }
    walk.m_dwError = GetLastError();
    if (walk.m_dwError == ERROR_FILE_NOT_FOUND) {
        if (IsTraceEnabled(TRACE_ERROR)) {
            TraceEvent(g_guidSetupComponent, 67);
        }
        return OUTCOME_NEXT;
    }
    if (IsTraceEnabled(TRACE_ERROR)) {
        TraceEvent(g_guidSetupComponent, 68, walk.m_dwError);
    }
    return OUTCOME_PORT_OPEN;
}

ActionOutcome CheckDevicePort(HDEVINFO hList, SP_DEVINFO_DATA* pDevice, DeviceWalk& walk)
{
    CLocalBlock portName;
    DWORD dwError = 0;
    switch (ReadPortName(hList, pDevice, portName, &dwError)) {
    case PORT_NAME_NO_KEY:
        walk.m_dwError = dwError;
        if (IsTraceEnabled(TRACE_ERROR)) {
            TraceEvent(g_guidSetupComponent, 65, dwError);
        }
        return OUTCOME_END_WALK;
    case PORT_NAME_MISSING:
        if (IsTraceEnabled(TRACE_ERROR)) {
            TraceEvent(g_guidSetupComponent, 66);
        }
        return OUTCOME_END_WALK;
    case PORT_NAME_NO_BLOCK:
        walk.m_dwError = dwError;
        if (IsTraceEnabled(TRACE_ERROR)) {
            TraceEvent(g_guidSetupComponent, 110, dwError);
        }
        return OUTCOME_END_WALK;
    case PORT_NAME_READ:
        break;
    }
    const char* pszPort = static_cast<const char*>(portName.Get());
    return pszPort[0] == '\0' ? OUTCOME_NEXT : OpenPortOnce(pszPort, walk);
}

// Deletes "default" first: a key that still has sub-keys is not deleted.
void DeletePortSerialPrintKeys(const char* pszPort)
{
    char szDefaultKey[SETUP_PATH_LENGTH] = "";
    char szPortKey[SETUP_PATH_LENGTH] = "";
    if (FAILED(StringCchPrintfA(szDefaultKey, SETUP_PATH_LENGTH, g_szSerialPrintDefaultKey, pszPort)) ||
        FAILED(StringCchPrintfA(szPortKey, SETUP_PATH_LENGTH, g_szSerialPrintKey, pszPort))) {
        if (IsTraceEnabled(TRACE_ERROR)) {
            TraceEvent(g_guidSetupComponent, 112, pszPort);
        }
        return;
    }
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, szDefaultKey);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, szPortKey);
}

ActionOutcome DeleteDeviceSerialPrintKeys(HDEVINFO hList, SP_DEVINFO_DATA* pDevice)
{
    CLocalBlock portName;
    DWORD dwError = 0;
    switch (ReadPortName(hList, pDevice, portName, &dwError)) {
    case PORT_NAME_NO_KEY:
        if (IsTraceEnabled(TRACE_ERROR)) {
            TraceEvent(g_guidSetupComponent, 76, dwError);
        }
        return OUTCOME_END_WALK;
    case PORT_NAME_MISSING:
        return OUTCOME_END_WALK;
    case PORT_NAME_NO_BLOCK:
        if (IsTraceEnabled(TRACE_ERROR)) {
            TraceEvent(g_guidSetupComponent, 111, dwError);
        }
        return OUTCOME_END_WALK;
    case PORT_NAME_READ:
        break;
    }
    const char* pszPort = static_cast<const char*>(portName.Get());
    if (pszPort[0] != '\0') {
        DeletePortSerialPrintKeys(pszPort);
    }
    return OUTCOME_NEXT;
}

ActionOutcome ActOnDevice(HDEVINFO hList, SP_DEVINFO_DATA* pDevice, DeviceWalk& walk)
{
    switch (walk.m_eAction) {
    case ACTION_REMOVE: return RemoveDevice(hList, pDevice, walk);
    case ACTION_CHECK_PORT: return CheckDevicePort(hList, pDevice, walk);
    case ACTION_DELETE_SERIAL_PRINT: return DeleteDeviceSerialPrintKeys(hList, pDevice);
    }
    return OUTCOME_END_WALK;
}

// One device's turn: reads its service and acts on it when it matches.
// OUTCOME_NEXT goes on with the next device.
ActionOutcome VisitDevice(const char* pszName, HDEVINFO hList, SP_DEVINFO_DATA* pDevice, DeviceWalk& walk)
{
    DWORD dwSize = 0;
    if (!SetupDiGetDeviceRegistryPropertyA(hList, pDevice, SPDRP_SERVICE, nullptr, nullptr, 0, &dwSize)) {
        DWORD dwError = GetLastError();
        RecordFailure(walk, dwError);
        if (dwError == ERROR_INVALID_DATA) {
            return OUTCOME_NEXT; // no service
        }
        if (dwError != ERROR_INSUFFICIENT_BUFFER) {
            TraceWalkFailure(walk.m_eAction, FAILURE_SIZE, dwError);
            return OUTCOME_END_WALK;
        }
    }
    // One zero byte more than reported keeps a service stored without its
    // NUL terminated within the block.
    CLocalBlock service(LocalAlloc(LMEM_ZEROINIT, static_cast<SIZE_T>(dwSize) + 1));
    if (!service.IsValid()) {
        DWORD dwError = GetLastError();
        RecordFailure(walk, dwError);
        TraceWalkFailure(walk.m_eAction, FAILURE_BLOCK, dwError);
        return OUTCOME_END_WALK;
    }
    BYTE* pService = static_cast<BYTE*>(service.Get());
    if (!SetupDiGetDeviceRegistryPropertyA(hList, pDevice, SPDRP_SERVICE, nullptr, pService, dwSize, nullptr)) {
        DWORD dwError = GetLastError();
        RecordFailure(walk, dwError);
        TraceWalkFailure(walk.m_eAction, FAILURE_READ, dwError);
        return OUTCOME_END_WALK;
    }
    if (_mbsicmp(reinterpret_cast<const unsigned char*>(pszName), pService) != 0) {
        return OUTCOME_NEXT;
    }
    TraceWalkMatch(walk.m_eAction);
    return ActOnDevice(hList, pDevice, walk);
}

// Walks every device of every class, present or not. A null name is not
// walked: its failure is traced and recorded as 87.
void WalkDevicesByService(const char* pszName, DeviceWalk& walk)
{
    TraceWalkEntry(walk.m_eAction, pszName);
    if (pszName == nullptr) {
        walk.m_dwError = ERROR_INVALID_PARAMETER;
        walk.m_dwLastError = ERROR_INVALID_PARAMETER;
        TraceWalkFailure(walk.m_eAction, FAILURE_NULL_NAME, ERROR_INVALID_PARAMETER);
        return;
    }
    CDeviceList list(SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES));
    if (!list.IsValid()) {
        DWORD dwError = GetLastError();
        RecordFailure(walk, dwError);
        TraceWalkFailure(walk.m_eAction, FAILURE_LIST, dwError);
        walk.m_dwLastError = dwError;
        return;
    }
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof(device);
    ActionOutcome eOutcome = OUTCOME_NEXT;
    for (DWORD nIndex = 0; eOutcome == OUTCOME_NEXT && SetupDiEnumDeviceInfo(list.Get(), nIndex, &device);
         ++nIndex) {
        eOutcome = VisitDevice(pszName, list.Get(), &device, walk);
    }
    walk.m_bPortOpen = eOutcome == OUTCOME_PORT_OPEN;
    walk.m_dwLastError = GetLastError();
}

DeviceWalk StartWalk(DeviceAction eAction)
{
    DeviceWalk walk = {eAction, ERROR_SUCCESS, ERROR_SUCCESS, false, false};
    return walk;
}

} // namespace

int RemoveDevicesByService(const char* pszName, int* pbRebootRequired)
{
    DeviceWalk walk = StartWalk(ACTION_REMOVE);
    WalkDevicesByService(pszName, walk);
    if (walk.m_bRebootRequired) {
        *pbRebootRequired = 1;
    }
    SetLastError(walk.m_dwError);
    return walk.m_dwError != ERROR_SUCCESS;
}

int CheckPortsClosed(const char* pszName)
{
    DeviceWalk walk = StartWalk(ACTION_CHECK_PORT);
    WalkDevicesByService(pszName, walk);
    SetLastError(walk.m_dwError);
    return walk.m_bPortOpen ? 0 : 1;
}

int DeleteSerialPrintKeys(const char* pszName)
{
    DeviceWalk walk = StartWalk(ACTION_DELETE_SERIAL_PRINT);
    WalkDevicesByService(pszName, walk);
    // The last-error value the walk ended with: after a complete walk it
    // is the enumeration's ERROR_NO_MORE_ITEMS; 87 for a null name.
    SetLastError(walk.m_dwLastError);
    return walk.m_dwLastError != ERROR_SUCCESS;
}
