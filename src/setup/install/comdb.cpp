// COM port arbiter bitmap: a working copy for one INF walk, and the
// temporary value that leaves only one COM number free for the arbiter.
#include "comdb.h"

#include "../app/handles.h"
#include "../app/system_library.h"
#include "../trace/trace.h"
#include "comdb_journal.h"

namespace {

const char c_szArbiterKey[] = SETUP_ARBITER_KEY;
const char c_szArbiterValue[] = SETUP_ARBITER_VALUE;

typedef LONG(WINAPI* ComDBOpenProc)(HANDLE* phComDB);
typedef LONG(WINAPI* ComDBCloseProc)(HANDLE hComDB);

// Checks that the arbiter database opens and closes. msports.dll is not a
// known DLL, so it comes from the system folder; a missing library or entry
// point counts as a failed open.
BOOL CanOpenArbiter()
{
    ComDBOpenProc pfnOpen =
        reinterpret_cast<ComDBOpenProc>(reinterpret_cast<void*>(FindSystemFunction("msports.dll", "ComDBOpen")));
    ComDBCloseProc pfnClose =
        reinterpret_cast<ComDBCloseProc>(reinterpret_cast<void*>(FindSystemFunction("msports.dll", "ComDBClose")));
    HANDLE hComDB = nullptr;
    if (pfnOpen == nullptr || pfnClose == nullptr || pfnOpen(&hComDB) != ERROR_SUCCESS) {
        if (IsTraceEnabled(TRACE_FLOW)) {
            TraceEvent(g_guidComdbComponent, 11);
        }
        return FALSE;
    }
    if (pfnClose(hComDB) != ERROR_SUCCESS) {
        if (IsTraceEnabled(TRACE_FLOW)) {
            TraceEvent(g_guidComdbComponent, 12);
        }
        return FALSE;
    }
    return TRUE;
}

// Byte index and mask of COM number nPort (1 or more).
DWORD PortIndex(DWORD nPort)
{
    return (nPort - 1) / 8;
}

BYTE PortMask(DWORD nPort)
{
    return static_cast<BYTE>(1u << ((nPort - 1) % 8));
}

LONG OpenArbiterKey(CRegistryKey& hKey)
{
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, c_szArbiterKey, 0, KEY_ALL_ACCESS, hKey.AddressOf());
}

} // namespace

LONG QueryWholeValue(HKEY hKey, const char* pszName, CHeapBlock& data, DWORD* pcbData, DWORD* pdwType)
{
    DWORD cbData = 0;
    LONG nStatus = RegQueryValueExA(hKey, pszName, nullptr, pdwType, nullptr, &cbData);
    if (nStatus != ERROR_SUCCESS) {
        return nStatus;
    }
    data.Reset(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, cbData));
    if (!data.IsValid()) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    // The size and type of this second read are the ones that count.
    nStatus = RegQueryValueExA(hKey, pszName, nullptr, pdwType, static_cast<BYTE*>(data.Get()), &cbData);
    *pcbData = cbData;
    if (nStatus != ERROR_SUCCESS) {
        data.Reset();
    }
    return nStatus;
}

CComDB::CComDB() : m_pData(nullptr), m_cbData(0), m_dwType(0) {}

CComDB::~CComDB()
{
    if (m_pData != nullptr) {
        HeapFree(GetProcessHeap(), 0, m_pData);
    }
}

BOOL CComDB::Load()
{
    if (IsTraceEnabled(TRACE_FLOW)) {
        TraceEvent(g_guidComdbComponent, 10);
    }
    // Loading twice would leak the first copy; the object is loaded once.
    if (m_pData != nullptr || !CanOpenArbiter()) {
        return FALSE;
    }
    CRegistryKey hKey;
    if (OpenArbiterKey(hKey) != ERROR_SUCCESS) {
        return FALSE;
    }
    // Type and size are those every later write uses.
    CHeapBlock data;
    DWORD dwType = 0;
    DWORD cbData = 0;
    if (QueryWholeValue(hKey.Get(), c_szArbiterValue, data, &cbData, &dwType) != ERROR_SUCCESS) {
        return FALSE;
    }
    m_pData = static_cast<BYTE*>(data.Detach());
    m_cbData = cbData;
    m_dwType = dwType;
    return TRUE;
}

BOOL CComDB::ReservePort(DWORD nPort)
{
    CHeapBlock temporary(HeapAlloc(GetProcessHeap(), 0, m_cbData));
    if (!temporary.IsValid()) {
        return FALSE;
    }
    CRegistryKey hKey;
    if (OpenArbiterKey(hKey) != ERROR_SUCCESS) {
        return FALSE;
    }
    if (!IsPortInRange(nPort)) {
        return FALSE;
    }
    DWORD nIndex = PortIndex(nPort);
    BYTE nMask = PortMask(nPort);
    if ((m_pData[nIndex] & nMask) != 0) {
        return FALSE;
    }
    // Built from scratch: every number taken but the wanted one.
    BYTE* pTemporary = static_cast<BYTE*>(temporary.Get());
    FillMemory(pTemporary, m_cbData, 0xFF);
    pTemporary[nIndex] = static_cast<BYTE>(pTemporary[nIndex] & ~nMask);
    // The working copy keeps the number even if this write fails, so the
    // next Save of the walk records it.
    m_pData[nIndex] = static_cast<BYTE>(m_pData[nIndex] | nMask);
    // Stored first: a run killed while the temporary value stands is
    // repaired from this copy by the next run.
    if (!WriteArbiterJournal(m_pData, m_cbData, m_dwType)) {
        return FALSE;
    }
    return RegSetValueExA(hKey.Get(), c_szArbiterValue, 0, m_dwType, pTemporary, m_cbData) == ERROR_SUCCESS;
}

BOOL CComDB::Save()
{
    // An empty object has nothing to write; an empty value would mark
    // every COM number free.
    if (m_pData == nullptr) {
        return FALSE;
    }
    // Others may claim or release numbers while the temporary value
    // stands: their changes are kept, not overwritten.
    CRegistryKey hKey;
    CHeapBlock current;
    DWORD cbCurrent = 0;
    DWORD dwType = 0;
    return OpenArbiterKey(hKey) == ERROR_SUCCESS &&
           QueryWholeValue(hKey.Get(), c_szArbiterValue, current, &cbCurrent, &dwType) == ERROR_SUCCESS &&
           WriteBackOverCurrent(hKey.Get(), m_pData, m_cbData, static_cast<BYTE*>(current.Get()), cbCurrent,
                                dwType) == ERROR_SUCCESS;
}

BOOL CComDB::ReadCurrentValue()
{
    CRegistryKey hKey;
    CHeapBlock current;
    DWORD cbCurrent = 0;
    DWORD dwType = 0;
    // A value that shrank cannot fill the working copy.
    if (m_pData == nullptr || OpenArbiterKey(hKey) != ERROR_SUCCESS ||
        QueryWholeValue(hKey.Get(), c_szArbiterValue, current, &cbCurrent, &dwType) != ERROR_SUCCESS ||
        cbCurrent < m_cbData) {
        return FALSE;
    }
    CopyMemory(m_pData, current.Get(), m_cbData);
    m_dwType = dwType;
    return TRUE;
}

BOOL CComDB::IsPortInRange(DWORD nPort) const
{
    // Compared in 64 bits so that 8 x size cannot wrap.
    return nPort >= 1 && static_cast<ULONGLONG>(nPort) <= 8ULL * m_cbData;
}

BOOL CComDB::IsPortInUse(DWORD nPort) const
{
    return IsPortInRange(nPort) && (m_pData[PortIndex(nPort)] & PortMask(nPort)) != 0;
}

void CComDB::ReleasePort(DWORD nPort)
{
    if (IsPortInRange(nPort)) {
        m_pData[PortIndex(nPort)] = static_cast<BYTE>(m_pData[PortIndex(nPort)] & ~PortMask(nPort));
    }
}

DWORD CComDB::GetPortLimit() const
{
    ULONGLONG nLimit = 8ULL * m_cbData;
    return nLimit > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(nLimit);
}
