// Arbiter value helpers and the import-table call log.
#include "install_bench.h"

#include <stdio.h>
#include <string.h>

#include "iat_patch.h"

namespace {

CInstallCallLog* g_pLog = nullptr;
typedef LONG(WINAPI* RegSetValueExAProc)(HKEY, LPCSTR, DWORD, DWORD, const BYTE*, DWORD);
typedef FARPROC(WINAPI* GetProcAddressProc)(HMODULE, LPCSTR);
typedef BOOL(WINAPI* UpdateDriverProc)(HWND, LPCSTR, LPCSTR, DWORD, PBOOL);
RegSetValueExAProc g_pfnRegSetValueExA = nullptr;
GetProcAddressProc g_pfnGetProcAddress = nullptr;

LONG WINAPI LoggingRegSetValueExA(HKEY hKey, LPCSTR pszName, DWORD dwReserved, DWORD dwType, const BYTE* pData,
                                  DWORD cbData)
{
    if (pszName != nullptr && _stricmp(pszName, "ComDB") == 0) {
        LoggedCall call = {"ComDB", "", dwType, Bytes(pData, pData + cbData)};
        g_pLog->m_calls.push_back(call);
    }
    return g_pfnRegSetValueExA(hKey, pszName, dwReserved, dwType, pData, cbData);
}

LONG WINAPI FakeComDBOpen(HANDLE* phComDB)
{
    *phComDB = reinterpret_cast<HANDLE>(0x1234);
    return g_pLog->m_nOpenResult;
}

LONG WINAPI FakeComDBClose(HANDLE hComDB)
{
    return hComDB == reinterpret_cast<HANDLE>(0x1234) ? g_pLog->m_nCloseResult : ERROR_INVALID_HANDLE;
}

BOOL WINAPI LoggingUpdateDriver(HWND hParent, LPCSTR pszHardwareId, LPCSTR pszInfPath, DWORD dwFlags,
                                PBOOL pbReboot)
{
    LoggedCall call = {"install", pszHardwareId, 0, Bytes()};
    g_pLog->m_calls.push_back(call);
    for (const std::string& id : g_pLog->m_failIds) {
        if (id == pszHardwareId) {
            SetLastError(g_pLog->m_dwFailError);
            return FALSE;
        }
    }
    BOOL bResult = reinterpret_cast<UpdateDriverProc>(g_pLog->m_pfnRealUpdate)(hParent, pszHardwareId, pszInfPath,
                                                                               dwFlags, pbReboot);
    if (bResult && g_pLog->m_bReportReboot && pbReboot != nullptr) {
        *pbReboot = TRUE;
    }
    return bResult;
}

FARPROC WINAPI LoggingGetProcAddress(HMODULE hModule, LPCSTR pszName)
{
    // Ordinals are passed through untouched.
    if (reinterpret_cast<ULONG_PTR>(pszName) > 0xFFFF) {
        bool bArbiter = strcmp(pszName, "ComDBOpen") == 0 || strcmp(pszName, "ComDBClose") == 0;
        if (bArbiter && g_pLog->m_bFakeArbiter) {
            if (g_pLog->m_bMissingArbiter) {
                SetLastError(ERROR_PROC_NOT_FOUND);
                return nullptr;
            }
            void* pfn = strcmp(pszName, "ComDBOpen") == 0 ? reinterpret_cast<void*>(FakeComDBOpen)
                                                          : reinterpret_cast<void*>(FakeComDBClose);
            return reinterpret_cast<FARPROC>(pfn);
        }
        if (strcmp(pszName, "UpdateDriverForPlugAndPlayDevicesA") == 0) {
            FARPROC pfnReal = g_pfnGetProcAddress(hModule, pszName);
            if (pfnReal == nullptr) {
                return nullptr;
            }
            g_pLog->m_pfnRealUpdate = reinterpret_cast<void*>(pfnReal);
            return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(LoggingUpdateDriver));
        }
    }
    return g_pfnGetProcAddress(hModule, pszName);
}

} // namespace

struct CInstallCallLog::Patches {
    Patches()
        : m_setValue("advapi32.dll", "RegSetValueExA", reinterpret_cast<void*>(LoggingRegSetValueExA)),
          m_getProc("kernel32.dll", "GetProcAddress", reinterpret_cast<void*>(LoggingGetProcAddress))
    {
    }
    CIatPatch m_setValue;
    CIatPatch m_getProc;
};

CInstallCallLog::CInstallCallLog()
    : m_nOpenResult(ERROR_SUCCESS), m_nCloseResult(ERROR_SUCCESS), m_bFakeArbiter(false), m_bMissingArbiter(false),
      m_dwFailError(ERROR_SUCCESS), m_bReportReboot(false), m_pfnRealUpdate(nullptr), m_pPatches(nullptr)
{
    g_pLog = this;
    m_pPatches = new Patches;
    g_pfnRegSetValueExA = reinterpret_cast<RegSetValueExAProc>(m_pPatches->m_setValue.Original());
    g_pfnGetProcAddress = reinterpret_cast<GetProcAddressProc>(m_pPatches->m_getProc.Original());
}

CInstallCallLog::~CInstallCallLog()
{
    delete m_pPatches;
    g_pLog = nullptr;
}

void CInstallCallLog::FakeArbiterLibrary(LONG nOpenResult, LONG nCloseResult, bool bMissing)
{
    m_bFakeArbiter = true;
    m_nOpenResult = nOpenResult;
    m_nCloseResult = nCloseResult;
    m_bMissingArbiter = bMissing;
}

void CInstallCallLog::FailInstall(const char* pszHardwareId, DWORD dwError)
{
    m_failIds.push_back(pszHardwareId);
    m_dwFailError = dwError;
}

std::vector<std::string> CInstallCallLog::ArbiterWrites() const
{
    std::vector<std::string> writes;
    for (const LoggedCall& call : m_calls) {
        if (call.name == "ComDB") {
            writes.push_back(std::to_string(call.dwType) + ":" + HexBytes(call.data));
        }
    }
    return writes;
}

std::string CInstallCallLog::Sequence() const
{
    std::string sequence;
    for (const LoggedCall& call : m_calls) {
        if (call.name == "install") {
            sequence += "I";
            continue;
        }
        int nClear = 0;
        for (BYTE b : call.data) {
            for (int nBit = 0; nBit < 8; ++nBit) {
                nClear += (b >> nBit) & 1 ? 0 : 1;
            }
        }
        sequence += nClear == 1 ? "T" : "W";
    }
    return sequence;
}

bool WriteArbiterValue(DWORD dwType, const Bytes& data)
{
    HKEY hKey = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, ARBITER_KEY, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &hKey, nullptr) !=
        ERROR_SUCCESS) {
        return false;
    }
    LONG nResult = RegSetValueExA(hKey, "ComDB", 0, dwType, data.data(), static_cast<DWORD>(data.size()));
    RegCloseKey(hKey);
    return nResult == ERROR_SUCCESS;
}

bool ReadArbiterValue(DWORD* pdwType, Bytes* pData)
{
    // RegQueryValueExA rather than RegGetValueA, which refuses unknown types.
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, ARBITER_KEY, 0, KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS) {
        return false;
    }
    DWORD cbData = 0;
    LONG nResult = RegQueryValueExA(hKey, "ComDB", nullptr, pdwType, nullptr, &cbData);
    pData->resize(cbData);
    if (nResult == ERROR_SUCCESS) {
        nResult = RegQueryValueExA(hKey, "ComDB", nullptr, pdwType, pData->data(), &cbData);
        pData->resize(cbData);
    }
    RegCloseKey(hKey);
    return nResult == ERROR_SUCCESS;
}

void DeleteArbiterValue()
{
    RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, ARBITER_KEY, "ComDB");
}

std::string HexBytes(const Bytes& data)
{
    std::string text;
    char szByte[4] = "";
    for (size_t i = 0; i < data.size(); ++i) {
        snprintf(szByte, sizeof(szByte), i == 0 ? "%02X" : " %02X", data[i]);
        text += szByte;
    }
    return text;
}

std::string PortsInf(const std::string& body)
{
    return "[Version]\r\n"
           "Signature=\"$Windows NT$\"\r\n"
           "Class=Ports\r\n"
           "ClassGuid={4D36E978-E325-11CE-BFC1-08002BE10318}\r\n"
           "Provider=Test\r\n"
           "DriverVer=01/01/2020,1.0.0.0\r\n\r\n"
           "[Port.NTamd64]\r\n\r\n" +
           body + "\r\n";
}

bool WriteTextFile(const std::string& path, const std::string& text)
{
    HANDLE hFile = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD cbWritten = 0;
    BOOL bWritten = WriteFile(hFile, text.data(), static_cast<DWORD>(text.size()), &cbWritten, nullptr);
    CloseHandle(hFile);
    return bWritten && cbWritten == text.size();
}
