// One run of a scenario in a child process of the sweep: the child's side
// (run, write the outcome to a file) and the parent's side (start it under
// a watchdog and read the outcome back).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct RunOutcome {
    bool bFinished = false;  // the child wrote its outcome: no crash, no hang
    std::string strFailure;  // "crash 0x...", "hang" when not finished
    int nExitCode = 0;       // RunSetup's result
    int nPrepareExit = 0;    // the preparing run's result, when there was one
    bool bPortBusy = true;   // the scenario's port was held open (set by the parent)
    bool bInjected = false;  // the chosen call was reached and failed
    int nBoxes = 0;
    std::string strFirstBox;
    std::vector<std::pair<std::string, long>> vecCalls;  // function, count
    std::vector<std::string> vecLeaks;
    std::vector<std::string> vecUnmatched;
};

// Child: prepares the machine when bPrepare, then runs the scenario, failing
// call nCall of row nRow (-1: count only; -2 - k: every call on the device
// that device fault row k chooses) or, when bKill, ending the process there, and writes the outcome to pszResultFile. Returns the
// process exit code.
int RunChild(const char* pszScenario, int nRow, long nCall, const char* pszResultFile, bool bPrepare,
             bool bKill = false);
// Child: RunSetup with the command line, nothing counted (prepare, recover).
int RunPlain(const wchar_t* pszCommandLine);

// Parent: starts this executable with pszArguments and reads the outcome.
RunOutcome StartChild(const std::string& strArguments, const std::string& strResultFile, DWORD dwTimeoutMs);
