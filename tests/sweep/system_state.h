// What an install or uninstall leaves on the machine, as sorted text lines:
// devices and services of both drivers, the INF folder, the Serial Print
// keys, the installed-programs entry and the "ComDB" value.
#pragma once

#include <string>
#include <vector>

std::vector<std::string> ReadSystemState();
// Lines of vecAfter that are not in vecBefore, each prefixed with cSign.
std::vector<std::string> DiffState(const std::vector<std::string>& vecBefore, const std::vector<std::string>& vecAfter,
                                   char cSign);
// True when the "ComDB" value has every bit set but one: the temporary
// state it holds only while one device is being installed.
bool IsComDbTemporary();
