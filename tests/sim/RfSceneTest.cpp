// The RF scene helpers the chip models use: which carrier a tuner sees, lock timing, signal
// quality figures and sample blocks, all reproducible for a seed.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>

#include "SimRfScene.h"

namespace {

SimCarrier Satellite(int64_t freqHz, double cnDb)
{
    SimCarrier c;
    c.m_FreqHz = freqHz;
    c.m_Standard = "DVB-S2";
    c.m_Constellation = 4;
    c.m_SymbolRateBd = 27500000;
    c.m_RollOffPercent = 20;
    c.m_LevelDbm = -35.0;
    c.m_CnDb = cnDb;
    return c;
}

TEST(RfScene, CarrierUnderTheTunedFrequency)
{
    SimRfScene scene;
    scene.Carriers(0).push_back(Satellite(1150000000, 12.0));
    SimCarrier strong = Satellite(1160000000, 14.0);
    strong.m_LevelDbm = -20.0;
    scene.Carriers(0).push_back(strong);
    EXPECT_EQ(nullptr, scene.CarrierAt(0, 1000000000));
    EXPECT_EQ(nullptr, scene.CarrierAt(1, 1150000000)) << "another input";
    ASSERT_NE(nullptr, scene.CarrierAt(0, 1140000000));
    EXPECT_EQ(1150000000, scene.CarrierAt(0, 1140000000)->m_FreqHz);
    EXPECT_EQ(1160000000, scene.CarrierAt(0, 1155000000)->m_FreqHz) << "overlap: the stronger one";
    // Band edge: occupied bandwidth 33 MHz, so +-16.5 MHz.
    EXPECT_NE(nullptr, scene.CarrierAt(0, 1150000000 - 16500000));
    EXPECT_EQ(nullptr, scene.CarrierAt(1, 1150000000 - 16500001));
}

TEST(RfScene, LockNeedsTimeCaptureRangeAndEnoughCn)
{
    SimCarrier c = Satellite(1150000000, 12.0);
    const unsigned int lockMs = SimRf::LockTimeMs(c);
    EXPECT_GT(lockMs, 0u);
    EXPECT_FALSE(SimRf::IsLocked(&c, c.m_FreqHz, lockMs - 1));
    EXPECT_TRUE(SimRf::IsLocked(&c, c.m_FreqHz, lockMs));
    EXPECT_TRUE(SimRf::IsLocked(&c, c.m_FreqHz + 2000000, lockMs)) << "within the capture range";
    EXPECT_FALSE(SimRf::IsLocked(&c, c.m_FreqHz + 10000000, 100000)) << "outside it";
    EXPECT_FALSE(SimRf::IsLocked(nullptr, c.m_FreqHz, 100000));
    SimCarrier weak = Satellite(1150000000, 0.5);
    EXPECT_FALSE(SimRf::IsLocked(&weak, weak.m_FreqHz, 100000));
    SimCarrier slow = c;
    slow.m_SymbolRateBd = 1000000;
    EXPECT_GT(SimRf::LockTimeMs(slow), lockMs) << "slow carriers take longer";
    EXPECT_EQ(-2000000, SimRf::CarrierOffsetHz(c, c.m_FreqHz + 2000000));
}

TEST(RfScene, ErrorRatesFollowMer)
{
    EXPECT_NEAR(0.1587, SimRf::BerFromMer(0.0, 4), 0.001) << "QPSK at 0 dB: Q(1)";
    double previous = 1.0;
    for (double mer = 0.0; mer <= 30.0; mer += 2.0) {
        const double ber = SimRf::BerFromMer(mer, 64);
        EXPECT_LE(ber, previous);
        previous = ber;
    }
    EXPECT_GT(SimRf::BerFromMer(20.0, 256), SimRf::BerFromMer(20.0, 16)) << "denser constellations suffer more";
    EXPECT_EQ(0.0, SimRf::PerFromBer(1e-6));
    EXPECT_GT(SimRf::PerFromBer(1e-2), 0.5);
    EXPECT_GT(SimRf::AgcWord(-80.0), SimRf::AgcWord(-30.0));
}

TEST(RfScene, SameSeedSameReadings)
{
    SimCarrier c = Satellite(1150000000, 12.0);
    SimRandom a(42), b(42), other(43);
    for (int i = 0; i < 5; i++) {
        const double merA = SimRf::MerDb(c, a);
        EXPECT_EQ(merA, SimRf::MerDb(c, b));
        EXPECT_NEAR(11.5, merA, 1.0);
    }
    EXPECT_EQ(SimRf::LevelTenthsDbm(-35.0, a), SimRf::LevelTenthsDbm(-35.0, b));
    auto pointsA = SimRf::ConstellationPoints(c, 11.5, 64, a);
    auto pointsB = SimRf::ConstellationPoints(c, 11.5, 64, b);
    auto pointsOther = SimRf::ConstellationPoints(c, 11.5, 64, other);
    ASSERT_EQ(64u, pointsA.size());
    bool differs = false;
    for (size_t i = 0; i < pointsA.size(); i++) {
        EXPECT_EQ(pointsA[i].m_I, pointsB[i].m_I);
        EXPECT_EQ(pointsA[i].m_Q, pointsB[i].m_Q);
        differs |= pointsA[i].m_I != pointsOther[i].m_I;
    }
    EXPECT_TRUE(differs) << "another seed gives other points";
}

TEST(RfScene, QpskPointsClusterInTheirQuadrants)
{
    SimCarrier c = Satellite(1150000000, 30.0);
    SimRandom random(7);
    for (const SimIqSample& p : SimRf::ConstellationPoints(c, 30.0, 200, random)) {
        EXPECT_NEAR(std::abs(p.m_I), 8192.0 / 1.5 / std::sqrt(2.0), 600.0);
        EXPECT_NEAR(std::abs(p.m_Q), 8192.0 / 1.5 / std::sqrt(2.0), 600.0);
    }
}

// Power of the block near a frequency (single-bin DFT), relative to the total.
double RelativePowerAt(const std::vector<SimIqSample>& block, double freqHz, double sampleRateHz)
{
    std::complex<double> sum = 0;
    double energy = 0;
    for (size_t n = 0; n < block.size(); n++) {
        const std::complex<double> x(block[n].m_I, block[n].m_Q);
        sum += x * std::polar(1.0, -2.0 * M_PI * freqHz * n / sampleRateHz);
        energy += std::norm(x);
    }
    return std::norm(sum) / (energy * block.size());
}

TEST(RfScene, IqBlockCarriesTheCarrierAtItsOffset)
{
    SimCarrier c = Satellite(1150000000, 25.0);
    c.m_SymbolRateBd = 2000000;
    SimRandom random(3);
    const int64_t rate = 16000000;
    const int n = 8192;
    // Tuned 4 MHz below: the carrier sits at +4 MHz in the block.
    auto block = SimRf::IqBlock(c, c.m_FreqHz - 4000000, rate, n, random);
    ASSERT_EQ(static_cast<size_t>(n), block.size());
    double inBand = 0, outBand = 0;
    for (int k = -3; k <= 3; k++) {
        inBand += RelativePowerAt(block, 4000000 + k * 200000.0, rate);
        outBand += RelativePowerAt(block, -4000000 + k * 200000.0, rate);
    }
    EXPECT_GT(inBand, 20 * outBand) << "energy where the carrier is, little on the mirror side";
    SimRandom again(3);
    auto repeat = SimRf::IqBlock(c, c.m_FreqHz - 4000000, rate, n, again);
    EXPECT_EQ(block[100].m_I, repeat[100].m_I);
    EXPECT_EQ(block[8000].m_Q, repeat[8000].m_Q);
}

} // namespace
