// The arbiter's journal: the bitmap a walk will restore, stored under the
// program's own key before a temporary "ComDB" value is written, so that a
// run killed while that value stands is repaired by the next run.
#pragma once

#include <windows.h>

// Where the journal lives: HKEY_LOCAL_MACHINE, this key, this value.
#define SETUP_PROGRAM_KEY "SOFTWARE\\qzvrcom"
#define SETUP_JOURNAL_VALUE "SavedComDB"

// Stores the bitmap to restore and flushes it to disk, so that it is never
// lost while a temporary value that was written after it survives. FALSE
// when it could not be stored; no temporary value may then be written.
BOOL WriteArbiterJournal(const BYTE* pData, DWORD cbData, DWORD dwType);
// Deletes the stored bitmap with the program's key, which holds nothing
// else. A failure is only traced: the next run's repair discards a stale
// copy.
void DeleteArbiterJournal();
// Run start: when a stored bitmap exists and "ComDB" is still in a
// temporary form, writes the stored bitmap back; then deletes it. FALSE
// only when a stored bitmap could not be acted on: it stays for the next
// run, and this run must change nothing.
BOOL RepairArbiter();
