// The visibility test made before every message box.
#include "visible_desktop.h"

#include <windows.h>

#include "checks.h"

bool IsDesktopVisible()
{
    // The station handle belongs to the process and is not closed.
    HWINSTA hStation = GetProcessWindowStation();
    USEROBJECTFLAGS flags = {};
    if (hStation == nullptr ||
        !GetUserObjectInformationA(hStation, UOI_FLAGS, &flags, sizeof(flags), nullptr) ||
        (flags.dwFlags & WSF_VISIBLE) == 0) {
        return false;
    }
    DWORD dwSession = 0;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &dwSession)) {
        return false;
    }
    // Before 6.0 the first user logs on in session 0 as well.
    return dwSession != 0 || !IsOsVersionAtLeast(6, 0);
}
