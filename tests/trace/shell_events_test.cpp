// The events of whole runs, with RunSetup called in-process under a given
// command line: a silent run, a query run and OK in the Install dialog.
#include <gtest/gtest.h>

#include "app/run_setup.h"
#include "res/resource.h"
#include "support/run_patches.h"
#include "support/trace_recorder.h"
#include "trace/trace.h"

namespace {

const TRACEHANDLE LOGGER = 0x77;

typedef std::vector<std::string> Names;

// The classification of Windows 10 on a 64-bit process, then the WOW64
// check of its own.
const Names CHECKS_ON_WINDOWS_10 = {"setup 15", "setup 16", "setup 17", "setup 19", "setup 79", "setup 80",
                                    "setup 79", "setup 80", "setup 79", "setup 80", "util 10",  "setup 82",
                                    "util 10"};

class ShellEventsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegisterTraceProvider();
        ASSERT_EQ(0u, m_recorder.Enable(TRACE_ERROR | TRACE_FLOW, 0, LOGGER));
    }
    void TearDown() override { UnregisterTraceProvider(); }

    const RecordedEvent& Find(const char* pszName) const
    {
        Names names = m_recorder.EventNames();
        for (size_t i = 0; i < names.size(); ++i) {
            if (names[i] == pszName) {
                return m_recorder.Events()[i];
            }
        }
        static RecordedEvent missing;
        ADD_FAILURE() << "no event " << pszName;
        return missing;
    }

    static std::string CurrentFolder()
    {
        char szFolder[MAX_PATH] = "";
        GetCurrentDirectoryA(MAX_PATH, szFolder);
        return szFolder;
    }
    static std::string TargetFolder()
    {
        char szFolder[MAX_PATH] = "";
        GetWindowsDirectoryA(szFolder, MAX_PATH);
        return std::string(szFolder) + "\\qzvrcom";
    }

    CTraceRecorder m_recorder;
    CMessageBoxRecorder m_boxes;
    CMutexCloser m_mutexes;
};

TEST_F(ShellEventsTest, QueryRunReportsOnlyTheAnswer)
{
    CCommandLinePatch commandLine(L"setup.exe /debug /u");
    EXPECT_EQ(0, RunSetup());
    EXPECT_EQ(Names{"setup 14"}, m_recorder.EventNames());
    EXPECT_EQ(std::vector<std::vector<BYTE>>{DwordBytes(0)}, m_recorder.Events()[0].arguments);
    EXPECT_TRUE(m_mutexes.m_handles.empty());
    EXPECT_TRUE(m_boxes.m_boxes.empty());
}

TEST_F(ShellEventsTest, SilentInstallRun)
{
    CCommandLinePatch commandLine(L"setup.exe /s");
    EXPECT_EQ(0, RunSetup());

    Names expected = CHECKS_ON_WINDOWS_10;
    const Names rest = {"setup 26", "setup 27", "setup 35", "setup 12", "setup 11", "setup 12", "setup 11",
                        "setup 12", "setup 11", "setup 12", "setup 11", "setup 36", "setup 30"};
    expected.insert(expected.end(), rest.begin(), rest.end());
    EXPECT_EQ(expected, m_recorder.EventNames());

    EXPECT_EQ(std::vector<std::vector<BYTE>>{StringBytes(CurrentFolder().c_str())},
              Find("setup 26").arguments);
    EXPECT_EQ(std::vector<std::vector<BYTE>>{StringBytes(TargetFolder().c_str())},
              Find("setup 27").arguments);
    EXPECT_EQ(8u, Find("setup 35").arguments.at(0).size());
    EXPECT_EQ(std::vector<std::vector<BYTE>>{DwordBytes(0)}, Find("setup 11").arguments);
    EXPECT_EQ(std::vector<std::vector<BYTE>>{DwordBytes(0)}, Find("setup 30").arguments);
    EXPECT_EQ(std::vector<std::vector<BYTE>>{DwordBytes(5)}, Find("setup 79").arguments);
    EXPECT_EQ(std::vector<std::vector<BYTE>>{DwordBytes(0)}, Find("setup 80").arguments);
    EXPECT_TRUE(m_boxes.m_boxes.empty());
}

TEST_F(ShellEventsTest, SilentUninstallRun)
{
    CCommandLinePatch commandLine(L"setup.exe /u /s");
    EXPECT_EQ(0, RunSetup());
    Names names = m_recorder.EventNames();
    Names tail(names.end() - 12, names.end());
    EXPECT_EQ((Names{"setup 35", "setup 52", "setup 12", "setup 11", "setup 12", "setup 11", "setup 12",
                     "setup 11", "setup 12", "setup 11", "setup 36", "setup 30"}),
              tail);
}

TEST_F(ShellEventsTest, OkInTheInstallDialog)
{
    CCommandLinePatch commandLine(L"setup.exe");
    COkPresser user("Install");
    EXPECT_EQ(0, RunSetup());
    EXPECT_TRUE(user.WaitPressed());

    Names expected = CHECKS_ON_WINDOWS_10;
    const Names rest = {"setup 26", "setup 27", "setup 31", "setup 10", "setup 33", "setup 10",
                        "setup 35", "setup 12", "setup 11", "setup 12", "setup 11", "setup 12",
                        "setup 11", "setup 12", "setup 11", "setup 36", "setup 30"};
    expected.insert(expected.end(), rest.begin(), rest.end());
    EXPECT_EQ(expected, m_recorder.EventNames());
    EXPECT_EQ((std::vector<std::vector<BYTE>>{DwordBytes(0), DwordBytes(4)}), Find("setup 10").arguments);

    ASSERT_EQ(1u, m_boxes.m_boxes.size());
    EXPECT_EQ("Success", m_boxes.m_boxes[0].text);
    EXPECT_EQ("", m_boxes.m_boxes[0].caption);
    EXPECT_EQ(static_cast<UINT>(MB_ICONINFORMATION), m_boxes.m_boxes[0].nStyle);
    EXPECT_NE(nullptr, m_boxes.m_boxes[0].hOwner);
}

// Leaves a recording of a silent run for the decoder test, when asked to.
TEST_F(ShellEventsTest, RecordingOfASilentRun)
{
    CCommandLinePatch commandLine(L"setup.exe /s");
    EXPECT_EQ(0, RunSetup());
    const char* pszPath = getenv("SETUP_TRACE_RECORDING");
    if (pszPath != nullptr) {
        EXPECT_TRUE(m_recorder.WriteRecording(pszPath));
    }
}

} // namespace
