// Shared by the device installation tests: the arbiter value as bytes, and
// a log of what the product code does through its import table: each
// "ComDB" write and each driver installation attempt, in call order. The
// same patches can stand in for the arbiter library and make installations
// fail or report a restart.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#define ARBITER_KEY "System\\CurrentControlSet\\Control\\COM Name Arbiter"

typedef std::vector<BYTE> Bytes;

// A Ports-class INF around pszBody ([Manufacturer] and models sections),
// with an install section that adds no service.
std::string PortsInf(const std::string& body);
bool WriteTextFile(const std::string& path, const std::string& text);

// Writes "ComDB" with exactly this type and data (creating the key).
bool WriteArbiterValue(DWORD dwType, const Bytes& data);
// Reads "ComDB"; false when it is absent.
bool ReadArbiterValue(DWORD* pdwType, Bytes* pData);
void DeleteArbiterValue();
// "04 02" for logs and failure messages.
std::string HexBytes(const Bytes& data);

struct LoggedCall {
    std::string name; // "ComDB" or "install"
    std::string text; // hardware ID for "install"
    DWORD dwType;
    Bytes data;
};

class CInstallCallLog {
public:
    CInstallCallLog();
    ~CInstallCallLog();
    CInstallCallLog(const CInstallCallLog&) = delete;
    CInstallCallLog& operator=(const CInstallCallLog&) = delete;

    // ComDBOpen/ComDBClose answered here with these results instead of by
    // msports.dll; bMissing makes them absent (GetProcAddress fails, 127).
    void FakeArbiterLibrary(LONG nOpenResult, LONG nCloseResult, bool bMissing = false);
    // Every installation attempt for pszHardwareId fails with dwError
    // without reaching the system.
    void FailInstall(const char* pszHardwareId, DWORD dwError);
    // Every successful installation reports that a restart is needed.
    void ReportReboot() { m_bReportReboot = true; }

    // Only the "ComDB" writes, as "type:bytes" strings.
    std::vector<std::string> ArbiterWrites() const;
    // One letter per call: "T" a temporary "ComDB" write (exactly one
    // clear bit), "W" any other "ComDB" write, "I" an installation attempt;
    // e.g. "TIWI".
    std::string Sequence() const;

    std::vector<LoggedCall> m_calls;
    LONG m_nOpenResult;
    LONG m_nCloseResult;
    bool m_bFakeArbiter;
    bool m_bMissingArbiter;
    std::vector<std::string> m_failIds;
    DWORD m_dwFailError;
    bool m_bReportReboot;
    void* m_pfnRealUpdate;

private:
    struct Patches;
    Patches* m_pPatches;
};
