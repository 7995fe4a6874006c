// Checks made before an install or uninstall run touches anything.
#pragma once

#include <windows.h>

// 1 when another instance holds the single-instance mutex (or it cannot be
// created); 0 when this process now holds it until it ends.
int IsAnotherInstanceRunning();

// Nonzero when the Administrators group is enabled in the caller's token.
int IsUserAdmin();

// What CMP_WaitNoPendingInstallEvents returns for dwTimeout (258: pending);
// 0xFFFFFFFF when the configuration manager library cannot be used.
DWORD WaitNoPendingInstallEvents(DWORD dwTimeout);

// 1 for a supported Windows version (5.0 on, except 5.x above 5.2).
int CheckOsVersion();
int IsOsVersionEqual(int nMajor, int nMinor);
int IsOsVersionAtLeast(int nMajor, int nMinor);
// VerifyVersionInfoA with nCondition for the major and minor version and,
// when nonzero, the build pnVersion[4]; when nonzero, the product type
// pnVersion[2] must be equal and the suite bits pnVersion[3] all present.
int VerifyOsVersion(const DWORD* pnVersion, BYTE nCondition);

// Nonzero for a 32-bit process on 64-bit Windows.
int IsWow64();
