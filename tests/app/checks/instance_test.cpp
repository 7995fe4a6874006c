// Single instance: setup.exe started beside a running one, interactive,
// silent and in query mode; the mutex in-process.
#include <gtest/gtest.h>

#include "app/checks.h"
#include "app/run_setup.h"
#include "checks_bench.h"
#include "support/run_patches.h"

namespace {

const char* ANOTHER_INSTANCE = "You cannot run multiple instances of this program.";
const char* MUTEX_NAME = "Global\\qzvrcom_installer";

// A first setup.exe left at its Install dialog, holding the mutex.
class SingleInstanceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_first.Start(PackageSetupPath().c_str(), "", nullptr));
        m_hFirstDialog = m_first.WaitForWindow("#32770", "Install");
        ASSERT_NE(nullptr, m_hFirstDialog);
    }

    // Cancel in the first instance's dialog; it must end with 0.
    void CancelFirst()
    {
        ClickButton(m_hFirstDialog, IDCANCEL);
        DWORD dwExitCode = 0xDEAD;
        ASSERT_TRUE(m_first.WaitForExit(&dwExitCode));
        EXPECT_EQ(0u, dwExitCode);
    }

    CProgramRun m_first;
    HWND m_hFirstDialog = nullptr;
};

TEST_F(SingleInstanceTest, SecondInstanceIsRefusedUntilTheFirstEnds)
{
    EXPECT_TRUE(StartIsRefusedWithBox("", ANOTHER_INSTANCE));
    EXPECT_TRUE(m_first.IsRunning());
    EXPECT_TRUE(IsWindowVisible(m_hFirstDialog));

    CancelFirst();
    EXPECT_TRUE(ShowsInstallDialog(""));
}

TEST_F(SingleInstanceTest, SilentSecondInstanceStillShowsItsBox)
{
    EXPECT_TRUE(StartIsRefusedWithBox("/s", ANOTHER_INSTANCE));
    EXPECT_TRUE(StartIsRefusedWithBox("/u /s", ANOTHER_INSTANCE));
    CancelFirst();
}

TEST_F(SingleInstanceTest, QueryRunIsNotRefusedAndShowsNothing)
{
    CProgramRun query;
    ASSERT_TRUE(query.Start(PackageSetupPath().c_str(), "/debug", nullptr));
    DWORD dwExitCode = 0xDEAD;
    bool bWindowShown = true;
    ASSERT_TRUE(query.WaitForExitWatching(&dwExitCode, nullptr, &bWindowShown));
    EXPECT_EQ(0u, dwExitCode);
    EXPECT_FALSE(bWindowShown);
    CancelFirst();
}

TEST(SingleInstanceMutexTest, QueryRunCreatesNoMutex)
{
    CMessageBoxRecorder boxes;
    CMutexCloser mutexes;
    {
        CCommandLinePatch commandLine(L"setup.exe /debug");
        EXPECT_EQ(0, RunSetup());
    }
    HANDLE hMutex = OpenMutexA(SYNCHRONIZE, FALSE, MUTEX_NAME);
    DWORD dwError = GetLastError();
    EXPECT_EQ(nullptr, hMutex);
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), dwError);
    EXPECT_TRUE(boxes.m_boxes.empty());

    // The same probe finds the mutex once the check has run.
    EXPECT_EQ(0, IsAnotherInstanceRunning());
    hMutex = OpenMutexA(SYNCHRONIZE, FALSE, MUTEX_NAME);
    EXPECT_NE(nullptr, hMutex);
    if (hMutex != nullptr) {
        CloseHandle(hMutex);
    }
}

HANDLE WINAPI FailingCreateMutexA(LPSECURITY_ATTRIBUTES, BOOL, LPCSTR)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
}

TEST(SingleInstanceMutexTest, MutexThatCannotBeCreatedCountsAsAnotherInstance)
{
    CIatPatch patch("kernel32.dll", "CreateMutexA", reinterpret_cast<void*>(FailingCreateMutexA));
    ASSERT_TRUE(patch.IsApplied());
    EXPECT_EQ(1, IsAnotherInstanceRunning());
}

} // namespace
