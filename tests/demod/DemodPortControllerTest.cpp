// The port controller with a scripted HAL: attach and detach, queued and immediate commands,
// replies, remembered tuning with its change events, the bounded wait of commands the
// worker must run, and what one client can no longer do to another (event FIFOs it does not
// own, unbounded registrations, replies it never takes).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <utility>

#include "PortFixture.h"

using namespace Kxapi;
using kxtest::EventSink;
using kxtest::RecordingPortClient;
using kxtest::TestDemodHal;
using kxtest::WaitUntil;

namespace {

constexpr long long FREQ_A_HZ = 474000000;
constexpr long long FREQ_B_HZ = 482000000;

class PortTest : public kxtest::PortFixture {
protected:
    void SetUp() override { InitPort({FREQ_A_HZ, FREQ_B_HZ}); }
    void AttachAndLock(RecordingPortClient& client, long long freqHz = FREQ_A_HZ)
    {
        ASSERT_TRUE(m_Port.Attach());
        ASSERT_EQ(Result(client, kxtest::GenericReq(DEMOD_CMD_TUNE, kxtest::TuneXml(freqHz))), KXAPI_OK);
        ASSERT_TRUE(WaitUntil([&] { return m_Port.State() == 3 && m_Hal.m_FreqHz.load() == freqHz; }, 3000));
    }
};

} // namespace

TEST_F(PortTest, FirstUserTunesAndLocksAndTheLastUserReleasesThePort)
{
    EXPECT_EQ(m_Hal.Count("InitPort"), 1);
    EXPECT_TRUE(WaitUntil([&] { return m_Port.State() == 1; }, 1000));
    RecordingPortClient client;
    AttachAndLock(client);
    EXPECT_EQ(m_Hal.Count("OnFirstUsage"), 1);
    EXPECT_EQ(m_Hal.Executed("Tune"), (std::vector<long long>{FREQ_A_HZ}));
    ASSERT_TRUE(m_Port.Attach()); // a second user: the HAL is not asked again
    EXPECT_EQ(m_Hal.Count("OnFirstUsage"), 1);
    EXPECT_EQ(m_Port.UserCount(), 2);

    RecordingPortClient other;
    EXPECT_TRUE(m_Port.Detach(&other));
    EXPECT_EQ(m_Hal.Count("OnLastUsageEnds"), 0);
    EXPECT_EQ(m_Port.State(), 3);
    EXPECT_TRUE(m_Port.Detach(&client));
    EXPECT_EQ(m_Hal.Count("OnLastUsageEnds"), 1);
    EXPECT_TRUE(WaitUntil([&] { return m_Port.State() == 1; }, 1000));
}

TEST_F(PortTest, AnIdlePortsThreadsSleepUntilAClientAttaches)
{
    ASSERT_TRUE(WaitUntil([&] { return m_Port.State() == 1; }, 1000));
    XpUtil::Sleep(100);
    const long long worker = kxtest::NamedThreadsContextSwitches("DemodPort");
    const long long events = kxtest::NamedThreadsContextSwitches("DemodPortEvents");
    XpUtil::Sleep(2500);
    // No tick while nobody uses the port, and the event writer sleeps while it has nothing
    // to send.
    EXPECT_LE(kxtest::NamedThreadsContextSwitches("DemodPort") - worker, 1);
    EXPECT_LE(kxtest::NamedThreadsContextSwitches("DemodPortEvents") - events, 1);
    // An attach wakes the worker: the port acquires at once.
    ASSERT_TRUE(m_Port.Attach());
    EXPECT_TRUE(WaitUntil([&] { return m_Port.State() >= 2; }, 300));
}

TEST_F(PortTest, QueuedCommandsAreAnsweredAtOnceAndRunOnlyWhileThePortHasAUser)
{
    RecordingPortClient a, b;
    // Checked and answered, then held: nobody uses the port yet.
    EXPECT_EQ(Result(a, kxtest::GenericReq(DEMOD_CMD_TUNE, kxtest::TuneXml(FREQ_A_HZ))), KXAPI_OK);
    EXPECT_EQ(Result(b, kxtest::GenericReq(DEMOD_CMD_TUNE, kxtest::TuneXml(FREQ_B_HZ))), KXAPI_OK);
    XpUtil::Sleep(250);
    EXPECT_TRUE(m_Hal.Executed("Tune").empty());
    EXPECT_EQ(m_Hal.Count("Tune"), 2); // the two validation passes

    ASSERT_TRUE(m_Port.Attach());
    // The later tune replaced the earlier one in the queue.
    EXPECT_TRUE(WaitUntil([&] { return m_Hal.Executed("Tune").size() == 1; }, 2000));
    XpUtil::Sleep(200);
    EXPECT_EQ(m_Hal.Executed("Tune"), (std::vector<long long>{FREQ_B_HZ}));
    EXPECT_TRUE(WaitUntil([&] { return m_Port.State() == 3; }, 2000));
}

TEST_F(PortTest, RequestsTheCheckRefusesAreAnsweredAndNeverQueued)
{
    RecordingPortClient client;
    ASSERT_TRUE(m_Port.Attach());
    // Out of the HAL's range: refused by the validation pass.
    EXPECT_EQ(Result(client, kxtest::GenericReq(DEMOD_CMD_TUNE, kxtest::TuneXml(41999999))), KXAPI_E_INVALID_FREQ);
    XpUtil::Sleep(250); // before any later command could replace it in the queue
    EXPECT_TRUE(m_Hal.Executed("Tune").empty());
    // No "FreqHz": nothing reaches the HAL.
    KxDemodPars pars(KX_MOD_DVBT);
    std::wstring xml;
    pars.ToXml(xml);
    EXPECT_EQ(Result(client, kxtest::GenericReq(DEMOD_CMD_TUNE, xml)), KXAPI_E_INTERNAL);
    // Generic text without its final wide NUL.
    DemodMsg bad = kxtest::GenericReq(DEMOD_CMD_TUNE, kxtest::TuneXml(FREQ_A_HZ));
    bad.back() = 'x';
    EXPECT_EQ(Result(client, bad), KXAPI_E_INTERNAL);
    XpUtil::Sleep(250);
    EXPECT_EQ(m_Hal.Count("Tune"), 1);
    EXPECT_TRUE(m_Hal.Executed("Tune").empty());

    // Unknown code and short request.
    DemodMsg unknown = DemodBuildCodeOnly(44);
    DemodMsg reply = Request(client, unknown);
    ASSERT_EQ(reply.size(), 8u);
    EXPECT_EQ(KxGetU32(reply.data(), 0), 44u);
    EXPECT_EQ(KxGetU32(reply.data(), 4), KXAPI_E_INVALID_PARS);
    DemodMsg shortTune(31, 0);
    KxPutU32(shortTune.data(), 0, DEMOD_CMD_TUNE_OLD);
    EXPECT_EQ(Result(client, shortTune), KXAPI_E_INVALID_HEADER);
    // A message without a whole command code is ignored.
    const size_t before = client.Count();
    m_Port.ProcessDemodMsg(unknown.data(), 3, &client);
    EXPECT_EQ(client.Count(), before);
}

TEST_F(PortTest, FixedFormsThatAreNotSupportedAnswerTheirFullLength)
{
    RecordingPortClient client;
    DemodMsg eight = DemodBuildCodeOnly(DEMOD_CMD_UNSUPPORTED_8);
    eight.resize(40, 0xAB);
    DemodMsg reply = Request(client, eight);
    ASSERT_EQ(reply.size(), 12u);
    EXPECT_EQ(KxGetU32(reply.data(), 4), KXAPI_E_NOT_SUPPORTED);
    DemodMsg ten(12, 0);
    KxPutU32(ten.data(), 0, DEMOD_CMD_UNSUPPORTED_10);
    reply = Request(client, ten);
    ASSERT_EQ(reply.size(), 16u);
    EXPECT_EQ(KxGetU32(reply.data(), 4), KXAPI_E_NOT_SUPPORTED);
}

TEST_F(PortTest, DiseqcWithoutReplyRoomPassesNoBufferAndRepliesTwelveBytes)
{
    RecordingPortClient client;
    ASSERT_TRUE(m_Port.Attach());
    DemodMsg reply = Request(client, DemodBuildDiseqcReq(0, {0xE0, 0x10, 0x38, 0xF0}));
    ASSERT_EQ(reply.size(), 12u);
    EXPECT_EQ(KxGetU32(reply.data(), 4), KXAPI_OK);
    EXPECT_EQ(KxGetI32(reply.data(), 8), 0);
    EXPECT_TRUE(m_Hal.m_DiseqcReplyWasNull.load());

    m_Hal.m_DiseqcReplyLength = 2;
    reply = Request(client, DemodBuildDiseqcReq(4, {0xE0, 0x10, 0x38, 0xF0}));
    ASSERT_EQ(reply.size(), 14u);
    EXPECT_FALSE(m_Hal.m_DiseqcReplyWasNull.load());
    EXPECT_EQ(reply[12], 0xE0);
    EXPECT_EQ(reply[13], 0xE1);
}

TEST_F(PortTest, WaitedCommandWithoutAUserIsWithdrawnInsteadOfHoldingThePort)
{
    // The port refuses its first user; the client's attach was still answered, so it may
    // send commands that the worker will never run.
    m_Hal.m_FirstUsageResult = KXAPI_E_DEV_DRIVER;
    EXPECT_FALSE(m_Port.Attach());
    EXPECT_EQ(m_Port.UserCount(), 0);
    RecordingPortClient client;
    const DemodMsg lnb = DemodBuildWordReq(DEMOD_CMD_LNB_ENABLE, 1);
    EXPECT_EQ(Result(client, lnb), KXAPI_E_NOT_ATTACHED);
    EXPECT_TRUE(m_Hal.Executed("LnbEnable").empty());

    // The port is free for the next command, and a real user gets it run.
    m_Hal.m_FirstUsageResult = KXAPI_OK;
    ASSERT_TRUE(m_Port.Attach());
    EXPECT_EQ(Result(client, lnb), KXAPI_OK);
    EXPECT_EQ(m_Hal.Executed("LnbEnable"), (std::vector<long long>{1}));
}

TEST_F(PortTest, ALeavingClientsQueuedCommandsAreDroppedAndOthersRun)
{
    RecordingPortClient leaving, staying;
    // Held while the port has no user: the leaving client's tune, then another client's
    // frequency change (a different tuning-class code, so both wait in the queue).
    ASSERT_EQ(Result(leaving, kxtest::GenericReq(DEMOD_CMD_TUNE, kxtest::TuneXml(FREQ_A_HZ))), KXAPI_OK);
    ASSERT_EQ(Result(staying, DemodBuildFreqSetReq(FREQ_B_HZ)), KXAPI_OK);
    EXPECT_TRUE(m_Port.Detach(&leaving));
    ASSERT_TRUE(m_Port.Attach());
    EXPECT_TRUE(WaitUntil([&] { return m_Hal.Executed("SetTunerFrequency").size() == 1; }, 2000));
    XpUtil::Sleep(300);
    EXPECT_TRUE(m_Hal.Executed("Tune").empty()); // the departed client's tune never runs
    EXPECT_EQ(m_Hal.Executed("SetTunerFrequency"), (std::vector<long long>{FREQ_B_HZ}));
    // Only the remaining command held the statistics back: they come back after it.
    EXPECT_TRUE(WaitUntil([&] {
        bool locked = false;
        int32_t mer = 0;
        DemodMsg reply = Request(staying, DemodBuildCodeOnly(DEMOD_CMD_LOCK_MER_GET_OLD));
        return DemodParseLockMerReply(reply.data(), reply.size(), locked, mer) == KXAPI_OK && locked;
    }, 3000));
}

TEST_F(PortTest, ADetachNeverCountsBelowZeroNorReleasesAnotherClientsPort)
{
    RecordingPortClient refused, user;
    m_Hal.m_FirstUsageResult = KXAPI_E_DEV_DRIVER;
    EXPECT_FALSE(m_Port.Attach());
    EXPECT_TRUE(m_Port.Detach(&refused));
    EXPECT_EQ(m_Port.UserCount(), 0);
    EXPECT_EQ(m_Hal.Count("OnLastUsageEnds"), 0);

    m_Hal.m_FirstUsageResult = KXAPI_OK;
    ASSERT_TRUE(m_Port.Attach());
    EXPECT_TRUE(m_Port.Detach(&refused, false)); // was never counted
    EXPECT_EQ(m_Port.UserCount(), 1);
    EXPECT_EQ(m_Hal.Count("OnLastUsageEnds"), 0);
    EXPECT_TRUE(m_Port.Detach(&user));
    EXPECT_EQ(m_Port.UserCount(), 0);
    EXPECT_EQ(m_Hal.Count("OnLastUsageEnds"), 1);
    EXPECT_TRUE(m_Port.Detach(&user));
    EXPECT_EQ(m_Port.UserCount(), 0);
    EXPECT_EQ(m_Hal.Count("OnLastUsageEnds"), 1);
}

TEST_F(PortTest, ImmediateHalReadsAnswerOnTheClientsThread)
{
    RecordingPortClient client;
    DemodMsg reply = Request(client, DemodBuildCodeOnly(DEMOD_CMD_TUNE_PARS_GET));
    KxTunePars pars;
    ASSERT_EQ(DemodParseTuneParsReply(reply.data(), reply.size(), DEMOD_CMD_TUNE_PARS_GET, pars), KXAPI_OK);
    EXPECT_EQ(pars.m_Words[8], 9);

    std::wstring xml;
    DemodAppendIntElem(xml, DEMOD_ELEM_PORT, 1);
    DemodAppendIntElem(xml, DEMOD_ELEM_ATTRIBUTE_ID, DEMOD_ATTR_MOD_FREQ_ABSMAX);
    reply = Request(client, kxtest::GenericReq(DEMOD_CMD_GET_ATTRIBUTE, xml));
    std::wstring text;
    ASSERT_EQ(DemodParseGenericReply(reply.data(), reply.size(), DEMOD_CMD_GET_ATTRIBUTE, text), KXAPI_OK);
    EXPECT_EQ(text, L"<Value>870</Value>");

    xml.clear();
    DemodAppendIntElem(xml, DEMOD_ELEM_ATTRIBUTE_ID, 99);
    EXPECT_EQ(Result(client, kxtest::GenericReq(DEMOD_CMD_GET_ATTRIBUTE, xml)), KXAPI_E_NOT_SUPPORTED);
    EXPECT_EQ(Result(client, DemodBuildCodeOnly(DEMOD_CMD_INIT_DEMODULATOR)), KXAPI_OK);
    EXPECT_EQ(Result(client, DemodBuildCodeOnly(DEMOD_CMD_BLIND_SCAN_CANCEL)), KXAPI_E_IDLE);
    EXPECT_EQ(Result(client, DemodBuildCodeOnly(DEMOD_CMD_SPECTRUM_SCAN_CANCEL)), KXAPI_E_IDLE);
}

TEST_F(PortTest, OtherClientsLearnOfTuningChangesAndTheSenderDoesNot)
{
    EventSink sinkA("KxapiDemodSvc_EvPipe_1_1_1_1");
    EventSink sinkB("KxapiDemodSvc_EvPipe_1_1_1_2");
    ASSERT_TRUE(sinkA.Ready() && sinkB.Ready());
    RecordingPortClient a, b;
    ASSERT_TRUE(m_Port.Attach());
    ASSERT_TRUE(m_Port.Attach());
    Register(a, sinkA, 3);
    Register(b, sinkB, 3);

    ASSERT_EQ(Result(a, kxtest::GenericReq(DEMOD_CMD_TUNE, kxtest::TuneXml(FREQ_A_HZ))), KXAPI_OK);
    ASSERT_TRUE(WaitUntil([&] { return sinkB.Events().size() == 2; }, 3000));
    auto freq = sinkB.EventsOfKind(DEMOD_EVENT_FREQ_CHANGED);
    auto pars = sinkB.EventsOfKind(DEMOD_EVENT_PARS_CHANGED);
    ASSERT_EQ(freq.size(), 1u);
    ASSERT_EQ(pars.size(), 1u);
    EXPECT_EQ(freq[0].m_OldFreqHz, 0);
    EXPECT_EQ(freq[0].m_NewFreqHz, FREQ_A_HZ);
    EXPECT_EQ(freq[0].m_Serial, TestDemodHal::SERIAL);
    EXPECT_EQ(freq[0].m_Port, 1);
    EXPECT_EQ(pars[0].m_OldPars.m_ModType, -1);
    EXPECT_EQ(pars[0].m_NewPars.m_ModType, KX_MOD_DVBT);
    EXPECT_EQ(pars[0].m_NewFreqHz, FREQ_A_HZ);

    // Same frequency again: only the parameter event.
    ASSERT_EQ(Result(a, kxtest::GenericReq(DEMOD_CMD_TUNE, kxtest::TuneXml(FREQ_A_HZ))), KXAPI_OK);
    ASSERT_TRUE(WaitUntil([&] { return sinkB.Events().size() == 3; }, 3000));
    EXPECT_EQ(sinkB.EventsOfKind(DEMOD_EVENT_PARS_CHANGED).size(), 2u);

    // The second tuner of a port changes neither the remembered tuning nor sends events.
    std::wstring xml;
    DemodAppendIntElem(xml, DEMOD_ELEM_FREQ_HZ, FREQ_B_HZ);
    DemodAppendIntElem(xml, DEMOD_ELEM_TUNER_ID, 1);
    ASSERT_EQ(Result(a, kxtest::GenericReq(DEMOD_CMD_TUNER_FREQ_SET, xml)), KXAPI_OK);
    ASSERT_TRUE(WaitUntil([&] { return !m_Hal.Executed("SetTunerFrequency1").empty(); }, 3000));

    // B tunes: A hears of it, with A's frequency as the old one.
    ASSERT_EQ(Result(b, kxtest::GenericReq(DEMOD_CMD_TUNE, kxtest::TuneXml(FREQ_B_HZ))), KXAPI_OK);
    ASSERT_TRUE(WaitUntil([&] { return sinkA.Events().size() == 2; }, 3000));
    auto toA = sinkA.EventsOfKind(DEMOD_EVENT_FREQ_CHANGED);
    ASSERT_EQ(toA.size(), 1u);
    EXPECT_EQ(toA[0].m_OldFreqHz, FREQ_A_HZ);
    EXPECT_EQ(toA[0].m_NewFreqHz, FREQ_B_HZ);
    XpUtil::Sleep(200);
    EXPECT_EQ(sinkB.Events().size(), 3u);
    EXPECT_EQ(sinkA.Events().size(), 2u);
    m_Port.Detach(&a);
    m_Port.Detach(&b);
}

TEST_F(PortTest, AnEventFifoBelongsToTheClientThatRegisteredIt)
{
    EventSink sink("KxapiDemodSvc_EvPipe_1_1_1_3");
    ASSERT_TRUE(sink.Ready());
    RecordingPortClient a, b, c;
    ASSERT_TRUE(m_Port.Attach());
    Register(a, sink, 0);

    // Another client can neither take the name over nor switch its events on.
    EXPECT_EQ(RegisterResult(b, sink, 3), KXAPI_E_IN_USE);
    EXPECT_EQ(m_Port.EventMessengerCount(&b), 0u);
    ASSERT_EQ(Result(c, kxtest::GenericReq(DEMOD_CMD_TUNE, kxtest::TuneXml(FREQ_A_HZ))), KXAPI_OK);
    ASSERT_TRUE(WaitUntil([&] { return m_Hal.Executed("Tune").size() == 1; }, 3000));
    XpUtil::Sleep(200);
    EXPECT_TRUE(sink.Events().empty());

    // The owner registering again keeps one messenger and takes the new mask: kind 0 only.
    ASSERT_EQ(RegisterResult(a, sink, DEMOD_EVENT_MASK_FREQ), KXAPI_OK);
    EXPECT_EQ(m_Port.EventMessengerCount(), 1u);
    // A's own change is still suppressed.
    ASSERT_EQ(Result(a, kxtest::GenericReq(DEMOD_CMD_TUNE, kxtest::TuneXml(FREQ_B_HZ))), KXAPI_OK);
    ASSERT_TRUE(WaitUntil([&] { return m_Hal.Executed("Tune").size() == 2; }, 3000));
    ASSERT_EQ(Result(c, kxtest::GenericReq(DEMOD_CMD_TUNE, kxtest::TuneXml(FREQ_A_HZ))), KXAPI_OK);
    ASSERT_TRUE(WaitUntil([&] { return !sink.Events().empty(); }, 3000));
    XpUtil::Sleep(200);
    auto events = sink.Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].m_Kind, static_cast<uint32_t>(DEMOD_EVENT_FREQ_CHANGED));
    EXPECT_EQ(events[0].m_OldFreqHz, FREQ_B_HZ);

    // A FIFO nobody listens on cannot be registered.
    DemodMsg nobody;
    ASSERT_EQ(DemodBuildEventRegisterReq(L"KxapiDemodSvc_EvPipe_9_9_9_9", 3, nobody), KXAPI_OK);
    EXPECT_EQ(Result(a, nobody), KXAPI_E_INTERNAL);
    DemodMsg unsafe;
    ASSERT_EQ(DemodBuildEventRegisterReq(L"../etc", 3, unsafe), KXAPI_OK);
    EXPECT_EQ(Result(a, unsafe), KXAPI_E_INTERNAL);
    m_Port.Detach(&a);
    EXPECT_TRUE(WaitUntil([&] { return sink.Closed(); }, 2000));
}

TEST_F(PortTest, EventRegistrationsAreCappedPerClientAndPerPort)
{
    constexpr size_t PER_CLIENT = DemodPortController::MAX_EVENT_PIPES_PER_CLIENT;
    constexpr size_t PER_PORT = DemodPortController::MAX_EVENT_PIPES_PER_PORT;
    std::vector<std::unique_ptr<EventSink>> sinks;
    auto newSink = [&]() -> EventSink& {
        sinks.push_back(std::make_unique<EventSink>("KxapiDemodSvc_EvPipe_2_1_" + std::to_string(sinks.size())));
        return *sinks.back();
    };
    std::vector<RecordingPortClient> clients(PER_PORT / PER_CLIENT + 1);
    ASSERT_TRUE(m_Port.Attach());

    // Each client fills its allowance; one more is refused before anything is connected.
    for (size_t c = 0; c + 1 < clients.size(); c++) {
        for (size_t i = 0; i < PER_CLIENT; i++)
            Register(clients[c], newSink(), 3);
        EventSink& extra = newSink();
        EXPECT_EQ(RegisterResult(clients[c], extra, 3), KXAPI_E_OUT_OF_RESOURCES) << "client " << c;
        EXPECT_FALSE(extra.Connected());
    }
    // The port is full: a client with no registration of its own is refused too.
    RecordingPortClient& late = clients.back();
    EXPECT_EQ(RegisterResult(late, newSink(), 3), KXAPI_E_OUT_OF_RESOURCES);
    EXPECT_EQ(m_Port.EventMessengerCount(), PER_PORT);

    // A client that leaves gives its room back.
    m_Port.Detach(&clients[0]);
    EXPECT_EQ(m_Port.EventMessengerCount(), PER_PORT - PER_CLIENT);
    Register(late, newSink(), 3);
    for (RecordingPortClient& client : clients)
        m_Port.Detach(&client);
    EXPECT_EQ(m_Port.EventMessengerCount(), 0u);
}

TEST_F(PortTest, DetachClosesEveryEventFifoOfTheClientAndNoneOfAnother)
{
    EventSink a1("KxapiDemodSvc_EvPipe_3_1_1_1"), a2("KxapiDemodSvc_EvPipe_3_1_1_2"),
        a3("KxapiDemodSvc_EvPipe_3_1_1_3"), b1("KxapiDemodSvc_EvPipe_3_1_2_1");
    RecordingPortClient a, b, c;
    ASSERT_TRUE(m_Port.Attach());
    ASSERT_TRUE(m_Port.Attach());
    for (EventSink* sink : {&a1, &a2, &a3})
        Register(a, *sink, 3);
    Register(b, b1, 3);

    EXPECT_TRUE(m_Port.Detach(&a));
    EXPECT_EQ(m_Port.EventMessengerCount(&a), 0u);
    EXPECT_EQ(m_Port.EventMessengerCount(), 1u);
    EXPECT_TRUE(WaitUntil([&] { return a1.Closed() && a2.Closed() && a3.Closed(); }, 2000));
    EXPECT_FALSE(b1.Closed());
    // B keeps hearing of changes.
    ASSERT_EQ(Result(c, kxtest::GenericReq(DEMOD_CMD_TUNE, kxtest::TuneXml(FREQ_B_HZ))), KXAPI_OK);
    EXPECT_TRUE(WaitUntil([&] { return b1.Events().size() == 2; }, 3000));
    m_Port.Detach(&b);
    EXPECT_TRUE(WaitUntil([&] { return b1.Closed(); }, 2000));
}

// A reply that cannot be written (the client's reply FIFO stays full) blocks only the thread
// of that client: neither another client of the port nor the worker waits for it, whether the
// command is answered on the client's thread or run by the worker first.
TEST_F(PortTest, AClientThatTakesNoReplyHoldsUpNeitherOtherClientsNorTheWorker)
{
    const DemodMsg lnb = DemodBuildWordReq(DEMOD_CMD_LNB_ENABLE, 1);
    const std::vector<std::pair<const char*, DemodMsg>> stuckRequests = {
        {"answered at once", DemodBuildCodeOnly(DEMOD_CMD_TUNE_PARS_GET)},
        {"run by the worker", lnb},
    };
    RecordingPortClient other;
    AttachAndLock(other);
    long long freqHz = FREQ_A_HZ;
    for (const auto& [what, request] : stuckRequests) {
        SCOPED_TRACE(what);
        kxtest::StuckPortClient stuck;
        std::thread stuckThread([&, msg = request] { Send(stuck, msg); });
        ASSERT_TRUE(WaitUntil([&] { return stuck.Blocked(); }, 3000));

        freqHz = freqHz == FREQ_A_HZ ? FREQ_B_HZ : FREQ_A_HZ;
        const size_t before = other.Count();
        const size_t tunesBefore = m_Hal.Executed("Tune").size();
        std::thread otherThread([&] {
            Send(other, kxtest::GenericReq(DEMOD_CMD_TUNE, kxtest::TuneXml(freqHz)));
            Send(other, lnb);
        });
        EXPECT_TRUE(WaitUntil([&] { return other.Count() == before + 2; }, 2000));
        EXPECT_TRUE(WaitUntil([&] { return m_Hal.Executed("Tune").size() > tunesBefore; }, 2000));
        stuck.Release();
        stuckThread.join();
        otherThread.join();
        EXPECT_EQ(stuck.LastResult(), KXAPI_OK);
    }
}
