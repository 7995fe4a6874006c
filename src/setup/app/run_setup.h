// The program's main body: command line, checks, run record and the run.
#pragma once

// Returns the process exit code: 0, 1 (query mode: installed) or -1.
int RunSetup();
