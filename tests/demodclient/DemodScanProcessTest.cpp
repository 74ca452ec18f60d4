// A blind scan through KxapiServiceSim and the FIFOs, on a virtual 3460 with three carriers:
// progress reports whose parameters serialise to several kilobytes reach the client.
#include "DemodClientFixture.h"

using namespace Kxapi;
using namespace demodclient;

namespace {

constexpr int64_t SCAN_SERIAL = 3460000077;
constexpr int64_t FIRST_CARRIER_HZ = 100000000;
constexpr int64_t CARRIER_STEP_HZ = 10000000;
constexpr int NUM_CARRIERS = 3;
constexpr int FILTER_COEFS = 64;

// A 3460 whose input carries three DVB-T carriers 10 MHz apart from 100 MHz.
std::string ThreeCarriers()
{
    std::string carriers;
    for (int i = 0; i < NUM_CARRIERS; i++) {
        carriers += std::string(i == 0 ? "" : ",") + "{\"freqHz\": " +
                    std::to_string(FIRST_CARRIER_HZ + i * CARRIER_STEP_HZ) +
                    ", \"standard\": \"DVB-T\", \"constellation\": 64, \"bandwidthHz\": 7610000, "
                    "\"levelDbm\": -50.0, \"cnDb\": 26.0}";
    }
    return "{\"seed\": 7, \"cards\": [{\"model\": 3460, \"subType\": 0, \"serial\": " + std::to_string(SCAN_SERIAL) +
           ", \"firmware\": 5, \"firmwareStatus\": \"ok\", \"properties\": ["
           "{\"name\": \"MOD_FREQ_MIN\", \"value\": 42}, {\"name\": \"MOD_FREQ_MAX\", \"value\": 870},"
           "{\"name\": \"MOD_FREQ_ABSMIN\", \"value\": 42}, {\"name\": \"MOD_FREQ_ABSMAX\", \"value\": 870}],"
           "\"inputs\": [[" + carriers + "]]}]}";
}

// 3460 I/Q parameters with a long receive filter: its text alone is several kilobytes.
KxDemodPars LongIq3460Pars()
{
    KxDemodPars pars(KX_MOD_IQ3460);
    KxDemodParsIq3460& iq = *pars.Iq3460();
    iq.m_ScaleFactor = 0.5;
    iq.m_SampleRateHz = 9142857;
    iq.m_Tuner.m_Standard = 4;
    iq.m_Tuner.m_BandwidthHz = 8000000;
    iq.m_Tuner.m_LpfCutoff = iq.m_Tuner.m_LpfOffset = iq.m_Tuner.m_HighPass = -1;
    iq.m_Tuner.m_DcNotch = iq.m_Tuner.m_IfNotch = iq.m_Tuner.m_IfNotchToRf = -1;
    for (int i = 0; i < FILTER_COEFS; i++)
        iq.m_Filter.push_back({i, (i % 7 - 3) / 8.0 + 0.0123456789});
    return pars;
}

class DemodScanProcessTest : public DemodClientTest {
protected:
    std::string ScenarioText() override { return ThreeCarriers(); }
};

} // namespace

TEST_F(DemodScanProcessTest, ChannelFoundReportsWithLongParametersReachTheClient)
{
    DemodPortClient client;
    ASSERT_EQ(KXAPI_OK, OpenWhenReady(client, SCAN_SERIAL));
    EventLog events;
    ASSERT_EQ(KXAPI_OK, client.CallbackRegisterEvents(events.Callback(), 0));
    const KxDemodPars pars = LongIq3460Pars();
    std::wstring parsText;
    ASSERT_EQ(KXAPI_OK, pars.ToXml(parsText));
    ASSERT_GT(4 * parsText.size(), 1024u) << "the parameters alone exceed the old 1024-byte bound";

    ASSERT_EQ(KXAPI_OK, client.Svc().BlindScan(pars, CARRIER_STEP_HZ, FIRST_CARRIER_HZ,
                                              FIRST_CARRIER_HZ + NUM_CARRIERS * CARRIER_STEP_HZ - 5000000));
    std::vector<KxBsProgress> reports;
    ASSERT_TRUE(kxtest::WaitUntil(
        [&] {
            reports = events.BlindScanReports();
            return !reports.empty() && reports.back().IsFinal();
        },
        LOCK_WAIT_MS * NUM_CARRIERS));
    EXPECT_EQ(2, reports.back().m_Event);
    EXPECT_EQ(static_cast<int32_t>(KXAPI_OK), reports.back().m_Result);
    std::vector<int64_t> found;
    for (const KxBsProgress& progress : reports) {
        if (!progress.m_ChannelFound)
            continue;
        found.push_back(progress.m_FreqHz);
        ASSERT_TRUE(progress.m_DemodPars.IsIq3460());
        EXPECT_EQ(pars.Iq3460()->m_Filter, progress.m_DemodPars.Iq3460()->m_Filter);
    }
    EXPECT_EQ((std::vector<int64_t>{FIRST_CARRIER_HZ, FIRST_CARRIER_HZ + CARRIER_STEP_HZ,
                                    FIRST_CARRIER_HZ + 2 * CARRIER_STEP_HZ}),
              found);
}
