// Owner of a block from LocalAlloc (for instance a FormatMessage buffer or
// a CommandLineToArgvW array): freed with LocalFree on every path.
#pragma once

#include <windows.h>

template <typename T>
class CLocalMemory {
public:
    CLocalMemory() : m_pData(nullptr) {}
    explicit CLocalMemory(T* pData) : m_pData(pData) {}
    ~CLocalMemory() { Reset(); }
    CLocalMemory(const CLocalMemory&) = delete;
    CLocalMemory& operator=(const CLocalMemory&) = delete;

    T* Get() const { return m_pData; }
    // For APIs that allocate the block themselves and store its address.
    T** AddressOf()
    {
        Reset();
        return &m_pData;
    }
    void Reset()
    {
        if (m_pData != nullptr) {
            LocalFree(m_pData);
            m_pData = nullptr;
        }
    }

private:
    T* m_pData;
};
