// Shared by the device installation tests: the arbiter value, generated
// INFs, a log of what the product does through its import table (each
// "ComDB" write and each driver installation attempt, in call order, with
// stand-ins for the arbiter library and failing or restart-reporting
// installations), and the fixture of the INF walk tests.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/checks/checks_bench.h"
#include "app/dialog_data.h"
#include "generated_infs.h"
#include "iat_patch.h"
#include "machine_state.h"
#include "run_patches.h"
#include "trace_recorder.h"
#include "uidriver/ui_driver.h"

#define ARBITER_KEY "System\\CurrentControlSet\\Control\\COM Name Arbiter"
// Prefix of every hardware ID the tests install.
#define TEST_ID_PREFIX "QZ"

typedef std::vector<BYTE> Bytes;

// "3:04 02": registry type and bytes, as logged and as read back.
std::string DescribeValue(DWORD dwType, const Bytes& data);
// DescribeValue of "ComDB", or "(none)".
std::string ReadArbiterValue();

// DescribeEvents joined with spaces: "setup 51 ? util 53 31".
std::string JoinEvents(const std::vector<RecordedEvent>& events);
// The system's text for dwError, as an error box shows it.
std::string SystemText(DWORD dwError);

class CInstallCallLog {
public:
    CInstallCallLog();
    ~CInstallCallLog();
    CInstallCallLog(const CInstallCallLog&) = delete;
    CInstallCallLog& operator=(const CInstallCallLog&) = delete;

    // ComDBOpen/ComDBClose answered here with these results instead of by
    // msports.dll; bMissing makes them absent (GetProcAddress fails, 127).
    void FakeArbiterLibrary(LONG nOpenResult, LONG nCloseResult, bool bMissing = false);

    std::vector<std::string> m_writes; // DescribeValue of each "ComDB" write
    // One letter per call: T a temporary "ComDB" write (exactly one clear
    // bit), W any other "ComDB" write, I an installation attempt; t and w
    // the writes made to fail.
    std::string m_sequence;
    std::string m_failWrites; // digits: these "ComDB" writes (1-9) fail with 5
    std::vector<std::string> m_failIds; // installations of these fail...
    DWORD m_dwFailError;                // ...with this error, once a device has the ID
    bool m_bFailWithoutDevice;          // ...and also before any device has it
    bool m_bReportReboot;               // successful ones report a restart
    LONG m_nOpenResult;
    LONG m_nCloseResult;
    bool m_bFakeArbiter;
    bool m_bMissingArbiter;
    void* m_pfnRealUpdate;
    std::string m_failFlushes; // digits: these RegFlushKey calls (1-9) fail with ERROR_WRITE_FAULT
    int m_nFlushes;
    // With m_bLogJournal, m_sequence also holds J for each journal write
    // and F (f: made to fail) for each RegFlushKey.
    bool m_bLogJournal;
    // The first installation attempt of m_waitId waits until m_hWaitBefore
    // is set: another installer's work inside that port's window.
    std::string m_waitId;
    HANDLE m_hWaitBefore;

private:
    CIatPatch m_setValue;
    CIatPatch m_flush;
    CIatPatch m_getProc;
};

// Another installer at work (the bench's other_installer), for the window
// of COM nWindow (none when 0): it claims a number there, or releases
// nRelease instead. The walk's first installation attempt of
// QZVRCOM\<nWindow> waits until it is done.
class COtherInstaller {
public:
    COtherInstaller(CInstallCallLog& log, DWORD nWindow, DWORD nRelease);
    ~COtherInstaller();
    COtherInstaller(const COtherInstaller&) = delete;
    COtherInstaller& operator=(const COtherInstaller&) = delete;

    // Its exit code, the number it claimed; 0 when it was not started.
    DWORD WaitForExit();

private:
    HANDLE m_hDone;
    bool m_bStarted;
    CProgramRun m_run;
};

// Arbiter value put back, a package folder for the INF, events and boxes
// recorded, the call log, and every test device removed afterwards.
class CWalkTest : public ::testing::Test {
protected:
    CWalkTest();
    ~CWalkTest() override;

    // Writes pszInf (no file when null; cbInf bytes, or up to its NUL) as
    // the package's INF and walks it.
    BOOL Walk(const char* pszInf, size_t cbInf = 0);
    // "ID=PortName" of each test device in the order of their instance IDs
    // (ROOT\PORTS before ROOT\QZVRCOM, each in creation order), space-separated.
    static std::string Devices();

    CRegistryValueKeeper m_arbiter;
    CScratchFolder m_package;
    std::string m_infPath;
    CTraceRecorder m_recorder;
    CMessageBoxRecorder m_boxes;
    CInstallCallLog m_log;
    CDialogData m_data;
};
