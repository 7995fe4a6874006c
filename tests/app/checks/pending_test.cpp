// Pending device installations: stand-ins for cfgmgr32.dll in the system
// folder (or none at all) decide what the probe answers; setup.exe runs
// against them, and RunSetup in-process shows the events of each failure.
#include <gtest/gtest.h>

#include "app/checks.h"
#include "app/run_setup.h"
#include "checks_bench.h"
#include "support/iat_patch.h"
#include "support/run_patches.h"
#include "support/trace_recorder.h"
#include "trace/trace.h"

namespace {

typedef std::vector<std::string> Names;

const DWORD PENDING = WAIT_TIMEOUT;

// Replaces the system folder's cfgmgr32.dll for one test. The original is
// renamed aside, so until Install() the library is missing altogether.
class CConfigManagerSwap {
public:
    CConfigManagerSwap()
        : m_path(SystemFolder() + "\\cfgmgr32.dll"), m_backup(m_path + ".checks-original"),
          m_override(HKEY_CURRENT_USER, WINE_KEY "\\DllOverrides", "cfgmgr32")
    {
        m_bMoved = MoveFileExA(m_path.c_str(), m_backup.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
        // Wine prefers its builtin unless told to load the file.
        WriteRegistryString(HKEY_CURRENT_USER, WINE_KEY "\\DllOverrides", "cfgmgr32", "native");
    }
    ~CConfigManagerSwap()
    {
        // In-process runs keep the library loaded; the file is replaced next.
        HMODULE hModule = nullptr;
        for (int i = 0; i < 8 && (hModule = GetModuleHandleA(m_path.c_str())) != nullptr; ++i) {
            FreeLibrary(hModule);
        }
        DeleteFileA(m_path.c_str());
        if (m_bMoved) {
            MoveFileExA(m_backup.c_str(), m_path.c_str(), MOVEFILE_REPLACE_EXISTING);
        }
    }
    CConfigManagerSwap(const CConfigManagerSwap&) = delete;
    CConfigManagerSwap& operator=(const CConfigManagerSwap&) = delete;

    bool IsReady() const { return m_bMoved && !DoesFileExist(m_path.c_str()); }
    // pszVariant: a folder under checks_standins beside the test executable.
    bool Install(const char* pszVariant) const
    {
        std::string source = BinaryFolder() + "checks_standins\\" + pszVariant + "\\cfgmgr32.dll";
        return CopyFileA(source.c_str(), m_path.c_str(), FALSE) != FALSE;
    }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
    std::string m_backup;
    CRegistryValueKeeper m_override;
    bool m_bMoved;
};

class PendingInstallationsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_swap.IsReady());
        RegDeleteTreeA(HKEY_CURRENT_USER, STANDIN_KEY);
    }
    void TearDown() override
    {
        RegDeleteTreeA(HKEY_CURRENT_USER, STANDIN_KEY);
        RegDeleteKeyA(HKEY_CURRENT_USER, STANDIN_KEY);
    }

    void SetAnswer(DWORD dwResult)
    {
        ASSERT_TRUE(m_swap.Install("answers"));
        ASSERT_TRUE(WriteRegistryDword(HKEY_CURRENT_USER, STANDIN_KEY, "PendingResult", dwResult));
    }
    static DWORD ReadRecorded(const char* pszName)
    {
        DWORD dwValue = 0xDEADBEEF;
        ReadRegistryDword(HKEY_CURRENT_USER, STANDIN_KEY, pszName, &dwValue);
        return dwValue;
    }

    CConfigManagerSwap m_swap;
};

TEST_F(PendingInstallationsTest, PendingInstallationsRefuseTheRunWithoutWaiting)
{
    SetAnswer(PENDING);
    EXPECT_TRUE(StartIsRefusedWithBox("", "ERROR"));
    EXPECT_EQ(1u, ReadRecorded("PendingCalls"));
    EXPECT_EQ(0u, ReadRecorded("PendingTimeout"));
}

TEST_F(PendingInstallationsTest, NoPendingInstallationsPass)
{
    SetAnswer(0);
    EXPECT_TRUE(ShowsInstallDialog(""));
    EXPECT_EQ(1u, ReadRecorded("PendingCalls"));
    EXPECT_EQ(0u, ReadRecorded("PendingTimeout"));
}

TEST_F(PendingInstallationsTest, LibraryWithoutTheEntryPointStopsWithError)
{
    ASSERT_TRUE(m_swap.Install("no_entry"));
    EXPECT_TRUE(StartIsRefusedWithBox("", "Error"));
}

TEST_F(PendingInstallationsTest, MissingLibraryStopsWithError)
{
    // Wine 8 loads no builtin for a system-folder path whose file is gone.
    EXPECT_TRUE(StartIsRefusedWithBox("", "Error"));
}

TEST_F(PendingInstallationsTest, ProbePassesTimeoutAndAnswerThrough)
{
    SetAnswer(0x12345);
    EXPECT_EQ(0x12345u, WaitNoPendingInstallEvents(1234));
    EXPECT_EQ(1234u, ReadRecorded("PendingTimeout"));
}

std::vector<std::string> g_loadedLibraries;
typedef HMODULE(WINAPI* LoadLibraryAProc)(LPCSTR);
LoadLibraryAProc g_pfnLoadLibraryA = nullptr;

HMODULE WINAPI RecordingLoadLibraryA(LPCSTR pszName)
{
    g_loadedLibraries.push_back(pszName);
    return g_pfnLoadLibraryA(pszName);
}

// RunSetup in-process, silent, with a trace session enabling every event.
class PendingInstallationEventsTest : public PendingInstallationsTest {
protected:
    PendingInstallationEventsTest()
        : m_commandLine(L"setup.exe /s"),
          m_loads("kernel32.dll", "LoadLibraryA", reinterpret_cast<void*>(RecordingLoadLibraryA))
    {
        g_pfnLoadLibraryA = reinterpret_cast<LoadLibraryAProc>(m_loads.Original());
        g_loadedLibraries.clear();
    }
    void SetUp() override
    {
        PendingInstallationsTest::SetUp();
        ASSERT_TRUE(m_loads.IsApplied());
        RegisterTraceProvider();
        ASSERT_EQ(0u, m_recorder.Enable(TRACE_ERROR | TRACE_FLOW, 0, 0x77));
    }
    void TearDown() override
    {
        UnregisterTraceProvider();
        PendingInstallationsTest::TearDown();
    }

    // The run stops at the probe with box 117 and setup event 18 carrying
    // dwError; the util event that precedes it names the cause.
    void ExpectStopAtProbe(const char* pszUtilEvent, DWORD dwError)
    {
        EXPECT_EQ(-1, RunSetup());
        EXPECT_EQ((Names{"setup 15", "setup 16", "setup 17", pszUtilEvent, "setup 18"}), m_recorder.EventNames());
        if (m_recorder.Events().size() == 5) {
            EXPECT_TRUE(m_recorder.Events()[3].arguments.empty());
            EXPECT_EQ(std::vector<std::vector<BYTE>>{DwordBytes(dwError)}, m_recorder.Events()[4].arguments);
        }
        ASSERT_EQ(1u, m_boxes.m_boxes.size());
        EXPECT_EQ(nullptr, m_boxes.m_boxes[0].hOwner);
        EXPECT_EQ("Error", m_boxes.m_boxes[0].text);
        EXPECT_EQ("", m_boxes.m_boxes[0].caption);
        EXPECT_EQ(static_cast<UINT>(MB_ICONINFORMATION), m_boxes.m_boxes[0].nStyle);
        // Only by full path from the system folder, never by bare name.
        EXPECT_EQ(std::vector<std::string>{m_swap.Path()}, g_loadedLibraries);
    }

    CCommandLinePatch m_commandLine;
    CIatPatch m_loads;
    CTraceRecorder m_recorder;
    CMessageBoxRecorder m_boxes;
    CMutexCloser m_mutexes;
};

TEST_F(PendingInstallationEventsTest, MissingLibraryIsTracedWithTheLoadError)
{
    ExpectStopAtProbe("util 18", ERROR_MOD_NOT_FOUND);
}

TEST_F(PendingInstallationEventsTest, MissingEntryPointIsTracedWithTheLookupError)
{
    ASSERT_TRUE(m_swap.Install("no_entry"));
    ExpectStopAtProbe("util 19", ERROR_PROC_NOT_FOUND);
}

TEST_F(PendingInstallationEventsTest, PendingInstallationsAreNotAnError)
{
    SetAnswer(PENDING);
    EXPECT_EQ(-1, RunSetup());
    EXPECT_EQ((Names{"setup 15", "setup 16", "setup 17"}), m_recorder.EventNames());
    ASSERT_EQ(1u, m_boxes.m_boxes.size());
    EXPECT_EQ("ERROR", m_boxes.m_boxes[0].text);
}

} // namespace
