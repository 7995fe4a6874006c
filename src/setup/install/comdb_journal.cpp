// The arbiter's journal under the program's own key, and the repair of a
// temporary "ComDB" value that a killed run left behind.
#include "comdb_journal.h"

#include "../app/handles.h"
#include "../trace/trace.h"
#include "comdb.h"

namespace {

// Opens pszKey under HKEY_LOCAL_MACHINE into hKey and reads the whole of
// value pszName. A registry error code of the open or the read.
LONG ReadKeyValue(const char* pszKey, REGSAM samDesired, const char* pszName, CRegistryKey& hKey, CHeapBlock& data,
                  DWORD* pcbData, DWORD* pdwType)
{
    LONG nStatus = RegOpenKeyExA(HKEY_LOCAL_MACHINE, pszKey, 0, samDesired, hKey.AddressOf());
    return nStatus == ERROR_SUCCESS ? QueryWholeValue(hKey.Get(), pszName, data, pcbData, pdwType) : nStatus;
}

// Every bit set but at most one: the temporary value of a reservation,
// before (one clear bit) or after (none) the system claimed its number.
bool IsTemporaryForm(const BYTE* pData, DWORD cbData)
{
    DWORD nClear = 0;
    for (DWORD i = 0; i < cbData; ++i) {
        for (BYTE nByte = static_cast<BYTE>(~pData[i]); nByte != 0; nByte = static_cast<BYTE>(nByte & (nByte - 1))) {
            ++nClear;
        }
    }
    return cbData != 0 && nClear <= 1;
}

// Writes the stored bitmap back over a temporary value. A number whose bit
// the temporary value still leaves clear was never claimed: the bit the
// stored copy holds for its reservation is cleared, so the number is free.
LONG WriteBack(HKEY hArbiter, BYTE* pSaved, const BYTE* pCurrent, DWORD cbData, DWORD dwType)
{
    for (DWORD i = 0; i < cbData; ++i) {
        pSaved[i] = static_cast<BYTE>(pSaved[i] & pCurrent[i]);
    }
    return RegSetValueExA(hArbiter, SETUP_ARBITER_VALUE, 0, dwType, pSaved, cbData);
}

// Acts on a stored bitmap: writes it back when "ComDB" still has a
// temporary form of its size and type, else leaves "ComDB" alone. A
// registry error code; ERROR_SUCCESS when the copy may be deleted.
LONG ApplyJournal(BYTE* pSaved, DWORD cbSaved, DWORD dwSavedType)
{
    CRegistryKey hArbiter;
    CHeapBlock current;
    DWORD cbCurrent = 0;
    DWORD dwCurrentType = 0;
    LONG nStatus = ReadKeyValue(SETUP_ARBITER_KEY, KEY_ALL_ACCESS, SETUP_ARBITER_VALUE, hArbiter, current, &cbCurrent,
                                &dwCurrentType);
    if (nStatus != ERROR_SUCCESS) {
        // No arbiter value: nothing to repair. Any other error: unknown.
        return nStatus == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : nStatus;
    }
    const BYTE* pCurrent = static_cast<const BYTE*>(current.Get());
    if (cbSaved != cbCurrent || dwSavedType != dwCurrentType) {
        if (IsTraceEnabled(TRACE_ERROR)) {
            TraceEvent(g_guidComdbComponent, 15, dwSavedType, cbSaved);
        }
    } else if (!IsTemporaryForm(pCurrent, cbCurrent)) {
        // Another device may have claimed numbers since.
        if (IsTraceEnabled(TRACE_FLOW)) {
            TraceEvent(g_guidComdbComponent, 14);
        }
    } else {
        nStatus = WriteBack(hArbiter.Get(), pSaved, pCurrent, cbSaved, dwSavedType);
        if (nStatus == ERROR_SUCCESS && IsTraceEnabled(TRACE_FLOW)) {
            TraceEvent(g_guidComdbComponent, 13);
        }
    }
    return nStatus;
}

} // namespace

BOOL WriteArbiterJournal(const BYTE* pData, DWORD cbData, DWORD dwType)
{
    CRegistryKey hKey;
    LONG nStatus = RegCreateKeyExA(HKEY_LOCAL_MACHINE, SETUP_PROGRAM_KEY, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_ALL_ACCESS, nullptr, hKey.AddressOf(), nullptr);
    if (nStatus == ERROR_SUCCESS) {
        nStatus = RegSetValueExA(hKey.Get(), SETUP_JOURNAL_VALUE, 0, dwType, pData, cbData);
    }
    // The arbiter value lives in another hive, written to disk on its own
    // schedule: the copy must be on disk before the temporary value can be.
    if (nStatus == ERROR_SUCCESS) {
        nStatus = RegFlushKey(hKey.Get());
    }
    if (nStatus != ERROR_SUCCESS && IsTraceEnabled(TRACE_ERROR)) {
        TraceEvent(g_guidComdbComponent, 16, static_cast<DWORD>(nStatus));
    }
    return nStatus == ERROR_SUCCESS;
}

void DeleteArbiterJournal()
{
    // The program's key holds nothing but the stored bitmap: it goes whole.
    LONG nStatus = RegDeleteKeyA(HKEY_LOCAL_MACHINE, SETUP_PROGRAM_KEY);
    if (nStatus != ERROR_SUCCESS && nStatus != ERROR_FILE_NOT_FOUND && IsTraceEnabled(TRACE_ERROR)) {
        TraceEvent(g_guidComdbComponent, 18, static_cast<DWORD>(nStatus));
    }
}

BOOL RepairArbiter()
{
    CRegistryKey hKey;
    CHeapBlock saved;
    DWORD cbSaved = 0;
    DWORD dwType = 0;
    LONG nStatus = ReadKeyValue(SETUP_PROGRAM_KEY, KEY_READ, SETUP_JOURNAL_VALUE, hKey, saved, &cbSaved, &dwType);
    if (nStatus == ERROR_FILE_NOT_FOUND) {
        // No walk was interrupted. A key left empty by a failed deletion
        // goes now.
        if (hKey.IsValid()) {
            hKey.Reset();
            DeleteArbiterJournal();
        }
        return TRUE;
    }
    if (nStatus == ERROR_SUCCESS) {
        nStatus = ApplyJournal(static_cast<BYTE*>(saved.Get()), cbSaved, dwType);
    }
    if (nStatus != ERROR_SUCCESS) {
        if (IsTraceEnabled(TRACE_ERROR)) {
            TraceEvent(g_guidComdbComponent, 17, static_cast<DWORD>(nStatus));
        }
        return FALSE;
    }
    hKey.Reset();
    DeleteArbiterJournal();
    return TRUE;
}
