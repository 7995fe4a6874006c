// One wrapper per table row, generated with the exact signature of the
// function it stands for; the wrapper counts the call, fails the chosen one
// with the row's failure value and error, and otherwise calls the original
// and records what it acquired or released.
#include "interceptor.h"

#include <stdio.h>
#include <string.h>

#include <map>
#include <memory>
#include <type_traits>

#include "iat_patch.h"

namespace {

#define SWEEP_INDEX(dll, name, ...) ROW_##name,
#define SWEEP_NO_INDEX(dll, name, reason)
#define SWEEP_MODULE_INDEX(module, dll, name, sampled) ROW_##module##_##name,
enum RowIndex {
    SWEEP_FUNCTIONS(SWEEP_INDEX, SWEEP_INDEX, SWEEP_NO_INDEX) SWEEP_MODULE_CALLS(SWEEP_MODULE_INDEX) INTERCEPTED_ROWS
};

struct State {
    void* apfnOriginal[INTERCEPTED_ROWS];
    volatile LONG anCalls[INTERCEPTED_ROWS];
    volatile LONG bCounting;
    int nInjectRow;
    long nInjectCall;
    bool bKill;  // the chosen call ends the process instead of failing
    bool bInjected;
    int nDeviceRow;           // the row whose calls on one device fail, or -1
    int nListArgument;        // its device list argument; the device follows
    std::string strDeviceId;  // that device's instance ID
    DWORD dwDeviceError;
    CRITICAL_SECTION lock;  // guards the two containers below
    std::map<void*, int> mapLive;  // handle -> acquiring row
    std::vector<std::string> vecUnmatched;
};
State* g_pState = nullptr;

// Any argument or result as a pointer-sized value, for the accounting.
template <typename T>
void* ToPointer(T value) {
    if constexpr (std::is_pointer<T>::value) {
        if constexpr (std::is_function<typename std::remove_pointer<T>::type>::value) {
            return reinterpret_cast<void*>(value);
        } else {
            return const_cast<void*>(static_cast<const volatile void*>(value));
        }
    } else if constexpr (std::is_integral<T>::value || std::is_enum<T>::value) {
        return reinterpret_cast<void*>(static_cast<ULONG_PTR>(value));
    } else {
        return nullptr;
    }
}

template <typename T>
T MakeFailure(const FunctionRow& row) {
    if constexpr (std::is_pointer<T>::value) {
        return reinterpret_cast<T>(row.style == FAIL_ONES ? static_cast<INT_PTR>(-1) : 0);
    } else {
        if (row.style == FAIL_CODE) return static_cast<T>(row.dwError);
        return static_cast<T>(row.style == FAIL_ONES ? -1 : 0);
    }
}

template <typename T>
bool IsSuccess(const FunctionRow& row, T result) {
    if (row.style == FAIL_CODE) return ToPointer(result) == nullptr;
    return ToPointer(result) != ToPointer(MakeFailure<T>(row));
}

bool IsNoHandle(void* pHandle) {
    return pHandle == nullptr || pHandle == INVALID_HANDLE_VALUE;
}

// Before the call: the handle a release hands back.
void AccountRelease(int nRow, void* const* apArguments) {
    const FunctionRow& row = GetFunctionRows(nullptr)[nRow];
    void* pHandle = apArguments[row.nHandleArgument];
    if (IsNoHandle(pHandle)) return;
    EnterCriticalSection(&g_pState->lock);
    if (g_pState->mapLive.erase(pHandle) == 0 && row.kind != RESOURCE_ANY) {
        g_pState->vecUnmatched.push_back(row.pszName);
    }
    LeaveCriticalSection(&g_pState->lock);
}

// After a successful call: the handle an acquisition returned or stored.
void AccountAcquisition(int nRow, void* pResult, void* const* apArguments) {
    const FunctionRow& row = GetFunctionRows(nullptr)[nRow];
    void* pHandle = pResult;
    if (row.nHandleArgument >= 0) {
        void** ppOut = static_cast<void**>(apArguments[row.nHandleArgument]);
        bool bAllocates = nRow != ROW_FormatMessageA ||
                          (reinterpret_cast<ULONG_PTR>(apArguments[0]) & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0;
        pHandle = ppOut != nullptr && bAllocates ? *ppOut : nullptr;
    }
    if (IsNoHandle(pHandle)) return;
    EnterCriticalSection(&g_pState->lock);
    g_pState->mapLive[pHandle] = nRow;
    LeaveCriticalSection(&g_pState->lock);
}

// True when this call is the one to fail.
bool CountCall(int nRow) {
    LONG nCall = InterlockedIncrement(&g_pState->anCalls[nRow]);
    if (nRow != g_pState->nInjectRow || nCall != g_pState->nInjectCall) return false;
    g_pState->bInjected = true;
    // A kill or a power cut: the run ends at once, before the call.
    if (g_pState->bKill) TerminateProcess(GetCurrentProcess(), SWEEP_KILL_EXIT_CODE);
    return true;
}

// True when the call's device is the one whose calls fail.
bool IsChosenDevice(int nRow, void* const* apArguments) {
    if (nRow != g_pState->nDeviceRow) return false;
    HDEVINFO hList = static_cast<HDEVINFO>(apArguments[g_pState->nListArgument]);
    SP_DEVINFO_DATA* pDevice = static_cast<SP_DEVINFO_DATA*>(apArguments[g_pState->nListArgument + 1]);
    char szId[MAX_DEVICE_ID_LEN] = "";
    return pDevice != nullptr && SetupDiGetDeviceInstanceIdA(hList, pDevice, szId, MAX_DEVICE_ID_LEN, nullptr) &&
           _stricmp(szId, g_pState->strDeviceId.c_str()) == 0;
}

void* WrapLookedUpFunction(const char* pszName, void* pfnFound);

template <int N, typename F>
struct CWrapper;

template <int N, typename TResult, typename... TArgs>
struct CWrapper<N, TResult(WINAPI*)(TArgs...)> {
    static TResult WINAPI Call(TArgs... args) {
        typedef TResult(WINAPI * Function)(TArgs...);
        Function pfnOriginal = reinterpret_cast<Function>(g_pState->apfnOriginal[N]);
        if (!g_pState->bCounting) return pfnOriginal(args...);
        const FunctionRow& row = GetFunctionRows(nullptr)[N];
        void* apArguments[] = {ToPointer(args)..., nullptr};
        bool bChosenDevice = IsChosenDevice(N, apArguments);
        if (CountCall(N) || bChosenDevice) {
            g_pState->bInjected = true;
            SetLastError(bChosenDevice ? g_pState->dwDeviceError : row.dwError);
            if constexpr (!std::is_void<TResult>::value) return MakeFailure<TResult>(row);
            else return;
        }
        if (row.role == ROLE_RELEASE) AccountRelease(N, apArguments);
        if constexpr (std::is_void<TResult>::value) {
            pfnOriginal(args...);
        } else {
            TResult result = pfnOriginal(args...);
            DWORD dwError = GetLastError();
            if constexpr (N == ROW_GetProcAddress) {
                result = reinterpret_cast<TResult>(WrapLookedUpFunction(
                    static_cast<const char*>(apArguments[1]), reinterpret_cast<void*>(result)));
            }
            if (row.role == ROLE_ACQUIRE && IsSuccess(row, result)) {
                AccountAcquisition(N, ToPointer(result), apArguments);
            }
            SetLastError(dwError);
            return result;
        }
    }
};

#define SWEEP_ROW(dll, name, failure, error, role, kind, argument, reason, runtime) \
    {dll, #name, FAIL_##failure, error, ROLE_##role, RESOURCE_##kind, argument, reason, runtime, true, \
     reinterpret_cast<void*>(&CWrapper<ROW_##name, decltype(&::name)>::Call), nullptr, false},
#define SWEEP_IMPORTED(dll, name, ...) SWEEP_ROW(dll, name, __VA_ARGS__, false)
#define SWEEP_LOOKED_UP(dll, name, ...) SWEEP_ROW(dll, name, __VA_ARGS__, true)
#define SWEEP_LEFT_OUT(dll, name, reason) \
    {dll, #name, FAIL_ZERO, 0, ROLE_NONE, RESOURCE_NONE, 0, reason, false, false, nullptr, nullptr, false},
#define SWEEP_NOTHING(...)
#define SWEEP_MODULE_ROW(module, dll, name, sampled) \
    {dll, #module ".dll!" #name, FAIL_ZERO, 0, ROLE_NONE, RESOURCE_NONE, 0, SWEEP_INSIDE_SYSTEM, false, true, \
     reinterpret_cast<void*>(&CWrapper<ROW_##module##_##name, decltype(&::name)>::Call), #module ".dll", sampled != 0},

const FunctionRow g_rows[] = {SWEEP_FUNCTIONS(SWEEP_IMPORTED, SWEEP_LOOKED_UP, SWEEP_NOTHING)
                                  SWEEP_MODULE_CALLS(SWEEP_MODULE_ROW)
                                      SWEEP_FUNCTIONS(SWEEP_NOTHING, SWEEP_NOTHING, SWEEP_LEFT_OUT)};

// The module a row's import slot is in: the program, or a system DLL loaded
// here from the system folder as the product loads it, so that the product's
// own load finds it already patched; the reference is kept for the process.
HMODULE FindPatchedModule(const FunctionRow& row) {
    if (row.pszModule == nullptr) return GetModuleHandleA(nullptr);
    char szFolder[MAX_PATH] = "";
    char szPath[MAX_PATH] = "";
    UINT nLength = GetSystemDirectoryA(szFolder, MAX_PATH);
    int nPath = snprintf(szPath, MAX_PATH, "%s\\%s", szFolder, row.pszModule);
    return nLength == 0 || nLength >= MAX_PATH || nPath >= MAX_PATH ? nullptr : LoadLibraryA(szPath);
}

// Runtime lookups by name (ordinals are passed through unchanged) get the
// counting wrapper; the real address becomes its original.
void* WrapLookedUpFunction(const char* pszName, void* pfnFound) {
    if (pfnFound == nullptr || IS_INTRESOURCE(pszName)) return pfnFound;
    int nRow = FindFunctionRow(pszName);
    if (nRow < 0 || nRow >= INTERCEPTED_ROWS || !g_rows[nRow].bRuntime) return pfnFound;
    g_pState->apfnOriginal[nRow] = pfnFound;
    return g_rows[nRow].pfnWrapper;
}

std::vector<std::unique_ptr<CIatPatch>>* g_pPatches = nullptr;

} // namespace

#define SWEEP_DEVICE_ROW(name, list, device, error) \
    {#name, list, DEVICE_##device, error, #name " (" #device ")"},
const DeviceFaultRow g_deviceRows[] = {SWEEP_DEVICE_FAULTS(SWEEP_DEVICE_ROW)};

const DeviceFaultRow* GetDeviceFaultRows(int* pnCount) {
    *pnCount = static_cast<int>(sizeof g_deviceRows / sizeof g_deviceRows[0]);
    return g_deviceRows;
}

const FunctionRow* GetFunctionRows(int* pnCount) {
    if (pnCount != nullptr) *pnCount = static_cast<int>(sizeof g_rows / sizeof g_rows[0]);
    return g_rows;
}

const char* DescribeResource(ResourceKind kind) {
    static const char* const NAMES[] = {"none", "registry key", "file handle", "find handle", "device info list",
                                        "INF handle", "service handle", "memory block", "thread handle",
                                        "ComDB handle", "C runtime stream", "held", "handle"};
    return NAMES[kind];
}

int FindFunctionRow(const char* pszName) {
    for (int i = 0; i < static_cast<int>(sizeof g_rows / sizeof g_rows[0]); ++i) {
        if (strcmp(g_rows[i].pszName, pszName) == 0) return i;
    }
    return -1;
}

CInterceptor::CInterceptor(int nInjectRow, long nInjectCall, bool bKill) {
    g_pState = new State();
    g_pState->nInjectRow = nInjectRow;
    g_pState->nInjectCall = nInjectCall;
    g_pState->bKill = bKill;
    g_pState->nDeviceRow = -1;
    InitializeCriticalSection(&g_pState->lock);
    g_pPatches = new std::vector<std::unique_ptr<CIatPatch>>();
    for (int i = 0; i < INTERCEPTED_ROWS; ++i) {
        HMODULE hModule = g_rows[i].bRuntime ? nullptr : FindPatchedModule(g_rows[i]);
        if (hModule == nullptr) continue;
        const char* pszFunction = g_rows[i].pszModule == nullptr ? g_rows[i].pszName : strchr(g_rows[i].pszName, '!') + 1;
        std::unique_ptr<CIatPatch> patch(new CIatPatch(hModule, g_rows[i].pszDll, pszFunction, g_rows[i].pfnWrapper));
        g_pState->apfnOriginal[i] = patch->Original();
        if (patch->IsApplied()) g_pPatches->push_back(std::move(patch));
    }
}

CInterceptor::~CInterceptor() {
    EndCounting();
    delete g_pPatches;
    g_pPatches = nullptr;
    DeleteCriticalSection(&g_pState->lock);
    delete g_pState;
    g_pState = nullptr;
}

void CInterceptor::BeginCounting() {
    if (g_pState != nullptr) InterlockedExchange(&g_pState->bCounting, 1);
}
void CInterceptor::EndCounting() {
    if (g_pState != nullptr) InterlockedExchange(&g_pState->bCounting, 0);
}

long CInterceptor::GetCallCount(int nRow) const {
    return nRow >= 0 && nRow < INTERCEPTED_ROWS ? g_pState->anCalls[nRow] : 0;
}

bool CInterceptor::WasInjected() const { return g_pState->bInjected; }

void CInterceptor::FailDevice(const DeviceFaultRow& row, const std::string& strInstanceId) {
    g_pState->nDeviceRow = FindFunctionRow(row.pszFunction);
    g_pState->nListArgument = row.nListArgument;
    g_pState->strDeviceId = strInstanceId;
    g_pState->dwDeviceError = row.dwError;
}

std::vector<LeakedResource> CInterceptor::ListLeaks() const {
    std::vector<LeakedResource> vecLeaks;
    EnterCriticalSection(&g_pState->lock);
    for (const auto& live : g_pState->mapLive) {
        const FunctionRow& row = g_rows[live.second];
        if (row.kind != RESOURCE_HELD) vecLeaks.push_back({row.pszName, row.kind});
    }
    LeaveCriticalSection(&g_pState->lock);
    return vecLeaks;
}

std::vector<std::string> CInterceptor::ListUnmatchedReleases() const {
    EnterCriticalSection(&g_pState->lock);
    std::vector<std::string> vecUnmatched = g_pState->vecUnmatched;
    LeaveCriticalSection(&g_pState->lock);
    return vecUnmatched;
}
