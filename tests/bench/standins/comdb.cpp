// COM port arbiter database of the msports.dll stand-in: the bitmap in the
// registry value "ComDB", COM n being bit (n-1)%8 of byte (n-1)/8. Every
// operation reads the value, changes it and writes it back under a named
// mutex, so processes that share the database see each other's claims.
#include <windows.h>

#include <ddk/msports.h>

namespace {

const char* ARBITER_KEY = "System\\CurrentControlSet\\Control\\COM Name Arbiter";
const char* ARBITER_VALUE = "ComDB";
const char* ARBITER_MUTEX = "DeviceBenchComDBMutex";
const DWORD NEW_DATABASE_BYTES = COMDB_MIN_PORTS_ARBITRATED / 8;
const DWORD MAX_DATABASE_BYTES = COMDB_MAX_PORTS_ARBITRATED / 8;
const DWORD HANDLE_SIGNATURE = 0x42444D43;

struct CComDBHandle {
    DWORD m_dwSignature;
    HKEY m_hKey;
    HANDLE m_hMutex;
};

// The bitmap as read, with its registry type (written back unchanged).
struct CBitmap {
    BYTE m_abData[MAX_DATABASE_BYTES];
    DWORD m_cbData;
    DWORD m_dwType;
};

CComDBHandle* GetDatabase(HCOMDB hComDB)
{
    CComDBHandle* pDatabase = reinterpret_cast<CComDBHandle*>(hComDB);
    if (hComDB == nullptr || hComDB == HCOMDB_INVALID_HANDLE_VALUE || pDatabase->m_dwSignature != HANDLE_SIGNATURE) {
        return nullptr;
    }
    return pDatabase;
}

// Holds the database mutex for one read-change-write cycle.
class CDatabaseLock {
public:
    explicit CDatabaseLock(HANDLE hMutex) : m_hMutex(hMutex)
    {
        DWORD dwWait = WaitForSingleObject(m_hMutex, INFINITE);
        m_bHeld = dwWait == WAIT_OBJECT_0 || dwWait == WAIT_ABANDONED;
    }
    ~CDatabaseLock()
    {
        if (m_bHeld) {
            ReleaseMutex(m_hMutex);
        }
    }
    CDatabaseLock(const CDatabaseLock&) = delete;
    CDatabaseLock& operator=(const CDatabaseLock&) = delete;

private:
    HANDLE m_hMutex;
    bool m_bHeld;
};

LONG ReadBitmap(HKEY hKey, CBitmap* pBitmap)
{
    pBitmap->m_cbData = sizeof(pBitmap->m_abData);
    LONG lResult = RegQueryValueExA(hKey, ARBITER_VALUE, nullptr, &pBitmap->m_dwType, pBitmap->m_abData,
                                    &pBitmap->m_cbData);
    return lResult == ERROR_SUCCESS ? ERROR_SUCCESS : ERROR_NOT_CONNECTED;
}

LONG WriteBitmap(HKEY hKey, const CBitmap& bitmap)
{
    LONG lResult = RegSetValueExA(hKey, ARBITER_VALUE, 0, bitmap.m_dwType, bitmap.m_abData, bitmap.m_cbData);
    return lResult == ERROR_SUCCESS ? ERROR_SUCCESS : ERROR_CANTWRITE;
}

bool IsPortInRange(const CBitmap& bitmap, DWORD dwPort)
{
    return dwPort >= 1 && dwPort <= bitmap.m_cbData * 8;
}

BYTE PortMask(DWORD dwPort)
{
    return static_cast<BYTE>(1u << ((dwPort - 1) % 8));
}

bool IsPortInUse(const CBitmap& bitmap, DWORD dwPort)
{
    return (bitmap.m_abData[(dwPort - 1) / 8] & PortMask(dwPort)) != 0;
}

void MarkPort(CBitmap* pBitmap, DWORD dwPort, bool bInUse)
{
    BYTE* pbByte = &pBitmap->m_abData[(dwPort - 1) / 8];
    *pbByte = static_cast<BYTE>(bInUse ? (*pbByte | PortMask(dwPort)) : (*pbByte & ~PortMask(dwPort)));
}

// A system without the value gets an empty database of the default size.
LONG CreateBitmapIfMissing(HKEY hKey)
{
    DWORD cbData = 0;
    LONG lResult = RegQueryValueExA(hKey, ARBITER_VALUE, nullptr, nullptr, nullptr, &cbData);
    if (lResult != ERROR_FILE_NOT_FOUND) {
        return lResult;
    }
    BYTE abEmpty[NEW_DATABASE_BYTES] = {};
    return RegSetValueExA(hKey, ARBITER_VALUE, 0, REG_BINARY, abEmpty, sizeof(abEmpty));
}

void FreeDatabase(CComDBHandle* pDatabase)
{
    if (pDatabase->m_hKey != nullptr) {
        RegCloseKey(pDatabase->m_hKey);
    }
    if (pDatabase->m_hMutex != nullptr) {
        CloseHandle(pDatabase->m_hMutex);
    }
    pDatabase->m_dwSignature = 0;
    HeapFree(GetProcessHeap(), 0, pDatabase);
}

} // namespace

extern "C" __declspec(dllexport) LONG WINAPI ComDBOpen(HCOMDB* phComDB)
{
    if (phComDB == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *phComDB = HCOMDB_INVALID_HANDLE_VALUE;
    CComDBHandle* pDatabase =
        static_cast<CComDBHandle*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(CComDBHandle)));
    if (pDatabase == nullptr) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    LONG lResult = ERROR_SUCCESS;
    pDatabase->m_hMutex = CreateMutexA(nullptr, FALSE, ARBITER_MUTEX);
    if (pDatabase->m_hMutex == nullptr) {
        lResult = static_cast<LONG>(GetLastError());
    } else {
        lResult = RegCreateKeyExA(HKEY_LOCAL_MACHINE, ARBITER_KEY, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &pDatabase->m_hKey, nullptr);
    }
    if (lResult == ERROR_SUCCESS) {
        CDatabaseLock lock(pDatabase->m_hMutex);
        lResult = CreateBitmapIfMissing(pDatabase->m_hKey);
    }
    if (lResult != ERROR_SUCCESS) {
        FreeDatabase(pDatabase);
        return lResult;
    }
    pDatabase->m_dwSignature = HANDLE_SIGNATURE;
    *phComDB = reinterpret_cast<HCOMDB>(pDatabase);
    return ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) LONG WINAPI ComDBClose(HCOMDB hComDB)
{
    CComDBHandle* pDatabase = GetDatabase(hComDB);
    if (pDatabase == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    FreeDatabase(pDatabase);
    return ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) LONG WINAPI ComDBClaimPort(HCOMDB hComDB, DWORD dwPort, BOOL bForceClaim,
                                                             PBOOL pbForced)
{
    CComDBHandle* pDatabase = GetDatabase(hComDB);
    if (pDatabase == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if (pbForced != nullptr) {
        *pbForced = FALSE;
    }
    CDatabaseLock lock(pDatabase->m_hMutex);
    CBitmap bitmap;
    LONG lResult = ReadBitmap(pDatabase->m_hKey, &bitmap);
    if (lResult != ERROR_SUCCESS) {
        return lResult;
    }
    if (!IsPortInRange(bitmap, dwPort)) {
        return ERROR_INVALID_PARAMETER;
    }
    if (IsPortInUse(bitmap, dwPort)) {
        if (!bForceClaim) {
            return ERROR_SHARING_VIOLATION;
        }
        if (pbForced != nullptr) {
            *pbForced = TRUE;
        }
        return ERROR_SUCCESS;
    }
    MarkPort(&bitmap, dwPort, true);
    return WriteBitmap(pDatabase->m_hKey, bitmap);
}

extern "C" __declspec(dllexport) LONG WINAPI ComDBReleasePort(HCOMDB hComDB, DWORD dwPort)
{
    CComDBHandle* pDatabase = GetDatabase(hComDB);
    if (pDatabase == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    CDatabaseLock lock(pDatabase->m_hMutex);
    CBitmap bitmap;
    LONG lResult = ReadBitmap(pDatabase->m_hKey, &bitmap);
    if (lResult != ERROR_SUCCESS) {
        return lResult;
    }
    if (!IsPortInRange(bitmap, dwPort)) {
        return ERROR_INVALID_PARAMETER;
    }
    MarkPort(&bitmap, dwPort, false);
    return WriteBitmap(pDatabase->m_hKey, bitmap);
}

extern "C" __declspec(dllexport) LONG WINAPI ComDBClaimNextFreePort(HCOMDB hComDB, LPDWORD pdwPort)
{
    CComDBHandle* pDatabase = GetDatabase(hComDB);
    if (pDatabase == nullptr || pdwPort == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    CDatabaseLock lock(pDatabase->m_hMutex);
    CBitmap bitmap;
    LONG lResult = ReadBitmap(pDatabase->m_hKey, &bitmap);
    if (lResult != ERROR_SUCCESS) {
        return lResult;
    }
    for (DWORD dwPort = 1; dwPort <= bitmap.m_cbData * 8; ++dwPort) {
        if (!IsPortInUse(bitmap, dwPort)) {
            MarkPort(&bitmap, dwPort, true);
            lResult = WriteBitmap(pDatabase->m_hKey, bitmap);
            if (lResult == ERROR_SUCCESS) {
                *pdwPort = dwPort;
            }
            return lResult;
        }
    }
    return ERROR_NO_LOG_SPACE;
}

// CDB_REPORT_BITS copies the bitmap; CDB_REPORT_BYTES gives one byte per
// port, 1 when in use. A null buffer asks only for the number of ports.
extern "C" __declspec(dllexport) LONG WINAPI ComDBGetCurrentPortUsage(HCOMDB hComDB, PBYTE pbBuffer,
                                                                       DWORD cbBuffer, DWORD dwReportType,
                                                                       LPDWORD pdwMaxPortsReported)
{
    CComDBHandle* pDatabase = GetDatabase(hComDB);
    if (pDatabase == nullptr || (dwReportType != CDB_REPORT_BITS && dwReportType != CDB_REPORT_BYTES) ||
        (pbBuffer == nullptr && pdwMaxPortsReported == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    CDatabaseLock lock(pDatabase->m_hMutex);
    CBitmap bitmap;
    LONG lResult = ReadBitmap(pDatabase->m_hKey, &bitmap);
    if (lResult != ERROR_SUCCESS) {
        return lResult;
    }
    DWORD dwPorts = bitmap.m_cbData * 8;
    if (pbBuffer == nullptr) {
        *pdwMaxPortsReported = dwPorts;
        return ERROR_SUCCESS;
    }
    DWORD dwReported = 0;
    if (dwReportType == CDB_REPORT_BITS) {
        DWORD cbCopy = cbBuffer < bitmap.m_cbData ? cbBuffer : bitmap.m_cbData;
        CopyMemory(pbBuffer, bitmap.m_abData, cbCopy);
        dwReported = cbCopy * 8;
    } else {
        dwReported = cbBuffer < dwPorts ? cbBuffer : dwPorts;
        for (DWORD dwIndex = 0; dwIndex < dwReported; ++dwIndex) {
            pbBuffer[dwIndex] = IsPortInUse(bitmap, dwIndex + 1) ? 1 : 0;
        }
    }
    if (pdwMaxPortsReported != nullptr) {
        *pdwMaxPortsReported = dwReported;
    }
    return ERROR_SUCCESS;
}
