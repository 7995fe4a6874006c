// The runs the sweep fails call by call. A scenario is RunSetup with one
// command line, optionally after a preparing run, and a rule for what a run
// that exits 0 must have done. New scenarios are added to the list.
#pragma once

#include <string>
#include <vector>

typedef std::vector<std::string> StateLines;

struct Scenario {
    const char* pszName;
    const wchar_t* pszCommandLine;
    const wchar_t* pszPrepare;  // run uncounted before each run, or null
    const char* pszJob;         // what exit code 0 promises, for the report
    // vecBefore: the machine before the preparing run; vecAfter: after the run.
    bool (*pfnIsJobDone)(const StateLines& vecBefore, const StateLines& vecAfter);
    // Functions whose failure the design lets end with 0 and the job undone.
    const char* const* ppszIgnoredByDesign;
};

const std::vector<Scenario>& GetScenarios();
const Scenario* FindScenario(const char* pszName);

// RunSetup in this process with pszCommandLine, message boxes recorded and
// the single-instance mutex released afterwards; only RunSetup itself is
// counted. *pnBoxes receives the number of boxes and *pstrFirstBox the text
// of the first.
int RunSetupCounted(const wchar_t* pszCommandLine, int* pnBoxes, std::string* pstrFirstBox);
