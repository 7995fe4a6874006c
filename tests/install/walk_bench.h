// Fixture of the INF walk tests: the arbiter value put back, a package
// folder for the INF, trace events and message boxes recorded, the import-
// table call log, and every test device removed afterwards.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "app/checks/checks_bench.h"
#include "app/dialog_data.h"
#include "install_bench.h"
#include "run_patches.h"
#include "trace_recorder.h"

// Prefix of every hardware ID the tests install.
#define TEST_ID_PREFIX "QZ"

class CWalkTest : public ::testing::Test {
protected:
    CWalkTest();
    ~CWalkTest() override;

    // Writes pszInf (no file when null; cbInf bytes, or up to its NUL) as
    // the package's INF and walks it.
    BOOL Walk(const char* pszInf, size_t cbInf = 0);
    // "ID=PortName" of each test device in creation order, space-separated.
    static std::string Devices();
    static std::string ArbiterHex();

    CRegistryValueKeeper m_arbiter;
    CScratchFolder m_package;
    std::string m_infPath;
    CTraceRecorder m_recorder;
    CMessageBoxRecorder m_boxes;
    CInstallCallLog m_log;
    CDialogData m_data;
};

// The system's text for dwError, as an error box shows it.
std::string SystemText(DWORD dwError);

// Four arbiter bytes, COM1 in use, as every walk test starts.
extern const Bytes c_initialArbiter;
