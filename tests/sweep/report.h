// The sweep's records and its markdown report: for each function of each
// scenario, what its failure leads to.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "child_run.h"
#include "scenarios.h"

struct RunRecord {
    std::string strFunction;  // "(none)" for the counting run
    long nCall = 0;
    RunOutcome outcome;
    std::vector<std::string> vecLeft;          // state changes of the run itself
    bool bRecoveryRun = false;                 // the silent uninstall ran after it
    std::vector<std::string> vecNotRecovered;  // differences after the uninstall
    std::vector<std::string> vecFaults;
    std::vector<std::string> vecAccepted;  // outcomes the design accepts, with why
    bool bStoredCopy = false;  // kill sweep: the kill left a stored ComDB copy
};

struct ScenarioRecord {
    const Scenario* pScenario = nullptr;
    std::vector<RunRecord> vecRuns;
    DWORD dwSeconds = 0;
    bool bKill = false;  // kill sweep: outcome and state are the second run's
};

bool WriteReport(const char* pszPath, const std::vector<ScenarioRecord>& vecRecords, bool bFull);
