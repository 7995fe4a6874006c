// Service control: presence, stop with dependents, deletion.
#pragma once

#include <windows.h>

// 1 when the service opens for a status query, else 0.
int ServiceExists(const char* pszName);
// Stops the service and its active dependents, waiting up to 30000 ms.
void StopServiceAndWait(const char* pszName);
// Stops the active dependents of hService; 1 when none is left running.
int StopDependentServices(SC_HANDLE hManager, SC_HANDLE hService);
// 1 when the service does not exist; otherwise the result of the status
// query made after the delete request (0 when the service cannot be opened).
int DeleteDriverService(const char* pszName);
