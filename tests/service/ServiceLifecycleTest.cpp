#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <syslog.h>
#include <vector>

#include "CrossPlatform.h"
#include "EventLogController.h"
#include "KxapiSvc.h"
#include "PipeMessenger.h"
#include "XpPipeConnectionLinux.h"
#include "TestSupport.h"
#include "XpUtil.h"

namespace {

using kxtest::RecordingLog;
using kxtest::ScopedIpcDirectory;

std::vector<int> EventIds(RecordingLog& log)
{
    std::vector<int> ids;
    for (const kxtest::LoggedEvent& event : log.Events())
        ids.push_back(event.m_Id);
    return ids;
}

// True when a client of `name` gets its connection accepted.
bool Accepts(const char* name)
{
    IXpPipeConnection* connection = Xp::Instance()->NewPipeConnection();
    bool accepted = connection->Connect(name) == KXAPI_OK;
    delete connection;
    return accepted;
}

// True when something reads a request written into the listener FIFO at `path` within 300 ms;
// false when it stays unread (or the FIFO is missing).
bool DrainsRequests(const std::string& path)
{
    int fd = open(path.c_str(), O_RDWR | O_NONBLOCK);
    if (fd < 0)
        return false;
    char request[XP_PIPE_REQUEST_SIZE] = {};
    bool drained = false;
    if (write(fd, request, sizeof(request)) == static_cast<ssize_t>(sizeof(request))) {
        usleep(300000);
        int pending = 0;
        drained = ioctl(fd, FIONREAD, &pending) == 0 && pending == 0;
    }
    close(fd);
    return drained;
}

TEST(EventLog, TableHoldsEightEventsWithTheirSeverities)
{
    int severity = -1;
    const char* message = nullptr;
    ASSERT_EQ(g_EventLogger.EventGetMessage(0, severity, message), KXAPI_OK);
    EXPECT_EQ(severity, LOG_INFO);
    EXPECT_STREQ(message, "The Kxapi Service (version %s) has started successfully.");
    ASSERT_EQ(g_EventLogger.EventGetMessage(2, severity, message), KXAPI_OK);
    EXPECT_EQ(severity, LOG_WARNING);
    const char* five = nullptr;
    const char* six = nullptr;
    g_EventLogger.EventGetMessage(5, severity, five);
    g_EventLogger.EventGetMessage(6, severity, six);
    EXPECT_EQ(severity, LOG_ERR);
    EXPECT_STREQ(five, six);
    ASSERT_EQ(g_EventLogger.EventGetMessage(7, severity, message), KXAPI_OK);
    EXPECT_STREQ(message, "The DirectShow manager failed to initialize.");

    severity = 99;
    message = "untouched";
    EXPECT_EQ(g_EventLogger.EventGetMessage(8, severity, message), KXAPI_E_INVALID_ARG);
    EXPECT_EQ(g_EventLogger.EventGetMessage(-1, severity, message), KXAPI_E_INVALID_ARG);
    EXPECT_EQ(g_EventLogger.EventGetMessage(XP_EVENT_PATH_MOVED_ASIDE - 1, severity, message), KXAPI_E_INVALID_ARG);
    EXPECT_EQ(severity, 99);
    EXPECT_STREQ(message, "untouched");

    // The platform's report of a path it had to clear names the path and where it went.
    ASSERT_EQ(g_EventLogger.EventGetMessage(XP_EVENT_PATH_MOVED_ASIDE, severity, message), KXAPI_OK);
    EXPECT_EQ(severity, LOG_WARNING);
    EXPECT_STREQ(message, "The path %s was taken by something the service could not remove; it was moved to %s.");
}

TEST(EventLog, NothingIsWrittenForUnknownIdsOrBeforeTheLogIsOpen)
{
    RecordingLog log;
    Xp::Instance()->EventLog(0, 1, "before open");
    EXPECT_TRUE(log.Events().empty());
    EXPECT_EQ(Xp::Instance()->EventLogOpen("KxapiService", nullptr), KXAPI_E_INVALID_ARG);
    ASSERT_EQ(Xp::Instance()->EventLogOpen("KxapiService", &g_EventLogger), KXAPI_OK);
    Xp::Instance()->EventLog(8, 0);
    Xp::Instance()->EventLog(-1, 0);
    LogUnknownCommand(4294967294u);
    ASSERT_EQ(log.Events().size(), 1u);
    EXPECT_EQ(log.Events()[0].m_Text, "Received an unknown command ID (4294967294).");
}

// Tokens over a wrapping millisecond tick: the burst at once, one more per period, never
// more than the burst saved up, also across the tick's wrap.
TEST(EventLog, TheLogRateLimiterAllowsItsBurstThenOneLinePerPeriod)
{
    struct Step {
        unsigned int m_NowMs;
        int m_Asked;
        int m_Allowed;
    };
    const unsigned int WRAP = 0xFFFFFF00u; // 256 ms before the tick wraps
    const Step steps[] = {
        {WRAP, 5, 3},           // burst of 3, the rest dropped
        {WRAP + 999, 2, 0},     // not a full period yet
        {WRAP + 1000, 2, 1},    // one period (across the wrap): one line
        {WRAP + 2500, 2, 1},    // one more period; half of the next is kept
        {WRAP + 3000, 1, 1},    // ... and completed here
        {WRAP + 60000, 10, 3},  // a long pause saves up the burst only
    };
    KxLogRateLimiter limiter(3, 1000);
    for (const Step& step : steps) {
        int allowed = 0;
        for (int i = 0; i < step.m_Asked; i++)
            allowed += limiter.Allow(step.m_NowMs) ? 1 : 0;
        EXPECT_EQ(allowed, step.m_Allowed) << "at " << step.m_NowMs;
    }
}

// A client sending unknown commands in a loop: its handler thread logs its burst and drops
// the rest; another client's handler thread still gets its own lines logged.
TEST(EventLog, UnknownCommandLinesAreLimitedPerClientHandlerThread)
{
    RecordingLog log;
    ASSERT_EQ(Xp::Instance()->EventLogOpen("KxapiService", &g_EventLogger), KXAPI_OK);
    const unsigned int start = XpUtil::GetTickCount();
    std::thread flood([] {
        for (unsigned int i = 0; i < 20000; i++)
            LogUnknownCommand(1000 + i);
    });
    flood.join();
    const unsigned int elapsedS = (XpUtil::GetTickCount() - start) / 1000;
    const size_t flooded = log.Events().size();
    EXPECT_GE(flooded, size_t(KxLogRateLimiter::DEFAULT_BURST));
    EXPECT_LE(flooded, size_t(KxLogRateLimiter::DEFAULT_BURST + elapsedS));
    EXPECT_EQ(log.Events()[0].m_Text, "Received an unknown command ID (1000).");

    std::thread other([] { LogUnknownCommand(77); });
    other.join();
    ASSERT_EQ(log.Events().size(), flooded + 1);
    EXPECT_EQ(log.Events().back().m_Text, "Received an unknown command ID (77).");
}

class ServiceTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        KxapiSvc::Delete();
        KxapiSvc::ClearStopRequest();
    }
    ScopedIpcDirectory m_Dir;
    RecordingLog m_Log;
};

TEST_F(ServiceTest, AStopRequestedBeforeTheMainLoopLogsStartAndStopAtOnce)
{
    ASSERT_TRUE(KxapiSvc::Instance()->Init());
    EXPECT_EQ(m_Log.Identity(), "KxapiService");
    EXPECT_TRUE(Accepts("DemodRecvPipe"));
    EXPECT_TRUE(Accepts("KxeRecvPipe"));
    EXPECT_TRUE(Accepts("KxGlobalRecvPipe"));

    KxapiSvc::RequestStopFromSignal(); // what the signal handler does
    unsigned int start = XpUtil::GetTickCount();
    KxapiSvc::Instance()->MainLoop();
    // No waiting for a signal: only the managers' own stop (a discovery cycle in progress
    // ends within its receive slice) takes time.
    EXPECT_LT(XpUtil::GetTickCount() - start, 3000u);
    std::vector<kxtest::LoggedEvent> events = m_Log.Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].m_Text, "The Kxapi Service (version 3.8.7 Build 96) has started successfully.");
    EXPECT_EQ(events[0].m_Severity, LOG_INFO);
    EXPECT_EQ(events[1].m_Text, "The Kxapi Service has stopped.");

    KxapiSvc::Delete();
    KxapiSvc::Delete(); // a second Delete does nothing
    EXPECT_EQ(m_Log.CloseCount(), 1);
    // Every listener FIFO removed; named-mutex key files ("sem.*") stay by design.
    std::vector<std::string> left = kxtest::ListDir(m_Dir.Path());
    std::erase_if(left, [](const std::string& name) { return name.rfind("sem.", 0) == 0; });
    EXPECT_TRUE(left.empty());
}

TEST_F(ServiceTest, StopFromAnotherThreadEndsTheMainLoop)
{
    ASSERT_TRUE(KxapiSvc::Instance()->Init());
    IXpThread* stopper = Xp::Instance()->NewThread();
    ASSERT_EQ(stopper->Create([](void*) {
        XpUtil::Sleep(100);
        KxapiSvc::Instance()->Stop();
    }, nullptr), KXAPI_OK);
    KxapiSvc::Instance()->MainLoop();
    delete stopper;
    EXPECT_EQ(EventIds(m_Log), (std::vector<int>{0, 1}));
    EXPECT_FALSE(Accepts("KxGlobalRecvPipe")); // accept threads have ended
}

TEST_F(ServiceTest, TheMainLoopSleepsUntilAStopRequestFromAnyThreadWakesIt)
{
    // The signal handler may run on any thread that takes the signal; the main loop sleeps
    // until it (or Stop) wakes it, with no periodic look at the flag.
    ASSERT_TRUE(KxapiSvc::Instance()->Init());
    std::atomic<pid_t> loopTid{0};
    std::atomic<bool> ended{false};
    std::thread loop([&] {
        loopTid = gettid();
        KxapiSvc::Instance()->MainLoop();
        ended = true;
    });
    ASSERT_TRUE(kxtest::WaitUntil([&] { return loopTid.load() != 0; }, 2000));
    EXPECT_LE(kxtest::SwitchesOver(200, 1000, [&] { return kxtest::ThreadContextSwitches(loopTid.load()); }),
              1);
    EXPECT_FALSE(ended.load());

    KxapiSvc::RequestStopFromSignal();
    const bool endedInTime = kxtest::WaitUntil([&] { return ended.load(); }, 2000);
    if (!endedInTime)
        KxapiSvc::Instance()->Stop(); // ends a loop the request failed to wake
    loop.join();
    EXPECT_TRUE(endedInTime);
    EXPECT_EQ(EventIds(m_Log), (std::vector<int>{0, 1}));
    EXPECT_FALSE(Accepts("KxGlobalRecvPipe")); // the loop stopped the managers
}

TEST_F(ServiceTest, AGlobalManagerThatCannotInitialiseLogsEventSixAndNothingStarts)
{
    // With an 85-character prefix "KxGlobalRecvPipe" alone no longer fits a FIFO path.
    std::string prefix = kxtest::MakeLongDirectory(m_Dir.Path(), 84) + "/";
    ASSERT_EQ(prefix.size(), 85u);
    XpPipeBaseLinux::m_pFifoPrefix = prefix.c_str();
    EXPECT_FALSE(KxapiSvc::Instance()->Init());
    std::vector<kxtest::LoggedEvent> events = m_Log.Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].m_Id, 6);
    EXPECT_EQ(events[0].m_Severity, LOG_ERR);
    EXPECT_EQ(events[0].m_Text, "The shared channel manager failed to initialize.");
    // The demod and network-device listeners exist, but no accept thread ever ran.
    EXPECT_FALSE(DrainsRequests(prefix + "DemodRecvPipe"));
    EXPECT_FALSE(DrainsRequests(prefix + "KxeRecvPipe"));
    KxapiSvc::Delete(); // without Stop, as after a failed start-up
}

TEST_F(ServiceTest, StandInManagersAnswerTheVersionAndRefuseOtherCommands)
{
    ASSERT_TRUE(KxapiSvc::Instance()->Init());
    for (const char* name : {"DemodRecvPipe", "KxeRecvPipe"}) {
        PipeMessenger messenger;
        ASSERT_TRUE(messenger.Init());
        ASSERT_TRUE(messenger.Connect(name));
        char request[4] = {0, 0, 0, 0};
        ASSERT_TRUE(messenger.WriteMsg(request, 4));
        char* reply = nullptr;
        int size = 0;
        ASSERT_TRUE(messenger.ReadMsg(reply, size, 2000));
        EXPECT_EQ(size, 24) << name;
        free(reply);
        const char close[4] = {'\xFF', '\xFF', '\xFF', '\xFF'};
        ASSERT_TRUE(messenger.WriteMsg(const_cast<char*>(close), 4));
        EXPECT_FALSE(messenger.ReadMsg(reply, size, 2000));
    }
    KxapiSvc::Instance()->Stop();
}

} // namespace
