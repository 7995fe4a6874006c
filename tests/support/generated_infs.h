// Generated function driver INFs that stretch the INF walk: very long lines,
// thousands of lines, missing fields, double-byte IDs and UTF-16 text. Used
// by the walk tests and by whole install runs.
#pragma once

#include <stddef.h>

#include <random>
#include <string>

// A Ports-class INF around body ([Manufacturer] and models sections), with
// an install section that adds no service and marks each device a serial
// port (PortSubClass 01), which the Ports class installer requires before it
// gives the device a COM number.
std::string PortsInf(const std::string& body);

struct GeneratedInf {
    const char* pszName;
    std::string (*pfnText)();  // the whole INF file
};

extern const GeneratedInf g_aGeneratedInfs[];
extern const size_t g_nGeneratedInfs;

// The generator named pszName, or null.
const GeneratedInf* FindGeneratedInf(const char* pszName);

// Random INF-like text of words that make and break an ADDSERVICE line of
// the function driver: mixed case, the name with a suffix, line ends, long
// runs of one letter.
std::string GenerateInfLikeText(std::mt19937& random);
// Whether one line (up to a line feed) of pszText holds "ADDSERVICE" and
// pszName, both without regard to case.
bool HoldsBothWordsOnOneLine(const std::string& text, const char* pszName);
