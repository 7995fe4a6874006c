// setup.exe seen from outside: every window, text and exit code a user
// meets, driven through another process's messages.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "package_folder.h"
#include "uidriver/ui_driver.h"

namespace {

const DWORD EXIT_FAILED = 0xFFFFFFFF;
const int ID_PROMPT = 1001;
const int ID_DESCRIPTION = 1002;
const int ID_PROGRESS = 1003;
const WPARAM SC_ABOUT = 0xE001;
// How long a request the program must ignore is given to take effect.
const DWORD SETTLE_MS = 500;

const char* const PROMPT_TEXT = "Click \"OK\" to continue.";
const char* const INSTALL_TEXT = "This installer will install \"USB Virtual Serial Port\" driver on your computer.";
const char* const UNINSTALL_TEXT =
    "This uninstaller will remove \"USB Virtual Serial Port\" driver on your computer.";

struct DialogCase {
    const char* pszArguments;
    const char* pszCaption;
    const char* pszDescription;
};

const DialogCase INSTALL_CASE = {"", "Install", INSTALL_TEXT};
const DialogCase UNINSTALL_CASE = {"/u", "Uninstall", UNINSTALL_TEXT};

void PrintTo(const DialogCase& dialogCase, std::ostream* pStream)
{
    *pStream << "\"" << dialogCase.pszArguments << "\"";
}

class CSetupRunTest : public ::testing::Test {
protected:
    // Starts setup.exe and waits for its visible dialog with that caption.
    HWND StartDialog(const char* pszArguments, const char* pszCaption)
    {
        EXPECT_TRUE(m_run.Start(PackageSetupPath().c_str(), pszArguments, PackageFolder().c_str()));
        return m_run.WaitForWindow("#32770", pszCaption);
    }

    // Presses OK and waits for the result box while the dialog is open.
    MessageBoxState PressOkAndWaitForResult(HWND hDialog)
    {
        ClickButton(hDialog, IDOK);
        MessageBoxState box = {nullptr, nullptr, std::string(), std::string()};
        EXPECT_TRUE(m_run.WaitForMessageBox(&box));
        return box;
    }

    // Waits for the end of the run; no window other than hAllowed may show.
    DWORD WaitForExitShowingOnly(HWND hAllowed)
    {
        DWORD dwExitCode = 0x12345678;
        bool bOtherWindow = true;
        EXPECT_TRUE(m_run.WaitForExitWatching(&dwExitCode, hAllowed, &bOtherWindow));
        EXPECT_FALSE(bOtherWindow);
        return dwExitCode;
    }

    // A run that installed the driver is undone, so every test starts from
    // a machine without it.
    void TearDown() override
    {
        if (m_run.IsRunning()) {
            return;
        }
        if (RunPackageSetup("/debug") == 1) {
            EXPECT_EQ(0u, RunPackageSetup("/u /s"));
        }
    }

    CProgramRun m_run;
};

void ExpectControl(HWND hDialog, int nId, bool bVisible, bool bEnabled, const char* pszText)
{
    ControlState state = ReadControl(hDialog, nId);
    EXPECT_TRUE(state.bExists) << nId;
    EXPECT_EQ(bVisible, state.bVisible) << nId;
    EXPECT_EQ(bEnabled, state.bEnabled) << nId;
    if (pszText != nullptr) {
        EXPECT_EQ(pszText, state.text) << nId;
    }
}

// Presses the box's button; returns the exit code of the run that follows.
DWORD DismissAndWaitForExit(CProgramRun* pRun, const MessageBoxState& box)
{
    DismissMessageBox(box);
    DWORD dwExitCode = 0x12345678;
    EXPECT_TRUE(pRun->WaitForExit(&dwExitCode));
    return dwExitCode;
}

// The Ready and Working screens, as far as the dialog shows them.
void ExpectReadyScreen(HWND hDialog, const DialogCase& dialogCase)
{
    ExpectControl(hDialog, IDOK, true, true, "OK");
    ExpectControl(hDialog, IDCANCEL, true, true, "Cancel");
    ExpectControl(hDialog, ID_PROMPT, true, true, PROMPT_TEXT);
    ExpectControl(hDialog, ID_DESCRIPTION, true, true, dialogCase.pszDescription);
    ExpectControl(hDialog, ID_PROGRESS, false, true, nullptr);
}

void ExpectWorkedScreen(HWND hDialog)
{
    ExpectControl(hDialog, IDOK, true, false, "OK");
    ExpectControl(hDialog, IDCANCEL, true, false, "Cancel");
    ExpectControl(hDialog, ID_PROMPT, false, true, PROMPT_TEXT);
    ExpectControl(hDialog, ID_PROGRESS, true, true, nullptr);
    ProgressState progress = ReadProgress(hDialog, ID_PROGRESS);
    EXPECT_EQ(0, progress.nMinimum);
    EXPECT_EQ(4, progress.nMaximum);
    EXPECT_EQ(4, progress.nPosition);
}

// --- Install and Uninstall dialogs ------------------------------------------

class CDialogTest : public CSetupRunTest, public ::testing::WithParamInterface<DialogCase> {};

TEST_P(CDialogTest, ReadyScreenAndCancelEndsWithoutMessage)
{
    HWND hDialog = StartDialog(GetParam().pszArguments, GetParam().pszCaption);
    ASSERT_NE(nullptr, hDialog);
    ExpectReadyScreen(hDialog, GetParam());
    EXPECT_EQ(1u, m_run.ListVisibleWindows().size());

    ClickButton(hDialog, IDCANCEL);
    EXPECT_EQ(0u, WaitForExitShowingOnly(hDialog));
}

TEST_P(CDialogTest, OkRunsWorkAndReportsSuccessOwnedByDialog)
{
    HWND hDialog = StartDialog(GetParam().pszArguments, GetParam().pszCaption);
    ASSERT_NE(nullptr, hDialog);
    MessageBoxState box = PressOkAndWaitForResult(hDialog);
    ASSERT_NE(nullptr, box.hWnd);
    EXPECT_EQ("Success", box.text);
    EXPECT_EQ("", box.caption);
    EXPECT_EQ(hDialog, box.hOwner);
    EXPECT_TRUE(IsWindowVisible(hDialog));
    ExpectWorkedScreen(hDialog);

    EXPECT_EQ(0u, DismissAndWaitForExit(&m_run, box));
    EXPECT_FALSE(IsWindow(hDialog));
}

INSTANTIATE_TEST_SUITE_P(Modes, CDialogTest, ::testing::Values(INSTALL_CASE, UNINSTALL_CASE));

// --- About box ----------------------------------------------------------------

TEST_F(CSetupRunTest, AboutBoxOpensBesideEnabledDialog)
{
    HWND hDialog = StartDialog("", "Install");
    ASSERT_NE(nullptr, hDialog);
    PostSystemCommand(hDialog, SC_ABOUT);
    HWND hAbout = m_run.WaitForWindow("#32770", "About setup");
    ASSERT_NE(nullptr, hAbout);
    EXPECT_FALSE(IsMessageBox(hAbout));
    EXPECT_EQ(nullptr, GetWindow(hAbout, GW_OWNER));
    EXPECT_TRUE(IsWindowEnabled(hDialog));
    EXPECT_TRUE(IsWindowVisible(hDialog));
    ExpectControl(hAbout, IDOK, true, true, "OK");
    EXPECT_NE(nullptr, FindWindowExA(hAbout, nullptr, "Static", "setup Version 1.0"));

    ClickButton(hAbout, IDOK);
    EXPECT_TRUE(WaitForWindowGone(hAbout));
    ExpectReadyScreen(hDialog, INSTALL_CASE);
    ClickButton(hDialog, IDCANCEL);
    EXPECT_EQ(0u, WaitForExitShowingOnly(hDialog));
}

// --- Close requests -------------------------------------------------------------

// The close button and Alt+F4 (SC_CLOSE), a close from outside such as the
// taskbar's (WM_CLOSE), Cancel itself, and Escape in the dialog.
enum CloseRequest { CLOSE_SYSTEM_COMMAND, CLOSE_WINDOW_MESSAGE, CLOSE_CANCEL_COMMAND, CLOSE_ESCAPE_KEY };

void PrintTo(CloseRequest nRequest, std::ostream* pStream)
{
    static const char* const NAMES[] = {"SC_CLOSE", "WM_CLOSE", "IDCANCEL", "VK_ESCAPE"};
    *pStream << NAMES[nRequest];
}

void PostCloseRequest(HWND hDialog, CloseRequest nRequest)
{
    if (nRequest == CLOSE_SYSTEM_COMMAND) {
        PostSystemCommand(hDialog, SC_CLOSE);
    } else if (nRequest == CLOSE_WINDOW_MESSAGE) {
        PostMessageA(hDialog, WM_CLOSE, 0, 0);
    } else if (nRequest == CLOSE_CANCEL_COMMAND) {
        PostMessageA(hDialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    } else {
        PostKey(GetDlgItem(hDialog, IDOK), VK_ESCAPE);
    }
}

class CCloseTest : public CSetupRunTest, public ::testing::WithParamInterface<CloseRequest> {};

TEST_P(CCloseTest, EndsReadyDialogWithExitZero)
{
    HWND hDialog = StartDialog("", "Install");
    ASSERT_NE(nullptr, hDialog);
    PostCloseRequest(hDialog, GetParam());
    EXPECT_EQ(0u, WaitForExitShowingOnly(hDialog));
}

TEST_P(CCloseTest, WaitsForResultBoxWhileReporting)
{
    HWND hDialog = StartDialog("", "Install");
    ASSERT_NE(nullptr, hDialog);
    MessageBoxState box = PressOkAndWaitForResult(hDialog);
    ASSERT_NE(nullptr, box.hWnd);
    PostCloseRequest(hDialog, GetParam());
    Sleep(SETTLE_MS);
    EXPECT_TRUE(m_run.IsRunning());
    EXPECT_TRUE(IsWindowVisible(box.hWnd));
    EXPECT_TRUE(IsWindowVisible(hDialog));
    EXPECT_EQ(0u, DismissAndWaitForExit(&m_run, box));
}

INSTANTIATE_TEST_SUITE_P(Requests, CCloseTest,
                         ::testing::Values(CLOSE_SYSTEM_COMMAND, CLOSE_WINDOW_MESSAGE, CLOSE_CANCEL_COMMAND,
                                           CLOSE_ESCAPE_KEY));

// --- Command line -----------------------------------------------------------------

class CWindowlessTest : public CSetupRunTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(CWindowlessTest, RunsWithoutWindowAndExitsZero)
{
    ASSERT_TRUE(m_run.Start(PackageSetupPath().c_str(), GetParam(), PackageFolder().c_str()));
    EXPECT_EQ(0u, WaitForExitShowingOnly(nullptr));
}

// Silent install and uninstall in any order and repetition, and query mode.
INSTANTIATE_TEST_SUITE_P(Switches, CWindowlessTest,
                         ::testing::Values("/s", "/u /s", "/s /u", "/s /u /s", "/debug", "/debug /u", "/s /debug"));

struct SwitchCase {
    const char* pszArguments;
    const char* pszCaption;
};

void PrintTo(const SwitchCase& switchCase, std::ostream* pStream)
{
    *pStream << "[" << switchCase.pszArguments << "]";
}

class CIgnoredSwitchTest : public CSetupRunTest, public ::testing::WithParamInterface<SwitchCase> {};

TEST_P(CIgnoredSwitchTest, ShowsDialogOfRemainingSwitches)
{
    HWND hDialog = StartDialog(GetParam().pszArguments, GetParam().pszCaption);
    ASSERT_NE(nullptr, hDialog);
    ClickButton(hDialog, IDCANCEL);
    EXPECT_EQ(0u, WaitForExitShowingOnly(hDialog));
}

// Switches count only in exactly these lower-case forms, each as a whole
// argument.
INSTANTIATE_TEST_SUITE_P(
    Switches, CIgnoredSwitchTest,
    ::testing::Values(SwitchCase{"/U", "Install"}, SwitchCase{"/S", "Install"}, SwitchCase{"-u", "Install"},
                      SwitchCase{"/Debug", "Install"}, SwitchCase{"/debug2", "Install"},
                      SwitchCase{"\"/u \"", "Install"}, SwitchCase{"/u/s", "Install"},
                      SwitchCase{"/u /S", "Uninstall"}, SwitchCase{"-s /u /DEBUG", "Uninstall"}));

// --- Refused runs -----------------------------------------------------------------

// Waits for the only window of a refused start, a box with that text (UTF-8),
// and dismisses it; the run ends with -1.
void ExpectRefusal(CProgramRun* pRun, const char* pszUtf8Text)
{
    MessageBoxState box = {nullptr, nullptr, std::string(), std::string()};
    ASSERT_TRUE(pRun->WaitForMessageBox(&box));
    EXPECT_EQ(pszUtf8Text, ConvertAnsiToUtf8(box.text));
    EXPECT_EQ("", box.caption);
    EXPECT_EQ(nullptr, box.hOwner);
    EXPECT_EQ(1u, pRun->ListVisibleWindows().size());
    EXPECT_EQ(EXIT_FAILED, DismissAndWaitForExit(pRun, box));
}

class CSecondInstanceTest : public CSetupRunTest, public ::testing::WithParamInterface<const char*> {};

// The box comes also in silent runs, and the process waits for it.
TEST_P(CSecondInstanceTest, IsRefusedWhileFirstShowsDialog)
{
    HWND hDialog = StartDialog("", "Install");
    ASSERT_NE(nullptr, hDialog);
    CProgramRun second;
    ASSERT_TRUE(second.Start(PackageSetupPath().c_str(), GetParam(), PackageFolder().c_str()));
    ExpectRefusal(&second, "You cannot run multiple instances of this program.");

    ExpectReadyScreen(hDialog, INSTALL_CASE);
    ClickButton(hDialog, IDCANCEL);
    EXPECT_EQ(0u, WaitForExitShowingOnly(hDialog));
}

INSTANTIATE_TEST_SUITE_P(Switches, CSecondInstanceTest, ::testing::Values("", "/u", "/s", "/u /s"));

TEST_F(CSetupRunTest, QueryAnswersWhileFirstInstanceRuns)
{
    HWND hDialog = StartDialog("/u", "Uninstall");
    ASSERT_NE(nullptr, hDialog);
    CProgramRun query;
    ASSERT_TRUE(query.Start(PackageSetupPath().c_str(), "/debug /u", PackageFolder().c_str(), true));
    DWORD dwExitCode = EXIT_FAILED;
    bool bWindow = true;
    EXPECT_TRUE(query.WaitForExitWatching(&dwExitCode, nullptr, &bWindow));
    EXPECT_FALSE(bWindow);
    EXPECT_EQ(0u, dwExitCode);
    ClickButton(hDialog, IDCANCEL);
    EXPECT_EQ(0u, WaitForExitShowingOnly(hDialog));
}

class CNotAdministratorTest : public CSetupRunTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(CNotAdministratorTest, IsRefused)
{
    ASSERT_TRUE(m_run.Start(PackageSetupPath().c_str(), GetParam(), PackageFolder().c_str(), true));
    ExpectRefusal(&m_run, "You do not have sufficient privileges.");
}

INSTANTIATE_TEST_SUITE_P(Switches, CNotAdministratorTest, ::testing::Values("", "/u", "/s"));

// --- Japanese user interface (LANG=ja_JP.UTF-8; a ctest entry of its own) --------

// Without the generated locale Wine silently stays English: fail loudly.
class CJapaneseTest : public CSetupRunTest {
protected:
    void SetUp() override { ASSERT_EQ(932u, GetACP()) << "the ja_JP.UTF-8 locale is missing"; }
};

TEST_F(CJapaneseTest, JapaneseSecondInstanceIsRefused)
{
    HWND hDialog = StartDialog("", "Install");
    ASSERT_NE(nullptr, hDialog);
    CProgramRun second;
    ASSERT_TRUE(second.Start(PackageSetupPath().c_str(), "/u", PackageFolder().c_str()));
    ExpectRefusal(&second, "インストーラ（アンインストーラ）の2重起動はできません。");
    ClickButton(hDialog, IDCANCEL);
    EXPECT_EQ(0u, WaitForExitShowingOnly(hDialog));
}

TEST_F(CJapaneseTest, JapaneseNotAdministratorIsRefused)
{
    ASSERT_TRUE(m_run.Start(PackageSetupPath().c_str(), "", PackageFolder().c_str(), true));
    ExpectRefusal(&m_run, "権限不足です。");
}

// The dialogs exist only in English, and "Success" is the same in both
// string tables.
TEST_F(CJapaneseTest, JapaneseRunShowsEnglishDialogAndSuccess)
{
    HWND hDialog = StartDialog("/u", "Uninstall");
    ASSERT_NE(nullptr, hDialog);
    ExpectReadyScreen(hDialog, UNINSTALL_CASE);
    MessageBoxState box = PressOkAndWaitForResult(hDialog);
    EXPECT_EQ("Success", box.text);
    EXPECT_EQ(hDialog, box.hOwner);
    EXPECT_EQ(0u, DismissAndWaitForExit(&m_run, box));
}

} // namespace
