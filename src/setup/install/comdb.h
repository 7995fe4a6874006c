// Working copy of the COM port arbiter bitmap ("ComDB"), used to force the
// COM number of each new port during one INF walk.
#pragma once

#include <windows.h>

#include "../app/handles.h"

// Where the system keeps the arbiter bitmap, under HKEY_LOCAL_MACHINE.
#define SETUP_ARBITER_KEY "System\\CurrentControlSet\\Control\\COM Name Arbiter"
#define SETUP_ARBITER_VALUE "ComDB"

// Reads a whole registry value of any size: its data into a new heap block
// owned by data, its size and its type. A registry error code.
LONG QueryWholeValue(HKEY hKey, const char* pszName, CHeapBlock& data, DWORD* pcbData, DWORD* pdwType);

class CComDB {
public:
    CComDB();
    virtual ~CComDB();
    CComDB(const CComDB&) = delete;
    CComDB& operator=(const CComDB&) = delete;

    // Reads the bitmap, its size and its registry type.
    BOOL Load();
    // Writes a temporary value in which only nPort is free; nonzero only
    // when that write succeeded.
    BOOL ReservePort(DWORD nPort);
    // Writes the working copy back over what "ComDB" holds now, as the
    // repair does (WriteBackOverCurrent), and flushes it to disk.
    BOOL Save();
    // Takes in what "ComDB" holds now, with its type: outside a reservation
    // it is the truth, with every number claimed or released by anyone since
    // the last write. Only while no temporary value stands.
    BOOL ReadCurrentValue();
    // Nonzero when nPort lies in the bitmap and the working copy marks it.
    BOOL IsPortInUse(DWORD nPort) const;
    // Marks nPort free again in the working copy; the next Save writes it.
    void ReleasePort(DWORD nPort);
    // Highest COM number the bitmap holds (8 x its size); 0 when not loaded.
    DWORD GetPortLimit() const;

    BYTE* m_pData;
    DWORD m_cbData;
    DWORD m_dwType;

private:
    BOOL IsPortInRange(DWORD nPort) const;
};
