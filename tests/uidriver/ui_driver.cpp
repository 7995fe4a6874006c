// UI driver: works another process's windows from outside, with bounded
// polling. Only posted messages and time-limited sends reach the target, so
// a modal loop in the target never blocks the driver.
#include "ui_driver.h"

#include <commctrl.h>
#include <stdio.h>
#include <string.h>

namespace {

const DWORD POLL_INTERVAL_MS = 20;
// Longest wait for one synchronous message to another process.
const UINT SEND_TIMEOUT_MS = 5000;

struct WindowSearch {
    DWORD dwProcessId;
    std::vector<HWND> windows;
};

BOOL CALLBACK CollectProcessWindow(HWND hWnd, LPARAM lParam)
{
    WindowSearch* pSearch = reinterpret_cast<WindowSearch*>(lParam);
    DWORD dwProcessId = 0;
    GetWindowThreadProcessId(hWnd, &dwProcessId);
    if (dwProcessId == pSearch->dwProcessId && IsWindowVisible(hWnd)) {
        pSearch->windows.push_back(hWnd);
    }
    return TRUE;
}


bool HasElapsed(DWORD dwStart, DWORD dwTimeoutMs)
{
    return GetTickCount() - dwStart >= dwTimeoutMs;
}

struct ChildCount {
    int nId;
    int nCount;
    HWND hFirst;
};

BOOL CALLBACK CountChildWithId(HWND hWnd, LPARAM lParam)
{
    ChildCount* pCount = reinterpret_cast<ChildCount*>(lParam);
    if (static_cast<WORD>(GetWindowLongPtrA(hWnd, GWLP_ID)) == pCount->nId) {
        if (pCount->nCount++ == 0) {
            pCount->hFirst = hWnd;
        }
    }
    return TRUE;
}

LRESULT SendWithTimeout(HWND hWnd, UINT nMessage, WPARAM wParam, LPARAM lParam, bool* pbAnswered)
{
    DWORD_PTR nResult = 0;
    *pbAnswered = SendMessageTimeoutA(hWnd, nMessage, wParam, lParam, SMTO_ABORTIFHUNG, SEND_TIMEOUT_MS,
                                      &nResult) != 0;
    return static_cast<LRESULT>(nResult);
}

// Token of this process with Administrators made deny-only.
HANDLE CreateTokenWithoutAdministrators()
{
    HANDLE hToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY, &hToken)) {
        return nullptr;
    }
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID pAdministrators = nullptr;
    HANDLE hRestricted = nullptr;
    if (AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0,
                                 0, 0, &pAdministrators)) {
        SID_AND_ATTRIBUTES disabled = {pAdministrators, 0};
        if (!CreateRestrictedToken(hToken, 0, 1, &disabled, 0, nullptr, 0, nullptr, &hRestricted)) {
            hRestricted = nullptr;
        }
        FreeSid(pAdministrators);
    }
    CloseHandle(hToken);
    return hRestricted;
}

} // namespace

std::vector<HWND> ListProcessWindows(DWORD dwProcessId)
{
    WindowSearch search;
    search.dwProcessId = dwProcessId;
    EnumWindows(CollectProcessWindow, reinterpret_cast<LPARAM>(&search));
    return search.windows;
}

CProgramRun::CProgramRun() : m_hProcess(nullptr), m_dwProcessId(0) {}

CProgramRun::~CProgramRun()
{
    if (m_hProcess == nullptr) {
        return;
    }
    if (WaitForSingleObject(m_hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(m_hProcess, 0xDEAD);
        // The next run must not find this one's single-instance mutex.
        WaitForSingleObject(m_hProcess, 5000);
    }
    CloseHandle(m_hProcess);
}

BOOL CreateProcessRetried(const char* pszProgram, char* pszCommandLine, const char* pszWorkDir,
                          PROCESS_INFORMATION* pProcess, const char* pszDesktop)
{
    for (int nTry = 1;; ++nTry) {
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        startup.lpDesktop = const_cast<char*>(pszDesktop);
        if (CreateProcessA(pszProgram, pszCommandLine, nullptr, nullptr, FALSE, 0, nullptr, pszWorkDir, &startup,
                           pProcess)) {
            return TRUE;
        }
        DWORD dwError = GetLastError();
        fprintf(stderr, "bench: %s not started, error %lu (try %d of 3)\n", pszCommandLine, dwError, nTry);
        if (nTry == 3) {
            SetLastError(dwError);
            return FALSE;
        }
        Sleep(500);
    }
}

bool CProgramRun::Start(const char* pszProgram, const char* pszArguments, const char* pszWorkDir, bool bRestricted,
                        const char* pszDesktop)
{
    if (m_hProcess != nullptr) {
        return false;
    }
    std::vector<char> commandLine(strlen(pszProgram) + strlen(pszArguments) + 4);
    snprintf(commandLine.data(), commandLine.size(), "\"%s\" %s", pszProgram, pszArguments);

    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    BOOL bStarted = FALSE;
    if (bRestricted) {
        HANDLE hToken = CreateTokenWithoutAdministrators();
        if (hToken == nullptr) {
            return false;
        }
        bStarted = CreateProcessAsUserA(hToken, pszProgram, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                        pszWorkDir, &startup, &process);
        CloseHandle(hToken);
    } else {
        bStarted = CreateProcessRetried(pszProgram, commandLine.data(), pszWorkDir, &process, pszDesktop);
    }
    if (!bStarted) {
        return false;
    }
    CloseHandle(process.hThread);
    m_hProcess = process.hProcess;
    m_dwProcessId = process.dwProcessId;
    return true;
}

HWND CProgramRun::WaitForWindow(const char* pszClass, const char* pszCaption, DWORD dwTimeoutMs) const
{
    DWORD dwStart = GetTickCount();
    for (;;) {
        bool bEnded = !IsRunning();
        for (HWND hWnd : ListVisibleWindows()) {
            if ((pszClass == nullptr || ReadClassName(hWnd) == pszClass) &&
                (pszCaption == nullptr || ReadWindowText(hWnd) == pszCaption)) {
                return hWnd;
            }
        }
        // A process that has ended shows nothing more: fail at once.
        if (bEnded || HasElapsed(dwStart, dwTimeoutMs)) {
            return nullptr;
        }
        Sleep(POLL_INTERVAL_MS);
    }
}

bool CProgramRun::WaitForMessageBox(MessageBoxState* pState, DWORD dwTimeoutMs, HWND hExclude) const
{
    DWORD dwStart = GetTickCount();
    for (;;) {
        bool bEnded = !IsRunning();
        for (HWND hWnd : ListVisibleWindows()) {
            if (hWnd != hExclude && IsMessageBox(hWnd)) {
                pState->hWnd = hWnd;
                pState->hOwner = GetWindow(hWnd, GW_OWNER);
                pState->text = ReadWindowText(GetDlgItem(hWnd, 0xFFFF));
                pState->caption = ReadWindowText(hWnd);
                return true;
            }
        }
        if (bEnded || HasElapsed(dwStart, dwTimeoutMs)) {
            return false;
        }
        Sleep(POLL_INTERVAL_MS);
    }
}

bool CProgramRun::HasNoVisibleWindow() const
{
    return ListVisibleWindows().empty();
}

bool CProgramRun::WaitForExit(DWORD* pdwExitCode, DWORD dwTimeoutMs)
{
    if (m_hProcess == nullptr || WaitForSingleObject(m_hProcess, dwTimeoutMs) != WAIT_OBJECT_0) {
        return false;
    }
    return GetExitCodeProcess(m_hProcess, pdwExitCode) != FALSE;
}

bool CProgramRun::WaitForExitWatching(DWORD* pdwExitCode, HWND hAllowed, bool* pbOtherWindow, DWORD dwTimeoutMs)
{
    *pbOtherWindow = false;
    DWORD dwStart = GetTickCount();
    while (IsRunning()) {
        for (HWND hWnd : ListVisibleWindows()) {
            if (hWnd != hAllowed) {
                *pbOtherWindow = true;
            }
        }
        if (HasElapsed(dwStart, dwTimeoutMs)) {
            return false;
        }
        Sleep(POLL_INTERVAL_MS);
    }
    return WaitForExit(pdwExitCode, 0);
}

bool CProgramRun::IsRunning() const
{
    return m_hProcess != nullptr && WaitForSingleObject(m_hProcess, 0) == WAIT_TIMEOUT;
}

std::vector<HWND> CProgramRun::ListVisibleWindows() const
{
    return ListProcessWindows(m_dwProcessId);
}

ControlState ReadControl(HWND hDialog, int nId)
{
    ControlState state = {false, false, false, std::string()};
    HWND hControl = GetDlgItem(hDialog, nId);
    if (hControl != nullptr) {
        state.bExists = true;
        state.bVisible = IsWindowVisible(hControl) != FALSE;
        state.bEnabled = IsWindowEnabled(hControl) != FALSE;
        state.text = ReadWindowText(hControl);
    }
    return state;
}

ProgressState ReadProgress(HWND hDialog, int nId)
{
    // Each value by itself: a PBRANGE pointer would not cross processes.
    ProgressState state = {-1, -1, -1};
    HWND hProgress = GetDlgItem(hDialog, nId);
    bool bAnswered = false;
    LRESULT nValue = SendWithTimeout(hProgress, PBM_GETRANGE, TRUE, 0, &bAnswered);
    if (bAnswered) {
        state.nMinimum = static_cast<int>(nValue);
    }
    nValue = SendWithTimeout(hProgress, PBM_GETRANGE, FALSE, 0, &bAnswered);
    if (bAnswered) {
        state.nMaximum = static_cast<int>(nValue);
    }
    nValue = SendWithTimeout(hProgress, PBM_GETPOS, 0, 0, &bAnswered);
    if (bAnswered) {
        state.nPosition = static_cast<int>(nValue);
    }
    return state;
}

std::string ReadWindowText(HWND hWnd)
{
    char szText[1024] = "";
    if (hWnd != nullptr) {
        GetWindowTextA(hWnd, szText, ARRAYSIZE(szText));
    }
    return szText;
}

std::string ReadClassName(HWND hWnd)
{
    char szClass[256] = "";
    GetClassNameA(hWnd, szClass, ARRAYSIZE(szClass));
    return szClass;
}

bool IsMessageBox(HWND hWnd)
{
    if (ReadClassName(hWnd) != "#32770") {
        return false;
    }
    // Dialog templates may use 0xFFFF for unnamed statics too (the About
    // box has three); a box has exactly one, and it holds text.
    ChildCount count = {0xFFFF, 0, nullptr};
    EnumChildWindows(hWnd, CountChildWithId, reinterpret_cast<LPARAM>(&count));
    return count.nCount == 1 && (GetWindowLongPtrA(count.hFirst, GWL_STYLE) & SS_TYPEMASK) != SS_ICON;
}

void ClickButton(HWND hDialog, int nId)
{
    PostMessageA(hDialog, WM_COMMAND, MAKEWPARAM(nId, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(hDialog, nId)));
}

void PostSystemCommand(HWND hWnd, WPARAM wParam)
{
    PostMessageA(hWnd, WM_SYSCOMMAND, wParam, 0);
}

void PostKey(HWND hWnd, UINT nVirtualKey)
{
    UINT nScanCode = MapVirtualKeyA(nVirtualKey, MAPVK_VK_TO_VSC);
    PostMessageA(hWnd, WM_KEYDOWN, nVirtualKey, 1 | (static_cast<LPARAM>(nScanCode) << 16));
    PostMessageA(hWnd, WM_KEYUP, nVirtualKey, 1 | (static_cast<LPARAM>(nScanCode) << 16) | 0xC0000000);
}

void MoveWindowTo(HWND hWnd, int nX, int nY)
{
    SetWindowPos(hWnd, nullptr, nX, nY, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_ASYNCWINDOWPOS);
}

void DismissMessageBox(const MessageBoxState& box)
{
    bool bAnswered = false;
    LRESULT nDefault = SendWithTimeout(box.hWnd, DM_GETDEFID, 0, 0, &bAnswered);
    int nId = bAnswered && HIWORD(nDefault) == DC_HASDEFID ? LOWORD(nDefault) : IDOK;
    ClickButton(box.hWnd, nId);
}

bool WaitForWindowGone(HWND hWnd, DWORD dwTimeoutMs)
{
    DWORD dwStart = GetTickCount();
    while (IsWindow(hWnd)) {
        if (HasElapsed(dwStart, dwTimeoutMs)) {
            return false;
        }
        Sleep(POLL_INTERVAL_MS);
    }
    return true;
}

std::string BinaryFolder()
{
    // Not the module name: in-process runs stand in for the ones the
    // product reads.
    wchar_t szWide[MAX_PATH] = L"";
    DWORD dwLength = ARRAYSIZE(szWide);
    QueryFullProcessImageNameW(GetCurrentProcess(), 0, szWide, &dwLength);
    char szPath[MAX_PATH * 2] = "";
    if (dwLength != 0 && dwLength < ARRAYSIZE(szWide)) {
        WideCharToMultiByte(CP_ACP, 0, szWide, -1, szPath, sizeof(szPath), nullptr, nullptr);
    }
    std::string path(szPath);
    return path.substr(0, path.find_last_of("\\/") + 1);
}

std::string SetupPath()
{
    return BinaryFolder() + "setup.exe";
}

std::string ConvertAnsiToUtf8(const std::string& text)
{
    wchar_t szWide[1024] = L"";
    int nWide = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, szWide, ARRAYSIZE(szWide));
    char szUtf8[3072] = "";
    WideCharToMultiByte(CP_UTF8, 0, szWide, nWide, szUtf8, sizeof(szUtf8), nullptr, nullptr);
    return szUtf8;
}
