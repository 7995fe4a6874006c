// The trace provider against a recording stand-in of the event-tracing API:
// registration, the control callback, flag selection and the encodings.
#include <gtest/gtest.h>

#include "support/iat_patch.h"
#include "support/trace_recorder.h"
#include "trace/trace.h"

namespace {

const TRACEHANDLE LOGGER = 0x1234567890ULL;

class TraceProviderTest : public ::testing::Test {
protected:
    void TearDown() override { UnregisterTraceProvider(); }

    TraceControlBlock* Block() const
    {
        return static_cast<TraceControlBlock*>(m_recorder.Registrations().back().pContext);
    }

    // One event of each flag, the way every site in the program is written.
    void EmitOneOfEach()
    {
        if (IsTraceEnabled(TRACE_ERROR)) TraceEvent(g_guidSetupComponent, 13);
        if (IsTraceEnabled(TRACE_FLOW)) TraceEvent(g_guidSetupComponent, 15);
    }

    CTraceRecorder m_recorder;
};

TEST_F(TraceProviderTest, RegistersOneControlGuidWithTheBlockAsContext)
{
    RegisterTraceProvider();
    ASSERT_EQ(1u, m_recorder.Registrations().size());
    const RecordedRegistration& registration = m_recorder.Registrations()[0];
    EXPECT_TRUE(registration.pfnCallback == TraceControlCallback);
    EXPECT_TRUE(IsEqualGUID(registration.guidControl, g_guidTraceControl));
    EXPECT_EQ(1u, registration.nGuidCount);
    EXPECT_TRUE(IsEqualGUID(registration.guidRegistered, g_guidTraceControl));
    EXPECT_TRUE(registration.bMofImagePathNull);
    EXPECT_TRUE(registration.bMofResourceNameNull);

    TraceControlBlock* pBlock = Block();
    EXPECT_EQ(nullptr, pBlock->m_pNext);
    EXPECT_EQ(0x5E7A11u, pBlock->m_hRegistration);
    EXPECT_EQ(0u, pBlock->m_hLogger);
    EXPECT_EQ(1, pBlock->m_nFlagWords);
    EXPECT_EQ(0, pBlock->m_nLevel);
    EXPECT_EQ(0, pBlock->m_nOptions);
    EXPECT_EQ(0u, pBlock->m_dwEnableFlags);
    EXPECT_EQ(&g_guidTraceControl, pBlock->m_pControlGuid);
}

TEST_F(TraceProviderTest, StateTable)
{
    // Not registered: nothing is enabled, whatever a session asks.
    EXPECT_FALSE(IsTraceEnabled(TRACE_ERROR));
    EmitOneOfEach();

    RegisterTraceProvider();
    EXPECT_FALSE(IsTraceEnabled(TRACE_ERROR));
    EXPECT_FALSE(IsTraceEnabled(TRACE_FLOW));
    EmitOneOfEach();
    EXPECT_TRUE(m_recorder.Events().empty());

    EXPECT_EQ(0u, m_recorder.Enable(0x5, 3, LOGGER));
    EXPECT_TRUE(IsTraceEnabled(TRACE_ERROR));
    EXPECT_TRUE(IsTraceEnabled(TRACE_FLOW));
    EmitOneOfEach();
    ASSERT_EQ(2u, m_recorder.Events().size());
    for (const RecordedEvent& event : m_recorder.Events()) {
        EXPECT_EQ(LOGGER, event.hLogger);
        EXPECT_EQ(0x2Bu, event.dwMessageFlags);
        EXPECT_TRUE(IsEqualGUID(event.guidMessage, g_guidSetupComponent));
        EXPECT_TRUE(event.arguments.empty());
    }
    EXPECT_EQ((std::vector<std::string>{"setup 13", "setup 15"}), m_recorder.EventNames());
}

TEST_F(TraceProviderTest, FlagsSelectEventsAndLevelIsIgnored)
{
    struct Case {
        ULONG dwFlags;
        UCHAR nLevel;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {0x1, 5, {"setup 13"}},
        {0x4, 5, {"setup 15"}},
        {0x5, 0, {"setup 13", "setup 15"}},
        {0x5, 255, {"setup 13", "setup 15"}},
        {0x2, 5, {}},
        {0xFFFFFFFA, 5, {}},
    };
    RegisterTraceProvider();
    for (const Case& c : cases) {
        m_recorder.ClearEvents();
        ASSERT_EQ(0u, m_recorder.Enable(c.dwFlags, c.nLevel, LOGGER));
        EmitOneOfEach();
        EXPECT_EQ(c.expected, m_recorder.EventNames()) << "flags " << c.dwFlags << " level " << int(c.nLevel);
        EXPECT_EQ(c.nLevel, Block()->m_nLevel);
    }
}

TEST_F(TraceProviderTest, CallbackRequests)
{
    RegisterTraceProvider();
    ASSERT_EQ(0u, m_recorder.Enable(0x5, 4, LOGGER));
    EXPECT_EQ(0u, m_recorder.LastCallbackBufferSize());

    // Anything but enable and disable: 87, and the block is left alone.
    const WMIDPREQUESTCODE otherCodes[] = {WMI_GET_ALL_DATA, WMI_SET_SINGLE_INSTANCE, WMI_ENABLE_COLLECTION,
                                           WMI_DISABLE_COLLECTION, WMI_REGINFO, static_cast<WMIDPREQUESTCODE>(99)};
    for (WMIDPREQUESTCODE nCode : otherCodes) {
        EXPECT_EQ(87u, m_recorder.SendRequest(nCode)) << nCode;
        EXPECT_EQ(0u, m_recorder.LastCallbackBufferSize());
        EXPECT_EQ(LOGGER, Block()->m_hLogger);
        EXPECT_EQ(4, Block()->m_nLevel);
        EXPECT_EQ(0x5u, Block()->m_dwEnableFlags);
    }

    // Enabling again takes the new session's values.
    ASSERT_EQ(0u, m_recorder.Enable(0x4, 2, LOGGER + 1));
    EXPECT_EQ(LOGGER + 1, Block()->m_hLogger);
    EXPECT_EQ(0x4u, Block()->m_dwEnableFlags);

    ASSERT_EQ(0u, m_recorder.Disable());
    EXPECT_EQ(0u, m_recorder.LastCallbackBufferSize());
    EXPECT_EQ(0u, Block()->m_hLogger);
    EXPECT_EQ(0, Block()->m_nLevel);
    EXPECT_EQ(0u, Block()->m_dwEnableFlags);
    EmitOneOfEach();
    EXPECT_TRUE(m_recorder.Events().empty());

    ASSERT_EQ(0u, m_recorder.Enable(0x1, 0, LOGGER));
    EmitOneOfEach();
    EXPECT_EQ((std::vector<std::string>{"setup 13"}), m_recorder.EventNames());
}

TEST_F(TraceProviderTest, UnregistrationEndsAllEvents)
{
    RegisterTraceProvider();
    ASSERT_EQ(0u, m_recorder.Enable(0x5, 0, LOGGER));
    UnregisterTraceProvider();
    EXPECT_EQ((std::vector<TRACEHANDLE>{0x5E7A11}), m_recorder.Unregistrations());
    EXPECT_EQ(0u, Block()->m_hRegistration);

    // The session still enables the GUID, but the provider is gone.
    EXPECT_FALSE(IsTraceEnabled(TRACE_ERROR));
    EmitOneOfEach();
    EXPECT_TRUE(m_recorder.Events().empty());

    // An event sent without asking goes to no logger rather than through
    // the sentinel.
    TraceEvent(g_guidSetupComponent, 30, static_cast<DWORD>(0));
    ASSERT_EQ(1u, m_recorder.Events().size());
    EXPECT_EQ(0u, m_recorder.Events()[0].hLogger);

    // A second unregistration does nothing.
    UnregisterTraceProvider();
    EXPECT_EQ(1u, m_recorder.Unregistrations().size());
}

TEST_F(TraceProviderTest, FailedRegistrationIsNotUnregistered)
{
    m_recorder.SetRegisterResult(ERROR_ACCESS_DENIED, 0);
    RegisterTraceProvider();
    EXPECT_FALSE(IsTraceEnabled(TRACE_ERROR));
    UnregisterTraceProvider();
    EXPECT_TRUE(m_recorder.Unregistrations().empty());
}

TEST_F(TraceProviderTest, ArgumentEncodings)
{
    RegisterTraceProvider();
    ASSERT_EQ(0u, m_recorder.Enable(0x5, 0, LOGGER));
    int nObject = 0;
    TraceEvent(g_guidUtilComponent, 20, static_cast<DWORD>(0xFFFFFFFF));
    TraceEvent(g_guidSetupComponent, 21, static_cast<DWORD>(1), static_cast<DWORD>(8));
    TraceEvent(g_guidSetupComponent, 22, static_cast<const void*>(&nObject));
    TraceEvent(g_guidComdbComponent, 23, "C:\\pkg");
    TraceEvent(g_guidSetupComponent, 24, static_cast<const char*>(nullptr));
    TraceEvent(g_guidSetupComponent, 25, "");
    TraceEvent(g_guidSetupComponent, 26, "a", static_cast<const char*>(nullptr));
    TraceEvent(g_guidSetupComponent, 27, "ID", "x.inf", static_cast<const void*>(&nObject));

    typedef std::vector<std::vector<BYTE>> Arguments;
    const Arguments expected[] = {
        {DwordBytes(0xFFFFFFFF)},
        {DwordBytes(1), DwordBytes(8)},
        {PointerBytes(&nObject)},
        {StringBytes("C:\\pkg")},
        {StringBytes("NULL")},
        {std::vector<BYTE>{0}},
        {StringBytes("a"), StringBytes("NULL")},
        {StringBytes("ID"), StringBytes("x.inf"), PointerBytes(&nObject)},
    };
    ASSERT_EQ(8u, m_recorder.Events().size());
    for (size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(expected[i], m_recorder.Events()[i].arguments) << "event " << i;
    }
    EXPECT_EQ(8u, PointerBytes(&nObject).size());
    EXPECT_STREQ("util", ComponentName(m_recorder.Events()[0].guidMessage));
    EXPECT_STREQ("comdb", ComponentName(m_recorder.Events()[3].guidMessage));
}

// Counts GetLastError calls made through the import table.
int g_nLastErrorReads = 0;
DWORD WINAPI CountingGetLastError()
{
    ++g_nLastErrorReads;
    return 0x4D2;
}

TEST_F(TraceProviderTest, DisabledEventsGatherNoData)
{
    RegisterTraceProvider();
    CIatPatch patch("kernel32.dll", "GetLastError", reinterpret_cast<void*>(CountingGetLastError));
    ASSERT_TRUE(patch.IsApplied());

    g_nLastErrorReads = 0;
    TraceLastError(g_guidSetupComponent, 28);
    EXPECT_EQ(0, g_nLastErrorReads);

    ASSERT_EQ(0u, m_recorder.Enable(TRACE_FLOW, 0, LOGGER));
    TraceLastError(g_guidSetupComponent, 28);
    EXPECT_EQ(0, g_nLastErrorReads);
    EXPECT_TRUE(m_recorder.Events().empty());

    ASSERT_EQ(0u, m_recorder.Enable(TRACE_ERROR, 0, LOGGER));
    TraceLastError(g_guidSetupComponent, 28);
    EXPECT_GE(g_nLastErrorReads, 1);
    ASSERT_EQ(1u, m_recorder.Events().size());
    EXPECT_EQ(std::vector<std::vector<BYTE>>{DwordBytes(0x4D2)}, m_recorder.Events()[0].arguments);
}

TEST_F(TraceProviderTest, TracingKeepsTheLastError)
{
    RegisterTraceProvider();
    ASSERT_EQ(0u, m_recorder.Enable(0x5, 0, LOGGER));
    SetLastError(0xdeadbeef);
    TraceLastError(g_guidSetupComponent, 28);
    TraceEvent(g_guidSetupComponent, 26, "x");
    EXPECT_EQ(0xdeadbeefu, GetLastError());
    ASSERT_EQ(2u, m_recorder.Events().size());
    EXPECT_EQ(std::vector<std::vector<BYTE>>{DwordBytes(0xdeadbeef)}, m_recorder.Events()[0].arguments);
}

} // namespace
