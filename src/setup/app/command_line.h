// Switches of the command line.
#pragma once

#include <windows.h>

struct CommandLineSwitches {
    bool bQuery;     // "/debug"
    bool bUninstall; // "/u"
    bool bSilent;    // "/s"
};

// Reads the switches from arguments 1 to nArguments - 1. Each argument must
// match a switch whole and case-sensitively; anything else is ignored.
CommandLineSwitches ReadSwitches(int nArguments, const LPWSTR* ppszArguments);

// The mode of a run that is not a query, as the log names it ("silent
// install").
const char* DescribeRunMode(const CommandLineSwitches& switches);
