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

// The current value descends from a temporary one written while the
// stored bitmap was saved: every number the stored bitmap leaves free is
// marked in use, over the length both have. Only the reserved number can
// have been claimed since, and any number may have been released.
bool DescendsFromTemporary(const BYTE* pSaved, DWORD cbCompared, const BYTE* pCurrent)
{
    for (DWORD i = 0; i < cbCompared; ++i) {
        if (static_cast<BYTE>(pSaved[i] | pCurrent[i]) != 0xFF) {
            return false;
        }
    }
    return cbCompared != 0;
}

// Acts on a stored bitmap: writes it back when "ComDB" descends from a
// temporary value, else leaves "ComDB" alone. The copy is judged by its bits
// alone: another implementation of the arbiter may have rewritten the value
// in another type or length meanwhile, and a temporary value left standing
// would claim every number for good. A registry error code; ERROR_SUCCESS
// when the copy may be deleted.
LONG ApplyJournal(const BYTE* pSaved, DWORD cbSaved)
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
    BYTE* pCurrent = static_cast<BYTE*>(current.Get());
    if (!DescendsFromTemporary(pSaved, cbSaved < cbCurrent ? cbSaved : cbCurrent, pCurrent)) {
        if (IsTraceEnabled(TRACE_FLOW)) {
            TraceEvent(g_guidComdbComponent, 14);
        }
    } else {
        nStatus = WriteBackOverCurrent(hArbiter.Get(), pSaved, cbSaved, pCurrent, cbCurrent, dwCurrentType);
        if (nStatus == ERROR_SUCCESS && IsTraceEnabled(TRACE_FLOW)) {
            TraceEvent(g_guidComdbComponent, 13);
        }
    }
    return nStatus;
}

// Deletes the program's key when it holds neither values nor subkeys: it
// was made for the journal, but other tools of the product may keep values
// there.
void DeleteProgramKeyIfEmpty(HKEY hKey)
{
    DWORD nSubkeys = 1;
    DWORD nValues = 1;
    if (RegQueryInfoKeyA(hKey, nullptr, nullptr, nullptr, &nSubkeys, nullptr, nullptr, &nValues, nullptr, nullptr,
                         nullptr, nullptr) == ERROR_SUCCESS &&
        nSubkeys == 0 && nValues == 0) {
        LONG nStatus = RegDeleteKeyA(HKEY_LOCAL_MACHINE, SETUP_PROGRAM_KEY);
        if (nStatus != ERROR_SUCCESS && IsTraceEnabled(TRACE_ERROR)) {
            TraceEvent(g_guidComdbComponent, 18, static_cast<DWORD>(nStatus));
        }
    }
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
    CRegistryKey hKey;
    LONG nStatus = RegOpenKeyExA(HKEY_LOCAL_MACHINE, SETUP_PROGRAM_KEY, 0, KEY_ALL_ACCESS, hKey.AddressOf());
    if (nStatus == ERROR_SUCCESS) {
        nStatus = RegDeleteValueA(hKey.Get(), SETUP_JOURNAL_VALUE);
        if (nStatus == ERROR_SUCCESS || nStatus == ERROR_FILE_NOT_FOUND) {
            DeleteProgramKeyIfEmpty(hKey.Get());
        }
    }
    if (nStatus != ERROR_SUCCESS && nStatus != ERROR_FILE_NOT_FOUND && IsTraceEnabled(TRACE_ERROR)) {
        TraceEvent(g_guidComdbComponent, 18, static_cast<DWORD>(nStatus));
    }
}

LONG WriteBackOverCurrent(HKEY hArbiter, const BYTE* pSaved, DWORD cbSaved, BYTE* pCurrent, DWORD cbCurrent,
                          DWORD dwType)
{
    for (DWORD i = 0; i < cbSaved && i < cbCurrent; ++i) {
        pCurrent[i] = static_cast<BYTE>(pSaved[i] & pCurrent[i]);
    }
    LONG nStatus = RegSetValueExA(hArbiter, SETUP_ARBITER_VALUE, 0, dwType, pCurrent, cbCurrent);
    // On disk before anything relies on it: the next port's journal, or
    // the deletion of this one.
    return nStatus == ERROR_SUCCESS ? RegFlushKey(hArbiter) : nStatus;
}

BOOL HasArbiterJournal()
{
    CRegistryKey hKey;
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, SETUP_PROGRAM_KEY, 0, KEY_QUERY_VALUE, hKey.AddressOf()) ==
               ERROR_SUCCESS &&
           RegQueryValueExA(hKey.Get(), SETUP_JOURNAL_VALUE, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
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
            DeleteProgramKeyIfEmpty(hKey.Get());
        }
        return TRUE;
    }
    if (nStatus == ERROR_SUCCESS) {
        nStatus = ApplyJournal(static_cast<BYTE*>(saved.Get()), cbSaved);
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
