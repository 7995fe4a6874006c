// uidriver.exe: drives a GUI program from a script, one step at a time.
//
//   uidriver.exe [OPTIONS] [STEPS] -- PROGRAM [ARGUMENTS...]
//
// Options: --cwd DIR (working folder of PROGRAM), --wait-file PATH (for
// --hold), --restricted (Administrators deny-only), --timeout MS (each wait),
// --busy-port N (COM N held as by another program while PROGRAM runs).
// Steps, run in order once PROGRAM has started:
//   --dialog CAPTION   wait for that visible dialog; later steps act on it
//   --click ID         post a click of button ID to the dialog
//   --sys-command N    post WM_SYSCOMMAND N (e.g. 0xE001) to the dialog
//   --move X Y         move the dialog
//   --messagebox       wait for a new message box; prints "BOX <text>"
//   --move-box X Y     move the message box
//   --dismiss          press the message box's button
//   --hold             print "READY X Y W H" (bounds of the program's visible
//                      windows), wait until the wait file exists, delete it
//   --sleep MS
// Finally waits for PROGRAM to end and prints "EXIT <code>". Exit code 0
// when every step worked, 1 otherwise (PROGRAM is then terminated).
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "support/test_devices.h"

#include "uidriver/ui_driver.h"

namespace {

const DWORD HOLD_TIMEOUT_MS = 120000;

struct DriverStep {
    std::string name;
    std::vector<std::string> values;
};

struct DriverOptions {
    std::string workDir;
    std::string waitFile;
    bool bRestricted = false;
    int nBusyPort = 0;
    DWORD dwTimeoutMs = 20000;
    std::vector<DriverStep> steps;
    std::string program;
    std::string arguments;
};

struct DriverSession {
    CProgramRun run;
    HWND hDialog = nullptr;
    MessageBoxState box = {nullptr, nullptr, std::string(), std::string()};
    HWND hLastBox = nullptr;
};

int CountStepValues(const std::string& name)
{
    if (name == "--move" || name == "--move-box") {
        return 2;
    }
    if (name == "--dialog" || name == "--click" || name == "--sys-command" || name == "--sleep") {
        return 1;
    }
    if (name == "--messagebox" || name == "--dismiss" || name == "--hold") {
        return 0;
    }
    return -1;
}

int ReadNumber(const std::string& text)
{
    return static_cast<int>(strtol(text.c_str(), nullptr, 0));
}

// Joins the program's arguments into one command line, quoting blanks.
std::string JoinArguments(int nFirst, int nCount, char** ppszArguments)
{
    std::string line;
    for (int i = nFirst; i < nCount; ++i) {
        std::string argument = ppszArguments[i];
        bool bQuote = argument.empty() || argument.find_first_of(" \t") != std::string::npos;
        line += (line.empty() ? "" : " ") + (bQuote ? "\"" + argument + "\"" : argument);
    }
    return line;
}

bool ReadOptions(int nCount, char** ppszArguments, DriverOptions* pOptions)
{
    int i = 1;
    for (; i < nCount && strcmp(ppszArguments[i], "--") != 0; ++i) {
        std::string name = ppszArguments[i];
        bool bHasValue = i + 1 < nCount;
        if (name == "--cwd" && bHasValue) {
            pOptions->workDir = ppszArguments[++i];
        } else if (name == "--wait-file" && bHasValue) {
            pOptions->waitFile = ppszArguments[++i];
        } else if (name == "--timeout" && bHasValue) {
            pOptions->dwTimeoutMs = static_cast<DWORD>(ReadNumber(ppszArguments[++i]));
        } else if (name == "--busy-port" && bHasValue) {
            pOptions->nBusyPort = static_cast<int>(ReadNumber(ppszArguments[++i]));
        } else if (name == "--restricted") {
            pOptions->bRestricted = true;
        } else {
            int nValues = CountStepValues(name);
            if (nValues < 0 || i + nValues >= nCount) {
                fprintf(stderr, "uidriver: unknown step or missing value: %s\n", name.c_str());
                return false;
            }
            DriverStep step = {name, std::vector<std::string>(ppszArguments + i + 1, ppszArguments + i + 1 + nValues)};
            pOptions->steps.push_back(step);
            i += nValues;
        }
    }
    if (i + 1 >= nCount) {
        fprintf(stderr, "usage: uidriver.exe [OPTIONS] [STEPS] -- PROGRAM [ARGUMENTS...]\n");
        return false;
    }
    pOptions->program = ppszArguments[i + 1];
    pOptions->arguments = JoinArguments(i + 2, nCount, ppszArguments);
    return true;
}

// Prints the bounds of the program's visible windows and waits for the file.
bool HoldForScreenshot(DriverSession* pSession, const DriverOptions& options)
{
    RECT bounds = {0, 0, 0, 0};
    for (HWND hWnd : pSession->run.ListVisibleWindows()) {
        RECT window = {};
        GetWindowRect(hWnd, &window);
        UnionRect(&bounds, &bounds, &window);
    }
    printf("READY %ld %ld %ld %ld\n", bounds.left, bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top);
    fflush(stdout);
    DWORD dwStart = GetTickCount();
    while (GetFileAttributesA(options.waitFile.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (GetTickCount() - dwStart >= HOLD_TIMEOUT_MS) {
            return false;
        }
        Sleep(50);
    }
    DeleteFileA(options.waitFile.c_str());
    return true;
}

// The move is posted: wait until it is done, so that a later --hold
// reports where the window really is.
bool MoveAndWait(HWND hWnd, int nX, int nY)
{
    MoveWindowTo(hWnd, nX, nY);
    for (int i = 0; i < 100; ++i) {
        RECT window = {};
        if (GetWindowRect(hWnd, &window) && window.left == nX && window.top == nY) {
            return true;
        }
        Sleep(20);
    }
    return false;
}

bool WaitForNewMessageBox(DriverSession* pSession, DWORD dwTimeoutMs)
{
    if (!pSession->run.WaitForMessageBox(&pSession->box, dwTimeoutMs, pSession->hLastBox)) {
        return false;
    }
    pSession->hLastBox = pSession->box.hWnd;
    printf("BOX %s\n", pSession->box.text.c_str());
    fflush(stdout);
    return true;
}

bool RunStep(DriverSession* pSession, const DriverStep& step, const DriverOptions& options)
{
    const std::vector<std::string>& values = step.values;
    if (step.name == "--dialog") {
        pSession->hDialog = pSession->run.WaitForWindow("#32770", values[0].c_str(), options.dwTimeoutMs);
        return pSession->hDialog != nullptr;
    }
    if (step.name == "--messagebox") {
        return WaitForNewMessageBox(pSession, options.dwTimeoutMs);
    }
    if (step.name == "--hold") {
        return !options.waitFile.empty() && HoldForScreenshot(pSession, options);
    }
    if (step.name == "--sleep") {
        Sleep(static_cast<DWORD>(ReadNumber(values[0])));
        return true;
    }
    bool bBoxStep = step.name == "--move-box" || step.name == "--dismiss";
    HWND hTarget = bBoxStep ? pSession->box.hWnd : pSession->hDialog;
    if (hTarget == nullptr) {
        return false;
    }
    if (step.name == "--click") {
        ClickButton(hTarget, ReadNumber(values[0]));
    } else if (step.name == "--sys-command") {
        PostSystemCommand(hTarget, static_cast<WPARAM>(ReadNumber(values[0])));
    } else if (step.name == "--dismiss") {
        DismissMessageBox(pSession->box);
    } else {
        return MoveAndWait(hTarget, ReadNumber(values[0]), ReadNumber(values[1]));
    }
    return true;
}

} // namespace

int main(int nCount, char** ppszArguments)
{
    DriverOptions options;
    if (!ReadOptions(nCount, ppszArguments, &options)) {
        return 1;
    }
    std::unique_ptr<CBusyPort> busyPort(options.nBusyPort != 0 ? new CBusyPort(options.nBusyPort) : nullptr);
    if (busyPort && !busyPort->IsMade()) {
        fprintf(stderr, "uidriver: COM%d cannot be held\n", options.nBusyPort);
        return 1;
    }
    DriverSession session;
    const char* pszWorkDir = options.workDir.empty() ? nullptr : options.workDir.c_str();
    if (!session.run.Start(options.program.c_str(), options.arguments.c_str(), pszWorkDir, options.bRestricted)) {
        fprintf(stderr, "uidriver: cannot start %s (error %lu)\n", options.program.c_str(), GetLastError());
        return 1;
    }
    for (const DriverStep& step : options.steps) {
        if (!RunStep(&session, step, options)) {
            fprintf(stderr, "uidriver: step %s failed\n", step.name.c_str());
            return 1;
        }
    }
    DWORD dwExitCode = 0;
    if (!session.run.WaitForExit(&dwExitCode, options.dwTimeoutMs)) {
        fprintf(stderr, "uidriver: the program did not end\n");
        return 1;
    }
    printf("EXIT %ld\n", static_cast<long>(dwExitCode));
    return 0;
}
