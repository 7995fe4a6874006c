// The INF walk on the bench: one root device per hardware ID, each with the
// COM number its ID carries, and the failure paths of the walk.
#include <gtest/gtest.h>

#include <cfgmgr32.h>

#include "install/comdb_journal.h"
#include "install/device_install.h"
#include "trace/trace.h"
#include "device_tree.h"
#include "install_bench.h"

namespace {

#define MODEL(id) "D=Port.NTamd64," id "\r\n"
#define MAKER(section) "[Manufacturer]\r\nMaker=" section "\r\n"

struct WalkCase {
    const char* pszName;
    const char* pszBody;   // INF text after [Version]; null: no INF at all
    const char* pszFailId; // every installation of this ID fails
    BOOL bResult;
    int nResultId;
    const char* pszDevices;
    size_t nBoxes;
    const char* pszSequence; // T temporary write, I install attempt, W working copy
    const char* pszArbiter;
    const char* pszErrorEvents;
    const char* pszFailWrites = ""; // digits: these "ComDB" writes fail
    DWORD dwBoxError = ERROR_GEN_FAILURE; // the failing ID's error, shown in each box
    bool bFailWithoutDevice = false;      // refused before any device has the ID
    const char* pszFailFlushes = "";      // digits: these RegFlushKey calls fail
    bool bJournalKept = false;            // the restore is not known to be on disk
    bool bLogJournal = false;             // the sequence shows journal writes (J) and flushes (F)
    DWORD nWindow = 0;        // another installer claims a number in this port's window...
    DWORD nReleaseDuring = 0; // ...or releases this one instead
    Bytes initial = {};       // "ComDB" before the walk, when not 01 00 00 00
    const char* pszProblemId = nullptr;   // the bench gives this ID's device...
    DWORD dwProblem = 0;                  // ...this problem code
    int bRebootRequired = 0;
};

#define PROBLEM_DEFAULTS "", ERROR_GEN_FAILURE, false, "", false, false, 0, 0, {}

const WalkCase c_cases[] = {
    {"Sample", MAKER("Models,NTamd64") "[Models.NTamd64]\r\n" MODEL("QZVRCOM\\5") MODEL("QZVRCOM\\12")
         MODEL("QZVRCOM\\ 3x"),
     nullptr, TRUE, IDS_SUCCESS, "QZVRCOM\\5=COM5 QZVRCOM\\12=COM12 QZVRCOM\\ 3x=COM3", 0, "TIIWTIIWTIIW",
     "3:15 08 00 00", ""},
    {"MissingInf", nullptr, nullptr, FALSE, IDS_ERROR, "", 0, "", "3:01 00 00 00", ""},
    {"NoManufacturer", "[Models]\r\n" MODEL("QZVRCOM\\5"), nullptr, FALSE, IDS_ERROR, "", 0, "", "3:01 00 00 00", ""},
    {"EmptyManufacturer", "[Manufacturer]\r\n[Models]\r\n" MODEL("QZVRCOM\\5"), nullptr, FALSE, IDS_ERROR, "", 0, "",
     "3:01 00 00 00", ""},
    {"ModelsMissing", MAKER("Nowhere,NTamd64") "[Models.NTamd64]\r\n" MODEL("QZVRCOM\\5"), nullptr, TRUE,
     IDS_SUCCESS, "", 0, "", "3:01 00 00 00", ""},
    // An empty decoration is none that Windows would use: the line walks
    // its undecorated section.
    {"LonePoint", MAKER("Models,") "[Models]\r\n" MODEL("QZVRCOM\\5"), nullptr, TRUE, IDS_SUCCESS,
     "QZVRCOM\\5=COM5", 0, "TIIW", "3:11 00 00 00", ""},
    // Of the decorations a line lists, the one 64-bit Windows uses, in any
    // order: NTamd64 with the newest version not newer than the system (of
    // its product type), else NT, else none. (Wine's own driver search reads
    // only the .NTamd64, .NT or undecorated section: the IDs of versioned
    // sections are listed there too.)
    {"X86Listed", MAKER("Models,NTx86,NTamd64") "[Models.NTx86]\r\n" MODEL("QZVRCOM\\7")
         "[Models.NTamd64]\r\n" MODEL("QZVRCOM\\5"),
     nullptr, TRUE, IDS_SUCCESS, "QZVRCOM\\5=COM5", 0, "TIIW", "3:11 00 00 00", ""},
    {"NewestVersion", MAKER("Models,NTamd64.6.1,NTamd64.10.0,ntAMD64.99.0,NTamd64,NT.10.0")
         "[Models.NTamd64.6.1]\r\n" MODEL("QZVRCOM\\6") "[Models.NTamd64.10.0]\r\n" MODEL("QZVRCOM\\5")
         "[Models.NTamd64.99.0]\r\n" MODEL("QZVRCOM\\7") "[Models.NTamd64]\r\n" MODEL("QZVRCOM\\8") MODEL("QZVRCOM\\5")
         "[Models.NT.10.0]\r\n" MODEL("QZVRCOM\\2"),
     nullptr, TRUE, IDS_SUCCESS, "QZVRCOM\\5=COM5", 0, "TIIW", "3:11 00 00 00", ""},
    {"ProductTypeAndBuild", MAKER("Models,NTamd64.6.0.3,NTamd64.10.0...999999,NTamd64.6.0.0x1,NTamd64.6.1.1.0x4000")
         "[Models.NTamd64.6.0.0x1]\r\n" MODEL("QZVRCOM\\5") "[Models.NTamd64.6.0.3]\r\n" MODEL("QZVRCOM\\6")
         "[Models.NTamd64.10.0...999999]\r\n" MODEL("QZVRCOM\\7") "[Models.NTamd64.6.1.1.0x4000]\r\n"
         MODEL("QZVRCOM\\8") "[Models]\r\n" MODEL("QZVRCOM\\9") MODEL("QZVRCOM\\5"),
     nullptr, TRUE, IDS_SUCCESS, "QZVRCOM\\5=COM5", 0, "TIIW", "3:11 00 00 00", ""},
    {"NtWithoutAmd64", MAKER("Models,NTarm64,NT,NTia64") "[Models.NT]\r\n" MODEL("QZVRCOM\\5") "[Models]\r\n"
         MODEL("QZVRCOM\\6"),
     nullptr, TRUE, IDS_SUCCESS, "QZVRCOM\\5=COM5", 0, "TIIW", "3:11 00 00 00", ""},
    {"NoneApplies", MAKER("Models,NTx86,NTamd64x,NTamd64.6.x") "[Models]\r\n" MODEL("QZVRCOM\\5")
         "[Models.NTx86]\r\n" MODEL("QZVRCOM\\6"),
     nullptr, TRUE, IDS_SUCCESS, "QZVRCOM\\5=COM5", 0, "TIIW", "3:11 00 00 00", ""},
    // A port whose driver did not load fails the run; it stays installed
    // and the walk goes on. One that works after a restart asks for it.
    {"PortThatDoesNotWork", MAKER("Models") "[Models]\r\n" MODEL("QZVRCOM\\6") MODEL("QZVRCOM\\5"), nullptr, TRUE,
     IDS_ERROR, "QZVRCOM\\6=COM6 QZVRCOM\\5=COM5", 0, "TIIWTIIW", "3:31 00 00 00", "setup 172 ? 31 ?",
     PROBLEM_DEFAULTS, "QZVRCOM\\6", CM_PROB_FAILED_ADD},
    {"PortThatNeedsARestart", MAKER("Models") "[Models]\r\n" MODEL("QZVRCOM\\5"), nullptr, TRUE, IDS_SUCCESS,
     "QZVRCOM\\5=COM5", 0, "TIIW", "3:11 00 00 00", "", PROBLEM_DEFAULTS, "QZVRCOM\\5", CM_PROB_NEED_RESTART, 1},
    {"UndecoratedSection", MAKER("Models") "[Models]\r\n" MODEL("QZVRCOM\\5"), nullptr, TRUE, IDS_SUCCESS,
     "QZVRCOM\\5=COM5", 0, "TIIW", "3:11 00 00 00", ""},
    {"TwoLinesOneSection", MAKER("Models,NTamd64") "Other=Models,NTamd64\r\n[Models.NTamd64]\r\n" MODEL("QZVRCOM\\5"),
     nullptr, TRUE, IDS_SUCCESS, "QZVRCOM\\5=COM5", 0, "TIIWI", "3:11 00 00 00", ""},
    {"NoBackslash", MAKER("Models") "[Models]\r\n" MODEL("QZVRCOM5") MODEL("QZVRCOM\\6"), nullptr, TRUE,
     IDS_SUCCESS, "QZVRCOM\\6=COM6", 0, "TIIW", "3:21 00 00 00", "setup 51 ?"},
    // COM1 is taken: its port gets COM2, which the next write keeps claimed.
    {"NumberInUse", MAKER("Models") "[Models]\r\n" MODEL("QZVRCOM\\1") MODEL("QZVRCOM\\3"), nullptr, TRUE,
     IDS_WRONG_PORT_NUMBER, "QZVRCOM\\1=COM2 QZVRCOM\\3=COM3", 0, "IITIIW", "3:07 00 00 00", "setup 133 ? 1 ?"},
    {"PlusSign", MAKER("Models") "[Models]\r\n" MODEL("QZVRCOM\\ +9"), nullptr, TRUE, IDS_SUCCESS,
     "QZVRCOM\\ +9=COM9", 0, "TIIW", "3:01 01 00 00", ""},
    {"NoDigits", MAKER("Models") "[Models]\r\n" MODEL("QZVRCOM\\-4"), nullptr, TRUE, IDS_SUCCESS, "QZVRCOM\\-4=COM2",
     0, "II", "3:03 00 00 00", ""},
    {"FailsInTheMiddle",
     "[Manufacturer]\r\nA=ModelsA\r\nB=ModelsB\r\n[ModelsA]\r\n" MODEL("QZVRCOM\\5") MODEL("QZVRCOM\\6")
         MODEL("QZVRCOM\\7") "[ModelsB]\r\n" MODEL("QZVRCOM\\8"),
     "QZVRCOM\\6", TRUE, IDS_ERROR, "QZVRCOM\\5=COM5 QZVRCOM\\8=COM8", 1, "TIIWTIIWTIIW", "3:91 00 00 00",
     "util 53 31"},
    {"TwoFailingSections",
     "[Manufacturer]\r\nA=ModelsA\r\nB=ModelsB\r\n[ModelsA]\r\n" MODEL("QZVRCOM\\5") "[ModelsB]\r\n" MODEL(
         "QZVRCOM\\5") MODEL("QZVRCOM\\6"),
     "QZVRCOM\\5", TRUE, IDS_ERROR, "", 2, "TIIWTIIW", "3:01 00 00 00", "util 53 31 util 53 31"},
    // A failed write of the working copy is made good by the next one; the
    // last one of the walk is written once more, or the temporary value
    // would claim every number.
    {"FailedSaveInTheMiddle", MAKER("Models") "[Models]\r\n" MODEL("QZVRCOM\\5") MODEL("QZVRCOM\\6"), nullptr, TRUE,
     IDS_SUCCESS, "QZVRCOM\\5=COM5 QZVRCOM\\6=COM6", 0, "TIIwWTIIW", "3:31 00 00 00", "", "2"},
    {"FailedLastSave", MAKER("Models") "[Models]\r\n" MODEL("QZVRCOM\\5") MODEL("QZVRCOM\\6"), nullptr, TRUE,
     IDS_SUCCESS, "QZVRCOM\\5=COM5 QZVRCOM\\6=COM6", 0, "TIIWTIIwW", "3:31 00 00 00", "setup 130", "4"},
    {"FailedSaveAfterAFailedDevice", MAKER("Models") "[Models]\r\n" MODEL("QZVRCOM\\5"), "QZVRCOM\\5", TRUE, IDS_ERROR,
     "", 1, "TIIwW", "3:01 00 00 00", "util 53 31 setup 130", "2"},
    {"LastSaveFailsTwice", MAKER("Models") "[Models]\r\n" MODEL("QZVRCOM\\5"), nullptr, TRUE, IDS_ERROR,
     "QZVRCOM\\5=COM5", 0, "TIIww", "3:FF FF FF FF", "setup 130 setup 132", "23",
     ERROR_GEN_FAILURE, false, "", true},
    // While a failed write leaves the temporary value in place, a port whose
    // number cannot be forced gets none, and that value never enters the
    // working copy: the end of the walk restores the working copy alone.
    {"TemporaryValueNeverTakenIn", MAKER("Models") "[Models]\r\n" MODEL("QZVRCOM\\5") MODEL("QZVRCOM\\1"), nullptr,
     TRUE, IDS_ERROR, "QZVRCOM\\5=COM5", 1, "TIIwwIIW", "3:11 00 00 00", "util 53 1019 setup 130", "23", ERROR_NO_LOG_SPACE},
    // A driver refused for another reason than a missing device creates no
    // device; the number reserved for it is free again.
    {"RefusedDriverCreatesNoDevice", MAKER("Models") "[Models]\r\n" MODEL("QZVRCOM\\5"), "QZVRCOM\\5", TRUE,
     IDS_ERROR, "", 1, "TIW", "3:01 00 00 00", "util 54 1072", "", ERROR_SERVICE_MARKED_FOR_DELETE, true},
    // A retry that fails without setting an error is a failure all the
    // same, reported as ERROR_GEN_FAILURE, never as "completed successfully".
    {"FailureWithoutCode", MAKER("Models") "[Models]\r\n" MODEL("QZVRCOM\\5"), "QZVRCOM\\5", TRUE, IDS_ERROR, "", 1,
     "TIIW", "3:01 00 00 00", "util 53 31", "", ERROR_SUCCESS},
    // The restored value must be on disk before the journal goes: when its
    // flush (after the journal's own) fails, it is written once more, and
    // when that is not flushed either, the journal stays.
    {"RestoreNotFlushed", MAKER("Models") "[Models]\r\n" MODEL("QZVRCOM\\6"), nullptr, TRUE, IDS_SUCCESS,
     "QZVRCOM\\6=COM6", 0, "TIIWW", "3:21 00 00 00", "setup 130", "", ERROR_GEN_FAILURE, false, "2"},
    {"RestoreNeverFlushed", MAKER("Models") "[Models]\r\n" MODEL("QZVRCOM\\6"), nullptr, TRUE, IDS_ERROR,
     "QZVRCOM\\6=COM6", 0, "TIIWW", "3:21 00 00 00", "setup 130 setup 132", "", ERROR_GEN_FAILURE, false, "23", true},
    // Each write-back is on disk before the next port's journal is written;
    // one whose flush failed is written and flushed again first.
    {"FlushedBeforeTheNextJournal", MAKER("Models") "[Models]\r\n" MODEL("QZVRCOM\\5") MODEL("QZVRCOM\\6"), nullptr,
     TRUE, IDS_SUCCESS, "QZVRCOM\\5=COM5 QZVRCOM\\6=COM6", 0, "JFTIIWFJFTIIWF", "3:31 00 00 00", "", "",
     ERROR_GEN_FAILURE, false, "", false, true},
    {"UnflushedWriteBackRedoneFirst", MAKER("Models") "[Models]\r\n" MODEL("QZVRCOM\\5") MODEL("QZVRCOM\\6"), nullptr,
     TRUE, IDS_SUCCESS, "QZVRCOM\\5=COM5 QZVRCOM\\6=COM6", 0, "JFTIIWfWFJFTIIWF", "3:31 00 00 00", "", "",
     ERROR_GEN_FAILURE, false, "2", false, true},
    // Another installer claims a number through the Ports class library
    // while our temporary value stands: it gets our number, and our port
    // none. The number stays claimed, held by its port. A number released
    // meanwhile stays free.
    {"OtherPortInTheFirstWindow", MAKER("Models") "[Models]\r\n" MODEL("QZVRCOM\\5"), nullptr, TRUE, IDS_ERROR,
     "QZOTHER\\PORT=COM5", 1, "TIIW", "3:11 00 00 00", "util 53 1019", "", ERROR_NO_LOG_SPACE, false, "", false,
     false, 5},
    {"OtherPortInALaterWindow", MAKER("Models") "[Models]\r\n" MODEL("QZVRCOM\\5") MODEL("QZVRCOM\\6"), nullptr, TRUE,
     IDS_ERROR, "QZOTHER\\PORT=COM6 QZVRCOM\\5=COM5", 1, "TIIWTIIW", "3:31 00 00 00", "util 53 1019", "",
     ERROR_NO_LOG_SPACE, false, "", false, false, 6},
    {"ReleasedInTheWindow", MAKER("Models") "[Models]\r\n" MODEL("QZVRCOM\\5"), nullptr, TRUE, IDS_SUCCESS,
     "QZVRCOM\\5=COM5", 0, "TIIW", "3:11 00 00 00", "", "", ERROR_GEN_FAILURE, false, "", false, false, 5, 10,
     {0x01, 0x02, 0x00, 0x00}},
};

void PrintTo(const WalkCase& test, std::ostream* pStream)
{
    *pStream << test.pszName;
}

class WalkTest : public CWalkTest, public ::testing::WithParamInterface<WalkCase> {};

TEST_P(WalkTest, InstallsEachIdWithItsNumber)
{
    const WalkCase& test = GetParam();
    m_recorder.Enable(TRACE_ERROR, 0, 1);
    if (test.pszFailId != nullptr) {
        m_log.m_failIds.push_back(test.pszFailId);
        m_log.m_dwFailError = test.dwBoxError;
        m_log.m_bFailWithoutDevice = test.bFailWithoutDevice;
    }
    m_log.m_failWrites = test.pszFailWrites;
    m_log.m_failFlushes = test.pszFailFlushes;
    m_log.m_bLogJournal = test.bLogJournal;
    if (!test.initial.empty()) {
        ASSERT_TRUE(WriteArbiterValue(REG_BINARY, test.initial));
    }
    const char* pszProblems = "SOFTWARE\\DeviceBench\\DeviceProblems";
    if (test.pszProblemId != nullptr) {
        RegSetKeyValueA(HKEY_LOCAL_MACHINE, pszProblems, test.pszProblemId, REG_DWORD, &test.dwProblem, sizeof(DWORD));
    }
    COtherInstaller other(m_log, test.nWindow, test.nReleaseDuring);
    EXPECT_EQ(test.bResult, Walk(test.pszBody == nullptr ? nullptr : PortsInf(test.pszBody).c_str()));
    EXPECT_EQ(test.nReleaseDuring == 0 ? test.nWindow : 0, other.WaitForExit());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, pszProblems);
    EXPECT_EQ(test.nResultId, m_data.m_nResultId);
    EXPECT_EQ(test.bRebootRequired, m_data.m_bRebootRequired);
    EXPECT_EQ(test.pszDevices, Devices());
    EXPECT_EQ(test.pszSequence, m_log.m_sequence);
    EXPECT_EQ(test.pszArbiter, ReadArbiterValue());
    EXPECT_EQ(test.pszErrorEvents, JoinEvents(m_recorder.Events()));
    EXPECT_EQ(test.bJournalKept, HasArbiterJournal() != FALSE);
    DeleteArbiterJournal();
    ASSERT_EQ(test.nBoxes, m_boxes.m_boxes.size());
    for (const RecordedMessageBox& box : m_boxes.m_boxes) {
        EXPECT_EQ(nullptr, box.hOwner);
        EXPECT_EQ("Error", box.caption);
        EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), box.nStyle);
        EXPECT_EQ(SystemText(test.dwBoxError != ERROR_SUCCESS ? test.dwBoxError : ERROR_GEN_FAILURE), box.text);
    }
}

INSTANTIATE_TEST_SUITE_P(Infs, WalkTest, ::testing::ValuesIn(c_cases),
                         [](const ::testing::TestParamInfo<WalkCase>& info) { return info.param.pszName; });

// Lines the walk cannot take whole are skipped with an event, never cut
// short: a [Manufacturer] line whose decorated section name passes 259
// characters,
// a models line without an ID, an ID of 200
// characters. An ID of 199 characters is read whole.
TEST_F(CWalkTest, SkipsLinesThatDoNotFit)
{
    m_recorder.Enable(TRACE_ERROR, 0, 1);
    std::string longestId = "QZVRCOM\\9" + std::string(190, 'x');
    std::string body = "[Manufacturer]\r\nA=" + std::string(200, 'M') + ",NTamd64." + std::string(51, '0') +
                       "\r\nC=Models\r\n[Models]\r\nD=Port.NTamd64\r\n"
                       "E=Port.NTamd64," + longestId + "y\r\nF=Port.NTamd64," + longestId +
                       "\r\n" MODEL("QZVRCOM\\4");
    EXPECT_TRUE(Walk(PortsInf(body).c_str()));
    EXPECT_EQ(longestId + "=COM9 QZVRCOM\\4=COM4", Devices());
    EXPECT_EQ("TIIWTIIW", m_log.m_sequence);
    EXPECT_EQ(IDS_SUCCESS, m_data.m_nResultId);
    EXPECT_EQ("setup 100 122 setup 101 0 setup 101 122", JoinEvents(m_recorder.Events()));
}

// When the retry on the new device fails, that device is removed again;
// the box shows the system's text of the retry's error.
TEST_F(CWalkTest, FallbackRemovesItsDeviceWhenTheRetryFails)
{
    m_log.m_failIds.push_back("QZVRCOM\\5");
    m_log.m_dwFailError = ERROR_FILE_NOT_FOUND;
    EXPECT_TRUE(Walk(PortsInf(MAKER("Models") "[Models]\r\n" MODEL("QZVRCOM\\5")).c_str()));
    EXPECT_EQ("", Devices());
    std::vector<std::string> expected = {"setup 47", "comdb 10", "setup 48 ?", "setup 49 ?", "setup 50 5",
                                         "util 46 ? ? ?", "util 53 2"};
    EXPECT_EQ(expected, DescribeEvents(m_recorder.Events()));
    ASSERT_EQ(1u, m_boxes.m_boxes.size());
    EXPECT_EQ(SystemText(ERROR_FILE_NOT_FOUND), m_boxes.m_boxes[0].text);
    EXPECT_EQ(IDS_ERROR, m_data.m_nResultId);
}

// A restart reported by one device is kept for the run; a second walk
// over the installed devices reserves nothing and installs again.
TEST_F(CWalkTest, RebootFlagAndSecondWalk)
{
    const char* pszInf = MAKER("Models") "[Models]\r\n" MODEL("QZVRCOM\\9") MODEL("QZVRCOM\\3");
    std::string inf = PortsInf(pszInf);
    EXPECT_TRUE(Walk(inf.c_str()));
    EXPECT_EQ(0, m_data.m_bRebootRequired);
    m_log.m_bReportReboot = true;
    EXPECT_TRUE(Walk(inf.c_str()));
    EXPECT_EQ(1, m_data.m_bRebootRequired);
    EXPECT_EQ("TIIWTIIWII", m_log.m_sequence);
    EXPECT_EQ("QZVRCOM\\9=COM9 QZVRCOM\\3=COM3", Devices());
    EXPECT_EQ("3:05 01 00 00", ReadArbiterValue());
}

} // namespace
