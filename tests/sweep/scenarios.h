// The runs the sweep fails call by call. A scenario is RunSetup with one
// command line from the sample package folder, optionally after a
// preparing run and with a port held open, and what a run that exits 0
// must have done. New scenarios are added to the list.
#pragma once

#include <string>
#include <vector>

#include "machine_state.h"

// A difference that a run may leave although it exits 0, and why the
// design accepts it: any line containing pszContaining (null: any line)
// when pszFunction (null: any function) is the failing call.
struct AcceptedDifference {
    const char* pszFunction;
    const char* pszContaining;
    const char* pszReason;
};

struct Scenario {
    const char* pszName;
    const wchar_t* pszCommandLine;
    const wchar_t* pszPrepare;  // run uncounted before the run, or null
    int nBusyPort;              // COM port held open during the run, or 0
    const char* pszJob;         // what exit code 0 promises, for the report
    // Exit code 0 promises the clean machine (true) or the state the run
    // leaves without a failure (false).
    bool bDoneMeansClean;
    // Differences from that promise accepted by design; ends with nulls.
    const AcceptedDifference* pAccepted;
    // The kill sweep ends this scenario's run at each call and runs it again.
    bool bKillSwept;
    // COM number another vendor's port holds before the scenario, or 0.
    int nForeignPort = 0;
};

// The machine state, without the driver host services that Wine creates as
// drivers load (WINEDEVICE...), which no run controls.
MachineState ReadSweptState();

const std::vector<Scenario>& GetScenarios();
const Scenario* FindScenario(const char* pszName);

// What a run that exits 0 left undone: the differences between the promised
// state and the state after it, devices compared without their instance
// IDs, and "~ COM numbers" when only the forced numbers differ.
std::vector<std::string> ListMissingWork(const MachineState& promised, const MachineState& after);
// Every difference, COM numbers included, with devices compared without
// their instance IDs.
std::vector<std::string> ListDifferencesExceptIds(const MachineState& promised, const MachineState& after);
// Deletes the device keys under ROOT\QZVRCOM that have no "ClassGUID"
// value; returns how many there were.
int DeleteClasslessDevices();
// The reason when every line is accepted by pAccepted for a failure of
// pszFunction, otherwise null.
const char* FindAcceptingReason(const AcceptedDifference* pAccepted, const char* pszFunction,
                                const std::vector<std::string>& vecLines);

// RunSetup in this process with pszCommandLine, message boxes recorded and
// the single-instance mutex released afterwards; only RunSetup itself is
// counted. *pnBoxes receives the number of boxes and *pstrFirstBox the text
// of the first.
int RunSetupCounted(const wchar_t* pszCommandLine, int* pnBoxes, std::string* pstrFirstBox);
