// Arbiter value helpers, the import-table call log and the walk fixture.
#include "install_bench.h"

#include <setupapi.h>
#include <stdio.h>
#include <string.h>

#include "device_tree.h"
#include "install/device_install.h"
#include "trace/trace.h"

namespace {

CInstallCallLog* g_pLog = nullptr;
typedef LONG(WINAPI* RegSetValueExAProc)(HKEY, LPCSTR, DWORD, DWORD, const BYTE*, DWORD);
typedef FARPROC(WINAPI* GetProcAddressProc)(HMODULE, LPCSTR);
typedef BOOL(WINAPI* UpdateDriverProc)(HWND, LPCSTR, LPCSTR, DWORD, PBOOL);
typedef LONG(WINAPI* RegFlushKeyProc)(HKEY);
RegSetValueExAProc g_pfnRegSetValueExA = nullptr;
RegFlushKeyProc g_pfnRegFlushKey = nullptr;
GetProcAddressProc g_pfnGetProcAddress = nullptr;

int CountClearBits(const BYTE* pData, DWORD cbData)
{
    int nClear = 0;
    for (DWORD i = 0; i < cbData * 8; ++i) {
        nClear += (pData[i / 8] >> (i % 8)) & 1 ? 0 : 1;
    }
    return nClear;
}

LONG WINAPI LoggingRegSetValueExA(HKEY hKey, LPCSTR pszName, DWORD dwReserved, DWORD dwType, const BYTE* pData,
                                  DWORD cbData)
{
    if (pszName != nullptr && _stricmp(pszName, "ComDB") == 0) {
        g_pLog->m_writes.push_back(DescribeValue(dwType, Bytes(pData, pData + cbData)));
        bool bFail = g_pLog->m_failWrites.find(static_cast<char>('0' + g_pLog->m_writes.size())) != std::string::npos;
        g_pLog->m_sequence += CountClearBits(pData, cbData) == 1 ? (bFail ? "t" : "T") : (bFail ? "w" : "W");
        if (bFail) {
            return ERROR_ACCESS_DENIED;
        }
    }
    if (g_pLog->m_bLogJournal && pszName != nullptr && strcmp(pszName, "SavedComDB") == 0) {
        g_pLog->m_sequence += "J";
    }
    return g_pfnRegSetValueExA(hKey, pszName, dwReserved, dwType, pData, cbData);
}

LONG WINAPI CountingRegFlushKey(HKEY hKey)
{
    char cCall = static_cast<char>('0' + ++g_pLog->m_nFlushes);
    bool bFail = g_pLog->m_failFlushes.find(cCall) != std::string::npos;
    if (g_pLog->m_bLogJournal) {
        g_pLog->m_sequence += bFail ? "f" : "F";
    }
    return bFail ? ERROR_WRITE_FAULT : g_pfnRegFlushKey(hKey);
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
    g_pLog->m_sequence += "I";
    if (g_pLog->m_waitId == pszHardwareId) {
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(g_pLog->m_hWaitBefore, 30000));
        g_pLog->m_waitId.clear();
    }
    for (const std::string& id : g_pLog->m_failIds) {
        if (id == pszHardwareId) {
            // As Windows answers while no device has the ID yet, unless the
            // driver is refused before any device is looked at.
            bool bDevice = g_pLog->m_bFailWithoutDevice || !ListDevicesWithIdPrefix(pszHardwareId).empty();
            SetLastError(bDevice ? g_pLog->m_dwFailError : ERROR_NO_SUCH_DEVINST);
            return FALSE;
        }
    }
    UpdateDriverProc pfnReal = reinterpret_cast<UpdateDriverProc>(g_pLog->m_pfnRealUpdate);
    BOOL bResult = pfnReal(hParent, pszHardwareId, pszInfPath, dwFlags, pbReboot);
    if (bResult && g_pLog->m_bReportReboot) {
        *pbReboot = TRUE;
    }
    return bResult;
}

FARPROC WINAPI LoggingGetProcAddress(HMODULE hModule, LPCSTR pszName)
{
    // Ordinals are passed through untouched.
    if (reinterpret_cast<ULONG_PTR>(pszName) <= 0xFFFF) {
        return g_pfnGetProcAddress(hModule, pszName);
    }
    bool bOpen = strcmp(pszName, "ComDBOpen") == 0;
    if (g_pLog->m_bFakeArbiter && (bOpen || strcmp(pszName, "ComDBClose") == 0)) {
        if (g_pLog->m_bMissingArbiter) {
            SetLastError(ERROR_PROC_NOT_FOUND);
            return nullptr;
        }
        void* pfn = bOpen ? reinterpret_cast<void*>(FakeComDBOpen) : reinterpret_cast<void*>(FakeComDBClose);
        return reinterpret_cast<FARPROC>(pfn);
    }
    FARPROC pfnReal = g_pfnGetProcAddress(hModule, pszName);
    if (pfnReal == nullptr || strcmp(pszName, "UpdateDriverForPlugAndPlayDevicesA") != 0) {
        return pfnReal;
    }
    g_pLog->m_pfnRealUpdate = reinterpret_cast<void*>(pfnReal);
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(LoggingUpdateDriver));
}

} // namespace

CInstallCallLog::CInstallCallLog()
    : m_dwFailError(ERROR_SUCCESS), m_bFailWithoutDevice(false), m_bReportReboot(false), m_nOpenResult(ERROR_SUCCESS),
      m_nCloseResult(ERROR_SUCCESS), m_bFakeArbiter(false), m_bMissingArbiter(false), m_pfnRealUpdate(nullptr),
      m_nFlushes(0), m_bLogJournal(false), m_hWaitBefore(nullptr), m_setValue("advapi32.dll", "RegSetValueExA", reinterpret_cast<void*>(LoggingRegSetValueExA)),
      m_flush("advapi32.dll", "RegFlushKey", reinterpret_cast<void*>(CountingRegFlushKey)),
      m_getProc("kernel32.dll", "GetProcAddress", reinterpret_cast<void*>(LoggingGetProcAddress))
{
    g_pLog = this;
    g_pfnRegSetValueExA = reinterpret_cast<RegSetValueExAProc>(m_setValue.Original());
    g_pfnRegFlushKey = reinterpret_cast<RegFlushKeyProc>(m_flush.Original());
    g_pfnGetProcAddress = reinterpret_cast<GetProcAddressProc>(m_getProc.Original());
}

CInstallCallLog::~CInstallCallLog()
{
    g_pLog = nullptr;
}

void CInstallCallLog::FakeArbiterLibrary(LONG nOpenResult, LONG nCloseResult, bool bMissing)
{
    m_bFakeArbiter = true;
    m_nOpenResult = nOpenResult;
    m_nCloseResult = nCloseResult;
    m_bMissingArbiter = bMissing;
}

std::string DescribeValue(DWORD dwType, const Bytes& data)
{
    std::string text = std::to_string(dwType) + ":";
    char szByte[4] = "";
    for (size_t i = 0; i < data.size(); ++i) {
        snprintf(szByte, sizeof(szByte), i == 0 ? "%02X" : " %02X", data[i]);
        text += szByte;
    }
    return text;
}

std::string ReadArbiterValue()
{
    // RegQueryValueExA rather than RegGetValueA, which refuses unknown types.
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, ARBITER_KEY, 0, KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS) {
        return "(none)";
    }
    DWORD dwType = 0;
    Bytes data(4096);
    DWORD cbData = static_cast<DWORD>(data.size());
    LONG nResult = RegQueryValueExA(hKey, "ComDB", nullptr, &dwType, data.data(), &cbData);
    RegCloseKey(hKey);
    data.resize(cbData);
    return nResult == ERROR_SUCCESS ? DescribeValue(dwType, data) : "(none)";
}

std::string JoinEvents(const std::vector<RecordedEvent>& events)
{
    std::string text;
    for (const std::string& event : DescribeEvents(events)) {
        text += (text.empty() ? "" : " ") + event;
    }
    return text;
}

std::string SystemText(DWORD dwError)
{
    char szText[512] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, dwError,
                   MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), szText, sizeof(szText), nullptr);
    return szText;
}

CWalkTest::CWalkTest()
    : m_arbiter(HKEY_LOCAL_MACHINE, ARBITER_KEY, "ComDB"), m_package("install_walk"),
      m_infPath(m_package.Path() + "qzvrcom.inf")
{
    RemoveDevicesWithIdPrefix(TEST_ID_PREFIX);
    // Four bytes, COM1 in use, as every walk test starts.
    EXPECT_TRUE(WriteArbiterValue(REG_BINARY, {0x01, 0x00, 0x00, 0x00}));
    RegisterTraceProvider();
    m_recorder.Enable(TRACE_ERROR | TRACE_FLOW, 0, 1);
}

CWalkTest::~CWalkTest()
{
    UnregisterTraceProvider();
    RemoveDevicesWithIdPrefix(TEST_ID_PREFIX);
}

BOOL CWalkTest::Walk(const char* pszInf, size_t cbInf)
{
    DeleteFileA(m_infPath.c_str());
    if (pszInf != nullptr) {
        FILE* pFile = fopen(m_infPath.c_str(), "wb");
        EXPECT_NE(nullptr, pFile);
        fwrite(pszInf, 1, cbInf != 0 ? cbInf : strlen(pszInf), pFile);
        fclose(pFile);
    }
    return InstallDevicesFromInf(&m_data, m_infPath.c_str());
}

std::string CWalkTest::Devices()
{
    std::string text;
    for (const DeviceRecord& device : ListDevicesWithIdPrefix(TEST_ID_PREFIX)) {
        text += (text.empty() ? "" : " ") + device.hardwareId + "=" + device.portName;
    }
    return text;
}

COtherInstaller::COtherInstaller(CInstallCallLog& log, DWORD nWindow, DWORD nRelease)
    : m_hDone(CreateEventA(nullptr, TRUE, FALSE, "QzOtherPortClaimed")), m_bStarted(false)
{
    if (nWindow != 0) {
        log.m_waitId = "QZVRCOM\\" + std::to_string(nWindow);
        log.m_hWaitBefore = m_hDone;
        std::string arguments = std::to_string(nWindow) + " " + std::to_string(nRelease);
        m_bStarted = m_run.Start((BinaryFolder() + "other_installer.exe").c_str(), arguments.c_str(), nullptr);
        EXPECT_TRUE(m_bStarted);
    }
}

COtherInstaller::~COtherInstaller()
{
    CloseHandle(m_hDone);
}

DWORD COtherInstaller::WaitForExit()
{
    DWORD dwExitCode = 0;
    EXPECT_TRUE(!m_bStarted || m_run.WaitForExit(&dwExitCode));
    return dwExitCode;
}
