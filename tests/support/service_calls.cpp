// Import-table watchers for service handles and heap blocks.
#include "service_calls.h"

CServiceCallLog* CServiceCallLog::s_pCurrent = nullptr;

namespace {

typedef SC_HANDLE(WINAPI* OpenSCManagerAProc)(LPCSTR, LPCSTR, DWORD);
typedef SC_HANDLE(WINAPI* OpenServiceAProc)(SC_HANDLE, LPCSTR, DWORD);
typedef BOOL(WINAPI* CloseServiceHandleProc)(SC_HANDLE);
typedef LPVOID(WINAPI* HeapAllocProc)(HANDLE, DWORD, SIZE_T);
typedef BOOL(WINAPI* HeapFreeProc)(HANDLE, DWORD, LPVOID);

CServiceCallLog& Log()
{
    return *CServiceCallLog::s_pCurrent;
}

void NoteTaken(std::set<void*>& taken, void* pValue, char chLetter)
{
    if (pValue != nullptr) {
        taken.insert(pValue);
        Log().m_sequence += chLetter;
    }
}

SC_HANDLE WINAPI LoggedOpenSCManagerA(LPCSTR pszMachine, LPCSTR pszDatabase, DWORD dwAccess)
{
    SC_HANDLE hManager =
        reinterpret_cast<OpenSCManagerAProc>(Log().m_openManager.Original())(pszMachine, pszDatabase, dwAccess);
    Log().m_access.push_back(dwAccess);
    NoteTaken(Log().m_managers, hManager, 'M');
    return hManager;
}

SC_HANDLE WINAPI LoggedOpenServiceA(SC_HANDLE hManager, LPCSTR pszName, DWORD dwAccess)
{
    SC_HANDLE hService =
        reinterpret_cast<OpenServiceAProc>(Log().m_openService.Original())(hManager, pszName, dwAccess);
    Log().m_access.push_back(dwAccess);
    NoteTaken(Log().m_services, hService, 'S');
    return hService;
}

BOOL WINAPI LoggedCloseServiceHandle(SC_HANDLE hHandle)
{
    CServiceCallLog& log = Log();
    if (log.m_managers.erase(hHandle) != 0) {
        log.m_sequence += 'm';
    } else if (log.m_services.erase(hHandle) != 0) {
        log.m_sequence += 's';
    } else {
        log.m_sequence += 'x';
    }
    return reinterpret_cast<CloseServiceHandleProc>(log.m_close.Original())(hHandle);
}

LPVOID WINAPI LoggedHeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T nBytes)
{
    LPVOID pBlock = reinterpret_cast<HeapAllocProc>(Log().m_alloc.Original())(hHeap, dwFlags, nBytes);
    NoteTaken(Log().m_blocks, pBlock, 'H');
    return pBlock;
}

BOOL WINAPI LoggedHeapFree(HANDLE hHeap, DWORD dwFlags, LPVOID pBlock)
{
    CServiceCallLog& log = Log();
    log.m_sequence += log.m_blocks.erase(pBlock) != 0 ? 'h' : 'x';
    return reinterpret_cast<HeapFreeProc>(log.m_free.Original())(hHeap, dwFlags, pBlock);
}

} // namespace

CServiceCallLog::CServiceCallLog()
    : m_openManager("advapi32.dll", "OpenSCManagerA", reinterpret_cast<void*>(LoggedOpenSCManagerA)),
      m_openService("advapi32.dll", "OpenServiceA", reinterpret_cast<void*>(LoggedOpenServiceA)),
      m_close("advapi32.dll", "CloseServiceHandle", reinterpret_cast<void*>(LoggedCloseServiceHandle)),
      m_alloc("kernel32.dll", "HeapAlloc", reinterpret_cast<void*>(LoggedHeapAlloc)),
      m_free("kernel32.dll", "HeapFree", reinterpret_cast<void*>(LoggedHeapFree))
{
    s_pCurrent = this;
}

CServiceCallLog::~CServiceCallLog()
{
    s_pCurrent = nullptr;
}

bool CServiceCallLog::IsApplied() const
{
    return m_openManager.IsApplied() && m_openService.IsApplied() && m_close.IsApplied() && m_alloc.IsApplied() &&
           m_free.IsApplied();
}
