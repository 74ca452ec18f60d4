// The virtual 3470's frame-statistics block: one report per DVB-S2 frame of the carrier under
// the tuned frequency, at the carrier's frame rate, with the carrier's streams and PLS code and
// decoding errors that follow its C/N against the PLS code's threshold.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>
#include <thread>

#include "DvbS2Pls.h"
#include "KxAf.h"
#include "KxDevice.h"
#include "KxDeviceBackend.h"
#include "CritSecAutoLock.h"
#include "KxProxyBlocks.h"
#include "KxProxyS2CRDEMOD_3470.h"
#include "Sim3470FrameStats.h"
#include "SimEnvironment.h"

using namespace Kxapi;

namespace {

constexpr int64_t SERIAL_3470 = 3470000001;
constexpr int64_t DEMOD_SAMPLE_RATE_HZ = 160000000;
constexpr int64_t CARRIER_HZ = 1200000000;

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
        ASSERT_EQ(KXAPI_OK, m_DemodAf.Init(AF_DEMODCHANNEL, m_Device.Backend()->Core(), 0));
        ASSERT_EQ(KXAPI_OK, m_DemodAf.GetProxy(m_pDemod));
        m_pCard = m_Environment.Rack().Find(SERIAL_3470);
        ASSERT_NE(nullptr, m_pCard);
    }
    // The input carries one DVB-S2 carrier, tuned, and the demodulator is set to its symbol
    // rate (it locks once the carrier's lock time has passed, when the C/N allows).
    void Carrier(double cnDb, int modCod, int constellation, int64_t symbolRateBd = 27500000,
                 std::vector<int> streams = {}, const std::string& coding = "CCM", std::vector<int> streamModCods = {})
    {
        SimCarrier carrier;
        carrier.m_FreqHz = CARRIER_HZ;
        carrier.m_Standard = "DVB-S2";
        carrier.m_Constellation = constellation;
        carrier.m_SymbolRateBd = symbolRateBd;
        carrier.m_CnDb = cnDb;
        carrier.m_ModCod = modCod;
        carrier.m_StreamIds = std::move(streams);
        carrier.m_Coding = coding;
        carrier.m_StreamModCods = std::move(streamModCods);
        {
            CritSecAutoLock lock(m_pCard->Lock());
            m_pCard->Scene().Carriers(0) = {carrier};
        }
        m_pCard->SetTunedHz(0, carrier.m_FreqHz);
        ASSERT_EQ(KXAPI_OK, m_pDemod->SetSymbolRate(DEMOD_SAMPLE_RATE_HZ, symbolRateBd));
        ASSERT_EQ(KXAPI_OK, m_pDemod->SetOperationalMode(2));
    }
    bool PlHeaderLocked()
    {
        bool carrier = false, plHeader = false, stream = false;
        uint32_t word3 = 0;
        return m_pDemod->GetStatus(carrier, plHeader, stream, word3) == KXAPI_OK && plHeader;
    }
    // Waits up to 2 s for the demodulator's lock.
    bool WaitForLock()
    {
        for (int i = 0; i < 200 && !PlHeaderLocked(); i++)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return PlHeaderLocked();
    }
    // Locks on the carrier of Carrier(...).
    void Lock() { ASSERT_TRUE(WaitForLock()) << "the demodulator locks on the carrier"; }
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
    KxAf m_DemodAf;
    KxProxyS2CRDEMOD_3470* m_pDemod = nullptr;
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
    Lock();
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
        Lock();
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
    // Below the constellation's lock threshold the demodulator never locks: nothing is received.
    Carrier(3.0, 11, 4);
    EXPECT_FALSE(WaitForLock());
    EXPECT_TRUE(Receive(200).empty());
}

TEST_F(FrameStatsTest, UnreadReportsOverflowTheBlockUntilItIsCleared)
{
    // 72 MBd QPSK short frames (PLS 218, 8190 symbols): about 8800 frames a second.
    Carrier(12.0, 218, 4, 72000000);
    Lock();
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

// VCM and ACM carriers: every stream's frames carry the stream's own PLS code (ACM streams
// alternate it with the carrier's), so per-ISI statistics see each stream's modulation.
TEST_F(FrameStatsTest, EachStreamsFramesCarryItsOwnPlsCode)
{
    const struct {
        const char* m_Coding;
        std::vector<int> m_Streams;
        std::vector<int> m_ModCods;
        std::map<int, std::set<uint32_t>> m_PlsPerIsi; // expected PLS codes per ISI
        uint32_t m_CcmBit;
    } rows[] = {
        {"CCM", {1, 2}, {}, {{1, {12u << 2}}, {2, {12u << 2}}}, 0x10},
        {"VCM", {0, 3}, {7, 4}, {{0, {7u << 2}}, {3, {4u << 2}}}, 0},
        {"ACM", {1, 2, 3}, {13, 15, 17}, {{1, {13u << 2, 12u << 2}}, {2, {15u << 2, 12u << 2}}, {3, {17u << 2, 12u << 2}}}, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.m_Coding);
        // 8PSK 3/5 (MODCOD 12) as the carrier's own; C/N 14 dB decodes every MODCOD used.
        Carrier(14.0, 12, 8, 20000000, row.m_Streams, row.m_Coding, row.m_ModCods);
        Lock();
        const std::vector<S2FrameStatus> frames = Receive(300);
        ASSERT_GT(frames.size(), 100u);
        std::map<int, std::set<uint32_t>> seen;
        for (const S2FrameStatus& f : frames) {
            seen[static_cast<int>((f.m_PlsCode >> 8) & 0xFF)].insert(f.m_PlsCode & 0xFF);
            EXPECT_EQ(row.m_CcmBit, (f.m_PlsCode >> 16) & 0x10) << "MATYPE's CCM bit";
        }
        EXPECT_EQ(row.m_PlsPerIsi, seen);
        EXPECT_EQ(0.0, FailedFraction(frames, 0x1));
    }
}

// Frames are reported only while the demodulator is locked on the carrier: none before the
// lock, none once the tuner has moved off it, and none while the demodulator is stopped.
TEST_F(FrameStatsTest, FramesAreReportedOnlyWhileTheDemodulatorIsLocked)
{
    // QPSK 3/4 at 1 MBd: about 31 frames a second, and 400 ms from the tune to the lock.
    Carrier(12.0, 7, 4, 1000000);
    int pending = -1, lost = 0;
    bool overflow = false;
    ASSERT_EQ(KXAPI_OK, m_pStats->ClearStatistics());
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ASSERT_EQ(KXAPI_OK, m_pStats->GetStatisticsStatus(pending, lost, overflow));
    ASSERT_FALSE(PlHeaderLocked()) << "still acquiring";
    EXPECT_EQ(0, pending) << "no frames before the lock";
    Lock();
    EXPECT_FALSE(Receive(300).empty());

    // The tuner moves off the carrier, onto another one the demodulator is not set up for.
    {
        CritSecAutoLock lock(m_pCard->Lock());
        SimCarrier other = m_pCard->Scene().Carriers(0).front();
        other.m_FreqHz = CARRIER_HZ + 100000000;
        other.m_SymbolRateBd = 10000000; // about 300 frames a second
        m_pCard->Scene().Carriers(0).push_back(other);
    }
    m_pCard->SetTunedHz(0, CARRIER_HZ + 100000000);
    EXPECT_TRUE(Receive(200).empty()) << "no frames after the tune moved off the carrier";
    // Back on the carrier: frames again once locked anew; a stopped demodulator receives none.
    m_pCard->SetTunedHz(0, CARRIER_HZ);
    Lock();
    EXPECT_FALSE(Receive(300).empty());
    ASSERT_EQ(KXAPI_OK, m_pDemod->SetOperationalMode(0));
    EXPECT_TRUE(Receive(200).empty()) << "no frames while the demodulator is stopped";
}
