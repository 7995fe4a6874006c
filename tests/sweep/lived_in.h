// The machine the sweeps start from is not a clean one: like a user's, it
// holds more than our driver. Another vendor's COM ports (one present, one
// of an unplugged USB adapter), each with its number claimed in "ComDB" and
// its own "PortName"; devices of other classes, one without a service;
// their services; other vendors' INF files in the INF folder, among them
// ones that mention our service without adding it and a file whose name
// only begins like an INF's; and a file beside the package that is not the
// package's. Every run must leave all of it exactly as it was.
#pragma once

#include <string>
#include <vector>

// Builds it into the current prefix, once, before the first scenario.
void BuildLivedInMachine();

// What of it is not as built: one line per difference, empty when intact.
std::vector<std::string> ListLivedInChanges();

// Puts back whatever ListLivedInChanges reports, so that the next run
// starts from the same machine.
void RestoreLivedInMachine();

// True for a file of the package folder (upper-case name) that is not the
// package's.
bool IsForeignPackageFile(const std::string& strUpperName);
