// The cable QAM cards of the default scenario (the 3530 and both 3490s) through
// KxapiServiceSim's FIFOs: all twelve ports of the 3530 tuned at once, each on a carrier of its own, with their MER, levels and
// bad-packet counts against what the carriers are; and what every QAM port answers in the
// statistics commands (fixed layout 30 and 31, XML 38) and refuses.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "DemodClientFixture.h"
#include "DemodPortClient.h"
#include "XpUtil.h"

namespace demodclient {
namespace {

using namespace Kxapi;

constexpr int64_t SERIAL_3530 = 3530000001;
constexpr int64_t SERIAL_3490 = 3490000001;
constexpr int64_t SERIAL_3490_SHARED = 3490000002;
constexpr int NUM_PORTS_3530 = 12;
constexpr double DBMV_PER_DBM = 48.8;
// MER is averaged over 10 polls of 100 ms, bad packets are counted over this period.
constexpr unsigned int SETTLE_MS = 1500;

struct Carrier {
    int64_t m_FreqHz;
    int32_t m_ModType;
    int32_t m_Annex;
    int32_t m_SymbolRateBd; // -1: searched
    double m_LevelDbm;
    double m_CnDb;
    bool m_NearThreshold; // close enough to its threshold to lose packets
};

// The default scenario's 3530 carriers, one per port (every order, every annex, manual and
// searched symbol rates, levels from -62 to -33 dBm).
const Carrier CARRIERS[NUM_PORTS_3530] = {
    {114000000, KX_MOD_QAM16, 1, 6900000, -52.0, 22.0, false},
    {122000000, KX_MOD_QAM32, 1, 6900000, -48.0, 25.0, false},
    {306000000, KX_MOD_QAM256, 1, -1, -45.0, 34.0, false},
    {314000000, KX_MOD_QAM64, 1, 6900000, -40.0, 30.0, false},
    {322000000, KX_MOD_QAM256, 3, 5360537, -45.0, 35.0, false},
    {330000000, KX_MOD_QAM128, 1, 6900000, -38.0, 30.0, false},
    {338000000, KX_MOD_QAM4, 1, 6900000, -60.0, 14.0, false},
    {346000000, KX_MOD_QAM64, 3, -1, -50.0, 31.0, false},
    {354000000, KX_MOD_QAM64, 2, 5274000, -47.0, 29.0, false},
    {362000000, KX_MOD_QAM64, 1, 6900000, -43.0, 24.0, true},
    {370000000, KX_MOD_QAM256, 1, 6900000, -33.0, 36.0, false},
    {378000000, KX_MOD_QAM256, 2, 5274000, -56.0, 33.0, false},
};

KxDemodPars ParsOf(const Carrier& carrier)
{
    KxDemodPars pars(carrier.m_ModType);
    pars.Qam()->m_Annex = carrier.m_Annex;
    pars.Qam()->m_SymRateBd = carrier.m_SymbolRateBd;
    return pars;
}

template <typename T> T ValueOf(const KxStatistic& stat)
{
    T value{};
    EXPECT_EQ(KXAPI_OK, stat.GetValue(value)) << "statistic " << stat.m_StatisticId;
    return value;
}

class QamReceiversProcessTest : public DemodClientTest {
protected:
    // Opens a client on every port of the card.
    void OpenAll(int64_t serial, int ports)
    {
        for (int port = 0; port < ports; port++) {
            m_Clients.push_back(std::make_unique<DemodPortClient>());
            ASSERT_EQ(KXAPI_OK, OpenWhenReady(*m_Clients.back(), serial, port)) << "port " << port;
        }
    }

    std::vector<std::unique_ptr<DemodPortClient>> m_Clients;
};

} // namespace

TEST_F(QamReceiversProcessTest, TwelvePortsTuneLockAndMeasureTheirOwnCarriers)
{
    ASSERT_NO_FATAL_FAILURE(OpenAll(SERIAL_3530, NUM_PORTS_3530));
    for (int port = 0; port < NUM_PORTS_3530; port++)
        ASSERT_EQ(KXAPI_OK, m_Clients[port]->Svc().Tune(CARRIERS[port].m_FreqHz, ParsOf(CARRIERS[port])))
            << "port " << port;
    for (int port = 0; port < NUM_PORTS_3530; port++)
        ASSERT_TRUE(kxtest::WaitUntil([&] { return IsLocked(*m_Clients[port]); }, LOCK_WAIT_MS)) << "port " << port;

    std::vector<int32_t> firstBadPackets(NUM_PORTS_3530, 0);
    for (int port = 0; port < NUM_PORTS_3530; port++) {
        std::vector<KxStatistic> stats;
        ASSERT_EQ(KXAPI_OK, Read(*m_Clients[port], {KX_STAT_BAD_PCK_CNT}, stats));
        firstBadPackets[port] = ValueOf<int32_t>(stats[0]);
    }
    XpUtil::Sleep(SETTLE_MS);
    for (int port = 0; port < NUM_PORTS_3530; port++) {
        const Carrier& carrier = CARRIERS[port];
        std::vector<KxStatistic> stats;
        ASSERT_EQ(KXAPI_OK, Read(*m_Clients[port],
                                 {KX_STAT_LOCK, KX_STAT_MER, KX_STAT_RF_LVL_UNCALIB, KX_STAT_RF_LVL_CHAN,
                                  KX_STAT_BAD_PCK_CNT},
                                 stats));
        EXPECT_TRUE(ValueOf<bool>(stats[0])) << "port " << port;
        // MER within 1 dB of the carrier's C/N less the 0.5 dB implementation loss.
        EXPECT_NEAR(carrier.m_CnDb - 0.5, ValueOf<int32_t>(stats[1]) / 10.0, 1.0) << "port " << port;
        // Levels in tenths of a dBmV: uncalibrated within 1.5 dB, calibrated within 3 dB.
        const double levelDbmv = carrier.m_LevelDbm + DBMV_PER_DBM;
        EXPECT_NEAR(levelDbmv, ValueOf<int32_t>(stats[2]) / 10.0, 1.5) << "port " << port;
        EXPECT_NEAR(levelDbmv, ValueOf<int32_t>(stats[3]) / 10.0, 3.0) << "port " << port;
        // Packets are lost only near the threshold.
        const int32_t badPackets = ValueOf<int32_t>(stats[4]);
        if (carrier.m_NearThreshold)
            EXPECT_GT(badPackets, firstBadPackets[port]) << "port " << port;
        else
            EXPECT_EQ(0, badPackets) << "port " << port;
    }
    // Each port kept its own tuning.
    for (int port = 0; port < NUM_PORTS_3530; port++) {
        int64_t freqHz = 0;
        ASSERT_EQ(KXAPI_OK, m_Clients[port]->Svc().TunerFrequencyGet(-1, freqHz));
        EXPECT_EQ(CARRIERS[port].m_FreqHz, freqHz) << "port " << port;
    }
}

TEST_F(QamReceiversProcessTest, EveryPortAnswersItsStatisticsAndRefusesTheRest)
{
    struct Card {
        int64_t m_Serial;
        int m_Ports;
        KXAPI_RESULT m_AgcResetMode2; // the 3530's tuner has an AGC reset of modes 0 and 1, the 3490 none
    };
    for (const Card& card : {Card{SERIAL_3530, NUM_PORTS_3530, KXAPI_E_INVALID_PARS},
                             Card{SERIAL_3490, 2, KXAPI_E_NOT_SUPPORTED},
                             Card{SERIAL_3490_SHARED, 2, KXAPI_E_NOT_SUPPORTED}}) {
        m_Clients.clear();
        ASSERT_NO_FATAL_FAILURE(OpenAll(card.m_Serial, card.m_Ports));
        for (int port = 0; port < card.m_Ports; port++) {
            DemodSvcClient& svc = m_Clients[port]->Svc();
            std::vector<int32_t> ids;
            ASSERT_EQ(KXAPI_OK, svc.SupportedStatsGetOld(64, ids)) << "port " << port;
            std::vector<KxStatistic> supported;
            ASSERT_EQ(KXAPI_OK, svc.GetSupportedStatistics(64, supported));
            ASSERT_EQ(ids.size(), supported.size());
            for (size_t i = 0; i < ids.size(); i++)
                EXPECT_EQ(ids[i], supported[i].m_StatisticId);

            // Every supported statistic answers (its default before a lock), an unsupported one
            // does not: fixed layout (30) and XML (38).
            std::vector<int32_t> asked = ids;
            asked.push_back(KX_STAT_PER);
            std::vector<TStatPars> old;
            ASSERT_EQ(KXAPI_OK, svc.StatisticsGetOld(asked, old));
            ASSERT_EQ(asked.size(), old.size());
            std::vector<KxStatistic> stats;
            ASSERT_EQ(KXAPI_OK, Read(*m_Clients[port], asked, stats));
            for (size_t i = 0; i < asked.size(); i++) {
                const bool isSupported = i < ids.size();
                for (KXAPI_RESULT result : {static_cast<KXAPI_RESULT>(old[i].m_Result),
                                            static_cast<KXAPI_RESULT>(stats[i].m_Result)})
                    EXPECT_EQ(isSupported, result != KXAPI_E_NOT_SUPPORTED)
                        << "port " << port << ", statistic " << asked[i];
            }

            // What the receiver does not do, with its codes.
            EXPECT_EQ(KXAPI_E_NOT_SUPPORTED, svc.LnbEnable(true));
            KxDemodPars dvbt(KX_MOD_DVBT);
            EXPECT_EQ(KXAPI_E_INVALID_MODE, svc.Tune(CARRIERS[0].m_FreqHz, dvbt));
            EXPECT_EQ(KXAPI_E_INVALID_RATE, svc.Tune(1100000000, ParsOf(CARRIERS[0])));
            KxDemodPars pars = ParsOf(CARRIERS[0]);
            pars.Qam()->m_SymRateBd = 7200000;
            EXPECT_EQ(KXAPI_E_INVALID_SYMRATE, svc.Tune(CARRIERS[0].m_FreqHz, pars));
            pars.Qam()->m_Annex = 0;
            EXPECT_EQ(KXAPI_E_INVALID_J83ANNEX, svc.ControlSet(pars));
            EXPECT_EQ(card.m_AgcResetMode2, svc.AgcReset(2));
        }
    }
}

TEST_F(QamReceiversProcessTest, KxctlOverviewShowsEveryPortOnALine)
{
    ASSERT_NO_FATAL_FAILURE(OpenAll(SERIAL_3530, 1)); // the card is ready
    auto kxctl = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {KX_KXCTL_BINARY, "--fifo-dir", m_Service.Dir()});
        return kxtest::RunProgram(args, 60000);
    };
    kxtest::ProcessResult tune = kxctl({"demod", "tune", "3530000001", "3", "314M", "6", "1", "0", "6900000"});
    ASSERT_EQ(0, tune.m_Status) << tune.m_Output;

    // Piped: one block of lines per refresh, no terminal control; the tuned port locks again
    // once the overview attaches it (the port keeps its tuning).
    kxtest::ProcessResult overview = kxctl({"demod", "overview", "3530000001", "--count", "25"});
    ASSERT_EQ(0, overview.m_Status) << overview.m_Output;
    EXPECT_EQ(std::string::npos, overview.m_Output.find('\033'));
    std::istringstream lines(overview.m_Output);
    std::string line, lastPort3;
    int headers = 0, portLines = 0;
    while (std::getline(lines, line)) {
        headers += line.rfind("3530000001: 12 ports", 0) == 0 ? 1 : 0;
        int port = -1;
        if (sscanf(line.c_str(), "%d ", &port) == 1 && line.find("ports") == std::string::npos) {
            portLines++;
            if (port == 3)
                lastPort3 = line;
        }
    }
    EXPECT_EQ(25, headers);
    EXPECT_EQ(25 * NUM_PORTS_3530, portLines);
    EXPECT_NE(std::string::npos, lastPort3.find("locked")) << overview.m_Output;
    EXPECT_NE(std::string::npos, lastPort3.find(" dB")) << lastPort3;

    // With --json: one object per port and refresh.
    kxtest::ProcessResult json = kxctl({"--json", "demod", "overview", "3530000001", "--count", "1"});
    ASSERT_EQ(0, json.m_Status) << json.m_Output;
    std::istringstream objects(json.m_Output);
    std::set<int> ports;
    while (std::getline(objects, line)) {
        const nlohmann::json object = nlohmann::json::parse(line);
        ports.insert(object.at("port").get<int>());
        EXPECT_TRUE(object.contains("Lock") && object.contains("MER")) << line;
    }
    EXPECT_EQ(static_cast<size_t>(NUM_PORTS_3530), ports.size());
}

} // namespace demodclient
