// Working copy of the COM port arbiter bitmap ("ComDB"), used to force the
// COM number of each new port during one INF walk.
#pragma once

#include <windows.h>

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
    // Writes the working copy back.
    BOOL Save();

    BYTE* m_pData;
    DWORD m_cbData;
    DWORD m_dwType;
};
