// Everything the sweep knows about each Win32 function the product calls, in
// one table: how the call fails (the documented failure value and a
// realistic last error), which resource it acquires or releases, and, for a
// call whose failure is not injected, why.
//
// X(dll, function, failure, error, role, resource, handle argument, reason)
//   failure: ZERO (0/FALSE/NULL), ONES (INVALID_HANDLE_VALUE, WAIT_FAILED,
//            INVALID_FILE_ATTRIBUTES...), CODE (returns the error code)
//   handle argument: -1 the return value; n >= 0 the argument that is, for
//            an acquisition, the pointer the handle is stored through, and
//            for a release the handle itself
//   reason: null when the call is made to fail; otherwise the call is only
//            counted (releases) and the text says why it is left out
// R(...) is the same for functions the product looks up with GetProcAddress.
// N(dll, function, reason): calls that are not intercepted at all.
#pragma once

#include <windows.h>

#include <cfgmgr32.h>
#include <ddk/msports.h>
#include <newdev.h>
#include <setupapi.h>
#include <shellapi.h>

#define SWEEP_RELEASES "releases a resource: a failure leaves nothing the program could act on"
#define SWEEP_DIALOG "interactive dialog plumbing; the sweep's scenarios are silent"
#define SWEEP_TRACING "tracing: with no session listening it never changes the run"
#define SWEEP_CANNOT_FAIL "cannot fail"
#define SWEEP_STRINGS "works on the program's own buffers; cannot fail"
#define SWEEP_LOG_LOCK "guards the run log's handle; cannot fail"
#define SWEEP_RUNTIME "imported by the compiler's start-up and exception code; RunSetup never calls it"

#define SWEEP_FUNCTIONS(X, R, N) \
    X("advapi32.dll", RegOpenKeyExA, CODE, ERROR_ACCESS_DENIED, ACQUIRE, KEY, 4, nullptr) \
    X("advapi32.dll", RegCreateKeyExA, CODE, ERROR_ACCESS_DENIED, ACQUIRE, KEY, 7, nullptr) \
    X("advapi32.dll", RegQueryValueExA, CODE, ERROR_ACCESS_DENIED, NONE, NONE, 0, nullptr) \
    X("advapi32.dll", RegSetValueExA, CODE, ERROR_ACCESS_DENIED, NONE, NONE, 0, nullptr) \
    X("advapi32.dll", RegDeleteKeyA, CODE, ERROR_ACCESS_DENIED, NONE, NONE, 0, nullptr) \
    X("advapi32.dll", RegDeleteValueA, CODE, ERROR_ACCESS_DENIED, NONE, NONE, 0, nullptr) \
    X("advapi32.dll", RegEnumKeyExA, CODE, ERROR_ACCESS_DENIED, NONE, NONE, 0, nullptr) \
    X("advapi32.dll", RegFlushKey, CODE, ERROR_WRITE_FAULT, NONE, NONE, 0, nullptr) \
    X("advapi32.dll", RegCloseKey, CODE, ERROR_INVALID_HANDLE, RELEASE, KEY, 0, SWEEP_RELEASES) \
    X("advapi32.dll", OpenSCManagerA, ZERO, ERROR_ACCESS_DENIED, ACQUIRE, SERVICE, -1, nullptr) \
    X("advapi32.dll", OpenServiceA, ZERO, ERROR_ACCESS_DENIED, ACQUIRE, SERVICE, -1, nullptr) \
    X("advapi32.dll", CloseServiceHandle, ZERO, ERROR_INVALID_HANDLE, RELEASE, SERVICE, 0, SWEEP_RELEASES) \
    X("advapi32.dll", QueryServiceStatus, ZERO, ERROR_ACCESS_DENIED, NONE, NONE, 0, nullptr) \
    X("advapi32.dll", QueryServiceStatusEx, ZERO, ERROR_ACCESS_DENIED, NONE, NONE, 0, nullptr) \
    X("advapi32.dll", ControlService, ZERO, ERROR_ACCESS_DENIED, NONE, NONE, 0, nullptr) \
    X("advapi32.dll", EnumDependentServicesA, ZERO, ERROR_ACCESS_DENIED, NONE, NONE, 0, nullptr) \
    X("advapi32.dll", DeleteService, ZERO, ERROR_ACCESS_DENIED, NONE, NONE, 0, nullptr) \
    X("advapi32.dll", AllocateAndInitializeSid, ZERO, ERROR_NOT_ENOUGH_MEMORY, ACQUIRE, MEMORY, 10, nullptr) \
    X("advapi32.dll", FreeSid, ONES, ERROR_INVALID_PARAMETER, RELEASE, MEMORY, 0, SWEEP_RELEASES) \
    X("advapi32.dll", CheckTokenMembership, ZERO, ERROR_ACCESS_DENIED, NONE, NONE, 0, nullptr) \
    X("kernel32.dll", CreateFileA, ONES, ERROR_SHARING_VIOLATION, ACQUIRE, FILE, -1, nullptr) \
    X("kernel32.dll", CloseHandle, ZERO, ERROR_INVALID_HANDLE, RELEASE, ANY, 0, SWEEP_RELEASES) \
    X("kernel32.dll", CopyFileA, ZERO, ERROR_ACCESS_DENIED, NONE, NONE, 0, nullptr) \
    X("kernel32.dll", CreateDirectoryA, ZERO, ERROR_ACCESS_DENIED, NONE, NONE, 0, nullptr) \
    X("kernel32.dll", DeleteFileA, ZERO, ERROR_ACCESS_DENIED, NONE, NONE, 0, nullptr) \
    X("kernel32.dll", SetFileAttributesA, ZERO, ERROR_ACCESS_DENIED, NONE, NONE, 0, nullptr) \
    X("kernel32.dll", GetFileAttributesA, ONES, ERROR_ACCESS_DENIED, NONE, NONE, 0, nullptr) \
    X("kernel32.dll", FindFirstFileA, ONES, ERROR_ACCESS_DENIED, ACQUIRE, FIND, -1, nullptr) \
    X("kernel32.dll", FindNextFileA, ZERO, ERROR_ACCESS_DENIED, NONE, NONE, 0, nullptr) \
    X("kernel32.dll", FindClose, ZERO, ERROR_INVALID_HANDLE, RELEASE, FIND, 0, SWEEP_RELEASES) \
    X("kernel32.dll", GetWindowsDirectoryA, ZERO, ERROR_ACCESS_DENIED, NONE, NONE, 0, nullptr) \
    X("kernel32.dll", GetSystemDirectoryA, ZERO, ERROR_ACCESS_DENIED, NONE, NONE, 0, nullptr) \
    X("kernel32.dll", GetModuleFileNameA, ZERO, ERROR_ACCESS_DENIED, NONE, NONE, 0, nullptr) \
    X("kernel32.dll", CreateMutexA, ZERO, ERROR_ACCESS_DENIED, ACQUIRE, HELD, -1, nullptr) \
    X("kernel32.dll", LoadLibraryA, ZERO, ERROR_MOD_NOT_FOUND, ACQUIRE, HELD, -1, nullptr) \
    X("kernel32.dll", LoadLibraryExA, ZERO, ERROR_MOD_NOT_FOUND, ACQUIRE, HELD, -1, nullptr) \
    X("kernel32.dll", GetModuleHandleA, ZERO, ERROR_MOD_NOT_FOUND, NONE, NONE, 0, nullptr) \
    X("kernel32.dll", GetProcAddress, ZERO, ERROR_PROC_NOT_FOUND, NONE, NONE, 0, nullptr) \
    X("kernel32.dll", CreateThread, ZERO, ERROR_NOT_ENOUGH_MEMORY, ACQUIRE, THREAD, -1, nullptr) \
    X("kernel32.dll", ResumeThread, ONES, ERROR_ACCESS_DENIED, NONE, NONE, 0, nullptr) \
    X("kernel32.dll", WaitForSingleObject, ONES, ERROR_INVALID_HANDLE, NONE, NONE, 0, nullptr) \
    X("kernel32.dll", HeapAlloc, ZERO, ERROR_NOT_ENOUGH_MEMORY, ACQUIRE, MEMORY, -1, nullptr) \
    X("kernel32.dll", HeapFree, ZERO, ERROR_INVALID_PARAMETER, RELEASE, MEMORY, 2, SWEEP_RELEASES) \
    X("kernel32.dll", LocalAlloc, ZERO, ERROR_NOT_ENOUGH_MEMORY, ACQUIRE, MEMORY, -1, nullptr) \
    X("kernel32.dll", LocalFree, ONES, ERROR_INVALID_HANDLE, RELEASE, MEMORY, 0, SWEEP_RELEASES) \
    X("kernel32.dll", FormatMessageA, ZERO, ERROR_NOT_ENOUGH_MEMORY, ACQUIRE, MEMORY, 4, nullptr) \
    X("kernel32.dll", VerifyVersionInfoA, ZERO, ERROR_OLD_WIN_VERSION, NONE, NONE, 0, nullptr) \
    X("shell32.dll", CommandLineToArgvW, ZERO, ERROR_NOT_ENOUGH_MEMORY, ACQUIRE, MEMORY, -1, nullptr) \
    X("user32.dll", DialogBoxParamA, ONES, ERROR_NOT_ENOUGH_MEMORY, NONE, NONE, 0, nullptr) \
    X("setupapi.dll", SetupDiGetClassDevsA, ONES, ERROR_NOT_ENOUGH_MEMORY, ACQUIRE, DEVICE_LIST, -1, nullptr) \
    X("setupapi.dll", SetupDiCreateDeviceInfoList, ONES, ERROR_NOT_ENOUGH_MEMORY, ACQUIRE, DEVICE_LIST, -1, nullptr) \
    X("setupapi.dll", SetupDiDestroyDeviceInfoList, ZERO, ERROR_INVALID_HANDLE, RELEASE, DEVICE_LIST, 0, SWEEP_RELEASES) \
    X("setupapi.dll", SetupDiEnumDeviceInfo, ZERO, ERROR_ACCESS_DENIED, NONE, NONE, 0, nullptr) \
    X("setupapi.dll", SetupDiGetDeviceRegistryPropertyA, ZERO, ERROR_ACCESS_DENIED, NONE, NONE, 0, nullptr) \
    X("setupapi.dll", SetupDiSetDeviceRegistryPropertyA, ZERO, ERROR_ACCESS_DENIED, NONE, NONE, 0, nullptr) \
    X("setupapi.dll", SetupDiCreateDeviceInfoA, ZERO, ERROR_ACCESS_DENIED, NONE, NONE, 0, nullptr) \
    X("setupapi.dll", SetupDiCallClassInstaller, ZERO, ERROR_ACCESS_DENIED, NONE, NONE, 0, nullptr) \
    X("setupapi.dll", SetupDiOpenDevRegKey, ONES, ERROR_ACCESS_DENIED, ACQUIRE, KEY, -1, nullptr) \
    X("setupapi.dll", SetupDiGetINFClassA, ZERO, ERROR_ACCESS_DENIED, NONE, NONE, 0, nullptr) \
    X("setupapi.dll", SetupOpenInfFileA, ONES, ERROR_ACCESS_DENIED, ACQUIRE, INF, -1, nullptr) \
    X("setupapi.dll", SetupCloseInfFile, ZERO, 0, RELEASE, INF, 0, SWEEP_RELEASES) \
    X("setupapi.dll", SetupFindFirstLineA, ZERO, ERROR_LINE_NOT_FOUND, NONE, NONE, 0, nullptr) \
    X("setupapi.dll", SetupFindNextLine, ZERO, ERROR_LINE_NOT_FOUND, NONE, NONE, 0, nullptr) \
    X("setupapi.dll", SetupGetStringFieldA, ZERO, ERROR_INVALID_PARAMETER, NONE, NONE, 0, nullptr) \
    X("setupapi.dll", SetupCopyOEMInfA, ZERO, ERROR_ACCESS_DENIED, NONE, NONE, 0, nullptr) \
    X("setupapi.dll", SetupUninstallOEMInfA, ZERO, ERROR_ACCESS_DENIED, NONE, NONE, 0, nullptr) \
    X("setupapi.dll", SetupGetFieldCount, ZERO, ERROR_INVALID_PARAMETER, NONE, NONE, 0, nullptr) \
    X("msvcrt.dll", fopen, ZERO, ERROR_ACCESS_DENIED, ACQUIRE, STREAM, -1, nullptr) \
    X("msvcrt.dll", setvbuf, CODE, ERROR_NOT_ENOUGH_MEMORY, NONE, NONE, 0, nullptr) \
    X("msvcrt.dll", fclose, ONES, ERROR_INVALID_HANDLE, RELEASE, STREAM, 0, SWEEP_RELEASES) \
    X("setupapi.dll", SetupDiGetDeviceInstallParamsA, ZERO, ERROR_ACCESS_DENIED, NONE, NONE, 0, nullptr) \
    X("setupapi.dll", SetupDiGetDeviceInstanceIdA, ZERO, ERROR_INSUFFICIENT_BUFFER, NONE, NONE, 0, nullptr) \
    X("kernel32.dll", WriteFile, ZERO, ERROR_DISK_FULL, NONE, NONE, 0, nullptr) \
    X("kernel32.dll", GetFileAttributesExA, ZERO, ERROR_ACCESS_DENIED, NONE, NONE, 0, nullptr) \
    X("kernel32.dll", MoveFileExA, ZERO, ERROR_SHARING_VIOLATION, NONE, NONE, 0, nullptr) \
    X("kernel32.dll", WideCharToMultiByte, ZERO, ERROR_INSUFFICIENT_BUFFER, NONE, NONE, 0, nullptr) \
    X("kernel32.dll", ProcessIdToSessionId, ZERO, ERROR_ACCESS_DENIED, NONE, NONE, 0, nullptr) \
    X("advapi32.dll", GetUserNameA, ZERO, ERROR_ACCESS_DENIED, NONE, NONE, 0, nullptr) \
    X("user32.dll", GetProcessWindowStation, ZERO, ERROR_ACCESS_DENIED, NONE, NONE, 0, nullptr) \
    X("user32.dll", GetUserObjectInformationA, ZERO, ERROR_ACCESS_DENIED, NONE, NONE, 0, nullptr) \
    X("advapi32.dll", RegQueryInfoKeyA, CODE, ERROR_ACCESS_DENIED, NONE, NONE, 0, nullptr) \
    X("kernel32.dll", GetModuleFileNameW, ZERO, ERROR_ACCESS_DENIED, NONE, NONE, 0, nullptr) \
    X("kernel32.dll", MultiByteToWideChar, ZERO, ERROR_INSUFFICIENT_BUFFER, NONE, NONE, 0, nullptr) \
    X("advapi32.dll", ChangeServiceConfigA, ZERO, ERROR_ACCESS_DENIED, NONE, NONE, 0, nullptr) \
    X("advapi32.dll", RegGetValueA, CODE, ERROR_ACCESS_DENIED, NONE, NONE, 0, nullptr) \
    R("kernel32.dll", IsWow64Process, ZERO, ERROR_ACCESS_DENIED, NONE, NONE, 0, nullptr) \
    R("kernel32.dll", IsWow64Process2, ZERO, ERROR_ACCESS_DENIED, NONE, NONE, 0, nullptr) \
    R("cfgmgr32.dll", CM_Get_DevNode_Status, CODE, CR_FAILURE, NONE, NONE, 0, nullptr) \
    R("cfgmgr32.dll", CMP_WaitNoPendingInstallEvents, ONES, ERROR_INVALID_HANDLE, NONE, NONE, 0, nullptr) \
    R("newdev.dll", UpdateDriverForPlugAndPlayDevicesA, ZERO, ERROR_NO_SUCH_DEVINST, NONE, NONE, 0, nullptr) \
    R("msports.dll", ComDBOpen, CODE, ERROR_ACCESS_DENIED, ACQUIRE, COMDB, 0, nullptr) \
    R("msports.dll", ComDBClose, CODE, ERROR_INVALID_PARAMETER, RELEASE, COMDB, 0, SWEEP_RELEASES) \
    N("msvcrt.dll", fgets, "one call per line piece of every INF file; a failing read ends that file like its end, " \
                           "which the failing fopen of the same file covers") \
    N("kernel32.dll", GetLastError, SWEEP_CANNOT_FAIL) \
    N("kernel32.dll", SetThreadLocale, "sets this thread's locale to English, which every Windows has; cannot fail") \
    N("kernel32.dll", SetThreadUILanguage, "looked up only when the display language cannot be shown; the locale " \
                                           "set beside it covers a failure") \
    N("msvcrt.dll", strchr, SWEEP_STRINGS) \
    N("kernel32.dll", SetLastError, SWEEP_CANNOT_FAIL) \
    N("kernel32.dll", GetCurrentProcess, "returns a pseudo handle; cannot fail") \
    N("kernel32.dll", GetProcessHeap, "the process heap exists while the process runs") \
    N("kernel32.dll", GetCommandLineW, "replaced by the scenario's command line; cannot fail") \
    N("kernel32.dll", Sleep, SWEEP_CANNOT_FAIL) \
    N("kernel32.dll", GetTickCount, SWEEP_CANNOT_FAIL) \
    N("kernel32.dll", GetLocalTime, SWEEP_CANNOT_FAIL) \
    N("kernel32.dll", GetCurrentProcessId, SWEEP_CANNOT_FAIL) \
    N("kernel32.dll", InitializeCriticalSection, SWEEP_LOG_LOCK) \
    N("kernel32.dll", EnterCriticalSection, SWEEP_LOG_LOCK) \
    N("kernel32.dll", LeaveCriticalSection, SWEEP_LOG_LOCK) \
    N("ntdll.dll", RtlGetVersion, "looked up for the log's first line; reports the running version, cannot fail") \
    N("kernel32.dll", VerSetConditionMask, "computes a mask; cannot fail") \
    N("user32.dll", LoadStringA, "reads the exe's own string table, which is always there") \
    N("user32.dll", MessageBoxA, "recorded by the scenario; the run waits for the user either way") \
    N("user32.dll", SendMessageA, SWEEP_DIALOG) \
    N("user32.dll", GetDlgItem, SWEEP_DIALOG) \
    N("user32.dll", EnableWindow, SWEEP_DIALOG) \
    N("user32.dll", ShowWindow, SWEEP_DIALOG) \
    N("user32.dll", EndDialog, SWEEP_DIALOG) \
    N("user32.dll", SetWindowLongPtrA, SWEEP_DIALOG) \
    N("user32.dll", GetWindowLongPtrA, SWEEP_DIALOG) \
    N("user32.dll", GetSystemMenu, SWEEP_DIALOG) \
    N("user32.dll", AppendMenuA, SWEEP_DIALOG) \
    N("user32.dll", LoadImageA, SWEEP_DIALOG) \
    N("comctl32.dll", InitCommonControls, "returns nothing") \
    N("advapi32.dll", GetTraceLoggerHandle, SWEEP_TRACING) \
    N("advapi32.dll", GetTraceEnableLevel, SWEEP_TRACING) \
    N("advapi32.dll", GetTraceEnableFlags, SWEEP_TRACING) \
    N("advapi32.dll", TraceMessage, SWEEP_TRACING) \
    N("kernel32.dll", lstrlenA, SWEEP_STRINGS) \
    N("kernel32.dll", lstrcmpA, SWEEP_STRINGS) \
    N("kernel32.dll", lstrcmpiA, SWEEP_STRINGS) \
    N("setupapi.dll", SetupSetNonInteractiveMode, "sets a flag of the process and returns its previous value; cannot fail") \
    N("setupapi.dll", SetupGetNonInteractiveMode, "returns a flag of the process; cannot fail") \
    N("msvcrt.dll", _mbschr, SWEEP_STRINGS) \
    N("msvcrt.dll", _mbsrchr, SWEEP_STRINGS) \
    N("msvcrt.dll", _mbsstr, SWEEP_STRINGS) \
    N("msvcrt.dll", _mbsinc, SWEEP_STRINGS) \
    N("msvcrt.dll", _mbsdec, SWEEP_STRINGS) \
    N("msvcrt.dll", _mbsicmp, SWEEP_STRINGS) \
    N("msvcrt.dll", _mbsupr, SWEEP_STRINGS) \
    N("msvcrt.dll", _ismbblead, SWEEP_STRINGS) \
    N("msvcrt.dll", _vsnprintf, SWEEP_STRINGS) \
    N("advapi32.dll", RegisterTraceGuidsA, "called by the process entry, outside RunSetup") \
    N("advapi32.dll", UnregisterTraceGuids, "called by the process entry, outside RunSetup") \
    N("kernel32.dll", DeleteCriticalSection, SWEEP_RUNTIME) \
    N("kernel32.dll", GetStartupInfoA, SWEEP_RUNTIME) \
    N("kernel32.dll", SetUnhandledExceptionFilter, SWEEP_RUNTIME) \
    N("kernel32.dll", TlsGetValue, SWEEP_RUNTIME) \
    N("kernel32.dll", VirtualProtect, SWEEP_RUNTIME) \
    N("kernel32.dll", VirtualQuery, SWEEP_RUNTIME) \
    N("kernel32.dll", __C_specific_handler, SWEEP_RUNTIME)

// Calls that may change the machine made by the modules our device
// installation runs through: the newdev and msports stand-ins and Wine's
// Setup API, which the product reaches through newdev.dll and setupapi.dll
// and which runs the Ports class installer of msports.dll. K(module,
// imported dll, function): each is patched in that module's import table
// and named "module.dll!function"; the kill sweep kills there, nothing is
// made to fail (a failing system call inside a system DLL is that DLL's to
// handle, and the product sees it as the failure of its own call, which the
// product's rows already inject).
#define SWEEP_INSIDE_SYSTEM "inside the system's device installation: killed at, never failed"
#define SWEEP_MODULE_CALLS(K) \
    K(newdev, "kernel32.dll", CreateDirectoryW, 0) \
    K(newdev, "kernel32.dll", CreateFileW, 0) \
    K(newdev, "kernel32.dll", WriteFile, 0) \
    K(newdev, "kernel32.dll", MoveFileExW, 1) \
    K(newdev, "setupapi.dll", SetupDiCallClassInstaller, 1) \
    K(msports, "advapi32.dll", RegCreateKeyExA, 1) \
    K(msports, "advapi32.dll", RegSetValueExA, 1) \
    K(msports, "setupapi.dll", SetupDiCreateDevRegKeyA, 0) \
    K(msports, "setupapi.dll", SetupDiCreateDevRegKeyW, 0) \
    K(msports, "setupapi.dll", SetupDiInstallDevice, 1) \
    K(msports, "setupapi.dll", SetupDiSetDeviceRegistryPropertyA, 1) \
    K(msports, "setupapi.dll", SetupInstallFromInfSectionW, 0) \
    K(setupapi, "advapi32.dll", RegCreateKeyExW, 0) \
    K(setupapi, "advapi32.dll", RegCreateKeyW, 0) \
    K(setupapi, "advapi32.dll", RegDeleteKeyW, 0) \
    K(setupapi, "advapi32.dll", RegDeleteTreeW, 0) \
    K(setupapi, "advapi32.dll", RegDeleteValueW, 0) \
    K(setupapi, "advapi32.dll", RegSetValueExA, 0) \
    K(setupapi, "advapi32.dll", RegSetValueExW, 1) \
    K(setupapi, "advapi32.dll", CreateServiceW, 1) \
    K(setupapi, "advapi32.dll", ChangeServiceConfigW, 0) \
    K(setupapi, "advapi32.dll", ChangeServiceConfig2W, 0) \
    K(setupapi, "advapi32.dll", StartServiceW, 0) \
    K(setupapi, "advapi32.dll", ControlService, 0) \
    K(setupapi, "advapi32.dll", DeleteService, 0) \
    K(setupapi, "advapi32.dll", SetFileSecurityW, 0) \
    K(setupapi, "kernelbase.dll", CopyFileW, 0) \
    K(setupapi, "kernelbase.dll", CreateDirectoryW, 0) \
    K(setupapi, "kernelbase.dll", CreateFileA, 0) \
    K(setupapi, "kernelbase.dll", CreateFileW, 0) \
    K(setupapi, "kernelbase.dll", DeleteFileW, 0) \
    K(setupapi, "kernelbase.dll", MoveFileExW, 0) \
    K(setupapi, "kernelbase.dll", WriteFile, 0) \
    K(setupapi, "kernelbase.dll", SetEndOfFile, 0) \
    K(setupapi, "kernel32.dll", MoveFileW, 0) \
    K(setupapi, "kernel32.dll", WritePrivateProfileStringW, 0)

// Faults of one device rather than of one call number: every call of the
// function whose device (the SP_DEVINFO_DATA after the device list at
// argument nList) is the chosen one fails with the error. FOREIGN_PORT is
// the first COM port in the walks' order that is not ours (the lived-in
// machine's present port, which the walks meet before ours); OUR_FIRST is
// the first device of our function driver. A device that is not ours has
// nothing to do with the job: the run must do all of it. Of ours, only the
// device that cannot be removed may be left.
// V(function, nList, device, error)
#define SWEEP_DEVICE_FAULTS(V) \
    V(SetupDiGetDeviceRegistryPropertyA, 0, FOREIGN_PORT, ERROR_NO_SUCH_DEVINST) \
    V(SetupDiCallClassInstaller, 1, OUR_FIRST, ERROR_ACCESS_DENIED)

enum DeviceChoice { DEVICE_FOREIGN_PORT, DEVICE_OUR_FIRST };

struct DeviceFaultRow {
    const char* pszFunction;
    int nListArgument;
    DeviceChoice eDevice;
    DWORD dwError;
    const char* pszName;  // for the report: the function and the device
};

enum FailStyle { FAIL_ZERO, FAIL_ONES, FAIL_CODE };
enum CallRole { ROLE_NONE, ROLE_ACQUIRE, ROLE_RELEASE };
// What a call acquires or releases. HELD resources (the single-instance
// mutex, loaded libraries) are kept on purpose; ANY releases whatever the
// handle was acquired as (CloseHandle: files, threads).
enum ResourceKind {
    RESOURCE_NONE, RESOURCE_KEY, RESOURCE_FILE, RESOURCE_FIND, RESOURCE_DEVICE_LIST, RESOURCE_INF,
    RESOURCE_SERVICE, RESOURCE_MEMORY, RESOURCE_THREAD, RESOURCE_COMDB, RESOURCE_STREAM, RESOURCE_HELD, RESOURCE_ANY
};

struct FunctionRow {
    const char* pszDll;
    const char* pszName;
    FailStyle style;
    DWORD dwError;
    CallRole role;
    ResourceKind kind;
    int nHandleArgument;
    const char* pszReason;  // null: the sweep makes this call fail
    bool bRuntime;          // looked up with GetProcAddress, not imported
    bool bIntercepted;      // false for N rows
    void* pfnWrapper;
    const char* pszModule;  // K rows: the module whose imports are patched; null: the program's
    bool bSampled;          // K rows: killed at in the ctest sample
};

// The table: the intercepted rows of SWEEP_FUNCTIONS, then the K rows, then
// the N rows.
const FunctionRow* GetFunctionRows(int* pnCount);
const char* DescribeResource(ResourceKind kind);
const DeviceFaultRow* GetDeviceFaultRows(int* pnCount);
