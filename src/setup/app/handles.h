// Owners of Windows handles and memory blocks: each releases what it holds
// when it leaves scope, so every path out of a function releases it.
#pragma once

#include <windows.h>
#include <setupapi.h>
#include <stdio.h>

// One owner template; TTraits supplies the invalid value and the release.
template <typename TTraits>
class CUniqueHandle {
public:
    typedef typename TTraits::Type Type;

    CUniqueHandle() : m_hValue(TTraits::Invalid()) {}
    explicit CUniqueHandle(Type hValue) : m_hValue(hValue) {}
    ~CUniqueHandle() { Reset(); }
    CUniqueHandle(const CUniqueHandle&) = delete;
    CUniqueHandle& operator=(const CUniqueHandle&) = delete;

    Type Get() const { return m_hValue; }
    bool IsValid() const { return m_hValue != TTraits::Invalid(); }
    // For APIs that store a new handle through a pointer.
    Type* AddressOf()
    {
        Reset();
        return &m_hValue;
    }
    // Hands the value over to the caller, who releases it from now on.
    Type Detach()
    {
        Type hValue = m_hValue;
        m_hValue = TTraits::Invalid();
        return hValue;
    }
    void Reset(Type hValue = TTraits::Invalid())
    {
        if (m_hValue != TTraits::Invalid()) {
            TTraits::Release(m_hValue);
        }
        m_hValue = hValue;
    }

private:
    Type m_hValue;
};

struct RegistryKeyTraits {
    typedef HKEY Type;
    static HKEY Invalid() { return nullptr; }
    static void Release(HKEY hKey) { RegCloseKey(hKey); }
};

struct ServiceHandleTraits {
    typedef SC_HANDLE Type;
    static SC_HANDLE Invalid() { return nullptr; }
    static void Release(SC_HANDLE hService) { CloseServiceHandle(hService); }
};

struct DeviceListTraits {
    typedef HDEVINFO Type;
    static HDEVINFO Invalid() { return INVALID_HANDLE_VALUE; }
    static void Release(HDEVINFO hList) { SetupDiDestroyDeviceInfoList(hList); }
};

struct InfHandleTraits {
    typedef HINF Type;
    static HINF Invalid() { return INVALID_HANDLE_VALUE; }
    static void Release(HINF hInf) { SetupCloseInfFile(hInf); }
};

struct FindHandleTraits {
    typedef HANDLE Type;
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static void Release(HANDLE hFind) { FindClose(hFind); }
};

struct FileHandleTraits {
    typedef HANDLE Type;
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static void Release(HANDLE hFile) { CloseHandle(hFile); }
};

struct LocalMemoryTraits {
    typedef HLOCAL Type;
    static HLOCAL Invalid() { return nullptr; }
    static void Release(HLOCAL hMemory) { LocalFree(hMemory); }
};

struct HeapMemoryTraits {
    typedef void* Type;
    static void* Invalid() { return nullptr; }
    static void Release(void* pMemory) { HeapFree(GetProcessHeap(), 0, pMemory); }
};

struct FileStreamTraits {
    typedef FILE* Type;
    static FILE* Invalid() { return nullptr; }
    static void Release(FILE* pFile) { fclose(pFile); }
};

typedef CUniqueHandle<RegistryKeyTraits> CRegistryKey;
typedef CUniqueHandle<ServiceHandleTraits> CServiceHandle;
typedef CUniqueHandle<DeviceListTraits> CDeviceList;
typedef CUniqueHandle<InfHandleTraits> CInfHandle;
typedef CUniqueHandle<FindHandleTraits> CFindHandle;
typedef CUniqueHandle<FileHandleTraits> CFileHandle;
typedef CUniqueHandle<LocalMemoryTraits> CLocalBlock;
typedef CUniqueHandle<HeapMemoryTraits> CHeapBlock;
typedef CUniqueHandle<FileStreamTraits> CFileStream;
