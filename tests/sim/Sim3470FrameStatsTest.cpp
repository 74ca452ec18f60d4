// The virtual 3470's frame-statistics block: one report per DVB-S2 frame of the carrier under
// the tuned frequency, at the carrier's frame rate, with the carrier's streams and PLS code and
// decoding errors that follow its C/N against the PLS code's threshold.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <thread>

#include "DvbS2Pls.h"
#include "KxAf.h"
#include "KxDevice.h"
#include "KxDeviceBackend.h"
#include "CritSecAutoLock.h"
#include "KxProxyBlocks.h"
#include "Sim3470FrameStats.h"
#include "SimEnvironment.h"

using namespace Kxapi;

namespace {

constexpr int64_t SERIAL_3470 = 3470000001;

// The frame-statistics block of port 0 of the default scenario's 3470, whose carrier under
// test the fixture replaces.
class FrameStatsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_EQ(KXAPI_OK, m_Environment.Load(nullptr, error)) << error;
        ASSERT_EQ(KXAPI_OK, m_Device.AttachToSerial(SERIAL_3470));
        ASSERT_EQ(KXAPI_OK, m_Af.Init(AF_S2STATS, m_Device.Backend()->Core(), 0));
        ASSERT_EQ(KXAPI_OK, m_Af.GetProxy(m_pStats));
        m_pCard = m_Environment.Rack().Find(SERIAL_3470);
        ASSERT_NE(nullptr, m_pCard);
    }
    // The input carries one DVB-S2 carrier, tuned.
    void Carrier(double cnDb, int modCod, int constellation, int64_t symbolRateBd = 27500000,
                 std::vector<int> streams = {})
    {
        SimCarrier carrier;
        carrier.m_FreqHz = 1200000000;
        carrier.m_Standard = "DVB-S2";
        carrier.m_Constellation = constellation;
        carrier.m_SymbolRateBd = symbolRateBd;
        carrier.m_CnDb = cnDb;
        carrier.m_ModCod = modCod;
        carrier.m_StreamIds = std::move(streams);
        {
            CritSecAutoLock lock(m_pCard->Lock());
            m_pCard->Scene().Carriers(0) = {carrier};
        }
        m_pCard->SetTunedHz(0, carrier.m_FreqHz);
    }
    // The reports of about `ms` of reception.
    std::vector<S2FrameStatus> Receive(int ms)
    {
        EXPECT_EQ(KXAPI_OK, m_pStats->ClearStatistics());
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        std::vector<S2FrameStatus> all;
        std::vector<S2FrameStatus> chunk;
        int pending = 0, lost = 0;
        bool overflow = false;
        EXPECT_EQ(KXAPI_OK, m_pStats->GetStatisticsStatus(pending, lost, overflow));
        EXPECT_FALSE(overflow);
        while (pending > 0 && m_pStats->ReadStatistics(chunk) == KXAPI_OK && !chunk.empty()) {
            all.insert(all.end(), chunk.begin(), chunk.end());
            pending -= static_cast<int>(chunk.size());
        }
        return all;
    }
    static double FailedFraction(const std::vector<S2FrameStatus>& frames, uint32_t flag)
    {
        size_t failed = 0;
        for (const S2FrameStatus& f : frames)
            failed += (f.m_Flags & flag) != 0 ? 1 : 0;
        return frames.empty() ? -1.0 : static_cast<double>(failed) / frames.size();
    }

    SimEnvironment m_Environment;
    KxDeviceInt m_Device;
    KxAf m_Af;
    KxProxyS2STATS_3470* m_pStats = nullptr;
    std::shared_ptr<SimCard> m_pCard;
};

} // namespace

TEST(Sim3470Frames, PlsCodeFrameRateAndWaterfall)
{
    SimCarrier carrier;
    carrier.m_SymbolRateBd = 27500000;
    carrier.m_Constellation = 4;
    EXPECT_EQ(7 << 2, Sim3470Frames::PlsOf(carrier)); // QPSK 3/4 by default
    carrier.m_ModCod = 13;
    EXPECT_EQ(13 << 2, Sim3470Frames::PlsOf(carrier));
    carrier.m_ModCod = 150;
    EXPECT_EQ(150, Sim3470Frames::PlsOf(carrier));
    // QPSK normal frames: 32490 symbols; 8PSK: 21690.
    carrier.m_ModCod = 7;
    EXPECT_NEAR(27500000.0 / 32490, Sim3470Frames::FramesPerSecond(carrier), 1e-9);
    carrier.m_ModCod = 13;
    EXPECT_NEAR(27500000.0 / 21690, Sim3470Frames::FramesPerSecond(carrier), 1e-9);

    // The waterfall sits below the PLS code's quasi-error-free Es/N0 (QPSK 3/4: 4.03 dB).
    const struct {
        double m_MarginDb;
        double m_Low;
        double m_High;
    } rows[] = {{-2.0, 0.999, 1.0}, {-0.6, 0.49, 0.51}, {-0.3, 1e-3, 0.05}, {0.0, 0.0, 1e-6}, {2.0, 0.0, 1e-12}};
    for (const auto& row : rows) {
        const double p = Sim3470Frames::LdpcFailureProbability(7 << 2, 4.03 + row.m_MarginDb);
        EXPECT_GE(p, row.m_Low) << row.m_MarginDb;
        EXPECT_LE(p, row.m_High) << row.m_MarginDb;
    }
    EXPECT_EQ(1.0, Sim3470Frames::LdpcFailureProbability(176, 30.0)) << "no MODCOD: nothing decodes";
}

TEST_F(FrameStatsTest, ReportsCarryThePlsStreamsAndMerOfTheCarrier)
{
    // 8PSK 2/3 (MODCOD 13, 6.62 dB) at 12 dB over two streams.
    Carrier(12.0, 13, 8, 27500000, {2, 5});
    const std::vector<S2FrameStatus> frames = Receive(300);
    // About 1268 frames a second.
    ASSERT_GT(frames.size(), 200u);
    ASSERT_LT(frames.size(), 1268u);
    std::map<int, int> perIsi;
    double merSum = 0.0;
    for (const S2FrameStatus& f : frames) {
        EXPECT_EQ(13u << 2, f.m_PlsCode & 0xFF);
        EXPECT_EQ(0xF0u | 2u, (f.m_PlsCode >> 16) & 0xFF) << "TS, multiple streams, CCM, roll-off 0.20";
        perIsi[static_cast<int>((f.m_PlsCode >> 8) & 0xFF)]++;
        merSum += ((f.m_Flags >> 16) - 1.0) * 0.125 - 1.0;
    }
    ASSERT_EQ(2u, perIsi.size());
    EXPECT_EQ(1, perIsi.count(2));
    EXPECT_EQ(1, perIsi.count(5));
    EXPECT_LE(std::abs(perIsi[2] - perIsi[5]), 1);
    EXPECT_NEAR(12.0 - 0.5, merSum / frames.size(), 0.1);
    EXPECT_EQ(0.0, FailedFraction(frames, 0x1));
    // Running numbers per (ISI, PLS) without gaps.
    uint32_t last[256] = {};
    for (const S2FrameStatus& f : frames) {
        const int isi = static_cast<int>((f.m_PlsCode >> 8) & 0xFF);
        if (last[isi] != 0) {
            EXPECT_EQ(last[isi] + 1, f.m_FrameCount);
        }
        last[isi] = f.m_FrameCount;
    }
}

TEST_F(FrameStatsTest, DecodingErrorsFollowTheCarriersCnAgainstThePlsThreshold)
{
    // QPSK 9/10 (MODCOD 11) needs 6.42 dB; the receiver's MER is the C/N less 0.5 dB.
    const struct {
        double m_CnDb;
        double m_MinLdpcFailed;
        double m_MaxLdpcFailed;
    } rows[] = {{12.0, 0.0, 0.0}, {7.0, 0.0, 0.01}, {6.3, 0.2, 0.8}, {5.5, 0.99, 1.0}};
    double lastBitErrors = -1.0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.m_CnDb);
        Carrier(row.m_CnDb, 11, 4);
        const std::vector<S2FrameStatus> frames = Receive(300);
        ASSERT_GT(frames.size(), 100u);
        const double ldpc = FailedFraction(frames, 0x1);
        EXPECT_GE(ldpc, row.m_MinLdpcFailed);
        EXPECT_LE(ldpc, row.m_MaxLdpcFailed);
        EXPECT_LE(FailedFraction(frames, 0x2), ldpc) << "BCH fails only after LDPC";
        // The raw bit errors rise as the C/N falls.
        double bits = 0.0;
        for (const S2FrameStatus& f : frames)
            bits += f.m_ErrorCount;
        bits /= frames.size();
        EXPECT_GT(bits, lastBitErrors);
        lastBitErrors = bits;
    }
    // Below the constellation's lock threshold nothing is received.
    Carrier(3.0, 11, 4);
    EXPECT_TRUE(Receive(200).empty());
}

TEST_F(FrameStatsTest, UnreadReportsOverflowTheBlockUntilItIsCleared)
{
    // 72 MBd QPSK short frames (PLS 218, 8190 symbols): about 8800 frames a second.
    Carrier(12.0, 218, 4, 72000000);
    ASSERT_EQ(KXAPI_OK, m_pStats->ClearStatistics());
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    int pending = 0, lost = 0;
    bool overflow = false;
    ASSERT_EQ(KXAPI_OK, m_pStats->GetStatisticsStatus(pending, lost, overflow));
    EXPECT_TRUE(overflow);
    EXPECT_EQ(static_cast<int>(Sim3470Frames::CAPACITY), pending);
    EXPECT_GT(lost, 0);
    ASSERT_EQ(KXAPI_OK, m_pStats->ClearStatistics());
    ASSERT_EQ(KXAPI_OK, m_pStats->GetStatisticsStatus(pending, lost, overflow));
    EXPECT_FALSE(overflow);
    EXPECT_EQ(0, lost);
    EXPECT_LT(pending, 1000);
}
