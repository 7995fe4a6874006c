// Import-table stand-ins that let a test call RunSetup in-process: a given
// command line, message boxes recorded instead of shown, and the single-
// instance mutex released when the test ends.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "iat_patch.h"

// GetCommandLineW returns pszCommandLine while the object lives.
class CCommandLinePatch {
public:
    explicit CCommandLinePatch(const wchar_t* pszCommandLine);
    ~CCommandLinePatch();

private:
    CIatPatch m_patch;
};

struct RecordedMessageBox {
    HWND hOwner;
    std::string text;
    std::string caption;
    UINT nStyle;
};

// MessageBoxA records its arguments and returns IDOK at once.
class CMessageBoxRecorder {
public:
    CMessageBoxRecorder();
    ~CMessageBoxRecorder();

    std::vector<RecordedMessageBox> m_boxes;

private:
    CIatPatch m_patch;
};

// Plays the user of an in-process run from a thread of its own: waits for
// the visible dialog with that caption in this process and presses OK.
class COkPresser {
public:
    explicit COkPresser(const char* pszCaption);
    ~COkPresser();
    COkPresser(const COkPresser&) = delete;
    COkPresser& operator=(const COkPresser&) = delete;

    // Waits for the thread; true when it found the dialog and pressed OK.
    bool WaitPressed();

private:
    HANDLE m_hThread;
};

// CreateMutexA is passed through and its handles are closed when the object
// dies, so the next in-process run is not taken for a second instance.
class CMutexCloser {
public:
    CMutexCloser();
    ~CMutexCloser();
    // Releases the mutexes created so far, for another run in the same test.
    void CloseAll();

    std::vector<HANDLE> m_handles;

private:
    CIatPatch m_patch;
};
