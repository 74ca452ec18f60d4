// The blind scan of the virtual 3470 through KxapiServiceSim and the real FIFOs, on a scene of
// three DVB-S2 carriers of its own: the whole 950-2150 MHz band in event mode (command 50) and
// a coarser scan around the carriers in the fixed layout (command 24) find every carrier at its
// frequency and symbol rate and nothing else; a scan ends with exactly one final report
// whether it finishes, is cancelled by command 51, by another client's tune of the port or
// by the scanning client's detach, and the port tunes and locks afterwards. The 3470 has no
// spectrum scan. kxctl shows the scan's progress and its table.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "DemodClientFixture.h"
#include "DemodPortClient.h"
#include "DemodSvcEvents.h"
#include "KxScanProgress.h"
#include "XpUtil.h"

namespace demodclient {
namespace {

using Kxapi::DemodPortClient;
using Kxapi::KxBsProgress;
using Kxapi::KxDemodPars;

constexpr int64_t SCAN_SERIAL = 3470000042;
constexpr int64_t BAND_START_HZ = 950000000;
constexpr int64_t BAND_END_HZ = 2150000000;
constexpr int64_t SCAN_STEP_HZ = 10000000;
// How far a found transmitter may lie from the carrier: the demodulator's carrier offset is
// measured to a few Hz; symbol rates to about 30 Bd.
constexpr int64_t FREQ_TOLERANCE_HZ = 50000;
constexpr int64_t SYMBOL_RATE_TOLERANCE_BD = 1000;
// A whole-band scan of the scene takes seconds optimised and about a minute under the
// sanitizers on a loaded machine; the bound only catches a scan that never ends.
constexpr unsigned int SCAN_WAIT_MS = 300000;
// How long one scan step may take before its report (a step waits up to a second for lock and
// the receiver's symbol-rate search several more; under the race detector each is slower).
constexpr unsigned int STEP_WAIT_MS = 60000;
// After a final report, how long the test listens for a second one.
constexpr unsigned int AFTER_FINAL_MS = 1500;

// Under ThreadSanitizer a blind-scan step (16 M samples made, converted and transformed) takes
// seconds, and a whole band more than a test may: the scans that check what is found run in
// the other builds; the cancellations, where the threads meet, run in every build.
#if defined(__SANITIZE_THREAD__)
constexpr bool LONG_SCANS = false;
#else
constexpr bool LONG_SCANS = true;
#endif
#define SKIP_LONG_SCAN_UNDER_RACE_DETECTOR()                                                                 \
    if (!LONG_SCANS)                                                                                      \
    GTEST_SKIP() << "a whole blind scan takes too long under ThreadSanitizer"

struct SceneCarrier {
    int64_t m_FreqHz;
    int32_t m_SymbolRateBd;
    int m_Constellation;
    int m_RollOffPercent;
    double m_CnDb;
    int m_ModCod;
};

// One of them 1 MHz off the scan's 10 MHz grid: found from the step below it, at its own
// frequency. They lie far enough apart that each is seen from its own steps only.
const std::vector<SceneCarrier> SCENE = {
    {1201000000, 25000000, 8, 20, 12.0, 13},
    {1650000000, 5000000, 4, 35, 9.0, 7},
    {2000000000, 40000000, 16, 20, 16.5, 20},
};

// The default scenario's 3470 card with the scene above on its input.
std::string SceneScenario()
{
    std::ifstream file(std::string(KX_DEFAULT_SCENARIO_DIR) + "/3470-1.json");
    nlohmann::json card = nlohmann::json::parse(file);
    card["serial"] = SCAN_SERIAL;
    nlohmann::json input = nlohmann::json::array();
    for (const SceneCarrier& c : SCENE)
        input.push_back({{"freqHz", c.m_FreqHz}, {"standard", "DVB-S2"}, {"constellation", c.m_Constellation},
                         {"symbolRateBd", c.m_SymbolRateBd}, {"rollOffPercent", c.m_RollOffPercent},
                         {"levelDbm", -35.0}, {"cnDb", c.m_CnDb}, {"modCod", c.m_ModCod}});
    card["ports"]["template"]["input"] = input;
    return nlohmann::json{{"seed", 11}, {"cards", nlohmann::json::array({card})}}.dump();
}

// What the scans report of a transmitter.
struct Found {
    int64_t m_FreqHz;
    int64_t m_SymbolRateBd;
};

class Kxa3470BlindScanProcessTest : public DemodClientTest {
protected:
    std::string ScenarioText() override { return SceneScenario(); }
    static std::vector<KxBsProgress> Reports(EventLog& events) { return events.BlindScanReports(); }
    static size_t FinalCount(const std::vector<KxBsProgress>& reports)
    {
        size_t finals = 0;
        for (const KxBsProgress& r : reports)
            finals += r.IsFinal() ? 1 : 0;
        return finals;
    }

    // Waits for the first final report, then listens a while longer; the reports.
    static std::vector<KxBsProgress> ReportsToTheEnd(EventLog& events, unsigned int waitMs)
    {
        EXPECT_TRUE(kxtest::WaitUntil([&] { return FinalCount(Reports(events)) > 0; }, waitMs)) << "no final report";
        XpUtil::Sleep(AFTER_FINAL_MS);
        return Reports(events);
    }

    // Starts an event-mode scan of the whole band and waits for its first step's report.
    void StartWholeBandScan(DemodPortClient& client, EventLog& events)
    {
        ASSERT_EQ(KXAPI_OK, OpenWhenReady(client, SCAN_SERIAL, 0));
        ASSERT_EQ(KXAPI_OK, client.CallbackRegisterEvents(events.Callback(), 0));
        ASSERT_EQ(KXAPI_OK, client.Svc().BlindScan(KxDemodPars(), SCAN_STEP_HZ, BAND_START_HZ, BAND_END_HZ));
        ASSERT_TRUE(kxtest::WaitUntil([&] { return !Reports(events).empty(); }, STEP_WAIT_MS));
    }

    // A scan ended by a cancel: exactly one final report, the last, "cancelled", before the
    // sweep reached the end of the band.
    static void ExpectCancelledOnce(const std::vector<KxBsProgress>& reports)
    {
        ASSERT_FALSE(reports.empty());
        EXPECT_EQ(1u, FinalCount(reports));
        EXPECT_TRUE(reports.back().IsFinal());
        EXPECT_EQ(1, reports.back().m_Event);
        EXPECT_EQ(static_cast<int32_t>(KXAPI_E_CANCELLED), reports.back().m_Result);
        const size_t positions = static_cast<size_t>((BAND_END_HZ - BAND_START_HZ) / SCAN_STEP_HZ);
        EXPECT_LT(reports.size(), positions) << "the scan stopped early";
    }

    // The port tunes to the first carrier and locks.
    void ExpectPortLocks(DemodPortClient& client)
    {
        ASSERT_EQ(KXAPI_OK, client.Svc().Tune(SCENE[0].m_FreqHz, KxDemodPars::DvbS2Automatic(SCENE[0].m_SymbolRateBd)));
        EXPECT_TRUE(kxtest::WaitUntil([&] { return IsLocked(client); }, LOCK_WAIT_MS)) << "the port locks again";
    }

    // Every carrier of the scene once, at its frequency and symbol rate, and nothing else.
    static void ExpectTheScene(const std::vector<Found>& found)
    {
        ASSERT_EQ(SCENE.size(), found.size());
        for (size_t i = 0; i < SCENE.size(); i++) {
            EXPECT_NEAR(static_cast<double>(SCENE[i].m_FreqHz), static_cast<double>(found[i].m_FreqHz),
                        FREQ_TOLERANCE_HZ) << "carrier " << i;
            EXPECT_NEAR(SCENE[i].m_SymbolRateBd, found[i].m_SymbolRateBd, SYMBOL_RATE_TOLERANCE_BD) << "carrier " << i;
        }
    }
};

TEST_F(Kxa3470BlindScanProcessTest, EventModeScanOfTheWholeBandFindsEveryCarrierAndNothingElse)
{
    SKIP_LONG_SCAN_UNDER_RACE_DETECTOR();
    DemodPortClient client;
    ASSERT_EQ(KXAPI_OK, OpenWhenReady(client, SCAN_SERIAL, 0));
    EventLog events;
    ASSERT_EQ(KXAPI_OK, client.CallbackRegisterEvents(events.Callback(), 0));
    // No modulation type: the receiver's own blind-scan parameters, symbol rate left open.
    ASSERT_EQ(KXAPI_OK, client.Svc().BlindScan(KxDemodPars(), SCAN_STEP_HZ, BAND_START_HZ, BAND_END_HZ));
    const std::vector<KxBsProgress> reports = ReportsToTheEnd(events, SCAN_WAIT_MS);

    ASSERT_EQ(1u, FinalCount(reports));
    EXPECT_EQ(2, reports.back().m_Event);
    EXPECT_EQ(static_cast<int32_t>(KXAPI_OK), reports.back().m_Result);
    std::vector<Found> found;
    int64_t lastStepHz = 0;
    for (const KxBsProgress& r : reports) {
        if (r.IsFinal())
            continue;
        EXPECT_GE(r.m_FreqHz, BAND_START_HZ);
        EXPECT_LT(r.m_FreqHz, BAND_END_HZ) << "the end of the range is never tuned";
        EXPECT_GT(r.m_FreqHz, lastStepHz) << "the sweep goes up";
        lastStepHz = r.m_FreqHz;
        if (!r.m_ChannelFound)
            continue;
        ASSERT_TRUE(r.m_DemodPars.IsDvbS2());
        found.push_back({r.m_FreqHz, r.m_DemodPars.DvbS2()->m_SymRateBd});
    }
    ExpectTheScene(found);
    EXPECT_GE(lastStepHz, BAND_END_HZ - SCAN_STEP_HZ) << "the sweep went to the end of the band";
}

TEST_F(Kxa3470BlindScanProcessTest, FixedLayoutScanFindsEveryCarrierAndNothingElse)
{
    SKIP_LONG_SCAN_UNDER_RACE_DETECTOR();
    DemodPortClient client;
    ASSERT_EQ(KXAPI_OK, OpenWhenReady(client, SCAN_SERIAL, 0));
    // 50 MHz steps from 1200 MHz land on (or, for the first, 1 MHz below) every carrier.
    Kxapi::BlindScanOldReq request;
    request.m_MaxTransmitters = 8;
    request.m_StepHz = 50000000;
    request.m_StartFreqHz = 1200000000;
    request.m_EndFreqHz = 2010000000;
    std::vector<Kxapi::KxTransmitter> transmitters;
    int32_t numFound = -1;
    ASSERT_EQ(KXAPI_OK, client.Svc().BlindScanOld(request, transmitters, numFound));
    ASSERT_EQ(static_cast<int32_t>(transmitters.size()), numFound);
    std::vector<Found> found;
    for (const Kxapi::KxTransmitter& t : transmitters) {
        EXPECT_EQ(Kxapi::KX_MOD_DVBS2, t.m_ModType);
        found.push_back({t.m_FreqHz, t.m_SymRateBd});
    }
    ExpectTheScene(found);
}

TEST_F(Kxa3470BlindScanProcessTest, CancelCommandEndsTheScanWithOneFinalReport)
{
    DemodPortClient client;
    EventLog events;
    ASSERT_NO_FATAL_FAILURE(StartWholeBandScan(client, events));
    ASSERT_EQ(KXAPI_OK, client.Svc().BlindScanCancel());
    ExpectCancelledOnce(ReportsToTheEnd(events, STEP_WAIT_MS));
    ExpectPortLocks(client);
}

TEST_F(Kxa3470BlindScanProcessTest, AnotherClientsTuneEndsTheScanWithOneFinalReport)
{
    DemodPortClient scanner, other;
    EventLog events;
    ASSERT_NO_FATAL_FAILURE(StartWholeBandScan(scanner, events));
    ASSERT_EQ(KXAPI_OK, OpenWhenReady(other, SCAN_SERIAL, 0));
    ASSERT_EQ(KXAPI_OK, other.Svc().Tune(SCENE[2].m_FreqHz, KxDemodPars::DvbS2Automatic(SCENE[2].m_SymbolRateBd)));
    ExpectCancelledOnce(ReportsToTheEnd(events, STEP_WAIT_MS));
    EXPECT_TRUE(kxtest::WaitUntil([&] { return IsLocked(other); }, LOCK_WAIT_MS)) << "the tune that cancelled it";
    ExpectPortLocks(scanner);
}

TEST_F(Kxa3470BlindScanProcessTest, DetachOfTheScanningClientEndsTheScanWithOneFinalReport)
{
    DemodPortClient scanner, other;
    EventLog events;
    ASSERT_NO_FATAL_FAILURE(StartWholeBandScan(scanner, events));
    // The detach command alone: the connection and the event FIFO stay, so what the service
    // still sends the client is seen.
    ASSERT_EQ(KXAPI_OK, scanner.Svc().Detach());
    ExpectCancelledOnce(ReportsToTheEnd(events, STEP_WAIT_MS));
    ASSERT_EQ(KXAPI_OK, OpenWhenReady(other, SCAN_SERIAL, 0));
    ExpectPortLocks(other);
}

TEST_F(Kxa3470BlindScanProcessTest, SpectrumScanIsNotSupported)
{
    DemodPortClient client;
    ASSERT_EQ(KXAPI_OK, OpenWhenReady(client, SCAN_SERIAL, 0));
    EventLog events;
    ASSERT_EQ(KXAPI_OK, client.CallbackRegisterEvents(events.Callback(), 0));
    EXPECT_EQ(KXAPI_E_NOT_SUPPORTED, client.Svc().SpectrumScan(5, SCAN_STEP_HZ, BAND_START_HZ, BAND_END_HZ));
    XpUtil::Sleep(AFTER_FINAL_MS);
    EXPECT_EQ(0u, events.CountOfKind(Kxapi::DEMOD_EVENT_SPECTRUM_SCAN)) << "a refused scan reports nothing";
    ExpectPortLocks(client);
}

// kxctl demod blindscan over the port's own limits (START and END -1): the progress bar
// advances over the port's range and ends full, and the table lists the scene's carriers.
TEST_F(Kxa3470BlindScanProcessTest, KxctlShowsProgressOverThePortsLimitsAndTheTable)
{
    SKIP_LONG_SCAN_UNDER_RACE_DETECTOR();
    DemodPortClient ready;
    ASSERT_EQ(KXAPI_OK, OpenWhenReady(ready, SCAN_SERIAL, 0));
    ready.Close();
    const kxtest::ProcessResult result =
        kxtest::RunProgram({KX_KXCTL_BINARY, "--fifo-dir", m_Service.Dir(), "demod", "blindscan",
                            std::to_string(SCAN_SERIAL), "0", "-1", "-1", "50M"},
                           SCAN_WAIT_MS);
    ASSERT_TRUE(result.m_Exited) << result.m_Output;
    EXPECT_EQ(0, result.m_Status) << result.m_Output;
    // 1000 MHz is the second of 24 steps over 950-2150 MHz.
    EXPECT_NE(std::string::npos, result.m_Output.find("   4.2 %    1000.000 MHz")) << result.m_Output;
    EXPECT_NE(std::string::npos, result.m_Output.find("] 100.0 %    2150.000 MHz done")) << result.m_Output;
    for (const char* pFound : {"(1201.000 MHz) DVB-S2", "(1650.000 MHz) DVB-S2", "(2000.000 MHz) DVB-S2",
                               "3 transmitter(s); result KXAPI_OK"})
        EXPECT_NE(std::string::npos, result.m_Output.find(pFound)) << pFound << "\n" << result.m_Output;
}

} // namespace
} // namespace demodclient
