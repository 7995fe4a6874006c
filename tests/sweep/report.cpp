// Markdown report of a sweep.
#include "report.h"

#include <stdio.h>

#include <map>

#include "fault_table.h"

namespace {

std::string Join(const std::vector<std::string>& vecItems, const char* pszEmpty) {
    if (vecItems.empty()) return pszEmpty;
    std::string strText;
    for (const std::string& strItem : vecItems) strText += (strText.empty() ? "" : "; ") + strItem;
    return strText;
}

std::string Narrow(const wchar_t* pszText) {
    std::string strText;
    for (; *pszText != L'\0'; ++pszText) strText += static_cast<char>(*pszText < 128 ? *pszText : '?');
    return strText;
}

std::string Verdict(const RunRecord& run) {
    if (!run.vecFaults.empty()) return "**" + Join(run.vecFaults, "") + "**";
    return run.vecAccepted.empty() ? "none" : "none (by design: " + Join(run.vecAccepted, "") + ")";
}

void WriteScenario(FILE* pFile, const ScenarioRecord& record) {
    const Scenario& scenario = *record.pScenario;
    fprintf(pFile, "## %s%s: `%s`\n\n", record.bKill ? "killed, then run again: " : "", scenario.pszName,
            Narrow(scenario.pszCommandLine).c_str());
    if (scenario.pszPrepare != nullptr) {
        fprintf(pFile, "Prepared by `%s`. ", Narrow(scenario.pszPrepare).c_str());
    }
    if (scenario.nBusyPort != 0) fprintf(pFile, "COM%d is held open by another program. ", scenario.nBusyPort);
    if (scenario.nForeignPort != 0) {
        fprintf(pFile, "COM%d is claimed by another vendor's port. ", scenario.nForeignPort);
    }
    fprintf(pFile, "Exit code 0 promises: %s. %lu runs, %lu s.\n\n", scenario.pszJob,
            static_cast<unsigned long>(record.vecRuns.size()), static_cast<unsigned long>(record.dwSeconds));
    fprintf(pFile, record.bKill ? "| Killed at | # | Exit of the second run | Its message | Differences from one "
                                  "undisturbed run | After silent uninstall | Faults |\n"
                                : "| Failing call | # | Exit | Message | Left by the run | After silent uninstall | Faults |\n");
    fprintf(pFile, "|---|---|---|---|---|---|---|\n");
    for (const RunRecord& run : record.vecRuns) {
        std::string strExit = run.outcome.bFinished ? std::to_string(run.outcome.nExitCode) : run.outcome.strFailure;
        fprintf(pFile, "| %s | %ld | %s | %s | %s | %s | %s |\n", run.strFunction.c_str(), run.nCall, strExit.c_str(),
                run.outcome.strFirstBox.empty() ? "-" : run.outcome.strFirstBox.c_str(),
                Join(run.vecLeft, record.bKill ? "none" : "nothing").c_str(), run.bRecoveryRun ? Join(run.vecNotRecovered, "as before").c_str() : "not needed",
                Verdict(run).c_str());
    }
    fprintf(pFile, "\n");
    if (record.bKill) {
        int nStored = 0;
        for (const RunRecord& run : record.vecRuns) nStored += run.bStoredCopy ? 1 : 0;
        fprintf(pFile, "%d kill(s) left a stored ComDB copy; after each, the query had to answer 0 (not installed)",
                nStored);
        if (scenario.nForeignPort != 0) {
            fprintf(pFile, " and the other vendor's port released COM%d before the second run, which had to keep "
                           "it free", scenario.nForeignPort);
        }
        fprintf(pFile, ".\n\n");
    }
}

// One line per scenario of both sweeps: runs, faulty runs, the runs whose
// differences the design accepts (by reason), and the time it took.
void WriteSummary(FILE* pFile, const std::vector<ScenarioRecord>& vecRecords) {
    fprintf(pFile, "## Summary\n\n| Sweep | Scenario | Runs | Faulty | Accepted, by reason | Time |\n"
                   "|---|---|---|---|---|---|\n");
    for (const ScenarioRecord& record : vecRecords) {
        int nFaulty = 0;
        std::map<std::string, int> mapAccepted;
        for (const RunRecord& run : record.vecRuns) {
            nFaulty += run.vecFaults.empty() ? 0 : 1;
            for (const std::string& strReason : run.vecAccepted) {
                ++mapAccepted[strReason.substr(strReason.find(": ") != std::string::npos ? strReason.find(": ") + 2 : 0)];
            }
        }
        std::vector<std::string> vecAccepted;
        for (const auto& reason : mapAccepted) vecAccepted.push_back(std::to_string(reason.second) + " " + reason.first);
        fprintf(pFile, "| %s | %s | %lu | %d | %s | %lu s |\n", record.bKill ? "kill" : "fault",
                record.pScenario->pszName, static_cast<unsigned long>(record.vecRuns.size()), nFaulty,
                Join(vecAccepted, "none").c_str(), static_cast<unsigned long>(record.dwSeconds));
    }
    fprintf(pFile, "\n");
}

void WriteLeftOut(FILE* pFile) {
    fprintf(pFile, "## Calls that are never made to fail\n\n| Function | Why |\n|---|---|\n");
    int nRows = 0;
    const FunctionRow* pRows = GetFunctionRows(&nRows);
    for (int i = 0; i < nRows; ++i) {
        if (pRows[i].pszReason != nullptr) fprintf(pFile, "| %s | %s |\n", pRows[i].pszName, pRows[i].pszReason);
    }
}

} // namespace

bool WriteReport(const char* pszPath, const std::vector<ScenarioRecord>& vecRecords, bool bFull) {
    FILE* pFile = fopen(pszPath, "w");
    if (pFile == nullptr) return false;
    fprintf(pFile, "# Reliability: what each failing Windows call leads to\n\n");
    fprintf(pFile, "Written by `tools/fault-sweep.sh` (%s). Each row is one run in which exactly that call of that "
                   "function failed with its documented failure value and a realistic error; the first row of a "
                   "scenario is the run without a failure. \"Left by the run\" is what changed on the machine "
                   "(+ added, - removed, ~ changed) since the scenario's preparation; when that is neither the "
                   "clean machine nor the prepared installation, the machine is then uninstalled silently and "
                   "compared with its state before the scenario (\"as before\": the uninstall recovers it; the "
                   "package copy in the Windows folder is not compared).\n\n",
            bFull ? "every call" : "the sample: the first and the last call of each function; for the kill sweep, every call that may change the machine");
    WriteSummary(pFile, vecRecords);
    bool bKillIntro = false;
    for (const ScenarioRecord& record : vecRecords) {
        if (record.bKill && !bKillIntro) {
            bKillIntro = true;
            fprintf(pFile, "# Kill sweep\n\nEach row: a run ended at once just before that call, then the same "
                           "command run again undisturbed, which must end on its own with no box and the exit code "
                           "and exact state of one undisturbed run; then a silent uninstall must recover the "
                           "machine.\n\n");
        }
        WriteScenario(pFile, record);
    }
    WriteLeftOut(pFile);
    return fclose(pFile) == 0;
}
