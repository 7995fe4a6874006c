// UI driver: starts setup.exe (or any program) and works its windows from
// outside the process, the way a user would: find a dialog by caption, read
// controls, press buttons, read and dismiss message boxes, collect the exit
// code. Every wait is bounded.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct ControlState {
    bool bExists;
    bool bVisible;
    bool bEnabled;
    std::string text;
};

struct ProgressState {
    int nMinimum;
    int nMaximum;
    int nPosition;
};

struct MessageBoxState {
    HWND hWnd;
    HWND hOwner;
    std::string text;    // the static control 0xFFFF
    std::string caption; // the window title
};

// CreateProcessA with default start-up information. Under load Wine now and
// then fails to bring a new process up (1359: it ended before it finished
// starting); nothing of the program has run then, so the start is tried up
// to three times, 500 ms apart, and every failure is logged.
// pszDesktop ("station\desktop", null: this one's) is where it starts.
BOOL CreateProcessRetried(const char* pszProgram, char* pszCommandLine, const char* pszWorkDir,
                          PROCESS_INFORMATION* pProcess, const char* pszDesktop = nullptr);

class CProgramRun {
public:
    CProgramRun();
    ~CProgramRun(); // terminates a process still running and closes handles
    CProgramRun(const CProgramRun&) = delete;
    CProgramRun& operator=(const CProgramRun&) = delete;

    // Starts pszProgram with the command line "pszProgram pszArguments" in
    // pszWorkDir (null: the current directory). With bRestricted, the child
    // gets a token in which Administrators is deny-only; pszDesktop, when
    // given, is the desktop it starts on.
    bool Start(const char* pszProgram, const char* pszArguments, const char* pszWorkDir, bool bRestricted = false,
               const char* pszDesktop = nullptr);

    // Waits until a top-level window of the process with that class and
    // caption exists and is visible; null on time-out.
    HWND WaitForWindow(const char* pszClass, const char* pszCaption, DWORD dwTimeoutMs = 10000) const;
    // Waits for a message box of the process (a #32770 window that holds the
    // static 0xFFFF), other than hExclude; false on time-out.
    bool WaitForMessageBox(MessageBoxState* pState, DWORD dwTimeoutMs = 10000, HWND hExclude = nullptr) const;
    // True when the process has no visible top-level window.
    bool HasNoVisibleWindow() const;

    // Waits for the process to end; false on time-out.
    bool WaitForExit(DWORD* pdwExitCode, DWORD dwTimeoutMs = 20000);
    // Waits for the process to end like WaitForExit and sets *pbOtherWindow
    // when a visible top-level window other than hAllowed (may be null)
    // showed meanwhile.
    bool WaitForExitWatching(DWORD* pdwExitCode, HWND hAllowed, bool* pbOtherWindow, DWORD dwTimeoutMs = 20000);
    // True while the process has not ended.
    bool IsRunning() const;
    // The visible top-level windows of the process, in z-order.
    std::vector<HWND> ListVisibleWindows() const;

    DWORD ProcessId() const { return m_dwProcessId; }
    HANDLE Process() const { return m_hProcess; }

private:
    HANDLE m_hProcess;
    DWORD m_dwProcessId;
};

ControlState ReadControl(HWND hDialog, int nId);
ProgressState ReadProgress(HWND hDialog, int nId);
std::string ReadWindowText(HWND hWnd);

// Posts a click (WM_COMMAND with BN_CLICKED) of button nId; never blocks.
void ClickButton(HWND hDialog, int nId);
// Posts WM_SYSCOMMAND with wParam (an SC_* code or a menu command).
void PostSystemCommand(HWND hWnd, WPARAM wParam);
// Presses the box's only (or default) button, so the box closes.
void DismissMessageBox(const MessageBoxState& box);

// Posts a key press and release (WM_KEYDOWN, WM_KEYUP) of nVirtualKey.
void PostKey(HWND hWnd, UINT nVirtualKey);
// Moves a top-level window without resizing or activating it; never blocks.
void MoveWindowTo(HWND hWnd, int nX, int nY);
// True for a dialog that is a message box: one text static with ID 0xFFFF.
bool IsMessageBox(HWND hWnd);
std::string ReadClassName(HWND hWnd);
// The visible top-level windows of a process, in z-order.
std::vector<HWND> ListProcessWindows(DWORD dwProcessId);

// Waits until hWnd no longer exists; false on time-out.
bool WaitForWindowGone(HWND hWnd, DWORD dwTimeoutMs = 10000);

// Converts text in the ANSI code page (as windows hand it out) to UTF-8,
// for comparison with literals of the Japanese texts.
std::string ConvertAnsiToUtf8(const std::string& text);

// Folder of the running test executable, with a trailing backslash; setup.exe
// and uidriver.exe are built beside it.
std::string BinaryFolder();
// BinaryFolder() + "setup.exe".
std::string SetupPath();
