// The events of whole runs, with RunSetup called in-process under a given
// command line: a silent run, a query run and OK in the Install dialog.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/run_setup.h"
#include "res/resource.h"
#include "support/package_folder.h"
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
    // An install run leaves the driver installed; the next test starts
    // without it.
    void TearDown() override
    {
        UnregisterTraceProvider();
        m_mutexes.CloseAll();
        if (RunPackageSetup("/debug") == 1) {
            EXPECT_EQ(0u, RunPackageSetup("/u /s"));
        }
    }

    // The shell's own events: the expected start, then whatever the
    // sequence traced, then the worker's end and the exit code.
    void ExpectShellEvents(const Names& start) const
    {
        Names names = m_recorder.EventNames();
        ASSERT_GE(names.size(), start.size() + 2);
        EXPECT_EQ(start, Names(names.begin(), names.begin() + static_cast<long>(start.size())));
        EXPECT_EQ((Names{"setup 36", "setup 30"}), Names(names.end() - 2, names.end()));
    }

    size_t Count(const char* pszName) const
    {
        Names names = m_recorder.EventNames();
        return static_cast<size_t>(std::count(names.begin(), names.end(), pszName));
    }

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

    CStartFolder m_package{PackageFolder().c_str()};
    CTraceRecorder m_recorder;
    CMessageBoxRecorder m_boxes;
    CMutexCloser m_mutexes;
};

TEST_F(ShellEventsTest, QueryRunReportsOnlyTheAnswer)
{
    CCommandLinePatch commandLine(L"setup.exe /debug /u");
    EXPECT_EQ(0, RunSetup());
    // The installed check asks for each driver's service, then the answer.
    EXPECT_EQ((Names{"setup 53", "setup 53", "setup 14"}), m_recorder.EventNames());
    EXPECT_EQ(std::vector<std::vector<BYTE>>{DwordBytes(0)}, Find("setup 14").arguments);
    EXPECT_TRUE(m_mutexes.m_handles.empty());
    EXPECT_TRUE(m_boxes.m_boxes.empty());
}

TEST_F(ShellEventsTest, SilentInstallRun)
{
    CCommandLinePatch commandLine(L"setup.exe /s");
    EXPECT_EQ(0, RunSetup());

    Names start = CHECKS_ON_WINDOWS_10;
    const Names shell = {"setup 26", "setup 27", "setup 53", "setup 53", "setup 138", "setup 35", "setup 37"};
    start.insert(start.end(), shell.begin(), shell.end());
    ExpectShellEvents(start);
    EXPECT_EQ(4u, Count("setup 12"));

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
    auto worker = std::find(names.begin(), names.end(), "setup 35");
    ASSERT_NE(names.end(), worker);
    EXPECT_EQ("setup 52", *(worker + 1));
    EXPECT_EQ((Names{"setup 36", "setup 30"}), Names(names.end() - 2, names.end()));
    EXPECT_EQ(4u, Count("setup 12"));
}

TEST_F(ShellEventsTest, OkInTheInstallDialog)
{
    CCommandLinePatch commandLine(L"setup.exe");
    COkPresser user("Install");
    EXPECT_EQ(0, RunSetup());
    EXPECT_TRUE(user.WaitPressed());

    Names start = CHECKS_ON_WINDOWS_10;
    const Names shell = {"setup 26", "setup 27", "setup 53", "setup 53", "setup 31", "setup 10",
                         "setup 33", "setup 53", "setup 53", "setup 10", "setup 35", "setup 37"};
    start.insert(start.end(), shell.begin(), shell.end());
    ExpectShellEvents(start);
    EXPECT_EQ(4u, Count("setup 12"));
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
