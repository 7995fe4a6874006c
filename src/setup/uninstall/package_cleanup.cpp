// PLACEHOLDER: built by its own change.
#include "package_cleanup.h"

int DeleteOemInfByService(const char*, const char*) { return 1; }
int DeleteFileForce(const char*) { return 1; }
void DeleteUninstallEntry(const char*) {}
