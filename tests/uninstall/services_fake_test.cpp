// Service control in situations Wine cannot produce, played by the stand-in
// service manager and clock: active dependents, budgets that run out (also
// across a wrap of the tick count), and calls that fail.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_service_manager.h"
#include "support/service_calls.h"
#include "support/trace_recorder.h"
#include "trace/trace.h"
#include "uninstall/services.h"

namespace {

typedef std::vector<std::string> Names;
typedef std::vector<DWORD> Sleeps;

const DWORD NEVER = INFINITE;
const DWORD PENDING = SERVICE_STOP_PENDING;
const DWORD WRAPS = 0xFFFFFF00; // a start tick count that wraps within the budget

FakeService Service(const char* pszName, DWORD dwState, DWORD dwWaitHint, DWORD dwStopTakes)
{
    FakeService service;
    service.name = pszName;
    service.dwState = dwState;
    service.dwWaitHint = dwWaitHint;
    service.dwStopTakes = dwStopTakes;
    return service;
}

// A service that turns to dwNextState at dwChangeAt.
FakeService Changing(FakeService service, DWORD dwChangeAt, DWORD dwNextState)
{
    service.dwChangeAt = dwChangeAt;
    service.dwNextState = dwNextState;
    return service;
}

FakeService Failing(FakeService service, DWORD dwOpenError, DWORD dwControlError, DWORD dwQueryFailsAt)
{
    service.dwOpenError = dwOpenError;
    service.dwControlError = dwControlError;
    service.dwQueryFailsAt = dwQueryFailsAt;
    return service;
}

FakeService Depended(FakeService service)
{
    service.dependents = {"DEP_A", "DEP_B"};
    return service;
}

struct StopCase {
    const char* pszTitle;
    DWORD dwStartTick;
    FakeService service;  // QZVRCOM
    FakeService first;    // DEP_A
    FakeService second;   // DEP_B
    DWORD dwEnumError;
    Names events;
    Sleeps sleeps;
    Names stops;
    const char* pszHandles;
    int nDependentsResult; // of StopDependentServices on the same script
};

const FakeService RUNNING = Service("QZVRCOM", SERVICE_RUNNING, 50, 80);
const FakeService DEP_A = Service("DEP_A", SERVICE_RUNNING, 100, 100);
const FakeService DEP_B = Service("DEP_B", SERVICE_RUNNING, 0, 0);
const Names BOTH = {"DEP_A", "DEP_B", "QZVRCOM"};

// Failures name the situation rather than dump its bytes.
void PrintTo(const StopCase& test, std::ostream* pOut)
{
    *pOut << test.pszTitle;
}

const StopCase g_stopCases[] = {
    {"first status query fails", 0, Failing(RUNNING, 0, 0, 1), DEP_A, DEP_B, 0,
     {"util 80 6"}, {}, {}, "MSsm", 1},
    {"already stopped: nothing sent, dependents untouched", 0, Depended(Service("QZVRCOM", SERVICE_STOPPED, 0, 0)),
     DEP_A, DEP_B, 0, {"util 81"}, {}, {}, "MSsm", 1},
    {"pending stop completes", 0, Changing(Service("QZVRCOM", PENDING, 500, 0), 700, SERVICE_STOPPED),
     DEP_A, DEP_B, 0, {"util 82", "util 82", "util 84"}, {500, 500}, {}, "MSsm", 1},
    {"query fails during a pending stop", 0, Failing(Service("QZVRCOM", PENDING, 100, 0), 0, 0, 2),
     DEP_A, DEP_B, 0, {"util 82", "util 83 6"}, {100}, {}, "MSsm", 1},
    {"pending stop: 30000 ms still waits", WRAPS, Service("QZVRCOM", PENDING, 30000, 0), DEP_A, DEP_B, 0,
     {"util 82", "util 82", "util 85"}, {30000, 1}, {}, "MSsm", 1},
    {"pending stop: 30001 ms ends", WRAPS, Service("QZVRCOM", PENDING, 30001, 0), DEP_A, DEP_B, 0,
     {"util 82", "util 85"}, {30001}, {}, "MSsm", 1},
    {"pending stop turns back to running", 0,
     Depended(Changing(Service("QZVRCOM", PENDING, 400, 300), 500, SERVICE_RUNNING)), DEP_A, DEP_B, 0,
     {"util 82", "util 82", "util 89"}, {400, 400, 100, 400}, BOTH, "MSHSsSshsm", 1},
    {"stop request refused", 0, Failing(RUNNING, 0, ERROR_INVALID_SERVICE_CONTROL, 0), DEP_A, DEP_B, 0,
     {"util 86 1052"}, {}, {"QZVRCOM"}, "MSsm", 1},
    {"query fails after the stop request", 0, Failing(RUNNING, 0, 0, 2), DEP_A, DEP_B, 0,
     {"util 87 6"}, {50}, {"QZVRCOM"}, "MSsm", 1},
    {"stopped by the request itself", 0, Service("QZVRCOM", SERVICE_RUNNING, 50, 0), DEP_A, DEP_B, 0,
     {"util 89"}, {}, {"QZVRCOM"}, "MSsm", 1},
    {"after the request: 30000 ms still waits", WRAPS, Service("QZVRCOM", SERVICE_RUNNING, 30000, NEVER),
     DEP_A, DEP_B, 0, {"util 88"}, {30000, 1}, {"QZVRCOM"}, "MSsm", 1},
    {"after the request: 30001 ms ends", WRAPS, Service("QZVRCOM", SERVICE_RUNNING, 30001, NEVER),
     DEP_A, DEP_B, 0, {"util 88"}, {30001}, {"QZVRCOM"}, "MSsm", 1},
    {"dependents stop first, in order", WRAPS, Depended(RUNNING), DEP_A, DEP_B, 0,
     {"util 89"}, {100, 50, 50}, BOTH, "MSHSsSshsm", 1},
    {"dependent not opened: the rest left, the service still stopped", 0, Depended(RUNNING),
     Failing(DEP_A, ERROR_ACCESS_DENIED, 0, 0), DEP_B, 0, {"util 89"}, {50, 50}, {"QZVRCOM"}, "MSHhsm", 0},
    {"dependent refuses: the rest left, the service still stopped", 0, Depended(RUNNING),
     Failing(DEP_A, 0, ERROR_INVALID_SERVICE_CONTROL, 0), DEP_B, 0, {"util 89"}, {50, 50},
     {"DEP_A", "QZVRCOM"}, "MSHSshsm", 0},
    {"dependent query fails", 0, Depended(RUNNING), Failing(DEP_A, 0, 0, 1), DEP_B, 0, {"util 89"}, {100, 50, 50},
     {"DEP_A", "QZVRCOM"}, "MSHSshsm", 0},
    {"dependents spend the budget: one pass after the request", WRAPS, Depended(Service("QZVRCOM", SERVICE_RUNNING, 10, 20)),
     Service("DEP_A", SERVICE_RUNNING, 30001, NEVER), DEP_B, 0, {"util 88"}, {30001, 0},
     {"DEP_A", "QZVRCOM"}, "MSHSshsm", 0},
    // A hint is slept only as far as the budget reaches, whatever it asks for.
    {"pending stop: an INFINITE hint ends with the budget", 0, Service("QZVRCOM", PENDING, NEVER, 0), DEP_A, DEP_B, 0,
     {"util 82", "util 85"}, {30001}, {}, "MSsm", 1},
    {"after the request: a hint past the budget ends with it", WRAPS, Service("QZVRCOM", SERVICE_RUNNING, 100000, NEVER),
     DEP_A, DEP_B, 0, {"util 88"}, {30001}, {"QZVRCOM"}, "MSsm", 1},
    {"dependent with an INFINITE hint: its own budget ends it", 0, Depended(RUNNING),
     Service("DEP_A", SERVICE_RUNNING, NEVER, NEVER), DEP_B, 0, {"util 88"}, {30001, 0}, {"DEP_A", "QZVRCOM"},
     "MSHSshsm", 0},
    {"dependents not listed", 0, Depended(RUNNING), DEP_A, DEP_B, ERROR_ACCESS_DENIED,
     {"util 89"}, {50, 50}, {"QZVRCOM"}, "MSsm", 0},
};

class ServicesFakedTest : public ::testing::TestWithParam<StopCase> {
protected:
    void SetUp() override
    {
        RegisterTraceProvider();
        ASSERT_EQ(0u, m_recorder.Enable(TRACE_ERROR | TRACE_FLOW, 0, 0x77));
    }
    void TearDown() override { UnregisterTraceProvider(); }

    // The stand-in plays the case; the log sits on top of it.
    static void Play(CFakeServiceManager& fake, const StopCase& test)
    {
        fake.Add(test.service);
        fake.Add(test.first);
        fake.Add(test.second);
        fake.m_dwEnumError = test.dwEnumError;
        ASSERT_TRUE(fake.IsApplied());
    }

    CTraceRecorder m_recorder;
};

TEST_P(ServicesFakedTest, StopServiceAndWait)
{
    const StopCase& test = GetParam();
    CFakeServiceManager fake(test.dwStartTick);
    Play(fake, test);
    CServiceCallLog log;
    StopServiceAndWait("QZVRCOM");
    EXPECT_EQ(test.events, DescribeEvents(m_recorder.Events()));
    EXPECT_EQ(test.sleeps, fake.m_sleeps);
    EXPECT_EQ(test.stops, fake.m_stopRequests);
    EXPECT_EQ(test.pszHandles, log.Sequence());
    EXPECT_TRUE(fake.m_bEnumBuffersExact);
}

TEST_P(ServicesFakedTest, StopDependentServicesLeavesTheGivenHandlesOpen)
{
    const StopCase& test = GetParam();
    CFakeServiceManager fake(test.dwStartTick);
    Play(fake, test);
    CServiceCallLog log;
    EXPECT_EQ(test.nDependentsResult, StopDependentServices(fake.ManagerHandle(), fake.ServiceHandle(0)));
    EXPECT_EQ(0u, log.Outstanding());
    EXPECT_EQ(std::string::npos, log.Sequence().find('x'));
    EXPECT_TRUE(m_recorder.Events().empty());
}

INSTANTIATE_TEST_SUITE_P(Situations, ServicesFakedTest, ::testing::ValuesIn(g_stopCases));

// Failures of the manager and of opening, and of the status read after a
// delete request, for the presence check, the stop and the delete.
TEST_F(ServicesFakedTest, ManagerOpenAndStatusFailures)
{
    struct {
        DWORD dwManagerError;
        FakeService service;
        Names events;
        int nExists;
        int nDeleted;
    } cases[] = {
        {ERROR_ACCESS_DENIED, RUNNING,
         {"setup 53 ?", "setup 54 5", "util 78 5", "util 66 ?", "util 67 5"}, 0, 0},
        {0, Failing(RUNNING, ERROR_ACCESS_DENIED, 0, 0),
         {"setup 53 ?", "setup 55 5", "util 79 5", "util 66 ?", "util 69 5"}, 0, 0},
        {0, Failing(Service("QZVRCOM", SERVICE_STOPPED, 0, 0), 0, 0, 2),
         {"setup 53 ?", "util 81", "util 66 ?", "util 71", "util 72 6"}, 1, 0},
    };
    for (const auto& test : cases) {
        m_recorder.ClearEvents();
        CFakeServiceManager fake(0);
        fake.Add(test.service);
        fake.m_dwManagerError = test.dwManagerError;
        CServiceCallLog log;
        EXPECT_EQ(test.nExists, ServiceExists("qzvrcom"));
        StopServiceAndWait("qzvrcom");
        EXPECT_EQ(test.nDeleted, DeleteDriverService("qzvrcom"));
        EXPECT_EQ(test.events, DescribeEvents(m_recorder.Events()));
        EXPECT_EQ(0u, log.Outstanding());
    }
}

} // namespace
