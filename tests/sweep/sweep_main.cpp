// Fault sweep: runs each scenario once to count the product's calls, then
// once per (function, call number) with exactly that call failing, each run
// in a child process, and checks every run: no crash or hang, no leaked
// resource, "ComDB" never left temporary, a normal silent uninstall brings
// the machine back, exit code 0 only when the job is done, and the query
// agreeing with every exit code 0. The kill
// sweep instead ends the run at that call, runs the command again and
// checks that the machine is exactly what one undisturbed run leaves; a
// kill that leaves a stored ComDB copy must not pass for an installation,
// and a number another vendor's port releases then must stay free. The
// kill sweep also kills inside the system's device installation, at the
// calls of the modules it runs through. The sweeps start from a lived-in
// machine (lived_in.h) that every run must leave exactly as it was.
// Writes the outcome of every run as a markdown report.
//
//   sweep.exe [--full] [--report FILE] [--timeout SECONDS] [--scenario NAME,...]
//             [--share K/N]   (only functions whose table row is K modulo N)
//             [--sweeps fault,kill]
//   sweep.exe --child SCENARIO ROW CALL RESULT_FILE PREPARE [kill]  (one counted run)
//   sweep.exe --plain prepare:SCENARIO|recover|query  (uncounted run)
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <set>

#include "child_run.h"
#include "interceptor.h"
#include "lived_in.h"
#include "report.h"
#include "scenarios.h"
#include "test_devices.h"
#include "package_folder.h"

namespace {

const wchar_t* const RECOVER_COMMAND_LINE = L"setup.exe /s /u";
const wchar_t* const QUERY_COMMAND_LINE = L"setup.exe /debug";
const char ARBITER_KEY[] = "System\\CurrentControlSet\\Control\\COM Name Arbiter";

struct SweepOptions {
    bool bFull = false;
    std::string strReport = "reliability.md";
    DWORD dwTimeoutMs = 60000;
    std::string strOnly;  // scenario names separated by commas, or empty for all
    int nShare = 0;       // only the functions whose row index is nShare
    int nShares = 1;      // modulo nShares, so that parts can run side by side
    std::string strFunction; // only this function's calls (as the log names them), or empty for all
    std::string strSweeps = "fault,kill";
};

std::string GetResultFile() {
    char szTemp[MAX_PATH];
    GetTempPathA(MAX_PATH, szTemp);
    return std::string(szTemp) + "sweep-run.txt";
}

// Functions whose calls change nothing that a later run reads: they read,
// open, close or allocate, or write only the run's log (which every sweep run
// starts afresh). A run killed just before one of them leaves the machine
// exactly as a run killed just before the next call that may change it.
const char* const c_apszUnchanging[] = {
    "RegOpenKeyExA", "RegQueryValueExA", "RegEnumKeyExA", "RegQueryInfoKeyA", "RegCloseKey", "OpenSCManagerA",
    "OpenServiceA", "CloseServiceHandle", "QueryServiceStatus", "QueryServiceStatusEx", "EnumDependentServicesA",
    "AllocateAndInitializeSid", "FreeSid", "CheckTokenMembership", "CloseHandle", "GetFileAttributesA",
    "GetFileAttributesExA", "FindFirstFileA", "FindNextFileA", "FindClose", "GetWindowsDirectoryA",
    "GetSystemDirectoryA", "GetModuleFileNameA", "CreateMutexA", "LoadLibraryA", "LoadLibraryExA",
    "GetModuleHandleA", "GetProcAddress", "CreateThread", "ResumeThread", "WaitForSingleObject", "HeapAlloc",
    "HeapFree", "LocalAlloc", "LocalFree", "FormatMessageA", "VerifyVersionInfoA", "CommandLineToArgvW",
    "SetupDiGetClassDevsA", "SetupDiCreateDeviceInfoList", "SetupDiDestroyDeviceInfoList", "SetupDiEnumDeviceInfo",
    "SetupDiGetDeviceRegistryPropertyA", "SetupDiOpenDevRegKey", "SetupDiGetINFClassA", "SetupOpenInfFileA",
    "SetupCloseInfFile", "SetupFindFirstLineA", "SetupFindNextLine", "SetupGetStringFieldA", "SetupGetFieldCount",
    "SetupDiGetDeviceInstallParamsA", "SetupDiGetDeviceInstanceIdA", "SetupGetNonInteractiveMode",
    "SetupSetNonInteractiveMode", "fopen", "setvbuf", "fclose", "fgets", "WriteFile", "WideCharToMultiByte",
    "ProcessIdToSessionId", "GetUserNameA",
    "GetProcessWindowStation", "GetUserObjectInformationA", "IsWow64Process", "CMP_WaitNoPendingInstallEvents",
    "ComDBClose", "GetModuleFileNameW", "MultiByteToWideChar", "RegGetValueA", "IsWow64Process2", "CM_Get_DevNode_Status",
    // Every field SERVICE_NO_CHANGE: it asks whether the service is marked for deletion.
    "ChangeServiceConfigA",
};

bool CanChangeMachine(const std::string& strFunction) {
    for (const char* pszName : c_apszUnchanging) {
        if (strFunction == pszName) return false;
    }
    return true;
}

// The fault sample: the first and the last call of each function. The kill
// sample: every call of the program that may change the machine, which
// leaves every state a kill can leave, and, of the calls inside the system's
// device installation (K rows), only the first of each sampled function in
// the install scenario, to keep the suite's time. A full sweep takes every call.
std::vector<long> PickCalls(const FunctionRow& row, const Scenario& scenario, long nCount, bool bFull, bool bKill) {
    std::set<long> setCalls;
    bool bInsideSystem = row.pszModule != nullptr;
    for (long n = 1; n <= nCount; ++n) {
        bool bPicked = !bKill                      ? n == 1 || n == nCount
                       : bInsideSystem             ? row.bSampled && n == 1 && strcmp(scenario.pszName, "install") == 0
                                                   : CanChangeMachine(row.pszName);
        if (bFull || bPicked) setCalls.insert(n);
    }
    return std::vector<long>(setCalls.begin(), setCalls.end());
}

bool IsComDbTemporary(const MachineState& state) {
    int nClear = 0;
    for (BYTE b : state.comDb) {
        for (int nBit = 0; nBit < 8; ++nBit) nClear += (b >> nBit) & 1 ? 0 : 1;
    }
    return nClear == 1;
}

// Marks COM nPort (0: none) in use or free in the arbiter bitmap, as
// ComDBClaimPort and ComDBReleasePort do.
MachineState WithPortMarked(MachineState state, int nPort, bool bInUse) {
    size_t nIndex = static_cast<size_t>(nPort - 1) / 8;
    if (nPort <= 0 || nIndex >= state.comDb.size()) return state;
    BYTE nMask = static_cast<BYTE>(1u << ((nPort - 1) % 8));
    state.comDb[nIndex] = static_cast<BYTE>(bInUse ? state.comDb[nIndex] | nMask : state.comDb[nIndex] & ~nMask);
    return state;
}

void WriteComDb(const std::vector<BYTE>& comDb) {
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, ARBITER_KEY, "ComDB", REG_BINARY, comDb.data(),
                    static_cast<DWORD>(comDb.size()));
}

// Another vendor's port claims or releases its number in "ComDB".
void MarkForeignPort(int nPort, bool bInUse) {
    MachineState state = nPort != 0 ? ReadSweptState() : MachineState{};
    if (!state.comDb.empty()) WriteComDb(WithPortMarked(state, nPort, bInUse).comDb);
}

// The journal of an interrupted walk: the bitmap the run would restore.
bool HasStoredCopy() {
    return RegGetValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\qzvrcom", "SavedComDB", RRF_RT_ANY, nullptr, nullptr,
                        nullptr) == ERROR_SUCCESS;
}

// What the machine is known to hold between runs of one scenario.
struct SweepContext {
    MachineState clean;     // before the scenario
    MachineState prepared;  // after its preparing run (clean without one)
    MachineState promised;  // what exit code 0 promises
    bool bPrepared = false; // the machine is in the prepared state now
    int nNormalExit = 0;    // the exit code of the run without a failure
};

void CheckOutcome(const Scenario& scenario, int nRow, const MachineState& after, const SweepContext& context,
                  RunRecord& record) {
    const RunOutcome& outcome = record.outcome;
    if (!outcome.bFinished) record.vecFaults.push_back(outcome.strFailure);
    if (outcome.nPrepareExit != 0) record.vecFaults.push_back("preparing run failed");
    if (!outcome.bPortBusy) record.vecFaults.push_back("port could not be held open");
    if (nRow != -1 && outcome.bFinished && !outcome.bInjected) record.vecFaults.push_back("call not reached");
    for (const std::string& strLeak : outcome.vecLeaks) record.vecFaults.push_back("leak: " + strLeak);
    for (const std::string& strRelease : outcome.vecUnmatched) record.vecFaults.push_back("unmatched release: " + strRelease);
    if (IsComDbTemporary(after)) record.vecFaults.push_back("ComDB left temporary");
    bool bQuery = wcsstr(scenario.pszCommandLine, L"/debug") != nullptr;
    if (outcome.bFinished && outcome.nExitCode != 0 && outcome.nExitCode != -1 && !(bQuery && outcome.nExitCode == 1)) {
        record.vecFaults.push_back("undocumented exit code");
    }
    if (outcome.bFinished && outcome.nExitCode == 0 && (nRow != -1 || scenario.bDoneMeansClean)) {
        std::vector<std::string> vecMissing = ListMissingWork(context.promised, after);
        const char* pszReason = FindAcceptingReason(scenario.pAccepted, record.strFunction.c_str(), vecMissing);
        if (pszReason != nullptr) record.vecAccepted.push_back(std::string("exit 0 with work left: ") + pszReason);
        else if (!vecMissing.empty()) record.vecFaults.push_back("exit 0 but the job is not done");
    }
}

// Exit code 0 and the detection rule agree: after an install that exits 0
// the query answers 1 (installed), after an uninstall that exits 0 it
// answers 0, as a deployment tool that runs the rule next will read it.
void CheckQueryAgrees(const Scenario& scenario, const RunOutcome& outcome, const SweepOptions& options,
                      RunRecord& record) {
    if (!outcome.bFinished || outcome.nExitCode != 0 || wcsstr(scenario.pszCommandLine, L"/debug") != nullptr) return;
    int nWanted = wcsstr(scenario.pszCommandLine, L"/u") != nullptr ? 0 : 1;
    RunOutcome query = StartChild("--plain query", "", options.dwTimeoutMs);
    if (!query.bFinished || query.nExitCode != nWanted) {
        record.vecFaults.push_back("exit 0 but the query answers " +
                                   (query.bFinished ? std::to_string(query.nExitCode) : query.strFailure));
    }
}

// The uninstall that brings the machine back, and what it leaves: the
// clean state, without the foreign port's number when it was released.
void RecoverMachine(SweepContext& context, const SweepOptions& options, RunRecord& record, int nReleasedPort = 0) {
    // A refused uninstall (pending installations of the run just ended, a
    // machine under load) is tried again before the machine is judged.
    RunOutcome uninstall;
    for (int nTry = 0; nTry < 3 && (nTry == 0 || !uninstall.bFinished || uninstall.nExitCode != 0); ++nTry) {
        if (nTry > 0) Sleep(2000);
        uninstall = StartChild("--plain recover", "", options.dwTimeoutMs);
    }
    if (!uninstall.bFinished || uninstall.nExitCode != 0) {
        record.vecNotRecovered.push_back("silent uninstall ended with " +
                                         (uninstall.bFinished ? std::to_string(uninstall.nExitCode) : uninstall.strFailure));
    }
    MachineState recovered = ReadSweptState();
    context.bPrepared = false;
    record.bRecoveryRun = true;
    MachineState expected = WithPortMarked(context.clean, nReleasedPort, false);
    for (const std::string& strLine : DescribeDifferences(expected, recovered)) {
        record.vecNotRecovered.push_back(strLine);
    }
    if (!record.vecNotRecovered.empty()) record.vecFaults.push_back("uninstall does not recover the machine");
    // The next run starts from the clean value, whatever this one left.
    WriteComDb(context.clean.comDb);
}

// The other vendors' part of the machine is left exactly as it was, by the
// run (checked before a recovery, which starts by resetting the package
// copy) and by its recovery; what was changed is put back, so that the
// next run starts from the same machine.
void CheckLivedIn(const char* pszWhen, RunRecord& record) {
    std::vector<std::string> vecChanges = ListLivedInChanges();
    for (const std::string& strChange : vecChanges) {
        record.vecFaults.push_back(std::string("lived-in machine ") + pszWhen + ": " + strChange);
    }
    if (!vecChanges.empty()) RestoreLivedInMachine();
}

std::string ChildArguments(const Scenario& scenario, int nRow, long nCall, bool bPrepare) {
    return std::string("--child ") + scenario.pszName + " " + std::to_string(nRow) + " " + std::to_string(nCall) +
           " \"" + GetResultFile() + "\" " + (bPrepare ? "1" : "0");
}

// One run: prepare when needed, run, check, recover when needed.
RunRecord SweepOneRun(const Scenario& scenario, int nRow, long nCall, SweepContext& context,
                      const SweepOptions& options, MachineState* pAfter = nullptr) {
    RunRecord record;
    int nDeviceRows = 0;
    record.strFunction = nRow >= 0 ? GetFunctionRows(nullptr)[nRow].pszName
                         : nRow == -1 ? "(none)" : GetDeviceFaultRows(&nDeviceRows)[-2 - nRow].pszName;
    record.nCall = nCall;
    bool bPrepare = scenario.pszPrepare != nullptr && !context.bPrepared;
    // Held here rather than in the child, so that the port is free again
    // even when the child crashes.
    std::unique_ptr<CBusyPort> busyPort(scenario.nBusyPort != 0 ? new CBusyPort(scenario.nBusyPort) : nullptr);
    record.outcome = StartChild(ChildArguments(scenario, nRow, nCall, bPrepare), GetResultFile(), options.dwTimeoutMs);
    record.outcome.bPortBusy = !busyPort || busyPort->IsMade();
    busyPort.reset();
    MachineState after = ReadSweptState();
    if (pAfter != nullptr) *pAfter = after;
    record.vecLeft = DescribeDifferences(context.prepared, after);
    CheckOutcome(scenario, nRow, after, context, record);
    CheckQueryAgrees(scenario, record.outcome, options, record);

    // A run that left the machine clean needs no recovery, and neither does
    // one that left exactly the prepared installation, whose uninstall the
    // counting run checks.
    context.bPrepared = scenario.pszPrepare != nullptr && record.vecLeft.empty();
    bool bClean = DescribeDifferences(context.clean, after).empty();
    CheckLivedIn("after the run", record);
    if (nRow == -1 ? !bClean : !bClean && !context.bPrepared) {
        RecoverMachine(context, options, record);
        CheckLivedIn("after the uninstall", record);
    }
    return record;
}

// Every call of a function on one device fails (a device fault row): a
// device that is not ours must not keep the run from its whole job, and of
// ours only the device that could not be removed may be left.
void SweepDeviceFaults(const Scenario& scenario, SweepContext& context, const SweepOptions& options,
                       ScenarioRecord& record) {
    int nRows = 0;
    const DeviceFaultRow* pRows = GetDeviceFaultRows(&nRows);
    for (int k = 0; k < nRows; ++k) {
        MachineState after;
        RunRecord run = SweepOneRun(scenario, -2 - k, 0, context, options, &after);
        if (!run.outcome.bFinished) {
        } else if (pRows[k].eDevice == DEVICE_FOREIGN_PORT && !ListMissingWork(context.promised, after).empty()) {
            run.vecFaults.push_back("the job is not done because a device that is not ours cannot be read");
        } else if (pRows[k].eDevice == DEVICE_OUR_FIRST && DevicesOfService(after, "qzvrcom").size() > 1) {
            run.vecFaults.push_back("devices of ours left beside the one that could not be removed");
        }
        printf("%s %s: exit %d%s\n", scenario.pszName, run.strFunction.c_str(), run.outcome.nExitCode,
               run.vecFaults.empty() ? "" : (" FAULT " + run.vecFaults[0]).c_str());
        record.vecRuns.push_back(run);
    }
}

// A kill at the call, then the same command again undisturbed: that run
// must end on its own without a box, with the undisturbed run's exit code,
// leaving exactly what one undisturbed run leaves; then the uninstall must
// bring back the machine from before the scenario. A kill that leaves a
// stored ComDB copy interrupted a walk: the query must not answer
// "installed" then, and the foreign port releases its number before the
// run again, which must keep it free.
RunRecord SweepKillRun(const Scenario& scenario, int nRow, long nCall, SweepContext& context,
                       const SweepOptions& options) {
    RunRecord record;
    record.strFunction = GetFunctionRows(nullptr)[nRow].pszName;
    record.nCall = nCall;
    bool bPrepare = scenario.pszPrepare != nullptr && !context.bPrepared;
    RunOutcome killed = StartChild(ChildArguments(scenario, nRow, nCall, bPrepare) + " kill", GetResultFile(),
                                   options.dwTimeoutMs);
    if (killed.bFinished) record.vecFaults.push_back("call not reached");
    else if (killed.strFailure != "crash 0x0000DEAD") record.vecFaults.push_back("killed run: " + killed.strFailure);
    record.bStoredCopy = HasStoredCopy();
    int nReleasedPort = 0;
    if (record.bStoredCopy) {
        RunOutcome query = StartChild("--plain query", "", options.dwTimeoutMs);
        if (!query.bFinished || query.nExitCode != 0) {
            record.vecFaults.push_back("query answers " +
                                       (query.bFinished ? std::to_string(query.nExitCode) : query.strFailure) +
                                       " after the kill");
        }
        nReleasedPort = scenario.nForeignPort;
        MarkForeignPort(nReleasedPort, false);
    }
    record.outcome = StartChild(ChildArguments(scenario, -1, 0, false), GetResultFile(), options.dwTimeoutMs);
    const RunOutcome& outcome = record.outcome;
    if (!outcome.bFinished) record.vecFaults.push_back("second run: " + outcome.strFailure);
    if (outcome.nBoxes != 0) record.vecFaults.push_back("box in the second run");
    if (outcome.bFinished && outcome.nExitCode != context.nNormalExit) record.vecFaults.push_back("second run fails");
    for (const std::string& strLeak : outcome.vecLeaks) record.vecFaults.push_back("leak: " + strLeak);
    CheckQueryAgrees(scenario, outcome, options, record);
    // Wine's device lists skip a device key without "ClassGUID": a kill
    // inside setupapi's creation of a port, before it wrote the class,
    // leaves a key that no Setup API call finds there. Windows lists devices
    // of no class, and the next run removes it by its instance ID (as the
    // end-to-end tests show for a listed one); here the bench deletes it.
    if (strncmp(record.strFunction.c_str(), "setupapi.dll!", 13) == 0 && DeleteClasslessDevices() != 0) {
        record.vecAccepted.push_back("a device key killed before its class, which Wine's device lists skip");
    }
    record.vecLeft = ListDifferencesExceptIds(WithPortMarked(context.promised, nReleasedPort, false), ReadSweptState());
    if (!record.vecLeft.empty()) record.vecFaults.push_back("second run does not leave what one run leaves");
    CheckLivedIn("after the second run", record);
    RecoverMachine(context, options, record, nReleasedPort);
    CheckLivedIn("after the uninstall", record);
    return record;
}

ScenarioRecord SweepScenario(const Scenario& scenario, const SweepOptions& options, bool bKill) {
    ScenarioRecord record;
    record.pScenario = &scenario;
    record.bKill = bKill;
    DWORD dwStart = GetTickCount();
    SweepContext context;
    MarkForeignPort(scenario.nForeignPort, true);
    context.clean = ReadSweptState();
    context.prepared = context.clean;
    context.promised = context.clean;
    if (scenario.pszPrepare != nullptr) {
        StartChild(std::string("--plain prepare:") + scenario.pszName, "", options.dwTimeoutMs);
        context.prepared = ReadSweptState();
        context.bPrepared = true;
    }
    RunRecord counting = SweepOneRun(scenario, -1, 0, context, options);
    // Call numbers name calls only when every run makes the same calls.
    MachineState normal;
    RunRecord again = SweepOneRun(scenario, -1, 0, context, options, &normal);
    if (again.outcome.vecCalls != counting.outcome.vecCalls) counting.vecFaults.push_back("call counts vary between runs");
    context.promised = scenario.bDoneMeansClean ? context.clean : normal;
    context.nNormalExit = again.outcome.nExitCode;
    record.vecRuns.push_back(counting);
    for (const auto& calls : counting.outcome.vecCalls) {
        int nRow = FindFunctionRow(calls.first.c_str());
        // A kill may come at any call, also at one whose failure is not
        // injected.
        if (nRow < 0 || (!bKill && GetFunctionRows(nullptr)[nRow].pszReason != nullptr) ||
            nRow % options.nShares != options.nShare ||
            (!options.strFunction.empty() && calls.first != options.strFunction)) {
            continue;
        }
        for (long nCall : PickCalls(GetFunctionRows(nullptr)[nRow], scenario, calls.second, options.bFull, bKill)) {
            record.vecRuns.push_back(bKill ? SweepKillRun(scenario, nRow, nCall, context, options)
                                           : SweepOneRun(scenario, nRow, nCall, context, options));
            const RunRecord& run = record.vecRuns.back();
            printf("%s %s #%ld: exit %d%s\n", scenario.pszName, run.strFunction.c_str(), nCall,
                   run.outcome.nExitCode, run.vecFaults.empty() ? "" : (" FAULT " + run.vecFaults[0]).c_str());
            fflush(stdout);
        }
    }
    // The device faults need our devices on the machine and a run the
    // user lets finish; they go with the first part of a split sample.
    if (!bKill && scenario.pszPrepare != nullptr && scenario.nBusyPort == 0 && options.nShare == 0) {
        SweepDeviceFaults(scenario, context, options, record);
    }
    // The next scenario starts on a clean machine.
    if (context.bPrepared) StartChild("--plain recover", "", options.dwTimeoutMs);
    MarkForeignPort(scenario.nForeignPort, false);
    record.dwSeconds = (GetTickCount() - dwStart + 500) / 1000;
    printf("%s%s: %lu runs, %lu s\n", bKill ? "kill " : "", scenario.pszName, static_cast<unsigned long>(record.vecRuns.size()),
           static_cast<unsigned long>(record.dwSeconds));
    return record;
}

bool IsListed(const std::string& strList, const char* pszName) {
    return ("," + strList + ",").find(std::string(",") + pszName + ",") != std::string::npos;
}

// The chosen scenarios of the fault sweep, then those of the kill sweep.
int RunParent(const SweepOptions& options) {
    std::vector<ScenarioRecord> vecRecords;
    int nFaults = 0;
    const std::vector<Scenario>& vecScenarios = GetScenarios();
    BuildLivedInMachine();
    for (size_t nPass = 0; nPass < 2 * vecScenarios.size(); ++nPass) {
        bool bKill = nPass >= vecScenarios.size();
        const Scenario& scenario = vecScenarios[nPass % vecScenarios.size()];
        if (!IsListed(options.strSweeps, bKill ? "kill" : "fault") || (bKill && !scenario.bKillSwept) ||
            (!options.strOnly.empty() && !IsListed(options.strOnly, scenario.pszName))) {
            continue;
        }
        vecRecords.push_back(SweepScenario(scenario, options, bKill));
        for (const RunRecord& run : vecRecords.back().vecRuns) nFaults += run.vecFaults.empty() ? 0 : 1;
        // Written after every scenario, so that a long sweep shows its
        // results as it goes.
        if (!WriteReport(options.strReport.c_str(), vecRecords, options.bFull)) {
            printf("cannot write %s\n", options.strReport.c_str());
            return 1;
        }
    }
    printf("%d faulty run(s); report: %s\n", nFaults, options.strReport.c_str());
    return nFaults == 0 ? 0 : 1;
}

int RunPlainByName(const char* pszWhat) {
    if (strcmp(pszWhat, "recover") == 0) return RunPlain(RECOVER_COMMAND_LINE);
    if (strcmp(pszWhat, "query") == 0) return RunPlain(QUERY_COMMAND_LINE);
    const Scenario* pScenario = strncmp(pszWhat, "prepare:", 8) == 0 ? FindScenario(pszWhat + 8) : nullptr;
    return pScenario != nullptr && pScenario->pszPrepare != nullptr ? RunPlain(pScenario->pszPrepare) : 2;
}

} // namespace

int main(int nArguments, char** ppszArguments) {
    // Every run starts from the sample package folder, as a user's would.
    CStartFolder packageFolder(PackageFolder().c_str());
    if ((nArguments == 7 || nArguments == 8) && strcmp(ppszArguments[1], "--child") == 0) {
        return RunChild(ppszArguments[2], atoi(ppszArguments[3]), atol(ppszArguments[4]), ppszArguments[5],
                        strcmp(ppszArguments[6], "1") == 0, nArguments == 8 && strcmp(ppszArguments[7], "kill") == 0);
    }
    if (nArguments == 3 && strcmp(ppszArguments[1], "--plain") == 0) return RunPlainByName(ppszArguments[2]);
    SweepOptions options;
    for (int i = 1; i < nArguments; ++i) {
        if (strcmp(ppszArguments[i], "--full") == 0) options.bFull = true;
        else if (strcmp(ppszArguments[i], "--report") == 0 && i + 1 < nArguments) options.strReport = ppszArguments[++i];
        else if (strcmp(ppszArguments[i], "--scenario") == 0 && i + 1 < nArguments) options.strOnly = ppszArguments[++i];
        else if (strcmp(ppszArguments[i], "--function") == 0 && i + 1 < nArguments) options.strFunction = ppszArguments[++i];
        else if (strcmp(ppszArguments[i], "--sweeps") == 0 && i + 1 < nArguments) options.strSweeps = ppszArguments[++i];
        else if (strcmp(ppszArguments[i], "--share") == 0 && i + 1 < nArguments &&
                 sscanf(ppszArguments[++i], "%d/%d", &options.nShare, &options.nShares) == 2 && options.nShares > 0) {
        } else if (strcmp(ppszArguments[i], "--timeout") == 0 && i + 1 < nArguments)
            options.dwTimeoutMs = static_cast<DWORD>(atoi(ppszArguments[++i])) * 1000;
    }
    return RunParent(options);
}
