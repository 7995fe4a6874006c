// Stand-ins for calling RunSetup inside a test executable.
#include "run_patches.h"

#include <process.h>

namespace {

const wchar_t* g_pszCommandLine = L"";
CMessageBoxRecorder* g_pMessageBoxes = nullptr;
CMutexCloser* g_pMutexes = nullptr;
typedef HANDLE(WINAPI* CreateMutexAProc)(LPSECURITY_ATTRIBUTES, BOOL, LPCSTR);
CreateMutexAProc g_pfnCreateMutexA = nullptr;

LPWSTR WINAPI FakeGetCommandLineW()
{
    return const_cast<LPWSTR>(g_pszCommandLine);
}

int WINAPI FakeMessageBoxA(HWND hOwner, LPCSTR pszText, LPCSTR pszCaption, UINT nStyle)
{
    RecordedMessageBox box = {hOwner, pszText != nullptr ? pszText : "(null)",
                              pszCaption != nullptr ? pszCaption : "(null)", nStyle};
    g_pMessageBoxes->m_boxes.push_back(box);
    return IDOK;
}

HANDLE WINAPI RecordingCreateMutexA(LPSECURITY_ATTRIBUTES pAttributes, BOOL bInitialOwner, LPCSTR pszName)
{
    // The import slot is patched: call the real function through its saved address.
    HANDLE hMutex = g_pfnCreateMutexA(pAttributes, bInitialOwner, pszName);
    DWORD dwError = GetLastError();
    if (hMutex != nullptr) {
        g_pMutexes->m_handles.push_back(hMutex);
    }
    SetLastError(dwError);
    return hMutex;
}

unsigned __stdcall PressOkWhenShown(void* pCaption)
{
    for (int i = 0; i < 500; ++i) {
        HWND hDialog = FindWindowA("#32770", static_cast<const char*>(pCaption));
        if (hDialog != nullptr && IsWindowVisible(hDialog)) {
            PostMessageA(hDialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            return 0;
        }
        Sleep(20);
    }
    return 1;
}

} // namespace

COkPresser::COkPresser(const char* pszCaption)
    : m_hThread(reinterpret_cast<HANDLE>(
          _beginthreadex(nullptr, 0, PressOkWhenShown, const_cast<char*>(pszCaption), 0, nullptr)))
{
}

COkPresser::~COkPresser()
{
    WaitPressed();
}

bool COkPresser::WaitPressed()
{
    if (m_hThread == nullptr) {
        return false;
    }
    DWORD dwExitCode = 1;
    bool bEnded = WaitForSingleObject(m_hThread, 10000) == WAIT_OBJECT_0;
    GetExitCodeThread(m_hThread, &dwExitCode);
    CloseHandle(m_hThread);
    m_hThread = nullptr;
    return bEnded && dwExitCode == 0;
}

CCommandLinePatch::CCommandLinePatch(const wchar_t* pszCommandLine)
    : m_patch("kernel32.dll", "GetCommandLineW", reinterpret_cast<void*>(FakeGetCommandLineW))
{
    g_pszCommandLine = pszCommandLine;
}

CCommandLinePatch::~CCommandLinePatch()
{
    g_pszCommandLine = L"";
}

CMessageBoxRecorder::CMessageBoxRecorder()
    : m_patch("user32.dll", "MessageBoxA", reinterpret_cast<void*>(FakeMessageBoxA))
{
    g_pMessageBoxes = this;
}

CMessageBoxRecorder::~CMessageBoxRecorder()
{
    g_pMessageBoxes = nullptr;
}

CMutexCloser::CMutexCloser()
    : m_patch("kernel32.dll", "CreateMutexA", reinterpret_cast<void*>(RecordingCreateMutexA))
{
    g_pMutexes = this;
    g_pfnCreateMutexA = reinterpret_cast<CreateMutexAProc>(m_patch.Original());
}

CMutexCloser::~CMutexCloser()
{
    CloseAll();
    g_pMutexes = nullptr;
}

void CMutexCloser::CloseAll()
{
    for (HANDLE hMutex : m_handles) {
        ReleaseMutex(hMutex);
        CloseHandle(hMutex);
    }
    m_handles.clear();
}
