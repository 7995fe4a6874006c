// The arbiter working copy on the real "ComDB" value: which bytes each
// reservation writes, what the working copy becomes, and an object that
// could not load rejecting everything.
#include <gtest/gtest.h>

#include "app/checks/checks_bench.h"
#include "install/comdb.h"
#include "install/comdb_journal.h"
#include "install_bench.h"
#include "trace/trace.h"
#include "trace_recorder.h"

namespace {

struct Reservation {
    DWORD nPort;
    BOOL bResult;
    Bytes written; // temporary value written; empty when nothing is
};

struct ComDbCase {
    const char* pszName;
    DWORD dwType;
    Bytes initial;
    std::vector<Reservation> reservations;
    Bytes workingCopy;
    // "ComDB" when Save runs (empty: every bit set, as when the system
    // claimed the reserved numbers), its type, and what Save leaves (empty:
    // the working copy, in the type as loaded).
    Bytes atSave = {};
    DWORD dwTypeAtSave = 0;
    const char* pszSaved = nullptr;
};

void PrintTo(const ComDbCase& test, std::ostream* pStream)
{
    *pStream << test.pszName;
}

const DWORD REG_ODD_TYPE = 77;

// nSize bytes of nFill, the last one nLast.
Bytes EndingWith(size_t nSize, BYTE nFill, BYTE nLast)
{
    Bytes data(nSize, nFill);
    data.back() = nLast;
    return data;
}

const ComDbCase c_cases[] = {
    {"Com1", REG_BINARY, {0x00, 0x00}, {{1, TRUE, {0xFE, 0xFF}}}, {0x01, 0x00}},
    {"Com8", REG_BINARY, {0x00, 0x00}, {{8, TRUE, {0x7F, 0xFF}}}, {0x80, 0x00}},
    {"Com9", REG_BINARY, {0x00, 0x00}, {{9, TRUE, {0xFF, 0xFE}}}, {0x00, 0x01}},
    {"Com16", REG_BINARY, {0x00, 0x00}, {{16, TRUE, {0xFF, 0x7F}}}, {0x00, 0x80}},
    {"Com3ThenCom10", REG_BINARY, {0x00, 0x00}, {{3, TRUE, {0xFB, 0xFF}}, {10, TRUE, {0xFF, 0xFD}}}, {0x04, 0x02}},
    // Built from scratch: the bits of other ports in use stay clear only
    // in the working copy.
    {"OthersInUse", REG_BINARY, {0x55, 0x00}, {{2, TRUE, {0xFD, 0xFF}}}, {0x57, 0x00}},
    {"Limits", REG_BINARY, {0x00, 0x00, 0x00},
     {{0, FALSE, {}}, {25, FALSE, {}}, {0xFFFFFFFF, FALSE, {}}, {24, TRUE, {0xFF, 0xFF, 0x7F}}}, {0x00, 0x00, 0x80}},
    {"Taken", REG_BINARY, {0x04, 0x00}, {{3, FALSE, {}}, {5, TRUE, {0xEF, 0xFF}}, {5, FALSE, {}}}, {0x14, 0x00}},
    {"OddTypeAndSize", REG_ODD_TYPE, {0x00, 0x10, 0x00}, {{13, FALSE, {}}, {17, TRUE, {0xFF, 0xFF, 0xFE}}},
     {0x00, 0x10, 0x01}},
    {"FullSize", REG_BINARY, Bytes(32, 0x00), {{256, TRUE, EndingWith(32, 0xFF, 0x7F)}, {257, FALSE, {}}},
     EndingWith(32, 0x00, 0x80)},
    // Save writes over what others did meanwhile: a number nobody claimed
    // is free again, one released stays free, and a value grown or
    // rewritten in another type keeps its bytes and its type.
    {"NotClaimed", REG_BINARY, {0x01, 0x00}, {{3, TRUE, {0xFB, 0xFF}}}, {0x05, 0x00}, {0xFB, 0xFF}, REG_BINARY,
     "3:01 00"},
    {"ReleasedMeanwhile", REG_BINARY, {0x55, 0x00}, {{2, TRUE, {0xFD, 0xFF}}}, {0x57, 0x00}, {0xFE, 0xFF}, REG_BINARY,
     "3:56 00"},
    {"GrownAndRetyped", REG_NONE, {0x00, 0x00}, {{3, TRUE, {0xFB, 0xFF}}}, {0x04, 0x00}, {0xFF, 0xFF, 0x30, 0x01},
     REG_BINARY, "3:04 00 30 01"},
};

class ComDbTest : public ::testing::TestWithParam<ComDbCase> {
protected:
    ComDbTest() : m_keeper(HKEY_LOCAL_MACHINE, ARBITER_KEY, "ComDB") {}

    CRegistryValueKeeper m_keeper;
};

TEST_P(ComDbTest, ReservesOnlyFreeNumbersInRange)
{
    const ComDbCase& test = GetParam();
    ASSERT_TRUE(WriteArbiterValue(test.dwType, test.initial));
    CInstallCallLog log;
    log.FakeArbiterLibrary(ERROR_SUCCESS, ERROR_SUCCESS);
    CComDB comDb;
    ASSERT_TRUE(comDb.Load());
    EXPECT_EQ(test.dwType, comDb.m_dwType);
    ASSERT_EQ(test.initial.size(), comDb.m_cbData);

    std::vector<std::string> expected;
    for (const Reservation& reservation : test.reservations) {
        SCOPED_TRACE(reservation.nPort);
        size_t nWrites = log.m_writes.size();
        EXPECT_EQ(reservation.bResult, comDb.ReservePort(reservation.nPort));
        ASSERT_EQ(nWrites + (reservation.bResult ? 1 : 0), log.m_writes.size());
        if (reservation.bResult) {
            EXPECT_EQ(DescribeValue(test.dwType, reservation.written), log.m_writes.back());
        }
    }
    Bytes workingCopy(comDb.m_pData, comDb.m_pData + comDb.m_cbData);
    EXPECT_EQ(DescribeValue(test.dwType, test.workingCopy), DescribeValue(test.dwType, workingCopy));
    DeleteArbiterJournal();
    ASSERT_TRUE(WriteArbiterValue(test.atSave.empty() ? test.dwType : test.dwTypeAtSave,
                                  test.atSave.empty() ? Bytes(test.initial.size(), 0xFF) : test.atSave));
    ASSERT_TRUE(comDb.Save());
    EXPECT_EQ(test.pszSaved != nullptr ? test.pszSaved : DescribeValue(test.dwType, test.workingCopy),
              ReadArbiterValue());
}

INSTANTIATE_TEST_SUITE_P(Values, ComDbTest, ::testing::ValuesIn(c_cases),
                         [](const ::testing::TestParamInfo<ComDbCase>& info) { return info.param.pszName; });

struct EmptyCase {
    const char* pszName;
    bool bValuePresent;
    LONG nOpenResult;
    LONG nCloseResult;
    bool bMissing;
    const char* pszEvents;
};

const EmptyCase c_emptyCases[] = {
    {"NoValue", false, ERROR_SUCCESS, ERROR_SUCCESS, false, "comdb 10"},
    {"OpenFails", true, ERROR_ACCESS_DENIED, ERROR_SUCCESS, false, "comdb 10 comdb 11"},
    {"CloseFails", true, ERROR_SUCCESS, ERROR_INVALID_HANDLE, false, "comdb 10 comdb 12"},
    {"NoEntryPoint", true, ERROR_SUCCESS, ERROR_SUCCESS, true, "comdb 10 comdb 11"},
};

TEST(ComDbEmptyTest, ObjectThatDidNotLoadRejectsEverything)
{
    for (const EmptyCase& test : c_emptyCases) {
        SCOPED_TRACE(test.pszName);
        CRegistryValueKeeper keeper(HKEY_LOCAL_MACHINE, ARBITER_KEY, "ComDB");
        if (test.bValuePresent) {
            ASSERT_TRUE(WriteArbiterValue(REG_BINARY, {0x00, 0x00}));
        } else {
            RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, ARBITER_KEY, "ComDB");
        }
        CTraceRecorder recorder;
        RegisterTraceProvider();
        recorder.Enable(TRACE_ERROR | TRACE_FLOW, 0, 1);
        CInstallCallLog log;
        log.FakeArbiterLibrary(test.nOpenResult, test.nCloseResult, test.bMissing);
        CComDB comDb;
        EXPECT_FALSE(comDb.Load());
        EXPECT_EQ(test.pszEvents, JoinEvents(recorder.Events()));
        EXPECT_EQ(nullptr, comDb.m_pData);
        EXPECT_EQ(0u, comDb.m_cbData);
        for (DWORD nPort : {0u, 1u, 16u}) {
            EXPECT_FALSE(comDb.ReservePort(nPort));
        }
        EXPECT_FALSE(comDb.Save());
        EXPECT_TRUE(log.m_writes.empty());
        UnregisterTraceProvider();
    }
}

// A stored bitmap left by a killed walk, the "ComDB" found at the next run's
// start, and what the repair leaves.
struct RepairCase {
    const char* pszName;
    DWORD dwSavedType;
    Bytes saved; // empty: no stored bitmap
    Bytes current;
    Bytes repaired;
    const char* pszEvents;
    const char* pszFailWrites = "";  // digits: these "ComDB" writes fail
    const char* pszFailFlushes = ""; // digits: these RegFlushKey calls fail
    bool bOtherValue = false;        // another tool keeps a value in the program's key
};

const RepairCase c_repairCases[] = {
    // COM5 reserved, then killed before the system claimed it: free again.
    {"TemporaryStillStanding", REG_BINARY, {0x14, 0x00}, {0xEF, 0xFF}, {0x04, 0x00}, "comdb 13"},
    {"NumberClaimedBeforeTheKill", REG_BINARY, {0x14, 0x00}, {0xFF, 0xFF}, {0x14, 0x00}, "comdb 13"},
    // COM9 released by another device after the kill stays free.
    {"ReleasedAfterTheKill", REG_BINARY, {0x14, 0x01}, {0xEF, 0xFE}, {0x04, 0x00}, "comdb 13"},
    // The arbiter grew after the kill: its new bytes are kept.
    {"GrownSince", REG_BINARY, {0x14, 0x00}, {0xFF, 0xFF, 0x30, 0x00}, {0x14, 0x00, 0x30, 0x00}, "comdb 13"},
    // COM9 free in both: never a temporary value, or written back already.
    {"NeverTemporary", REG_BINARY, {0x14, 0x00}, {0xEF, 0xFE}, {0xEF, 0xFE}, "comdb 14"},
    {"AlreadyWrittenBack", REG_BINARY, {0x14, 0x00}, {0x04, 0x00}, {0x04, 0x00}, "comdb 14"},
    // A value rewritten meanwhile, shorter or in another type (REG_BINARY
    // now, as another arbiter writes it whatever it was), is judged by its
    // bits: left standing, the temporary value would claim every number.
    {"ShrunkSince", REG_BINARY, {0x14, 0x00, 0x00}, {0xEF, 0xFF}, {0x04, 0x00}, "comdb 13"},
    {"OtherType", REG_ODD_TYPE, {0x14, 0x00}, {0xEF, 0xFF}, {0x04, 0x00}, "comdb 13"},
    {"NoneStoredBinaryNow", REG_NONE, {0x14, 0x00}, {0xFF, 0xFF}, {0x14, 0x00}, "comdb 13"},
    {"NothingStored", REG_BINARY, {}, {0xEF, 0xFF}, {0xEF, 0xFF}, ""},
    // A write-back that fails, or is not known to be on disk, keeps the
    // stored bitmap for the next run.
    {"WriteBackFails", REG_BINARY, {0x14, 0x00}, {0xEF, 0xFF}, {0xEF, 0xFF}, "comdb 17 5", "1"},
    {"WriteBackNotFlushed", REG_BINARY, {0x14, 0x00}, {0xEF, 0xFF}, {0x04, 0x00}, "comdb 17 29", "", "1"},
    // The other value outlives the journal, and so does the key.
    {"OtherValueInTheKey", REG_BINARY, {0x14, 0x00}, {0xEF, 0xFF}, {0x04, 0x00}, "comdb 13", "", "", true},
};

TEST(ComDbRepairTest, WritesBackOnlyOverATemporaryValue)
{
    for (const RepairCase& test : c_repairCases) {
        SCOPED_TRACE(test.pszName);
        CRegistryValueKeeper keeper(HKEY_LOCAL_MACHINE, ARBITER_KEY, "ComDB");
        ASSERT_TRUE(WriteArbiterValue(REG_BINARY, test.current));
        if (!test.saved.empty()) {
            ASSERT_TRUE(WriteArbiterJournal(test.saved.data(), static_cast<DWORD>(test.saved.size()), test.dwSavedType));
        }
        if (test.bOtherValue) {
            ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueA(HKEY_LOCAL_MACHINE, SETUP_PROGRAM_KEY, "InstalledBy", REG_SZ, "x", 2));
        }
        CInstallCallLog log;
        log.m_failWrites = test.pszFailWrites;
        log.m_failFlushes = test.pszFailFlushes;
        bool bKept = *test.pszFailWrites != '\0' || *test.pszFailFlushes != '\0';
        CTraceRecorder recorder;
        RegisterTraceProvider();
        recorder.Enable(TRACE_ERROR | TRACE_FLOW, 0, 1);
        EXPECT_EQ(!bKept, RepairArbiter() != FALSE);
        EXPECT_EQ(test.pszEvents, JoinEvents(recorder.Events()));
        EXPECT_EQ(DescribeValue(REG_BINARY, test.repaired), ReadArbiterValue());
        EXPECT_EQ(bKept, HasArbiterJournal() != FALSE);
        EXPECT_EQ(bKept || test.bOtherValue ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND,
                  RegDeleteKeyA(HKEY_LOCAL_MACHINE, SETUP_PROGRAM_KEY));
        UnregisterTraceProvider();
    }
}

} // namespace
