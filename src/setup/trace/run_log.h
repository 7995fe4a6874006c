// The text log of a run: %windir%\qzvrcom\setup.log, appended to by every
// run but a query. Its first line tells what ran, one line follows per
// event, and its last line gives the result. A log that cannot be opened or
// written is skipped: the run never depends on it.
#pragma once

#include <windows.h>

#include "event_text.h"

// True while a run writes its log; IsTraceEnabled then answers for it too.
bool IsRunLogOpen();

// Writes one line for the catalogued event: time, process ID, component,
// number and text.
void WriteEventToRunLog(const unsigned char* pRecord, const EventArgument* pArguments, int nArguments);

// The log of one run, open for the object's life; made and ended by the
// main thread.
class CRunLog {
public:
    // Opens (or begins) the log and writes the run's first line: the
    // program's version, the command line, pszMode, Windows and the user.
    // Only a run that holds the single-instance mutex (bRotate) may rename
    // a full log: another may be writing it.
    CRunLog(const char* pszMode, bool bRotate);
    ~CRunLog();
    CRunLog(const CRunLog&) = delete;
    CRunLog& operator=(const CRunLog&) = delete;

    // Writes the last line (the text of string nResultId, the restart notice
    // when bRebootRequired, the exit code) and returns nExitCode.
    int End(UINT nResultId, int bRebootRequired, int nExitCode);
};
