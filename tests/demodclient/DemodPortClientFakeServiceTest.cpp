// The demod port client against a scripted stand-in of the service's demod FIFO, in this
// process: the exact message order of opening and closing, the bounded wait for the event
// FIFO connection, event dispatch, and reconnect with re-attach after a broken transfer.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <vector>

#include "CrossPlatform.h"
#include "DemodClientFixture.h"
#include "DemodPortClient.h"
#include "DemodSvcEvents.h"
#include "DemodSvcGeneric.h"
#include "DemodSvcLayouts.h"
#include "KxScanProgress.h"
#include "KxWire.h"
#include "PipeMessenger.h"
#include "TestSupport.h"
#include "XpUtil.h"

namespace demodclient {
namespace {

using Kxapi::DemodEvent;
using Kxapi::DemodMsg;
using Kxapi::DemodPortClient;

constexpr int64_t SERIAL = 3460000001;
constexpr int64_t FAKE_FREQ_HZ = 474000000;
constexpr int FIXED_SCAN_FOUND = 5;

// One request as the stand-in received it.
struct Received {
    uint32_t m_Code = 0;
    size_t m_Size = 0;
    int64_t m_Serial = 0;   // attach
    int32_t m_Port = 0;     // attach
    std::wstring m_EvName;  // registration
    uint64_t m_EvMask = 0;  // registration
    int m_Connection = 0;   // 1 for the first connection, 2 for the next ...
    std::vector<Kxapi::KxStatistic> m_Stats; // statistics read (38)
};

// Serves "DemodRecvPipe" like the service, within what these tests need: attach, init,
// event registration (connecting to the client's event FIFO unless told not to), the tuner
// frequency read, and close. Optionally drops a connection instead of answering.
class FakeDemodService {
public:
    bool m_ConnectEventFifo = true;
    std::atomic<int> m_DropNextCode{-1}; // close the connection on this code instead of replying
    std::atomic<int> m_RefuseAttaches{0}; // this many attaches answer KXAPI_E_NO_SUCH_DEVICE

    FakeDemodService()
    {
        m_pListener = Xp::Instance()->NewPipeListener();
        m_Ok = m_pListener != nullptr && m_pListener->Init("DemodRecvPipe") == KXAPI_OK;
        if (m_Ok)
            m_Accept = std::thread([this] { Accept(); });
    }
    ~FakeDemodService()
    {
        m_Run = false;
        if (m_pListener != nullptr)
            m_pListener->StopWaiting();
        if (m_Accept.joinable())
            m_Accept.join();
        for (std::thread& t : m_Handlers)
            t.join();
        delete m_pListener;
    }
    bool Ok() const { return m_Ok; }

    std::vector<Received> Requests()
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_Requests;
    }
    std::vector<uint32_t> Codes()
    {
        std::vector<uint32_t> codes;
        for (const Received& r : Requests())
            codes.push_back(r.m_Code);
        return codes;
    }
    // Writes one framed event body to the client's event FIFO.
    bool SendEvent(const DemodMsg& body)
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        if (!m_pEventWriter)
            return false;
        DemodMsg copy(body);
        return m_pEventWriter->WriteMsg(reinterpret_cast<char*>(copy.data()), static_cast<int>(copy.size()));
    }
    bool HasEventWriter()
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_pEventWriter != nullptr;
    }

private:
    void Accept()
    {
        int number = 0;
        while (m_Run.load()) {
            IXpPipeConnection* pConnection = nullptr;
            if (m_pListener->WaitConnection(pConnection) != KXAPI_OK || pConnection == nullptr)
                continue;
            int connection = ++number;
            std::lock_guard<std::mutex> lock(m_Mutex);
            m_Handlers.emplace_back([this, pConnection, connection] { Serve(pConnection, connection); });
        }
    }

    void Serve(IXpPipeConnection* pConnection, int connection)
    {
        PipeMessenger messenger(pConnection);
        while (m_Run.load()) {
            char* pBody = nullptr;
            int size = 0;
            if (!messenger.ReadMsg(pBody, size, 200)) {
                if (messenger.LastResult() == KXAPI_E_TIMEOUT)
                    continue;
                return;
            }
            std::unique_ptr<char, decltype(&free)> body(pBody, &free);
            if (size < 4)
                continue;
            const uint8_t* p = reinterpret_cast<const uint8_t*>(pBody);
            Received received;
            received.m_Code = KxGetU32(p, 0);
            received.m_Size = static_cast<size_t>(size);
            received.m_Connection = connection;
            uint32_t xtra = 0;
            if (received.m_Code == 1)
                Kxapi::DemodParseAttach(p, received.m_Size, received.m_Serial, received.m_Port, xtra);
            if (received.m_Code == 26)
                Kxapi::DemodParseEventRegisterReq(p, received.m_Size, received.m_EvName, received.m_EvMask);
            std::wstring statsXml;
            if (received.m_Code == 38 && Kxapi::DemodParseGenericReq(p, received.m_Size, statsXml) == KXAPI_OK)
                Kxapi::KxStatistic::FromXml(statsXml, received.m_Stats);
            {
                std::lock_guard<std::mutex> lock(m_Mutex);
                m_Requests.push_back(received);
            }
            if (received.m_Code == 0xFFFFFFFFu)
                return;
            if (static_cast<int>(received.m_Code) == m_DropNextCode.load()) {
                m_DropNextCode = -1;
                return; // the connection closes without a reply
            }
            if (received.m_Code == 26 && m_ConnectEventFifo)
                ConnectEventFifo(received.m_EvName);
            KXAPI_RESULT result = KXAPI_OK;
            if (received.m_Code == 1 && m_RefuseAttaches.load() > 0) {
                m_RefuseAttaches--;
                result = KXAPI_E_NO_SUCH_DEVICE;
            }
            DemodMsg reply = received.m_Code == 13   ? Kxapi::DemodBuildFreqGetReply(KXAPI_OK, FAKE_FREQ_HZ)
                             : received.m_Code == 24 ? FixedLayoutScanReply(p, received.m_Size)
                             : received.m_Code == 38 ? StatisticsReply(received.m_Stats)
                                                     : Kxapi::DemodBuildReply(received.m_Code, result);
            messenger.WriteMsg(reinterpret_cast<char*>(reply.data()), static_cast<int>(reply.size()));
            if (received.m_Code == 50)
                ReportBlindScan();
            if (received.m_Code == 52)
                ReportSpectrumScan();
        }
    }

    // A fixed-layout blind scan that finds FIXED_SCAN_FOUND transmitters, answered as the
    // service answers it: the records that fit and the full count, KXAPI_E_BUF_TOO_SMALL when
    // they do not all fit.
    static DemodMsg FixedLayoutScanReply(const uint8_t* p, size_t size)
    {
        Kxapi::BlindScanOldReq request;
        if (Kxapi::DemodParseBlindScanOldReq(p, size, request) != KXAPI_OK)
            return Kxapi::DemodBuildReply(24, KXAPI_E_INVALID_PARS);
        std::vector<Kxapi::KxTransmitter> found;
        for (int i = 0; i < FIXED_SCAN_FOUND; i++)
            found.push_back({950000000 + 100000000LL * i, 32, 27500000});
        const bool fits = request.m_MaxTransmitters >= FIXED_SCAN_FOUND;
        DemodMsg reply = Kxapi::DemodBuildBlindScanOldReply(fits ? KXAPI_OK : KXAPI_E_BUF_TOO_SMALL,
                                                            request.m_MaxTransmitters, found);
        KxPutI32(reply.data(), 8, FIXED_SCAN_FOUND);
        return reply;
    }

    // Every integer statistic read answers 100 x its stream (first extra id) + its window
    // (second extra id), so that a reader sees what the request named.
    static DemodMsg StatisticsReply(std::vector<Kxapi::KxStatistic> stats)
    {
        for (Kxapi::KxStatistic& stat : stats) {
            stat.SetValue(int32_t{100 * stat.m_XtraId[0] + stat.m_XtraId[1]});
            stat.m_Result = KXAPI_OK;
        }
        std::wstring xml;
        Kxapi::KxStatistic::ToXml(stats.data(), static_cast<int>(stats.size()), xml);
        return Kxapi::DemodBuildGenericReply(38, KXAPI_OK, xml);
    }

    // A blind scan from 470 to 480 MHz: nothing at 470, a transmitter at 474, the end.
    void ReportBlindScan()
    {
        Kxapi::KxBsProgress step;
        step.m_Event = 0;
        step.m_FreqHz = 470000000;
        SendProgress(Kxapi::DEMOD_EVENT_BLIND_SCAN, step);
        step.m_FreqHz = 474000000;
        step.m_ChannelFound = true;
        step.m_DemodPars.FromOldStyle(15, 0, 0, 0);
        SendProgress(Kxapi::DEMOD_EVENT_BLIND_SCAN, step);
        Kxapi::KxBsProgress last;
        last.m_Event = 2;
        last.m_Result = KXAPI_OK;
        SendProgress(Kxapi::DEMOD_EVENT_BLIND_SCAN, last);
    }
    // A spectrum scan of two points that ends with an error.
    void ReportSpectrumScan()
    {
        Kxapi::KxSpsProgress step;
        step.m_Event = 0;
        step.m_FreqHz = 470000000;
        step.m_Level = -512;
        SendProgress(Kxapi::DEMOD_EVENT_SPECTRUM_SCAN, step);
        step.m_FreqHz = 471000000;
        step.m_Level = -377;
        SendProgress(Kxapi::DEMOD_EVENT_SPECTRUM_SCAN, step);
        Kxapi::KxSpsProgress last;
        last.m_Event = 2;
        last.m_Result = static_cast<int32_t>(KXAPI_E_TUNING);
        SendProgress(Kxapi::DEMOD_EVENT_SPECTRUM_SCAN, last);
    }
    template <class Progress> void SendProgress(uint32_t kind, const Progress& progress)
    {
        std::wstring xml;
        if (progress.ToXml(xml) == KXAPI_OK)
            SendEvent(Kxapi::DemodBuildScanEvent(kind, SERIAL, 1, xml));
    }

    void ConnectEventFifo(const std::wstring& name)
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        if (m_EventName == name && m_pEventWriter)
            return;
        auto writer = std::make_unique<PipeMessenger>();
        std::string narrow(name.begin(), name.end());
        if (writer->Init() && writer->Connect(narrow.c_str())) {
            m_pEventWriter = std::move(writer);
            m_EventName = name;
        }
    }

    IXpPipeListener* m_pListener = nullptr;
    bool m_Ok = false;
    std::atomic<bool> m_Run{true};
    std::thread m_Accept;
    std::vector<std::thread> m_Handlers;
    std::mutex m_Mutex;
    std::vector<Received> m_Requests;
    std::unique_ptr<PipeMessenger> m_pEventWriter;
    std::wstring m_EventName;
};

// The scripted service in a private FIFO directory, and a client of it.
class DemodPortClientFake : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_Service.Ok()); }
    void Open() { ASSERT_EQ(KXAPI_OK, m_Client.Init(SERIAL, 0)); }

    kxtest::ScopedIpcDirectory m_Dir;
    std::unique_ptr<FakeDemodService> m_pService = std::make_unique<FakeDemodService>();
    FakeDemodService& m_Service = *m_pService;
    DemodPortClient m_Client;
};

TEST_F(DemodPortClientFake, OpeningAttachesWithTheOneBasedPortInitialisesAndRegistersItsEventFifo)
{
    ASSERT_EQ(KXAPI_OK, m_Client.Init(SERIAL, 2, 77));
    std::vector<Received> requests = m_Service.Requests();
    ASSERT_EQ(3u, requests.size());
    EXPECT_EQ(1u, requests[0].m_Code);
    EXPECT_EQ(24u, requests[0].m_Size);
    EXPECT_EQ(SERIAL, requests[0].m_Serial);
    EXPECT_EQ(3, requests[0].m_Port);
    EXPECT_EQ(3u, requests[1].m_Code);
    EXPECT_EQ(26u, requests[2].m_Code);
    EXPECT_EQ(272u, requests[2].m_Size);
    EXPECT_EQ(0u, requests[2].m_EvMask);
    EXPECT_EQ(m_Client.EventPipeName(), requests[2].m_EvName);
    // The event FIFO is published in the FIFO directory under that name while the client is open.
    std::string fifo = m_Dir.File(std::string(m_Client.EventPipeName().begin(), m_Client.EventPipeName().end()));
    EXPECT_EQ(0, access(fifo.c_str(), F_OK));

    m_Client.Close();
    EXPECT_TRUE(kxtest::WaitUntil([&] { return m_Service.Codes().size() == 4; }, 2000));
    EXPECT_EQ(0xFFFFFFFFu, m_Service.Codes().back());
    EXPECT_NE(0, access(fifo.c_str(), F_OK));
}

TEST_F(DemodPortClientFake, AServiceThatNeverConnectsToTheEventFifoTimesOutTheOpening)
{
    m_Service.m_ConnectEventFifo = false;
    EXPECT_EQ(KXAPI_E_TIMEOUT, m_Client.Init(SERIAL, 0));
    EXPECT_FALSE(m_Client.IsOpen());
    // The failed client said goodbye and left no FIFO of its own behind.
    EXPECT_TRUE(kxtest::WaitUntil([&] { return !m_Service.Codes().empty() && m_Service.Codes().back() == 0xFFFFFFFFu; },
                                  2000));
    for (const std::string& name : kxtest::ListDir(m_Dir.Path()))
        EXPECT_EQ(std::string::npos, name.find("KxapiDemodSvc_EvPipe")) << name;
}

TEST_F(DemodPortClientFake, EventsOfTheirExactSizesReachTheCallbackOthersAreDropped)
{
    Open();
    EventLog log;
    ASSERT_EQ(KXAPI_OK, m_Client.CallbackRegisterEvents(log.Callback(), 3));
    EXPECT_EQ(3u, m_Service.Requests().back().m_EvMask);
    ASSERT_TRUE(m_Service.HasEventWriter());

    Kxapi::OldStyleParsWire oldPars{15, 0, 0, 0}, newPars{15, 1, 2, 3};
    DemodMsg freq = Kxapi::DemodBuildFreqEvent(SERIAL, 1, 474000000, 482000000);
    DemodMsg longFreq = freq;
    longFreq.resize(44); // a kind-0 body of the wrong size
    DemodMsg unknownKind = freq;
    KxPutU32(unknownKind.data(), 0, 9);
    Kxapi::KxSpsProgress progress;
    progress.m_FreqHz = 500000000;
    progress.m_Level = -423;
    progress.m_Event = 0;
    std::wstring xml;
    ASSERT_EQ(KXAPI_OK, progress.ToXml(xml));
    ASSERT_TRUE(m_Service.SendEvent(longFreq));
    ASSERT_TRUE(m_Service.SendEvent(freq));
    ASSERT_TRUE(m_Service.SendEvent(unknownKind));
    ASSERT_TRUE(m_Service.SendEvent(DemodMsg(3, 0))); // shorter than a header
    ASSERT_TRUE(m_Service.SendEvent(Kxapi::DemodBuildParsEvent(SERIAL, 1, 474000000, oldPars, 482000000, newPars)));
    ASSERT_TRUE(m_Service.SendEvent(Kxapi::DemodBuildScanEvent(Kxapi::DEMOD_EVENT_SPECTRUM_SCAN, SERIAL, 1, xml)));

    ASSERT_TRUE(kxtest::WaitUntil([&] { return log.Events().size() >= 3; }, 3000));
    XpUtil::Sleep(100);
    std::vector<DemodEvent> events = log.Events();
    ASSERT_EQ(3u, events.size());
    EXPECT_EQ(Kxapi::DEMOD_EVENT_FREQ_CHANGED, events[0].m_Kind);
    EXPECT_EQ(482000000, events[0].m_NewFreqHz);
    EXPECT_EQ(Kxapi::DEMOD_EVENT_PARS_CHANGED, events[1].m_Kind);
    EXPECT_EQ(newPars, events[1].m_NewPars);
    EXPECT_EQ(oldPars, events[1].m_OldPars);
    EXPECT_EQ(Kxapi::DEMOD_EVENT_SPECTRUM_SCAN, events[2].m_Kind);
    Kxapi::KxSpsProgress received;
    ASSERT_EQ(KXAPI_OK, received.FromXml(events[2].m_Xml));
    EXPECT_EQ(progress, received);
}

TEST_F(DemodPortClientFake, ANullCallbackRegistersMaskZeroAndReceivesNothing)
{
    Open();
    EventLog log;
    ASSERT_EQ(KXAPI_OK, m_Client.CallbackRegisterEvents(log.Callback(), 3));
    ASSERT_EQ(KXAPI_OK, m_Client.CallbackRegisterEvents(nullptr, 3));
    EXPECT_EQ(0u, m_Service.Requests().back().m_EvMask);
    ASSERT_TRUE(m_Service.SendEvent(Kxapi::DemodBuildFreqEvent(SERIAL, 1, 1, 2)));
    XpUtil::Sleep(200);
    EXPECT_TRUE(log.Events().empty());
}

TEST_F(DemodPortClientFake, ABrokenTransferFailsOnceThenTheClientIsAttachedAndRegisteredAgain)
{
    Open();
    ASSERT_EQ(KXAPI_OK, m_Client.CallbackRegisterEvents([](const DemodEvent&) {}, 2));
    m_Service.m_DropNextCode = 13;
    int64_t freqHz = 0;
    EXPECT_EQ(KXAPI_E_INTERNAL, m_Client.Svc().TunerFreqGetOld(freqHz));
    EXPECT_EQ(1, m_Client.ReconnectCount());
    // On the new connection: attach to the same port, then the registration with its mask.
    std::vector<Received> requests = m_Service.Requests();
    ASSERT_GE(requests.size(), 2u);
    const Received& attach = requests[requests.size() - 2];
    const Received& registration = requests.back();
    EXPECT_EQ(2, attach.m_Connection);
    EXPECT_EQ(1u, attach.m_Code);
    EXPECT_EQ(SERIAL, attach.m_Serial);
    EXPECT_EQ(1, attach.m_Port);
    EXPECT_EQ(26u, registration.m_Code);
    EXPECT_EQ(2u, registration.m_EvMask);
    EXPECT_EQ(m_Client.EventPipeName(), registration.m_EvName);
    // The next request goes through.
    EXPECT_EQ(KXAPI_OK, m_Client.Svc().TunerFreqGetOld(freqHz));
    EXPECT_EQ(FAKE_FREQ_HZ, freqHz);
    EXPECT_EQ(1, m_Client.ReconnectCount());
}

TEST_F(DemodPortClientFake, AnAttachRefusedAfterAReconnectIsRepeatedBeforeTheNextRequests)
{
    Open();
    ASSERT_EQ(KXAPI_OK, m_Client.CallbackRegisterEvents([](const DemodEvent&) {}, 1));
    m_Service.m_DropNextCode = 13;
    m_Service.m_RefuseAttaches = 2; // the reconnect's attach and the first repetition
    int64_t freqHz = 0;
    EXPECT_EQ(KXAPI_E_INTERNAL, m_Client.Svc().TunerFreqGetOld(freqHz));
    EXPECT_EQ(KXAPI_OK, m_Client.Svc().TunerFreqGetOld(freqHz));
    EXPECT_EQ(KXAPI_OK, m_Client.Svc().TunerFreqGetOld(freqHz));
    // On the second connection: refused attach (reconnect), refused attach, 13, accepted
    // attach with the registration again, 13; no more attaches after that.
    std::vector<uint32_t> codes;
    for (const Received& r : m_Service.Requests())
        if (r.m_Connection == 2)
            codes.push_back(r.m_Code);
    EXPECT_EQ((std::vector<uint32_t>{1, 1, 13, 1, 26, 13}), codes);
    EXPECT_EQ(1, m_Client.ReconnectCount());
}

TEST_F(DemodPortClientFake, WithTheServiceGoneEveryRequestFailsWithoutHanging)
{
    Open();
    m_pService.reset();
    int64_t freqHz = 0;
    EXPECT_EQ(KXAPI_E_INTERNAL, m_Client.Svc().TunerFreqGetOld(freqHz));
    EXPECT_EQ(KXAPI_E_INTERNAL, m_Client.Svc().TunerFreqGetOld(freqHz));
    EXPECT_EQ(2, m_Client.ReconnectCount());
    m_Client.Close();
}

// kxctl against the scripted service: `Kxctl` runs one demod command and keeps its output.
class KxctlDemodFake : public DemodPortClientFake {
protected:
    // Runs "kxctl demod <words>" with the test's FIFO directory; false when it did not exit.
    bool Kxctl(const std::vector<std::string>& words)
    {
        std::vector<std::string> argv = {KX_KXCTL_BINARY, "--fifo-dir", m_Dir.Path(), "demod"};
        argv.insert(argv.end(), words.begin(), words.end());
        m_Result = kxtest::RunProgram(argv, 20000);
        return m_Result.m_Exited;
    }
    bool Printed(const std::string& text) const { return m_Result.m_Output.find(text) != std::string::npos; }
    // The statistics of the last statistics read the service received.
    std::vector<Kxapi::KxStatistic> LastStatisticsRead()
    {
        std::vector<Kxapi::KxStatistic> read;
        for (const Received& r : m_Service.Requests())
            if (r.m_Code == 38)
                read = r.m_Stats;
        return read;
    }

    kxtest::ProcessResult m_Result;
};

TEST_F(KxctlDemodFake, BlindScanFollowsTheProgressEventsAndPrintsTheTransmitterTable)
{
    ASSERT_TRUE(Kxctl({"blindscan", "3460000001", "0", "470M", "480M", "2M"})) << m_Result.m_Output;
    EXPECT_EQ(0, m_Result.m_Status) << m_Result.m_Output;
    EXPECT_TRUE(Printed("474000000 Hz (474.000 MHz)")) << m_Result.m_Output;
    EXPECT_TRUE(Printed("I/Q (type 15)")) << m_Result.m_Output;
    EXPECT_TRUE(Printed("1 transmitter(s); result KXAPI_OK")) << m_Result.m_Output;
    EXPECT_TRUE(Printed("40.0 %")) << m_Result.m_Output; // 474 of 470..480 MHz
}

TEST_F(DemodPortClientFake, AFixedLayoutScanBeyondItsArrayPassesOnTheCountAndTheRecordsThatFit)
{
    Open();
    Kxapi::BlindScanOldReq request{2, 8000000, 950000000, 2150000000};
    std::vector<Kxapi::KxTransmitter> found;
    int32_t numFound = -1;
    EXPECT_EQ(KXAPI_E_BUF_TOO_SMALL, m_Client.Svc().BlindScanOld(request, found, numFound));
    EXPECT_EQ(FIXED_SCAN_FOUND, numFound);
    ASSERT_EQ(2u, found.size());
    EXPECT_EQ(950000000, found[0].m_FreqHz);
    EXPECT_EQ(1050000000, found[1].m_FreqHz);
    EXPECT_EQ(27500000, found[1].m_SymRateBd);
    // Not taken for a broken transfer: no reconnect.
    EXPECT_EQ(0, m_Client.ReconnectCount());
    request.m_MaxTransmitters = FIXED_SCAN_FOUND;
    EXPECT_EQ(KXAPI_OK, m_Client.Svc().BlindScanOld(request, found, numFound));
    EXPECT_EQ(FIXED_SCAN_FOUND, numFound);
    EXPECT_EQ(static_cast<size_t>(FIXED_SCAN_FOUND), found.size());
    m_Client.Close();
}

TEST_F(KxctlDemodFake, FixedLayoutBlindScanSaysHowManyItFoundBeyondItsArray)
{
    ASSERT_TRUE(Kxctl({"blindscan", "3460000001", "0", "950M", "2150M", "8M", "--fixed", "2"})) << m_Result.m_Output;
    EXPECT_EQ(1, m_Result.m_Status) << m_Result.m_Output;
    EXPECT_TRUE(Printed("1050000000 Hz")) << m_Result.m_Output;
    EXPECT_FALSE(Printed("1150000000 Hz")) << m_Result.m_Output;
    EXPECT_TRUE(Printed("5 transmitter(s) found, the first 2 shown (--fixed 2); result KXAPI_E_BUF_TOO_SMALL"))
        << m_Result.m_Output;
}

TEST_F(KxctlDemodFake, StatisticsOfOneStreamAndTimeWindow)
{
    // The selection goes out as the statistics' first two extra ids, for each one named.
    ASSERT_TRUE(Kxctl({"stats", "3460000001", "0", "MER", "LinkMargin", "--isi", "3", "--window", "medium",
                       "--settle", "0"}))
        << m_Result.m_Output;
    EXPECT_EQ(0, m_Result.m_Status) << m_Result.m_Output;
    EXPECT_TRUE(Printed("ISI 3, medium window (60 s)")) << m_Result.m_Output;
    std::vector<Kxapi::KxStatistic> read = LastStatisticsRead();
    ASSERT_EQ(2u, read.size());
    for (const Kxapi::KxStatistic& stat : read) {
        EXPECT_EQ(3, stat.m_XtraId[0]);
        EXPECT_EQ(1, stat.m_XtraId[1]);
        EXPECT_EQ(-1, stat.m_XtraId[2]);
    }

    // All streams, the long window; the instantaneous value without options.
    ASSERT_TRUE(Kxctl({"stats", "3460000001", "0", "MER", "--isi", "all", "--window", "long", "--settle", "0"}));
    EXPECT_TRUE(Printed("all streams, long window (60 min)")) << m_Result.m_Output;
    ASSERT_TRUE(Kxctl({"stats", "3460000001", "0", "MER", "--settle", "0"}));
    EXPECT_FALSE(Printed("window")) << m_Result.m_Output;
    read = LastStatisticsRead();
    ASSERT_EQ(1u, read.size());
    EXPECT_EQ(-1, read[0].m_XtraId[0]);
    EXPECT_EQ(-1, read[0].m_XtraId[1]);

    // Refused selections.
    for (const char* bad : {"256", "-1", "x"}) {
        ASSERT_TRUE(Kxctl({"stats", "3460000001", "0", "MER", "--isi", bad}));
        EXPECT_EQ(2, m_Result.m_Status) << bad;
    }
    ASSERT_TRUE(Kxctl({"stats", "3460000001", "0", "MER", "--window", "hour"}));
    EXPECT_EQ(2, m_Result.m_Status);
}

TEST_F(KxctlDemodFake, SpectrumScanPrintsEveryLevelWithItsUnitAndTheFinalError)
{
    ASSERT_TRUE(Kxctl({"spectrum", "3460000001", "0", "470M", "471M", "1M"})) << m_Result.m_Output;
    EXPECT_EQ(1, m_Result.m_Status) << m_Result.m_Output;
    EXPECT_TRUE(Printed("-51.2 dBmV")) << m_Result.m_Output;
    EXPECT_TRUE(Printed("-37.7 dBmV")) << m_Result.m_Output;
    EXPECT_TRUE(Printed("2 point(s); result KXAPI_E_TUNING")) << m_Result.m_Output;
    // The scan request carried the range and the scan type.
    bool sawScan = false;
    for (const Received& r : m_Service.Requests())
        sawScan = sawScan || r.m_Code == 52;
    EXPECT_TRUE(sawScan);
}

} // namespace
} // namespace demodclient
