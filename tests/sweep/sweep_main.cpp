// Fault sweep: runs each scenario once to count the product's calls, then
// once per (function, call number) with exactly that call failing, each run
// in a child process, and checks every run: no crash or hang, no leaked
// resource, "ComDB" never left temporary, a normal silent uninstall brings
// the machine back, and exit code 0 only when the job is done. Writes the
// outcome of every failure as a markdown report.
//
//   sweep.exe [--full] [--report FILE] [--timeout SECONDS]
//   sweep.exe --child SCENARIO ROW CALL RESULT_FILE   (one counted run)
//   sweep.exe --plain SCENARIO|recover                (uncounted run)
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <set>

#include "child_run.h"
#include "interceptor.h"
#include "report.h"
#include "scenarios.h"
#include "system_state.h"

namespace {

const wchar_t* const RECOVER_COMMAND_LINE = L"setup.exe /s /u";

struct SweepOptions {
    bool bFull = false;
    std::string strReport = "reliability.md";
    DWORD dwTimeoutMs = 60000;
};

std::string GetResultFile() {
    char szTemp[MAX_PATH];
    GetTempPathA(MAX_PATH, szTemp);
    return std::string(szTemp) + "sweep-run.txt";
}

// First, last and every tenth call; all of them in a full sweep.
std::vector<long> PickCalls(long nCount, bool bFull) {
    std::set<long> setCalls = {1, nCount};
    for (long n = 1; n <= nCount; ++n) {
        if (bFull || n % 10 == 0) setCalls.insert(n);
    }
    return std::vector<long>(setCalls.begin(), setCalls.end());
}

bool IsIgnoredByDesign(const Scenario& scenario, const char* pszFunction) {
    for (const char* const* ppsz = scenario.ppszIgnoredByDesign; *ppsz != nullptr; ++ppsz) {
        if (strcmp(*ppsz, pszFunction) == 0) return true;
    }
    return false;
}

// One run: prepare, run, check, recover, check again.
RunRecord SweepOneRun(const Scenario& scenario, int nRow, long nCall, const StateLines& vecClean,
                      const SweepOptions& options) {
    RunRecord record;
    record.strFunction = nRow >= 0 ? GetFunctionRows(nullptr)[nRow].pszName : "(none)";
    record.nCall = nCall;
    if (scenario.pszPrepare != nullptr) StartChild(std::string("--plain prepare:") + scenario.pszName, "", options.dwTimeoutMs);
    StateLines vecPrepared = ReadSystemState();
    std::string strArguments = std::string("--child ") + scenario.pszName + " " + std::to_string(nRow) + " " +
                               std::to_string(nCall) + " \"" + GetResultFile() + "\"";
    record.outcome = StartChild(strArguments, GetResultFile(), options.dwTimeoutMs);
    StateLines vecAfter = ReadSystemState();
    record.vecLeft = DiffState(vecPrepared, vecAfter, '+');
    for (const std::string& strLine : DiffState(vecAfter, vecPrepared, '-')) record.vecLeft.push_back(strLine);

    const RunOutcome& outcome = record.outcome;
    if (!outcome.bFinished) record.vecFaults.push_back(outcome.strFailure);
    if (nRow >= 0 && outcome.bFinished && !outcome.bInjected) record.vecFaults.push_back("call not reached");
    for (const std::string& strLeak : outcome.vecLeaks) record.vecFaults.push_back("leak: " + strLeak);
    for (const std::string& strRelease : outcome.vecUnmatched) record.vecFaults.push_back("unmatched release: " + strRelease);
    if (IsComDbTemporary()) record.vecFaults.push_back("ComDB left temporary");
    bool bQuery = wcsstr(scenario.pszCommandLine, L"/debug") != nullptr;
    if (outcome.bFinished && outcome.nExitCode != 0 && outcome.nExitCode != -1 && !(bQuery && outcome.nExitCode == 1)) {
        record.vecFaults.push_back("undocumented exit code");
    }
    if (outcome.bFinished && outcome.nExitCode == 0 && !scenario.pfnIsJobDone(vecClean, vecAfter) &&
        !IsIgnoredByDesign(scenario, record.strFunction.c_str())) {
        record.vecFaults.push_back("exit 0 but the job is not done");
    }

    // A run that left the machine as it was needs no recovery; the silent
    // uninstall of a clean machine is a scenario of its own.
    StateLines vecRecovered = vecAfter;
    if (vecAfter != vecClean) {
        StartChild("--plain recover", "", options.dwTimeoutMs);
        vecRecovered = ReadSystemState();
    }
    record.vecNotRecovered = DiffState(vecClean, vecRecovered, '+');
    for (const std::string& strLine : DiffState(vecRecovered, vecClean, '-')) record.vecNotRecovered.push_back(strLine);
    if (!record.vecNotRecovered.empty()) record.vecFaults.push_back("uninstall does not recover the machine");
    return record;
}

ScenarioRecord SweepScenario(const Scenario& scenario, const SweepOptions& options) {
    ScenarioRecord record;
    record.pScenario = &scenario;
    StateLines vecClean = ReadSystemState();
    RunRecord counting = SweepOneRun(scenario, -1, 0, vecClean, options);
    // Call numbers name calls only when every run makes the same calls.
    RunRecord again = SweepOneRun(scenario, -1, 0, vecClean, options);
    if (again.outcome.vecCalls != counting.outcome.vecCalls) counting.vecFaults.push_back("call counts vary between runs");
    record.vecRuns.push_back(counting);
    for (const auto& calls : counting.outcome.vecCalls) {
        int nRow = FindFunctionRow(calls.first.c_str());
        if (nRow < 0 || GetFunctionRows(nullptr)[nRow].pszReason != nullptr) continue;
        for (long nCall : PickCalls(calls.second, options.bFull)) {
            record.vecRuns.push_back(SweepOneRun(scenario, nRow, nCall, vecClean, options));
            const RunRecord& run = record.vecRuns.back();
            printf("%s %s #%ld: exit %d%s\n", scenario.pszName, run.strFunction.c_str(), nCall,
                   run.outcome.nExitCode, run.vecFaults.empty() ? "" : (" FAULT " + run.vecFaults[0]).c_str());
            fflush(stdout);
        }
    }
    return record;
}

int RunParent(const SweepOptions& options) {
    std::vector<ScenarioRecord> vecRecords;
    int nFaults = 0;
    for (const Scenario& scenario : GetScenarios()) {
        vecRecords.push_back(SweepScenario(scenario, options));
        for (const RunRecord& run : vecRecords.back().vecRuns) nFaults += run.vecFaults.empty() ? 0 : 1;
    }
    if (!WriteReport(options.strReport.c_str(), vecRecords, options.bFull)) {
        printf("cannot write %s\n", options.strReport.c_str());
        return 1;
    }
    printf("%d faulty run(s); report: %s\n", nFaults, options.strReport.c_str());
    return nFaults == 0 ? 0 : 1;
}

int RunPlainByName(const char* pszWhat) {
    if (strcmp(pszWhat, "recover") == 0) return RunPlain(RECOVER_COMMAND_LINE);
    const Scenario* pScenario = strncmp(pszWhat, "prepare:", 8) == 0 ? FindScenario(pszWhat + 8) : nullptr;
    return pScenario != nullptr && pScenario->pszPrepare != nullptr ? RunPlain(pScenario->pszPrepare) : 2;
}

} // namespace

int main(int nArguments, char** ppszArguments) {
    if (nArguments == 6 && strcmp(ppszArguments[1], "--child") == 0) {
        return RunChild(ppszArguments[2], atoi(ppszArguments[3]), atol(ppszArguments[4]), ppszArguments[5]);
    }
    if (nArguments == 3 && strcmp(ppszArguments[1], "--plain") == 0) return RunPlainByName(ppszArguments[2]);
    SweepOptions options;
    for (int i = 1; i < nArguments; ++i) {
        if (strcmp(ppszArguments[i], "--full") == 0) options.bFull = true;
        else if (strcmp(ppszArguments[i], "--report") == 0 && i + 1 < nArguments) options.strReport = ppszArguments[++i];
        else if (strcmp(ppszArguments[i], "--timeout") == 0 && i + 1 < nArguments)
            options.dwTimeoutMs = static_cast<DWORD>(atoi(ppszArguments[++i])) * 1000;
    }
    return RunParent(options);
}
