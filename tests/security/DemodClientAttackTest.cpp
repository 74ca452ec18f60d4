// Demod clients that try to hold up the others of their port: taking over another client's
// event FIFO, replies they never read, event FIFOs that never answer or stay full, and
// registrations without end. After each attack a well-behaved client of the same port is
// still served within a bound, and SIGTERM still stops the service.
#include <fcntl.h>
#include <unistd.h>

#include "../demod/PortTestSupport.h"
#include "DemodPortController.h"
#include "DemodSvcProtocol.h"
#include "HostileClientFixture.h"
#include "KxWire.h"
#include "XpUtil.h"

namespace hostile {
namespace {

constexpr unsigned int STOPS_WITHIN_MS = 5000;
constexpr int64_t FREQ_A_HZ = 474000000;
constexpr int64_t FREQ_B_HZ = 482000000;
constexpr int32_t MOD_3460 = 15;

std::wstring Wide(const std::string& name)
{
    return std::wstring(name.begin(), name.end());
}

// Sends a request on the connection without reading its reply.
bool SendOnly(RawDemodConnection& connection, const Kxapi::DemodMsg& request)
{
    return connection.Messenger().WriteMsg(reinterpret_cast<char*>(const_cast<uint8_t*>(request.data())),
                                           static_cast<int>(request.size()));
}

// Result word of the next reply on the connection, KXAPI_E_TIMEOUT when none comes in time.
KXAPI_RESULT NextResult(RawDemodConnection& connection, unsigned int timeoutMs)
{
    char* reply = nullptr;
    int size = 0;
    if (!connection.Messenger().ReadMsg(reply, size, timeoutMs))
        return KXAPI_E_TIMEOUT;
    KXAPI_RESULT result = size >= 8 ? KxGetU32(reply, 4) : KXAPI_E_INTERNAL;
    free(reply);
    return result;
}

// One request of a well-behaved client, answered KXAPI_OK within the bound.
template <class Request>
::testing::AssertionResult ServedInTime(const char* what, Request request, KXAPI_RESULT expected = KXAPI_OK)
{
    const unsigned int start = XpUtil::GetTickCount();
    const KXAPI_RESULT result = request();
    const unsigned int took = XpUtil::GetTickCount() - start;
    if (result != expected)
        return ::testing::AssertionFailure() << what << ": " << KxapiResult2Str(result) << " after " << took << " ms";
    if (took > SERVED_WITHIN_MS)
        return ::testing::AssertionFailure() << what << " answered only after " << took << " ms";
    return ::testing::AssertionSuccess();
}

// Tunes the port and waits until the port reports the new frequency: the port's worker ran
// the tune within the bound.
::testing::AssertionResult TunedInTime(RawDemodConnection& client, int64_t freqHz)
{
    Kxapi::OldStyleParsWire pars;
    pars.m_ModType = MOD_3460;
    if (client.Svc().TuneOld(freqHz, pars) != KXAPI_OK)
        return ::testing::AssertionFailure() << "tune refused";
    int64_t reported = 0;
    if (!kxtest::WaitUntil([&] { return client.Svc().TunerFreqGetOld(reported) == KXAPI_OK && reported == freqHz; },
                           SERVED_WITHIN_MS))
        return ::testing::AssertionFailure() << "the port still reports " << reported << " Hz, not " << freqHz;
    return ::testing::AssertionSuccess();
}

} // namespace

// A fixed-layout request for the supported statistics with room for `capacity` ids; its reply
// grows with the capacity.
Kxapi::DemodMsg SupportedStatsRequest(int32_t capacity)
{
    Kxapi::DemodMsg request(8, 0);
    KxPutU32(request.data(), 0, Kxapi::DEMOD_CMD_SUPPORTED_STATS_GET_OLD);
    KxPutI32(request.data(), 4, capacity);
    return request;
}

TEST_F(HostileServiceTest, AnotherClientsEventFifoCannotBeTakenOverNorKeepItsDetachLooping)
{
    kxtest::EventSink sinkA("KxapiDemodSvc_EvPipe_3460000001_1_4_1");
    ASSERT_TRUE(sinkA.Ready());
    RawDemodConnection a, b;
    ASSERT_TRUE(OpenAttached(a));
    ASSERT_TRUE(OpenAttached(b));
    ASSERT_EQ(a.Svc().EventPipeRegister(sinkA.WideName(), 3), KXAPI_OK);
    ASSERT_TRUE(kxtest::WaitUntil([&] { return sinkA.Connected(); }, SERVED_WITHIN_MS));

    // B names A's predictable FIFO: refused, and it keeps trying while A leaves.
    EXPECT_EQ(b.Svc().EventPipeRegister(sinkA.WideName(), 3), KXAPI_E_IN_USE);
    std::atomic<bool> stop{false};
    std::thread hostile([&] {
        while (!stop.load())
            b.Svc().EventPipeRegister(sinkA.WideName(), 3);
    });
    EXPECT_TRUE(ServedInTime("A's detach", [&] { return a.Svc().Detach(); }));
    EXPECT_TRUE(kxtest::WaitUntil([&] { return sinkA.Closed(); }, SERVED_WITHIN_MS));
    stop = true;
    hostile.join();
    EXPECT_TRUE(WellBehavedClientIsServed());
    EXPECT_TRUE(StopsOnSigterm(STOPS_WITHIN_MS));
}

TEST_F(HostileServiceTest, AClientThatNeverReadsItsRepliesHoldsUpNoOtherClientOfThePort)
{
    RawDemodConnection attacker, client;
    ASSERT_TRUE(OpenAttached(attacker));
    ASSERT_TRUE(OpenAttached(client));
    // Replies of just over 4 KiB (room for every statistic), never read: the attacker's reply
    // FIFO is full after sixteen.
    const Kxapi::DemodMsg request = SupportedStatsRequest(Kxapi::DEMOD_MAX_STATISTICS);
    for (int i = 0; i < 40; i++)
        ASSERT_TRUE(SendOnly(attacker, request));

    int64_t freqHz = FREQ_B_HZ;
    std::vector<int32_t> ids;
    for (int round = 0; round < 3; round++) {
        SCOPED_TRACE(round);
        EXPECT_TRUE(ServedInTime("supported statistics", [&] { return client.Svc().SupportedStatsGetOld(16, ids); }));
        // Run by the port's worker before it is answered.
        EXPECT_TRUE(ServedInTime("LNB", [&] { return client.Svc().LnbEnable(false); }, KXAPI_E_NOT_SUPPORTED));
        EXPECT_TRUE(TunedInTime(client, freqHz));
        freqHz = freqHz == FREQ_A_HZ ? FREQ_B_HZ : FREQ_A_HZ;
    }
    EXPECT_TRUE(WellBehavedClientIsServed());
    EXPECT_TRUE(StopsOnSigterm(STOPS_WITHIN_MS));
}

TEST_F(HostileServiceTest, AConnectionWhoseRepliesCannotBeWrittenIsDroppedAndLeavesThePort)
{
    RawDemodConnection client;
    ASSERT_TRUE(OpenAttached(client));
    const std::map<std::string, std::string> before = ServiceDescriptorTargets();
    RawDemodConnection attacker;
    ASSERT_TRUE(OpenAttached(attacker));
    // The attacker's connection: the FIFOs that came with it (another descriptor closing
    // meanwhile must not pass for the attacker being let go). Its stop signal's eventfd is left
    // out: every eventfd has the same target, so another one taking its number would look like
    // the attacker's still held.
    std::map<std::string, std::string> attackers;
    for (const auto& [fd, target] : ServiceDescriptorTargets()) {
        const auto known = before.find(fd);
        if ((known == before.end() || known->second != target) && target.rfind("anon_inode:", 0) != 0)
            attackers[fd] = target;
    }
    ASSERT_FALSE(attackers.empty());
    const auto holdsAttacker = [&] {
        const std::map<std::string, std::string> now = ServiceDescriptorTargets();
        for (const auto& [fd, target] : attackers) {
            const auto held = now.find(fd);
            if (held != now.end() && held->second == target)
                return true;
        }
        return false;
    };
    // Replies that fit one FIFO write (just under 4 KiB), never read: once the FIFO is full a
    // reply runs into the write deadline.
    const Kxapi::DemodMsg request = SupportedStatsRequest(1000);
    for (int i = 0; i < 24; i++)
        ASSERT_TRUE(SendOnly(attacker, request));
    EXPECT_TRUE(kxtest::WaitUntil([&] { return !holdsAttacker(); }, SERVED_WITHIN_MS))
        << "the service still holds the attacker's connection";
    // The attacker finds its connection closed after the replies that fitted.
    int replies = 0;
    while (NextResult(attacker, SERVED_WITHIN_MS) == KXAPI_OK)
        replies++;
    EXPECT_NE(attacker.Messenger().LastResult(), KXAPI_E_TIMEOUT) << "the connection is still open";
    EXPECT_LT(replies, 24);
    std::vector<int32_t> ids;
    EXPECT_TRUE(ServedInTime("supported statistics", [&] { return client.Svc().SupportedStatsGetOld(16, ids); }));
    EXPECT_TRUE(WellBehavedClientIsServed());
    EXPECT_TRUE(StopsOnSigterm(STOPS_WITHIN_MS));
}

TEST_F(HostileServiceTest, AnEventFifoThatNeverAnswersHoldsUpOnlyTheClientThatNamedIt)
{
    RawDemodConnection attacker, client;
    ASSERT_TRUE(OpenAttached(attacker));
    ASSERT_TRUE(OpenAttached(client));
    std::vector<int32_t> ids;
    for (int round = 0; round < 3; round++) {
        SCOPED_TRACE(round);
        const std::string name = "KxapiDemodSvc_EvPipe_3460000001_1_6_" + std::to_string(round);
        SilentEventFifo silent(Fifo(name));
        ASSERT_TRUE(silent.Ready());
        Kxapi::DemodMsg request;
        ASSERT_EQ(Kxapi::DemodBuildEventRegisterReq(Wide(name), 3, request), KXAPI_OK);
        ASSERT_TRUE(SendOnly(attacker, request));
        // The service now waits for the silent FIFO's answer: the other client is served
        // meanwhile, before the attacker's registration has even been answered.
        ASSERT_TRUE(silent.RequestArrived(SERVED_WITHIN_MS));
        EXPECT_TRUE(ServedInTime("supported statistics", [&] { return client.Svc().SupportedStatsGetOld(16, ids); }));
        EXPECT_EQ(NextResult(attacker, 0), KXAPI_E_TIMEOUT) << "the registration was answered first";
        EXPECT_EQ(NextResult(attacker, SERVED_WITHIN_MS), KXAPI_E_INTERNAL);
    }
    EXPECT_TRUE(WellBehavedClientIsServed());
    EXPECT_TRUE(StopsOnSigterm(STOPS_WITHIN_MS));
}

TEST_F(HostileServiceTest, EventRegistrationsAreBoundedAndAllReleasedAtDetach)
{
    RawDemodConnection attacker;
    ASSERT_TRUE(OpenAttached(attacker));
    const size_t before = ServiceDescriptors();
    std::vector<std::unique_ptr<kxtest::EventSink>> sinks;
    for (size_t i = 0; i <= DemodPortController::MAX_EVENT_PIPES_PER_CLIENT; i++) {
        sinks.push_back(
            std::make_unique<kxtest::EventSink>("KxapiDemodSvc_EvPipe_3460000001_1_7_" + std::to_string(i)));
        ASSERT_TRUE(sinks.back()->Ready());
        const KXAPI_RESULT result = attacker.Svc().EventPipeRegister(sinks.back()->WideName(), 3);
        if (i < DemodPortController::MAX_EVENT_PIPES_PER_CLIENT)
            ASSERT_EQ(result, KXAPI_OK) << i;
        else
            EXPECT_EQ(result, KXAPI_E_OUT_OF_RESOURCES) << "one registration too many was accepted";
    }
    EXPECT_GT(ServiceDescriptors(), before);

    ASSERT_EQ(attacker.Svc().Detach(), KXAPI_OK);
    for (size_t i = 0; i < DemodPortController::MAX_EVENT_PIPES_PER_CLIENT; i++)
        EXPECT_TRUE(kxtest::WaitUntil([&] { return sinks[i]->Closed(); }, SERVED_WITHIN_MS)) << i;
    EXPECT_TRUE(kxtest::WaitUntil([&] { return ServiceDescriptors() <= before; }, SERVED_WITHIN_MS))
        << ServiceDescriptors() << " descriptors, " << before << " before the registrations";
    EXPECT_TRUE(WellBehavedClientIsServed());
    EXPECT_TRUE(StopsOnSigterm(STOPS_WITHIN_MS));
}

TEST_F(HostileServiceTest, FullEventFifosNeitherStallThePortNorStayRegistered)
{
    RawDemodConnection attacker, client, observer;
    ASSERT_TRUE(OpenAttached(client));
    ASSERT_TRUE(OpenAttached(observer));
    kxtest::EventSink sink("KxapiDemodSvc_EvPipe_3460000001_1_8_good");
    ASSERT_TRUE(sink.Ready());
    ASSERT_EQ(observer.Svc().EventPipeRegister(sink.WideName(), 3), KXAPI_OK);
    ASSERT_TRUE(OpenAttached(attacker));
    const size_t before = ServiceDescriptors();
    std::vector<std::unique_ptr<StuffedEventFifo>> stuffed;
    for (size_t i = 0; i < DemodPortController::MAX_EVENT_PIPES_PER_CLIENT; i++) {
        const std::string name = "KxapiDemodSvc_EvPipe_3460000001_1_8_" + std::to_string(i);
        stuffed.push_back(std::make_unique<StuffedEventFifo>(Fifo(name)));
        ASSERT_TRUE(stuffed.back()->Ready());
        ASSERT_EQ(attacker.Svc().EventPipeRegister(Wide(name), 3), KXAPI_OK) << i;
        ASSERT_TRUE(kxtest::WaitUntil([&] { return stuffed.back()->Connected(); }, SERVED_WITHIN_MS));
    }

    // Tunes by another client (the attacker's FIFOs are told of each) still run at once,
    // and statistics keep being answered.
    int64_t freqHz = FREQ_B_HZ;
    std::vector<int32_t> ids;
    for (int round = 0; round < 3; round++) {
        SCOPED_TRACE(round);
        EXPECT_TRUE(TunedInTime(client, freqHz));
        EXPECT_TRUE(ServedInTime("supported statistics", [&] { return client.Svc().SupportedStatsGetOld(16, ids); }));
        freqHz = freqHz == FREQ_A_HZ ? FREQ_B_HZ : FREQ_A_HZ;
    }
    // The full FIFOs were dropped; the well-behaved subscriber heard of every tune.
    EXPECT_TRUE(kxtest::WaitUntil([&] { return ServiceDescriptors() <= before; }, 10000))
        << ServiceDescriptors() << " descriptors, " << before << " before the registrations";
    EXPECT_TRUE(kxtest::WaitUntil(
        [&] { return sink.EventsOfKind(Kxapi::DEMOD_EVENT_PARS_CHANGED).size() == 3; }, 10000));
    EXPECT_TRUE(WellBehavedClientIsServed());
    EXPECT_TRUE(StopsOnSigterm(STOPS_WITHIN_MS));
}

} // namespace hostile
