// Blind scans and spectrum scans of a port: range checks, transmitters found, progress
// events to the requesting client only, the fixed-layout result array, and cancellation.
#include <gtest/gtest.h>

#include <algorithm>

#include "KxScanProgress.h"
#include "PortFixture.h"

using namespace Kxapi;
using kxtest::EventSink;
using kxtest::RecordingPortClient;
using kxtest::TestDemodHal;
using kxtest::WaitUntil;

namespace {

class ScanTest : public kxtest::PortFixture {
protected:
    void SetUp() override
    {
        m_ReplyWithinMs = 60000;
        InitPort({});
        ASSERT_TRUE(m_Port.Attach());
    }
    void Register(RecordingPortClient& client, EventSink& sink) { PortFixture::Register(client, sink, 0); }
    static DemodMsg BlindScan(long long stepHz, long long startHz, long long endHz)
    {
        std::wstring xml;
        KxDemodPars pars(KX_MOD_DVBT);
        pars.DvbT()->m_Bandwidth = 4;
        pars.ToXml(xml);
        DemodAppendIntElem(xml, DEMOD_ELEM_FREQ_HZ_STEPS, stepHz);
        DemodAppendIntElem(xml, DEMOD_ELEM_START_FREQ_HZ, startHz);
        DemodAppendIntElem(xml, DEMOD_ELEM_END_FREQ_HZ, endHz);
        return DemodBuildGenericReq(DEMOD_CMD_BLIND_SCAN, xml);
    }
    static DemodMsg SpectrumScan(int type, long long stepHz, long long startHz, long long endHz)
    {
        std::wstring xml;
        DemodAppendIntElem(xml, DEMOD_ELEM_SCAN_TYPE, type);
        DemodAppendIntElem(xml, DEMOD_ELEM_FREQ_HZ_STEPS, stepHz);
        DemodAppendIntElem(xml, DEMOD_ELEM_START_FREQ_HZ, startHz);
        DemodAppendIntElem(xml, DEMOD_ELEM_END_FREQ_HZ, endHz);
        return DemodBuildGenericReq(DEMOD_CMD_SPECTRUM_SCAN, xml);
    }
    // The progress reports of one kind of scan, each parsed from its event's text.
    template <typename Progress> static std::vector<Progress> ProgressOf(EventSink& sink, uint32_t kind)
    {
        std::vector<Progress> out;
        for (const DemodEvent& e : sink.EventsOfKind(kind)) {
            Progress p;
            EXPECT_EQ(p.FromXml(e.m_Xml), KXAPI_OK);
            out.push_back(p);
        }
        return out;
    }
    static std::vector<KxBsProgress> BlindProgress(EventSink& sink)
    {
        return ProgressOf<KxBsProgress>(sink, DEMOD_EVENT_BLIND_SCAN);
    }
    static std::vector<KxSpsProgress> SpectrumProgress(EventSink& sink)
    {
        return ProgressOf<KxSpsProgress>(sink, DEMOD_EVENT_SPECTRUM_SCAN);
    }
};

bool EndsWithFinal(const std::vector<KxBsProgress>& p)
{
    return !p.empty() && p.back().IsFinal();
}

} // namespace

TEST_F(ScanTest, BothScansCheckTheirRangeAndStepOnEachSideOfEveryBound)
{
    // The port's limits are 42 to 870 MHz. -1 stands for the port's own start or end.
    constexpr long long MHZ = 1000000;
    constexpr KXAPI_RESULT OK = KXAPI_OK;
    constexpr KXAPI_RESULT BAD = KXAPI_E_INVALID_FREQ;
    struct Row {
        long long m_Step, m_Start, m_End;
        KXAPI_RESULT m_Blind, m_Spectrum;
        long long m_FirstHz; // the first position scanned when accepted
    } rows[] = {
        {MHZ - 1, 100 * MHZ, 101 * MHZ, BAD, OK, 100 * MHZ},   {MHZ, 100 * MHZ, 101 * MHZ, OK, OK, 100 * MHZ},
        {0, 100 * MHZ, 101 * MHZ, BAD, BAD, 0},                {-MHZ, 100 * MHZ, 101 * MHZ, BAD, BAD, 0},
        {828 * MHZ, 42 * MHZ, 870 * MHZ, OK, OK, 42 * MHZ},    {828 * MHZ + 1, 42 * MHZ, 870 * MHZ, BAD, BAD, 0},
        {MHZ, 42 * MHZ - 1, 43 * MHZ, BAD, BAD, 0},            {MHZ, 42 * MHZ, 43 * MHZ, OK, OK, 42 * MHZ},
        {MHZ, 100 * MHZ, 100 * MHZ, BAD, BAD, 0},              {MHZ, 100 * MHZ, 100 * MHZ + 1, OK, OK, 100 * MHZ},
        {MHZ, 101 * MHZ, 100 * MHZ, BAD, BAD, 0},              {MHZ, 869 * MHZ, 870 * MHZ + 1, BAD, BAD, 0},
        {MHZ, 869 * MHZ, 870 * MHZ, OK, OK, 869 * MHZ},        {MHZ, -1, 43 * MHZ, OK, OK, 42 * MHZ},
        {MHZ, 869 * MHZ, -1, OK, OK, 869 * MHZ},               {MHZ, 870 * MHZ, -1, BAD, BAD, 0},
    };
    EventSink sink("KxapiDemodSvc_EvPipe_1_1_2_1");
    RecordingPortClient client;
    Register(client, sink);
    auto finals = [](const auto& progress) {
        return std::count_if(progress.begin(), progress.end(), [](const auto& p) { return p.IsFinal(); });
    };
    for (const Row& row : rows) {
        const size_t blindBefore = BlindProgress(sink).size();
        const auto blindFinals = finals(BlindProgress(sink));
        EXPECT_EQ(Result(client, BlindScan(row.m_Step, row.m_Start, row.m_End)), row.m_Blind)
            << row.m_Step << " " << row.m_Start << " " << row.m_End;
        if (row.m_Blind == KXAPI_OK) {
            ASSERT_TRUE(WaitUntil([&] { return finals(BlindProgress(sink)) > blindFinals; }, 5000));
            EXPECT_EQ(BlindProgress(sink)[blindBefore].m_FreqHz, row.m_FirstHz) << row.m_Start;
        }
        const size_t spectrumBefore = SpectrumProgress(sink).size();
        const auto spectrumFinals = finals(SpectrumProgress(sink));
        EXPECT_EQ(Result(client, SpectrumScan(5, row.m_Step, row.m_Start, row.m_End)), row.m_Spectrum)
            << row.m_Step << " " << row.m_Start << " " << row.m_End;
        if (row.m_Spectrum == KXAPI_OK) {
            ASSERT_TRUE(WaitUntil([&] { return finals(SpectrumProgress(sink)) > spectrumFinals; }, 5000));
            EXPECT_EQ(SpectrumProgress(sink)[spectrumBefore].m_FreqHz, row.m_FirstHz) << row.m_Start;
        }
    }
    // Scan types: 5 (channel level) or 6 (narrow band), with or without the 16 flag.
    for (int type : {5, 6, 21, 22})
        EXPECT_EQ(Result(client, SpectrumScan(type, MHZ, 100 * MHZ, 101 * MHZ)), KXAPI_OK) << type;
    for (int type : {0, 4, 7, 16, 37})
        EXPECT_EQ(Result(client, SpectrumScan(type, MHZ, 100 * MHZ, 101 * MHZ)), KXAPI_E_INVALID_ARG) << type;
    m_Port.Detach(&client);
}

// Extreme client values for step, start and end: none may overflow (the sanitizer build traps
// on it, the release build would wrap past the check and sweep), every row is refused with
// KXAPI_E_INVALID_FREQ before anything is tuned, by both scans and by the fixed-layout blind
// scan. The test HAL's range is 42 to 870 MHz.
TEST_F(ScanTest, ExtremeStepsAndRangesAreRefusedWithoutOverflow)
{
    constexpr long long MAX = INT64_MAX;
    constexpr long long MIN = INT64_MIN;
    constexpr long long ABS_MIN_HZ = 42000000;
    struct Row {
        long long m_StepHz, m_StartHz, m_EndHz;
    };
    const Row rows[] = {
        {MAX, 100000000, 200000000},
        {MAX - ABS_MIN_HZ + 1, 100000000, 200000000}, // ABSMIN + step is one past INT64_MAX
        {MAX - ABS_MIN_HZ, 100000000, 200000000},     // fits, but far above ABSMAX
        {MIN, 100000000, 200000000},
        {-1, 100000000, 200000000},
        {0, 100000000, 200000000},
        {828000001, 42000000, 870000000},
        {8000000, MIN, 200000000},
        {8000000, MAX, 200000000},
        {8000000, 100000000, MAX},
        {8000000, 100000000, MIN},
        {8000000, -1, MIN},
        {8000000, MAX, MIN},
        {MAX, MAX, MAX},
        {MIN, MIN, MIN},
        {MAX, -1, -1},
        {MIN, -1, -1},
    };
    RecordingPortClient client;
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.m_StepHz << " " << row.m_StartHz << " " << row.m_EndHz);
        EXPECT_EQ(Result(client, BlindScan(row.m_StepHz, row.m_StartHz, row.m_EndHz)), KXAPI_E_INVALID_FREQ);
        EXPECT_EQ(Result(client, SpectrumScan(5, row.m_StepHz, row.m_StartHz, row.m_EndHz)), KXAPI_E_INVALID_FREQ);
        EXPECT_EQ(Result(client, DemodBuildBlindScanOldReq({2, row.m_StepHz, row.m_StartHz, row.m_EndHz})),
                  KXAPI_E_INVALID_FREQ);
    }
    EXPECT_TRUE(m_Hal.Executed("SetTunerFrequency").empty());
    EXPECT_EQ(m_Hal.Count("InitSpectrumScan"), 0);

    // Capacities of the fixed-layout scan at the ends of their type.
    for (int32_t capacity : {INT32_MIN, -1, INT32_MAX})
        EXPECT_EQ(Result(client, DemodBuildBlindScanOldReq({capacity, 8000000, 100000000, 200000000})),
                  KXAPI_E_INVALID_PARS);
    // Values that do not fit their element are refused as malformed requests.
    for (const wchar_t* type : {L"2147483648", L"-2147483649", L"99999999999999999999"}) {
        std::wstring xml = std::wstring(L"<ScanType>") + type + L"</ScanType>";
        DemodAppendIntElem(xml, DEMOD_ELEM_FREQ_HZ_STEPS, 1000000);
        DemodAppendIntElem(xml, DEMOD_ELEM_START_FREQ_HZ, 100000000);
        DemodAppendIntElem(xml, DEMOD_ELEM_END_FREQ_HZ, 103000000);
        EXPECT_EQ(Result(client, DemodBuildGenericReq(DEMOD_CMD_SPECTRUM_SCAN, xml)), KXAPI_E_INTERNAL);
    }

    // The widest step that passes sweeps its single position without running past the end.
    EventSink sink("KxapiDemodSvc_EvPipe_1_1_2_9");
    Register(client, sink);
    ASSERT_EQ(Result(client, BlindScan(828000000, 42000000, 870000000)), KXAPI_OK);
    ASSERT_TRUE(WaitUntil([&] { return EndsWithFinal(BlindProgress(sink)); }, 10000));
    EXPECT_EQ(BlindProgress(sink).back().m_Result, static_cast<int32_t>(KXAPI_OK));
    EXPECT_EQ(m_Hal.Executed("SetTunerFrequency"), (std::vector<long long>{42000000}));
    m_Port.Detach(&client);
}

TEST_F(ScanTest, BlindScanReportsEveryStepToItsClientAndSkipsWhatAFoundCarrierCovers)
{
    m_Hal.AddCarrier(474000000);
    EventSink mine("KxapiDemodSvc_EvPipe_1_1_2_1");
    EventSink other("KxapiDemodSvc_EvPipe_1_1_2_2");
    RecordingPortClient a, b;
    Register(a, mine);
    Register(b, other);
    ASSERT_EQ(Result(a, BlindScan(4000000, 470000000, 490000000)), KXAPI_OK);
    ASSERT_TRUE(WaitUntil([&] { return EndsWithFinal(BlindProgress(mine)); }, 10000));
    auto progress = BlindProgress(mine);
    // 470 nothing, 474 found (8 MHz wide: 476 is inside it), 478 is the next free step,
    // 482 and 486 nothing; 490 is the end and never tuned.
    std::vector<long long> steps;
    for (const KxBsProgress& p : progress)
        if (!p.IsFinal())
            steps.push_back(p.m_FreqHz);
    EXPECT_EQ(steps, (std::vector<long long>{470000000, 474000000, 478000000, 482000000, 486000000}));
    ASSERT_EQ(progress.size(), 6u);
    EXPECT_TRUE(progress[1].m_ChannelFound);
    EXPECT_EQ(progress[1].m_DemodPars.ModType(), KX_MOD_DVBT);
    EXPECT_FALSE(progress[0].m_ChannelFound);
    EXPECT_EQ(progress.back().m_Event, 2);
    EXPECT_EQ(progress.back().m_Result, static_cast<int32_t>(KXAPI_OK));
    EXPECT_TRUE(BlindProgress(other).empty());
    EXPECT_EQ(m_Hal.Executed("SetTunerFrequency"),
              (std::vector<long long>{470000000, 474000000, 478000000, 482000000, 486000000}));

    // A later scan of another client does not report to the first one.
    ASSERT_EQ(Result(b, BlindScan(4000000, 470000000, 478000000)), KXAPI_OK);
    ASSERT_TRUE(WaitUntil([&] { return EndsWithFinal(BlindProgress(other)); }, 10000));
    EXPECT_EQ(BlindProgress(mine).size(), 6u);
    m_Port.Detach(&a);
    m_Port.Detach(&b);
}

TEST_F(ScanTest, FixedLayoutBlindScanFillsItsArrayAndCountsWhatDidNotFit)
{
    m_Hal.AddCarrier(100000000);
    m_Hal.AddCarrier(116000000);
    m_Hal.AddCarrier(132000000);
    RecordingPortClient client;
    const size_t before = client.Count();
    DemodMsg req = DemodBuildBlindScanOldReq({2, 8000000, 100000000, 140000000});
    Send(client, req);
    ASSERT_EQ(client.Count(), before + 1); // waited for: the reply is there on return
    DemodMsg reply = client.Last();
    ASSERT_EQ(reply.size(), 16u + 16u * 2u);
    EXPECT_EQ(KxGetU32(reply.data(), 4), KXAPI_E_BUF_TOO_SMALL);
    EXPECT_EQ(KxGetI32(reply.data(), 8), 3);
    KxTransmitter first = KxTransmitter::Decode(reply.data(), 16);
    KxTransmitter second = KxTransmitter::Decode(reply.data(), 32);
    EXPECT_EQ(first.m_FreqHz, 100000000);
    EXPECT_EQ(first.m_ModType, KX_MOD_DVBT);
    EXPECT_EQ(second.m_FreqHz, 116000000);
    // Room for exactly what is found is enough.
    reply = Request(client, DemodBuildBlindScanOldReq({3, 8000000, 100000000, 140000000}));
    EXPECT_EQ(KxGetU32(reply.data(), 4), KXAPI_OK);
    EXPECT_EQ(KxGetI32(reply.data(), 8), 3);
}

TEST_F(ScanTest, SpectrumScanReadsTheLevelOfItsTypeAndRefusesOtherTypes)
{
    EventSink sink("KxapiDemodSvc_EvPipe_1_1_3_1");
    RecordingPortClient client;
    Register(client, sink);
    EXPECT_EQ(Result(client, SpectrumScan(21, 0, 100000000, 103000000)), KXAPI_E_INVALID_FREQ);
    const int narrowBefore = m_Hal.StatReads(KX_STAT_RF_LVL_NARROW_QS);
    ASSERT_EQ(Result(client, SpectrumScan(21, 1000000, 100000000, 103000000)), KXAPI_OK);
    ASSERT_TRUE(WaitUntil([&] {
        auto p = SpectrumProgress(sink);
        return !p.empty() && p.back().IsFinal();
    }, 10000));
    auto progress = SpectrumProgress(sink);
    ASSERT_EQ(progress.size(), 5u); // 100, 101, 102, 103 MHz and the final report
    EXPECT_EQ(progress[0].m_FreqHz, 100000000);
    EXPECT_EQ(progress[3].m_FreqHz, 103000000);
    EXPECT_EQ(progress[2].m_Level, 102); // the scripted level follows the frequency in MHz
    EXPECT_EQ(progress.back().m_Event, 2);
    EXPECT_EQ(m_Hal.StatReads(KX_STAT_RF_LVL_NARROW_QS), narrowBefore);
    EXPECT_EQ(m_Hal.Count("CloseSpectrumScan"), 1);
    m_Port.Detach(&client);
}

TEST_F(ScanTest, CancellingASpectrumScanEndsItWithOneFinalReport)
{
    m_Hal.m_SettleMs = 20;
    EventSink sink("KxapiDemodSvc_EvPipe_1_1_4_1");
    RecordingPortClient client;
    Register(client, sink);
    ASSERT_EQ(Result(client, SpectrumScan(5, 1000000, 42000000, 870000000)), KXAPI_OK);
    ASSERT_TRUE(WaitUntil([&] { return SpectrumProgress(sink).size() >= 3; }, 10000));
    EXPECT_EQ(Result(client, DemodBuildCodeOnly(DEMOD_CMD_SPECTRUM_SCAN_CANCEL)), KXAPI_OK);
    ASSERT_TRUE(WaitUntil([&] {
        auto p = SpectrumProgress(sink);
        return !p.empty() && p.back().IsFinal();
    }, 10000));
    XpUtil::Sleep(200);
    int finals = 0;
    for (const KxSpsProgress& p : SpectrumProgress(sink)) {
        if (p.IsFinal()) {
            finals++;
            EXPECT_EQ(p.m_Event, 1);
            EXPECT_EQ(p.m_Result, static_cast<int32_t>(KXAPI_E_CANCELLED));
        }
    }
    EXPECT_EQ(finals, 1);
    EXPECT_EQ(Result(client, DemodBuildCodeOnly(DEMOD_CMD_SPECTRUM_SCAN_CANCEL)), KXAPI_E_IDLE);
    m_Port.Detach(&client);
}

TEST_F(ScanTest, ATuningOrTuneCommandOfAnotherClientCancelsARunningBlindScan)
{
    m_Hal.m_ScanStepDelayMs = 20;
    m_Hal.AddCarrier(474000000);
    EventSink sink("KxapiDemodSvc_EvPipe_1_1_5_1");
    RecordingPortClient scanner, tuner;
    Register(scanner, sink);
    // A frequency change (tuning class), then a tune (blind-scan class).
    for (const DemodMsg& cancel :
         {DemodBuildFreqSetReq(474000000), kxtest::GenericReq(DEMOD_CMD_TUNE, kxtest::TuneXml(474000000))}) {
        const size_t before = BlindProgress(sink).size();
        ASSERT_EQ(Result(scanner, BlindScan(1000000, 42000000, 870000000)), KXAPI_OK);
        ASSERT_TRUE(WaitUntil([&] { return BlindProgress(sink).size() >= before + 3; }, 10000));
        ASSERT_EQ(Result(tuner, cancel), KXAPI_OK);
        ASSERT_TRUE(WaitUntil([&] { return EndsWithFinal(BlindProgress(sink)); }, 10000));
        auto progress = BlindProgress(sink);
        EXPECT_EQ(progress.back().m_Event, 1);
        EXPECT_EQ(progress.back().m_Result, static_cast<int32_t>(KXAPI_E_CANCELLED));
    }
    EXPECT_GE(m_Hal.Count("CancelBlindScan"), 2);
    EXPECT_TRUE(WaitUntil([&] { return m_Hal.Executed("Tune").size() == 1; }, 5000));
    EXPECT_TRUE(WaitUntil([&] { return m_Port.State() == 3 && m_Hal.m_FreqHz.load() == 474000000; }, 5000));
    m_Port.Detach(&scanner);
}

TEST_F(ScanTest, DetachEndsTheLeavingClientsScanAndDropsItsEventFifo)
{
    m_Hal.m_ScanStepDelayMs = 20;
    EventSink sink("KxapiDemodSvc_EvPipe_1_1_6_1");
    RecordingPortClient client;
    ASSERT_TRUE(m_Port.Attach());
    Register(client, sink);
    ASSERT_EQ(Result(client, BlindScan(1000000, 42000000, 870000000)), KXAPI_OK);
    ASSERT_TRUE(WaitUntil([&] { return BlindProgress(sink).size() >= 2; }, 10000));
    EXPECT_TRUE(m_Port.Detach(&client));
    // The final report is sent by the port's event writer, after the detach has returned.
    ASSERT_TRUE(WaitUntil([&] { return EndsWithFinal(BlindProgress(sink)); }, 5000));
    auto progress = BlindProgress(sink);
    EXPECT_EQ(progress.back().m_Event, 1);
    EXPECT_EQ(m_Port.UserCount(), 1);
}

TEST(BandWidth, FollowsTheStandardsCodes)
{
    KxDemodPars t(KX_MOD_DVBT);
    t.DvbT()->m_Bandwidth = 3;
    EXPECT_EQ(DemodPortController::GetBandWidthHz(t), 7000000);
    KxDemodPars t2(KX_MOD_DVBT2);
    t2.DvbT2()->m_Bandwidth = 0;
    EXPECT_EQ(DemodPortController::GetBandWidthHz(t2), 1700000);
    t2.DvbT2()->m_Bandwidth = 6;
    EXPECT_EQ(DemodPortController::GetBandWidthHz(t2), -1);
    KxDemodPars isdbt(KX_MOD_ISDBT);
    isdbt.Isdbt()->m_Bandwidth = 32;
    EXPECT_EQ(DemodPortController::GetBandWidthHz(isdbt), 6000000);
    KxDemodPars c2(KX_MOD_DVBC2);
    c2.DvbC2()->m_BandwidthMhz = 7;
    EXPECT_EQ(DemodPortController::GetBandWidthHz(c2), -1);
    KxDemodPars qam(KX_MOD_QAM64);
    qam.Qam()->m_SymRateBd = 6900000;
    EXPECT_EQ(DemodPortController::GetBandWidthHz(qam), 6900000);
    EXPECT_EQ(DemodPortController::GetBandWidthHz(KxDemodPars(KX_MOD_DAB)), -1);
    EXPECT_EQ(DemodPortController::GetBandWidthHz(KxDemodPars()), -1);
}

TEST_F(ScanTest, StoppingThePortEndsARunningScanAtItsNextStep)
{
    m_Hal.m_ScanStepDelayMs = 20;
    EventSink sink("KxapiDemodSvc_EvPipe_1_1_7_1");
    RecordingPortClient client;
    Register(client, sink);
    ASSERT_EQ(Result(client, BlindScan(1000000, 42000000, 870000000)), KXAPI_OK);
    ASSERT_TRUE(WaitUntil([&] { return BlindProgress(sink).size() >= 2; }, 10000));
    m_Port.CleanUp();
    // The sweep of 828 steps was cut short and still sent its final report.
    EXPECT_LT(m_Hal.Executed("SetTunerFrequency").size(), 828u);
    ASSERT_TRUE(WaitUntil([&] { return EndsWithFinal(BlindProgress(sink)); }, 5000));
    auto progress = BlindProgress(sink);
    EXPECT_EQ(progress.back().m_Result, static_cast<int32_t>(KXAPI_E_CANCELLED));
}

TEST_F(ScanTest, ANewBlindScanWaitsForTheRunningOneToEndBeforeItIsQueued)
{
    m_Hal.m_ScanStepDelayMs = 20;
    EventSink first("KxapiDemodSvc_EvPipe_1_1_8_1");
    EventSink second("KxapiDemodSvc_EvPipe_1_1_8_2");
    RecordingPortClient a, b;
    Register(a, first);
    Register(b, second);
    ASSERT_EQ(Result(a, BlindScan(1000000, 42000000, 870000000)), KXAPI_OK);
    ASSERT_TRUE(WaitUntil([&] { return BlindProgress(first).size() >= 2; }, 10000));
    // Answered only after the running scan has ended.
    EXPECT_EQ(Result(b, BlindScan(1000000, 100000000, 103000000)), KXAPI_OK);
    ASSERT_TRUE(WaitUntil([&] { return EndsWithFinal(BlindProgress(first)); }, 10000));
    EXPECT_EQ(BlindProgress(first).back().m_Event, 1);
    ASSERT_TRUE(WaitUntil([&] { return EndsWithFinal(BlindProgress(second)); }, 10000));
    // The two sweeps never interleaved: the first stopped early, then the second ran whole.
    std::vector<long long> tuned = m_Hal.Executed("SetTunerFrequency");
    ASSERT_GE(tuned.size(), 5u);
    const std::vector<long long> tail(tuned.end() - 3, tuned.end());
    EXPECT_EQ(tail, (std::vector<long long>{100000000, 101000000, 102000000}));
    for (size_t i = 0; i + 3 < tuned.size(); i++)
        EXPECT_LT(tuned[i], 100000000);
    EXPECT_EQ(BlindProgress(second).back().m_Event, 2);
    EXPECT_EQ(BlindProgress(second).size(), 4u); // 100, 101, 102 MHz and the final report
}
