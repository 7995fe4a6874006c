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
// Deletes the stored bitmap, and the program's key when nothing else is left
// in it. A failure is only traced: the next run's repair discards a stale
// copy.
void DeleteArbiterJournal();
// Writes pSaved back over the current "ComDB" value pCurrent (cbCurrent
// bytes, of type dwType, which it keeps): pSaved AND pCurrent over the
// shorter length, the current value's extra bytes kept, so that a number
// released meanwhile stays free and one claimed meanwhile only where pSaved
// claims it too. Then flushes the arbiter key to disk. A registry error code.
LONG WriteBackOverCurrent(HKEY hArbiter, const BYTE* pSaved, DWORD cbSaved, BYTE* pCurrent, DWORD cbCurrent,
                          DWORD dwType);
// Nonzero while a stored bitmap exists: a walk was interrupted, and the
// installation it belonged to is not finished.
BOOL HasArbiterJournal();
// Run start: when a stored bitmap exists and "ComDB" descends from a
// temporary value written after it, writes the stored bitmap back (numbers
// released since stay free) and flushes it; then deletes the stored bitmap.
// FALSE only when a stored bitmap could not be acted on: it stays for the
// next run, and this run must change nothing.
BOOL RepairArbiter();
