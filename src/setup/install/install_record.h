// What the detection rule of a deployment tool (setup.exe /debug) rests on:
// a record, under the program's own key, that the last install finished
// with success, and the state of the two driver services. An install writes
// the record as its very last step; every install and uninstall removes it
// before its first change, so a run that ends half-way never leaves it.
#pragma once

#include <windows.h>

class CDialogData;

// Where the record lives: HKEY_LOCAL_MACHINE, SETUP_PROGRAM_KEY, this value.
#define SETUP_RECORD_VALUE "InstallFinished"

// Removes the record, and the program's key when nothing else is left in
// it. FALSE when the record may still be there: the run must not go on.
BOOL DeleteInstallRecord();

// The end of an install whose result is still "Success": a driver service
// must stand, the arbiter's journal be gone and the record written;
// otherwise the result becomes "Error" and the trace says why.
void FinishInstall(CDialogData* pData);

// Looks at both driver services; nonzero when one is installed and not
// marked for deletion. With pData (the end of an uninstall that ran to its
// end), one still installed makes the result "Error", and one marked for
// deletion, which goes at the restart, asks for the restart.
int CheckDriverServices(CDialogData* pData);

// The query's answer: 1 when the record is there, no arbiter journal
// stands and a driver service is installed and not marked for deletion.
int IsInstallationFinished();
