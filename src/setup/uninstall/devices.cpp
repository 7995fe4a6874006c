// Operations on every device whose service has a given name. One walk over
// all devices serves the three operations; each differs only in what it does
// with a matching device and in the events it sends. A device the walk
// cannot read, or fails to act on, is traced and passed over: the devices
// after it are as much the driver's as the ones before.
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
    bool m_bSkipped;        // a device or the list could not be read
    // Matching devices not removed; 1 as well for a null name or a list
    // that could not be opened, as then no device was looked at.
    int m_nLeft;
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
ActionOutcome RemoveDevice(const char* pszName, HDEVINFO hList, SP_DEVINFO_DATA* pDevice, DeviceWalk& walk)
{
    if (!SetupDiCallClassInstaller(DIF_REMOVE, hList, pDevice)) {
        walk.m_dwError = GetLastError();
        ++walk.m_nLeft;
        if (IsTraceEnabled(TRACE_ERROR)) {
            char szDevice[SETUP_PATH_LENGTH];
            szDevice[0] = '\0'; // stays empty when the ID cannot be read
            SetupDiGetDeviceInstanceIdA(hList, pDevice, szDevice, SETUP_PATH_LENGTH, nullptr);
            TraceEvent(g_guidUtilComponent, 65, szDevice, walk.m_dwError, pszName);
        }
        return OUTCOME_NEXT;
    }
    SP_DEVINSTALL_PARAMS_A params = {};
    params.cbSize = sizeof(params);
    if (SetupDiGetDeviceInstallParamsA(hList, pDevice, &params) &&
        (params.Flags & (DI_NEEDREBOOT | DI_NEEDRESTART)) != 0) {
        walk.m_bRebootRequired = true;
    }
    return OUTCOME_NEXT;
}

// Opens the port exclusively for a moment, in the global namespace: in a
// remote session "\\.\COMn" may name the session's redirected port. A stored
// "\\.\" or a trailing ':' is taken off first.
ActionOutcome OpenPortOnce(const char* pszPort, DeviceWalk& walk)
{
    if (strncmp(pszPort, "\\\\.\\", 4) == 0) {
        pszPort += 4;
    }
    int nLength = lstrlenA(pszPort);
    if (nLength != 0 && pszPort[nLength - 1] == ':') {
        --nLength;
    }
    char szDevice[SETUP_PATH_LENGTH];
    if (FAILED(StringCchPrintfA(szDevice, SETUP_PATH_LENGTH, "\\\\.\\Global\\%.*s", nLength, pszPort))) {
        if (IsTraceEnabled(TRACE_ERROR)) {
            TraceEvent(g_guidSetupComponent, 113, pszPort);
        }
        return OUTCOME_NEXT;
    }
    CFileHandle port(CreateFileA(szDevice, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (port.IsValid()) {
        return OUTCOME_NEXT;
    }
    DWORD dwError = GetLastError();
    walk.m_dwError = dwError;
    if (dwError == ERROR_ACCESS_DENIED || dwError == ERROR_SHARING_VIOLATION) {
        if (IsTraceEnabled(TRACE_ERROR)) {
            TraceEvent(g_guidSetupComponent, 68, dwError);
        }
        return OUTCOME_PORT_OPEN;
    }
    if (IsTraceEnabled(TRACE_ERROR)) {
        if (dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND || dwError == ERROR_INVALID_NAME) {
            TraceEvent(g_guidSetupComponent, 67);
        } else {
            // A port whose driver failed to start, say: no program holds it.
            TraceEvent(g_guidSetupComponent, 140, szDevice, dwError, pszPort);
        }
    }
    return OUTCOME_NEXT;
}

ActionOutcome CheckDevicePort(HDEVINFO hList, SP_DEVINFO_DATA* pDevice, DeviceWalk& walk)
{
    CLocalBlock portName;
    DWORD dwError = 0;
    switch (ReadPortName(hList, pDevice, portName, &dwError)) {
    case PORT_NAME_NO_KEY:
        walk.m_dwError = dwError;
        walk.m_bSkipped = true;
        if (IsTraceEnabled(TRACE_ERROR)) {
            TraceEvent(g_guidSetupComponent, 65, dwError);
        }
        return OUTCOME_NEXT;
    case PORT_NAME_MISSING:
        if (IsTraceEnabled(TRACE_ERROR)) {
            TraceEvent(g_guidSetupComponent, 66);
        }
        return OUTCOME_NEXT;
    case PORT_NAME_NO_BLOCK:
        walk.m_dwError = dwError;
        walk.m_bSkipped = true;
        if (IsTraceEnabled(TRACE_ERROR)) {
            TraceEvent(g_guidSetupComponent, 110, dwError);
        }
        return OUTCOME_NEXT;
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
        return OUTCOME_NEXT;
    case PORT_NAME_MISSING:
        return OUTCOME_NEXT;
    case PORT_NAME_NO_BLOCK:
        if (IsTraceEnabled(TRACE_ERROR)) {
            TraceEvent(g_guidSetupComponent, 111, dwError);
        }
        return OUTCOME_NEXT;
    case PORT_NAME_READ:
        break;
    }
    const char* pszPort = static_cast<const char*>(portName.Get());
    if (pszPort[0] != '\0') {
        DeletePortSerialPrintKeys(pszPort);
    }
    return OUTCOME_NEXT;
}

ActionOutcome ActOnDevice(const char* pszName, HDEVINFO hList, SP_DEVINFO_DATA* pDevice, DeviceWalk& walk)
{
    switch (walk.m_eAction) {
    case ACTION_REMOVE: return RemoveDevice(pszName, hList, pDevice, walk);
    case ACTION_CHECK_PORT: return CheckDevicePort(hList, pDevice, walk);
    case ACTION_DELETE_SERIAL_PRINT: return DeleteDeviceSerialPrintKeys(hList, pDevice);
    }
    return OUTCOME_END_WALK;
}

// A device whose service cannot be read may be the driver's or another's:
// it is traced and passed over.
ActionOutcome SkipDevice(DeviceWalk& walk, WalkFailure eFailure, DWORD dwError)
{
    RecordFailure(walk, dwError);
    TraceWalkFailure(walk.m_eAction, eFailure, dwError);
    walk.m_bSkipped = true;
    return OUTCOME_NEXT;
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
            return SkipDevice(walk, FAILURE_SIZE, dwError);
        }
    }
    // One zero byte more than reported keeps a service stored without its
    // NUL terminated within the block.
    CLocalBlock service(LocalAlloc(LMEM_ZEROINIT, static_cast<SIZE_T>(dwSize) + 1));
    if (!service.IsValid()) {
        return SkipDevice(walk, FAILURE_BLOCK, GetLastError());
    }
    BYTE* pService = static_cast<BYTE*>(service.Get());
    if (!SetupDiGetDeviceRegistryPropertyA(hList, pDevice, SPDRP_SERVICE, nullptr, pService, dwSize, nullptr)) {
        return SkipDevice(walk, FAILURE_READ, GetLastError());
    }
    if (_mbsicmp(reinterpret_cast<const unsigned char*>(pszName), pService) != 0) {
        return OUTCOME_NEXT;
    }
    TraceWalkMatch(walk.m_eAction);
    return ActOnDevice(pszName, hList, pDevice, walk);
}

// Walks every device of every class, present or not; the port check only
// the present ones, as a port name of a device that is gone may now belong
// to another's port. A null name is not walked: its failure is traced and
// recorded as 87.
void WalkDevicesOnce(const char* pszName, DeviceWalk& walk)
{
    TraceWalkEntry(walk.m_eAction, pszName);
    if (pszName == nullptr) {
        walk.m_dwError = ERROR_INVALID_PARAMETER;
        walk.m_dwLastError = ERROR_INVALID_PARAMETER;
        walk.m_nLeft = 1;
        TraceWalkFailure(walk.m_eAction, FAILURE_NULL_NAME, ERROR_INVALID_PARAMETER);
        return;
    }
    DWORD dwFlags = walk.m_eAction == ACTION_CHECK_PORT ? DIGCF_ALLCLASSES | DIGCF_PRESENT : DIGCF_ALLCLASSES;
    CDeviceList list(SetupDiGetClassDevsA(nullptr, nullptr, nullptr, dwFlags));
    if (!list.IsValid()) {
        DWORD dwError = GetLastError();
        RecordFailure(walk, dwError);
        TraceWalkFailure(walk.m_eAction, FAILURE_LIST, dwError);
        walk.m_dwLastError = dwError;
        walk.m_bSkipped = true;
        walk.m_nLeft = 1;
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
    DeviceWalk walk = {eAction, ERROR_SUCCESS, ERROR_SUCCESS, false, false, false, 0};
    return walk;
}

// A device passed over may be one of the driver's, and the failure may not
// last: a walk that passed over one, or left one of the driver's, is made
// once more, and what the second finds is the answer. An open port is an
// answer at once.
void WalkDevicesByService(const char* pszName, DeviceWalk& walk)
{
    WalkDevicesOnce(pszName, walk);
    if (pszName != nullptr && !walk.m_bPortOpen && (walk.m_bSkipped || walk.m_nLeft != 0)) {
        bool bRebootRequired = walk.m_bRebootRequired;
        walk = StartWalk(walk.m_eAction);
        walk.m_bRebootRequired = bRebootRequired;
        WalkDevicesOnce(pszName, walk);
    }
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
    return walk.m_nLeft;
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
