// Whether a person could see the program's windows.
#pragma once

// False for a process that no user can see: one whose window station is not
// visible (a service, or an agent running as SYSTEM), or one in session 0 on
// Windows 6.0 and later, where no user's desktop is. What cannot be read
// counts as unseen: a box that nobody sees would wait for ever.
bool IsDesktopVisible();
