// Command-line switches, compared code unit by code unit.
#include "command_line.h"

#include <wchar.h>

CommandLineSwitches ReadSwitches(int nArguments, const LPWSTR* ppszArguments)
{
    CommandLineSwitches switches = {false, false, false};
    for (int i = 1; i < nArguments; ++i) {
        const wchar_t* pszArgument = ppszArguments[i];
        if (wcscmp(pszArgument, L"/debug") == 0) {
            switches.bQuery = true;
        } else if (wcscmp(pszArgument, L"/u") == 0) {
            switches.bUninstall = true;
        } else if (wcscmp(pszArgument, L"/s") == 0) {
            switches.bSilent = true;
        }
    }
    return switches;
}

const char* DescribeRunMode(const CommandLineSwitches& switches)
{
    if (switches.bUninstall) {
        return switches.bSilent ? "silent uninstall" : "uninstall";
    }
    return switches.bSilent ? "silent install" : "install";
}
