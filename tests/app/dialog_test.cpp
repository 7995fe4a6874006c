// The setup dialog created in-process, and RunSetup's own failure paths,
// with Win32 calls replaced through the import table where Wine cannot
// produce the situation.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <string>

#include "app/dialog_data.h"
#include "app/messages.h"
#include "app/run_setup.h"
#include "app/setup_dialog.h"
#include "support/iat_patch.h"
#include "support/machine_state.h"
#include "support/package_folder.h"
#include "support/run_patches.h"
#include "support/trace_recorder.h"
#include "trace/trace.h"
#include "uidriver/ui_driver.h"

namespace {

// A modeless copy of the Install or Uninstall dialog driven by this test.
class CTestDialog {
public:
    explicit CTestDialog(CDialogData* pData, int nTemplate = IDD_INSTALL)
        : m_hWnd(CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(nTemplate), nullptr, SetupDlgProc,
                                    reinterpret_cast<LPARAM>(pData)))
    {
    }
    ~CTestDialog()
    {
        if (IsWindow(m_hWnd)) {
            DestroyWindow(m_hWnd);
        }
    }
    HWND Item(int nId) const { return GetDlgItem(m_hWnd, nId); }
    LONG_PTR Style(int nId) const { return GetWindowLongPtrA(Item(nId), GWL_STYLE); }
    void Command(int nId) const { SendMessageA(m_hWnd, WM_COMMAND, MAKEWPARAM(nId, BN_CLICKED), 0); }

    HWND m_hWnd;
};

std::string MenuText(HMENU hMenu, UINT nPosition)
{
    char szText[64] = "";
    GetMenuStringA(hMenu, nPosition, szText, ARRAYSIZE(szText), MF_BYPOSITION);
    return szText;
}

TEST(SetupDialog, InitialisationState)
{
    CDialogData data;
    CTestDialog dialog(&data);
    ASSERT_NE(nullptr, dialog.m_hWnd);
    EXPECT_EQ(dialog.m_hWnd, data.m_hWnd);
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(&data), GetWindowLongPtrA(dialog.m_hWnd, DWLP_USER));

    HANDLE hIcon = LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_SETUP), IMAGE_ICON, 0, 0, LR_SHARED);
    ASSERT_NE(nullptr, hIcon);
    EXPECT_EQ(reinterpret_cast<LRESULT>(hIcon), SendMessageA(dialog.m_hWnd, WM_GETICON, ICON_SMALL, 0));

    HMENU hMenu = GetSystemMenu(dialog.m_hWnd, FALSE);
    ASSERT_NE(nullptr, hMenu);
    int nCount = GetMenuItemCount(hMenu);
    ASSERT_GE(nCount, 2);
    EXPECT_EQ(static_cast<UINT>(MF_SEPARATOR), GetMenuState(hMenu, nCount - 2, MF_BYPOSITION) & MF_SEPARATOR);
    EXPECT_EQ(static_cast<UINT>(IDM_ABOUT), GetMenuItemID(hMenu, nCount - 1));
    EXPECT_EQ("&About...", MenuText(hMenu, nCount - 1));

    // The prompt shows, the bar hides; no marquee style, so the bar fills.
    // (The progress control trades WS_BORDER for WS_EX_STATICEDGE itself.)
    EXPECT_EQ(0x50020000, dialog.Style(IDC_PROMPT));
    EXPECT_EQ(WS_CHILD | PBS_SMOOTH, dialog.Style(IDC_PROGRESS));
    EXPECT_EQ(0x50010001, dialog.Style(IDOK) & 0xFFFF000F);
    EXPECT_EQ(0x50010000, dialog.Style(IDCANCEL) & 0xFFFF000F);
    EXPECT_EQ(0x50020000, dialog.Style(IDC_DESCRIPTION));
    EXPECT_EQ(0, SendMessageA(dialog.Item(IDC_PROGRESS), PBM_GETRANGE, TRUE, 0));
    EXPECT_EQ(4, SendMessageA(dialog.Item(IDC_PROGRESS), PBM_GETRANGE, FALSE, 0));
    EXPECT_EQ(0, SendMessageA(dialog.Item(IDC_PROGRESS), PBM_GETPOS, 0, 0));
}

TEST(SetupDialog, StepsAdvanceOneByOne)
{
    CDialogData data;
    CTestDialog dialog(&data);
    data.InitProgress(0, 8);
    EXPECT_EQ(8, SendMessageA(dialog.Item(IDC_PROGRESS), PBM_GETRANGE, FALSE, 0));
    data.StepProgress();
    data.StepProgress();
    EXPECT_EQ(2, SendMessageA(dialog.Item(IDC_PROGRESS), PBM_GETPOS, 0, 0));
}

TEST(SetupDialog, OtherCommandsChangeNothing)
{
    CDialogData data;
    CTestDialog dialog(&data);
    dialog.Command(IDC_DESCRIPTION);
    dialog.Command(1234);
    EXPECT_TRUE(IsWindowVisible(dialog.m_hWnd));
    EXPECT_TRUE(IsWindowEnabled(dialog.Item(IDOK)));
    EXPECT_TRUE(IsWindowVisible(dialog.Item(IDC_PROMPT)));
    EXPECT_EQ(nullptr, data.m_hThread);
}

TEST(SetupDialog, MessagesBeforeInitialisationAreIgnored)
{
    EXPECT_EQ(FALSE, SetupDlgProc(GetDesktopWindow(), WM_COMMAND, IDOK, 0));
    EXPECT_EQ(FALSE, SetupDlgProc(GetDesktopWindow(), WM_SETUP_DONE, 0, 0));
}

// CreateThread that makes the worker but never lets it run, so the dialog
// stays in its working state for as long as the test needs.
HANDLE g_hHeldWorker = nullptr;
int g_nWorkersCreated = 0;
decltype(&CreateThread) g_pfnCreateThread = nullptr;
HANDLE WINAPI CreateHeldThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD pdwId)
{
    ++g_nWorkersCreated;
    // The import slot is patched: create through the saved original.
    g_hHeldWorker = g_pfnCreateThread(nullptr, 0, [](LPVOID) -> DWORD { return 0; }, nullptr, CREATE_SUSPENDED, pdwId);
    return g_hHeldWorker;
}
DWORD WINAPI KeepSuspended(HANDLE)
{
    return 1;
}

TEST(SetupDialog, CloseRequestsWhileWorkingAreIgnored)
{
    CMessageBoxRecorder boxes;
    CDialogData data;
    CTestDialog dialog(&data);
    HANDLE hFirst = nullptr;
    int nWorkers = 0;
    {
        CIatPatch create("kernel32.dll", "CreateThread", reinterpret_cast<void*>(CreateHeldThread));
        g_pfnCreateThread = reinterpret_cast<decltype(&CreateThread)>(create.Original());
        CIatPatch resume("kernel32.dll", "ResumeThread", reinterpret_cast<void*>(KeepSuspended));
        g_nWorkersCreated = 0;
        dialog.Command(IDOK);
        // A second OK (a double click, a posted command) starts no second
        // worker on the same run record.
        hFirst = data.m_hThread;
        dialog.Command(IDOK);
        nWorkers = g_nWorkersCreated;
    }
    EXPECT_EQ(1, nWorkers);
    EXPECT_EQ(hFirst, data.m_hThread);
    ASSERT_NE(nullptr, data.m_hThread);
    EXPECT_FALSE(IsWindowEnabled(dialog.Item(IDOK)));
    EXPECT_FALSE(IsWindowEnabled(dialog.Item(IDCANCEL)));
    EXPECT_FALSE(IsWindowVisible(dialog.Item(IDC_PROMPT)));
    EXPECT_TRUE(IsWindowVisible(dialog.Item(IDC_PROGRESS)));

    // Escape and the close button both arrive as IDCANCEL.
    dialog.Command(IDCANCEL);
    SendMessageA(dialog.m_hWnd, WM_SYSCOMMAND, SC_CLOSE, 0);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (!IsDialogMessageA(dialog.m_hWnd, &msg)) {
            DispatchMessageA(&msg);
        }
    }
    EXPECT_TRUE(IsWindowVisible(dialog.m_hWnd));
    EXPECT_TRUE(boxes.m_boxes.empty());

    // The worker's report ends the dialog with the result box.
    SendMessageA(dialog.m_hWnd, WM_SETUP_DONE, 0, 0);
    EXPECT_FALSE(IsWindowVisible(dialog.m_hWnd));
    EXPECT_EQ(nullptr, data.m_hThread);
    ASSERT_EQ(1u, boxes.m_boxes.size());
    EXPECT_EQ("Success", boxes.m_boxes[0].text);
    EXPECT_EQ(dialog.m_hWnd, boxes.m_boxes[0].hOwner);
    EXPECT_EQ(static_cast<UINT>(MB_ICONINFORMATION), boxes.m_boxes[0].nStyle);
    TerminateThread(g_hHeldWorker, 0);
}

TEST(SetupDialog, ResultBoxStyleFollowsTheResult)
{
    CMessageBoxRecorder boxes;
    const int results[] = {IDS_ERROR, IDS_PORT_OPEN};
    const char* texts[] = {"Error", "Uninstallation was stopped. Close the virtual com port and uninstall again."};
    for (int i = 0; i < 2; ++i) {
        CDialogData data;
        CTestDialog dialog(&data, IDD_UNINSTALL);
        data.m_nResultId = results[i];
        SendMessageA(dialog.m_hWnd, WM_SETUP_DONE, 0, 0);
        ASSERT_EQ(static_cast<size_t>(i + 1), boxes.m_boxes.size());
        EXPECT_EQ(texts[i], boxes.m_boxes[i].text);
        EXPECT_EQ("", boxes.m_boxes[i].caption);
        EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), boxes.m_boxes[i].nStyle);
    }
}

HANDLE WINAPI FailCreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD)
{
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

class RunSetupTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegisterTraceProvider();
        ASSERT_EQ(0u, m_recorder.Enable(TRACE_ERROR | TRACE_FLOW, 0, 1));
    }
    void TearDown() override { UnregisterTraceProvider(); }

    bool Traced(const char* pszName) const
    {
        std::vector<std::string> names = m_recorder.EventNames();
        return std::find(names.begin(), names.end(), pszName) != names.end();
    }

    CStartFolder m_package{PackageFolder().c_str()};
    CTraceRecorder m_recorder;
    CMessageBoxRecorder m_boxes;
    CMutexCloser m_mutexes;
};

TEST_F(RunSetupTest, WorkerNotCreatedOnOkEndsWithError)
{
    CCommandLinePatch commandLine(L"setup.exe /u");
    CIatPatch create("kernel32.dll", "CreateThread", reinterpret_cast<void*>(FailCreateThread));
    COkPresser user("Uninstall");
    EXPECT_EQ(-1, RunSetup());
    EXPECT_TRUE(user.WaitPressed());
    ASSERT_EQ(1u, m_boxes.m_boxes.size());
    EXPECT_EQ("Error", m_boxes.m_boxes[0].text);
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), m_boxes.m_boxes[0].nStyle);
    EXPECT_TRUE(Traced("setup 34"));
}

TEST_F(RunSetupTest, SilentWorkerNotCreated)
{
    CCommandLinePatch commandLine(L"setup.exe /s");
    CIatPatch create("kernel32.dll", "CreateThread", reinterpret_cast<void*>(FailCreateThread));
    EXPECT_EQ(-1, RunSetup());
    EXPECT_TRUE(Traced("setup 28"));
    EXPECT_TRUE(Traced("setup 29"));
    EXPECT_FALSE(Traced("setup 30"));
    EXPECT_TRUE(m_boxes.m_boxes.empty());
}

DWORD WINAPI FailResumeThread(HANDLE)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return static_cast<DWORD>(-1);
}

// A worker that cannot be resumed never runs: silent and interactive runs
// end as if it had not been created instead of waiting for it forever.
TEST_F(RunSetupTest, WorkerNotResumed)
{
    CIatPatch resume("kernel32.dll", "ResumeThread", reinterpret_cast<void*>(FailResumeThread));
    {
        CCommandLinePatch commandLine(L"setup.exe /s");
        EXPECT_EQ(-1, RunSetup());
        EXPECT_TRUE(Traced("setup 28"));
        EXPECT_TRUE(m_boxes.m_boxes.empty());
    }
    m_mutexes.CloseAll();
    {
        CCommandLinePatch commandLine(L"setup.exe /u");
        COkPresser user("Uninstall");
        EXPECT_EQ(-1, RunSetup());
        EXPECT_TRUE(user.WaitPressed());
        ASSERT_EQ(1u, m_boxes.m_boxes.size());
        EXPECT_EQ("Error", m_boxes.m_boxes[0].text);
        EXPECT_TRUE(Traced("setup 34"));
    }
}

LPWSTR* WINAPI FailCommandLineToArgvW(LPCWSTR, int*)
{
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

TEST_F(RunSetupTest, UnsplittableCommandLine)
{
    CIatPatch split("shell32.dll", "CommandLineToArgvW", reinterpret_cast<void*>(FailCommandLineToArgvW));
    ASSERT_TRUE(split.IsApplied());
    EXPECT_EQ(-1, RunSetup());
    EXPECT_EQ(std::vector<std::string>{"setup 13"}, m_recorder.EventNames());
    EXPECT_TRUE(m_boxes.m_boxes.empty());
    EXPECT_TRUE(m_mutexes.m_handles.empty());
}

// A Windows directory of a given length ("C:\aaaa...").
UINT g_nWindowsLength = 0;
UINT WINAPI LongWindowsDirectory(LPSTR pszBuffer, UINT nSize)
{
    if (g_nWindowsLength >= nSize) {
        return g_nWindowsLength + 1;
    }
    std::string folder = "C:\\" + std::string(g_nWindowsLength - 3, 'a');
    memcpy(pszBuffer, folder.c_str(), folder.size() + 1);
    return g_nWindowsLength;
}

TEST_F(RunSetupTest, TargetFolderThatDoesNotFit)
{
    CIatPatch windows("kernel32.dll", "GetWindowsDirectoryA", reinterpret_cast<void*>(LongWindowsDirectory));
    // 251 + "\qzvrcom" fills the buffer exactly; one more does not fit.
    struct Case {
        UINT nLength;
        const wchar_t* pszCommandLine;
        int nExitCode;
        size_t nBoxes;
        const char* pszBoxCaption;
    };
    // At 251 the run goes on, and stops at the package copy, whose first
    // target path would no longer fit: a path is never cut short.
    const Case cases[] = {
        {251, L"setup.exe /s", -1, 0, ""},
        {252, L"setup.exe /s", -1, 1, ""},
        {300, L"setup.exe /s", -1, 1, ""},
        {252, L"setup.exe /u /s", 0, 0, ""},
    };
    for (const Case& c : cases) {
        m_mutexes.CloseAll();
        m_boxes.m_boxes.clear();
        m_recorder.ClearEvents();
        g_nWindowsLength = c.nLength;
        CCommandLinePatch commandLine(c.pszCommandLine);
        EXPECT_EQ(c.nExitCode, RunSetup()) << c.nLength;
        ASSERT_EQ(c.nBoxes, m_boxes.m_boxes.size()) << c.nLength;
        if (c.nBoxes != 0) {
            EXPECT_EQ(c.pszBoxCaption, m_boxes.m_boxes[0].caption) << c.nLength;
            EXPECT_EQ(nullptr, m_boxes.m_boxes[0].hOwner);
        }
        // The target is whole or empty, never cut short.
        std::string expected = c.nLength == 251 ? "C:\\" + std::string(248, 'a') + "\\qzvrcom" : "";
        auto names = m_recorder.EventNames();
        auto it = std::find(names.begin(), names.end(), "setup 27");
        ASSERT_NE(names.end(), it);
        EXPECT_EQ(std::vector<std::vector<BYTE>>{StringBytes(expected.c_str())},
                  m_recorder.Events()[it - names.begin()].arguments);
    }
}

UINT WINAPI FailWindowsDirectory(LPSTR, UINT)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
}

TEST_F(RunSetupTest, UnreadableWindowsDirectoryIsShownAndTheRunGoesOn)
{
    CCommandLinePatch commandLine(L"setup.exe /u /s");
    CIatPatch windows("kernel32.dll", "GetWindowsDirectoryA", reinterpret_cast<void*>(FailWindowsDirectory));
    EXPECT_EQ(0, RunSetup());
    ASSERT_EQ(1u, m_boxes.m_boxes.size());
    EXPECT_EQ(nullptr, m_boxes.m_boxes[0].hOwner);
    EXPECT_EQ("Error", m_boxes.m_boxes[0].caption);
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), m_boxes.m_boxes[0].nStyle);
    char szExpected[512] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, ERROR_ACCESS_DENIED, 0,
                   szExpected, sizeof(szExpected), nullptr);
    EXPECT_EQ(szExpected, m_boxes.m_boxes[0].text);
}

// A program path of a given length, or a failing call (length 0), as
// GetModuleFileNameA answers: a path that does not fit comes back cut to
// the buffer with the buffer's size.
DWORD g_nProgramLength = 0;
DWORD WINAPI LongProgramPath(HMODULE, LPSTR pszBuffer, DWORD nSize)
{
    if (g_nProgramLength == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    std::string path = "C:\\" + std::string(g_nProgramLength - 13, 'b') + "\\setup.exe";
    size_t cchCopy = std::min<size_t>(path.size(), nSize - 1);
    memcpy(pszBuffer, path.c_str(), cchCopy);
    pszBuffer[cchCopy] = '\0';
    return cchCopy < path.size() ? nSize : static_cast<DWORD>(cchCopy);
}

TEST_F(RunSetupTest, SourceFolderThatDoesNotFitRefusesAnInstall)
{
    CIatPatch program("kernel32.dll", "GetModuleFileNameA", reinterpret_cast<void*>(LongProgramPath));
    struct Case {
        DWORD nLength;
        const wchar_t* pszCommandLine;
        int nExitCode;
    };
    const Case cases[] = {
        {0, L"setup.exe /s", -1}, {260, L"setup.exe /s", -1}, {300, L"setup.exe /s", -1}, {300, L"setup.exe /u /s", 0},
    };
    for (const Case& c : cases) {
        m_mutexes.CloseAll();
        m_boxes.m_boxes.clear();
        m_recorder.ClearEvents();
        g_nProgramLength = c.nLength;
        CCommandLinePatch commandLine(c.pszCommandLine);
        EXPECT_EQ(c.nExitCode, RunSetup()) << c.nLength;
        EXPECT_TRUE(Traced("setup 123")) << c.nLength;
        // Refused before any work: the worker never started.
        EXPECT_EQ(c.nExitCode == 0, Traced("setup 35")) << c.nLength;
        if (c.nExitCode != 0) {
            ASSERT_EQ(1u, m_boxes.m_boxes.size()) << c.nLength;
            EXPECT_EQ("Error", m_boxes.m_boxes[0].text);
            EXPECT_EQ(static_cast<UINT>(MB_ICONINFORMATION), m_boxes.m_boxes[0].nStyle);
        }
    }
}

INT_PTR WINAPI FailDialogBoxParamA(HINSTANCE, LPCSTR, HWND, DLGPROC, LPARAM)
{
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return -1;
}

TEST_F(RunSetupTest, DialogThatCannotBeCreatedIsAFailure)
{
    CCommandLinePatch commandLine(L"setup.exe /u");
    CIatPatch dialog("user32.dll", "DialogBoxParamA", reinterpret_cast<void*>(FailDialogBoxParamA));
    ASSERT_TRUE(dialog.IsApplied());
    EXPECT_EQ(-1, RunSetup());
    std::vector<std::string> names = m_recorder.EventNames();
    ASSERT_FALSE(names.empty());
    EXPECT_EQ("setup 124", names.back());
    EXPECT_EQ(std::vector<std::vector<BYTE>>{DwordBytes(ERROR_RESOURCE_TYPE_NOT_FOUND)},
              m_recorder.Events().back().arguments);
}

TEST(Messages, LastErrorWithoutSystemTextShowsTheNumber)
{
    CMessageBoxRecorder boxes;
    SetLastError(0x20000001);
    ShowLastErrorMessage("Error");
    ASSERT_EQ(1u, boxes.m_boxes.size());
    EXPECT_EQ("Error code 536870913 (0x20000001)", boxes.m_boxes[0].text);
    EXPECT_EQ("Error", boxes.m_boxes[0].caption);
    EXPECT_EQ(nullptr, boxes.m_boxes[0].hOwner);
}

TEST(Messages, StringMessage)
{
    CMessageBoxRecorder boxes;
    HWND hOwner = GetDesktopWindow();
    ShowStringMessage(hOwner, IDS_ANOTHER_INSTANCE, MB_ICONINFORMATION);
    ASSERT_EQ(1u, boxes.m_boxes.size());
    EXPECT_EQ("You cannot run multiple instances of this program.", boxes.m_boxes[0].text);
    EXPECT_EQ("", boxes.m_boxes[0].caption);
    EXPECT_EQ(hOwner, boxes.m_boxes[0].hOwner);
    EXPECT_EQ(static_cast<UINT>(MB_ICONINFORMATION), boxes.m_boxes[0].nStyle);
}

BOOL WINAPI ReportSessionZero(DWORD /*dwProcessId*/, DWORD* pdwSession)
{
    *pdwSession = 0;
    return TRUE;
}

// In session 0 of Windows 6.0 and later no user's desktop is; Wine runs
// every process in session 1. There the boxes are not shown: their caption
// and text go to the trace, and the caller goes on as after OK.
TEST(Messages, NoBoxInSessionZero)
{
    CMessageBoxRecorder boxes;
    CTraceRecorder recorder;
    RegisterTraceProvider();
    ASSERT_EQ(0u, recorder.Enable(TRACE_ERROR, 0, 1));
    CIatPatch session("kernel32.dll", "ProcessIdToSessionId", reinterpret_cast<void*>(ReportSessionZero));
    ASSERT_TRUE(session.IsApplied());
    ShowStringMessage(nullptr, IDS_ANOTHER_INSTANCE, MB_ICONINFORMATION);
    UnregisterTraceProvider();
    EXPECT_TRUE(boxes.m_boxes.empty());
    ASSERT_EQ((std::vector<std::string>{"setup 136"}), recorder.EventNames());
    std::vector<std::vector<BYTE>> arguments = {StringBytes(""),
                                                StringBytes("You cannot run multiple instances of this program.")};
    EXPECT_EQ(arguments, recorder.Events()[0].arguments);
}

} // namespace

namespace {

// Runs only under a Japanese locale (its own test entry).
TEST(JapaneseDialog, SystemMenuItemAndResultBoxUseTheJapaneseTable)
{
    ASSERT_EQ(932u, GetACP()) << "the ja_JP.UTF-8 locale is missing";
    CMessageBoxRecorder boxes;
    CDialogData data;
    CTestDialog dialog(&data);
    HMENU hMenu = GetSystemMenu(dialog.m_hWnd, FALSE);
    ASSERT_NE(nullptr, hMenu);
    int nCount = GetMenuItemCount(hMenu);
    EXPECT_EQ(static_cast<UINT>(IDM_ABOUT), GetMenuItemID(hMenu, nCount - 1));
    EXPECT_EQ(u8"バージョン情報(&A)...", ConvertAnsiToUtf8(MenuText(hMenu, nCount - 1)));

    data.m_nResultId = IDS_PORT_OPEN;
    SendMessageA(dialog.m_hWnd, WM_SETUP_DONE, 0, 0);
    ASSERT_EQ(1u, boxes.m_boxes.size());
    EXPECT_EQ(u8"アンインストールを中断しました。ポートを閉じて再度アンインストールを実行してください。",
              ConvertAnsiToUtf8(boxes.m_boxes[0].text));

    // Texts that are the same in both tables stay as they are; the restart
    // notice goes under the result.
    data.m_nResultId = IDS_SUCCESS;
    data.m_bRebootRequired = 1;
    CTestDialog second(&data);
    SendMessageA(second.m_hWnd, WM_SETUP_DONE, 0, 0);
    ASSERT_EQ(2u, boxes.m_boxes.size());
    EXPECT_EQ(u8"Success\n\n完了するには Windows を再起動してください。", ConvertAnsiToUtf8(boxes.m_boxes[1].text));
}

// Runs only with a Japanese display language on a Western code page (its
// own test entry): the Japanese table would come out as question marks, so
// every thread of a run uses the English one.
TEST(JapaneseDisplayLanguage, WesternCodePageShowsTheEnglishTable)
{
    ASSERT_EQ(1252u, GetACP());
    ASSERT_EQ(MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT), GetUserDefaultUILanguage());
    HANDLE hOther = CreateMutexA(nullptr, TRUE, "Global\\qzvrcom_installer");
    {
        CCommandLinePatch commandLine(L"setup.exe /s");
        CMessageBoxRecorder boxes;
        CMutexCloser mutexes;
        EXPECT_EQ(-1, RunSetup());
        ASSERT_EQ(1u, boxes.m_boxes.size());
        EXPECT_EQ("You cannot run multiple instances of this program.", boxes.m_boxes[0].text);
    }
    CloseHandle(hOther);
    std::string log = ReadWholeFile(WindowsFolder() + "\\qzvrcom\\setup.log");
    EXPECT_NE(std::string::npos,
              log.find("] == result: You cannot run multiple instances of this program. | exit code -1"));

    // A thread of its own (as the worker is) chooses for itself.
    static std::string s_text;
    HANDLE hThread = CreateThread(nullptr, 0,
                                  [](LPVOID) -> DWORD {
                                      char szText[260] = "";
                                      UseShowableLanguage();
                                      LoadStringA(GetModuleHandleA(nullptr), IDS_PORT_OPEN, szText, 260);
                                      s_text = szText;
                                      return 0;
                                  },
                                  nullptr, 0, nullptr);
    WaitForSingleObject(hThread, INFINITE);
    CloseHandle(hThread);
    EXPECT_EQ("Uninstallation was stopped. Close the virtual com port and uninstall again.", s_text);
}

} // namespace
