// The register proxies of the device access layer against the virtual 3470's blocks: look-up
// through the block tree, I2C master, satellite demodulator (locking on the carrier under the
// tuned frequency), constellation grabber, receive DMA ring, the I/Q capture path, exclusive
// access, and reproducible readings for a seed.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "KxAf.h"
#include "KxDevice.h"
#include "KxDeviceBackend.h"
#include "KxProxyBlocks.h"
#include "KxProxyS2CRDEMOD_3470.h"
#include "SimEnvironment.h"

using namespace Kxapi;

namespace {

constexpr int64_t SERIAL_3470 = 3470000001;
constexpr int64_t DEMOD_SAMPLE_RATE_HZ = 160000000;

class BlockModelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_EQ(KXAPI_OK, m_Environment.Load(nullptr, error)) << error;
        ASSERT_EQ(KXAPI_OK, m_Device.AttachToSerial(SERIAL_3470));
        ASSERT_NE(nullptr, m_Device.Backend());
        ASSERT_EQ(KXAPI_OK, m_Af.Init(AF_DEMODCHANNEL, m_Device.Backend()->Core(), 0));
    }

    SimEnvironment m_Environment;
    KxDeviceInt m_Device;
    KxAf m_Af;
};

TEST_F(BlockModelTest, I2cMasterReachesTheDeviceBehindThePortBus)
{
    auto* pChip = new SimI2cRegisterFile(16);
    m_Environment.Rack().Find(SERIAL_3470)->AddI2cDevice(0, 0xC0, pChip);
    KxProxyI2CM* pI2c = nullptr;
    ASSERT_EQ(KXAPI_OK, m_Af.GetProxy(pI2c));
    KxProxyI2CM* pAgain = nullptr;
    ASSERT_EQ(KXAPI_OK, m_Af.GetProxy(pAgain));
    EXPECT_EQ(pI2c, pAgain) << "the same object the second time";
    const unsigned char write[] = {0x05, 0x77, 0x78};
    ASSERT_EQ(KXAPI_OK, pI2c->Write(0xC0, sizeof(write), write));
    EXPECT_EQ(0x77, pChip->Memory()[5]);
    const unsigned char pointer = 0x06;
    unsigned char read[4] = {};
    int count = 0;
    ASSERT_EQ(KXAPI_OK, pI2c->WriteRead(0xC0, 1, &pointer, 1, read, count));
    EXPECT_EQ(1, count);
    EXPECT_EQ(0x78, read[0]);
    EXPECT_NE(KXAPI_OK, pI2c->Write(0xC2, 1, write)) << "nobody at that address";
}

TEST_F(BlockModelTest, SatelliteDemodulatorLocksOnTheTunedCarrier)
{
    KxProxyS2CRDEMOD_3470* pDemod = nullptr;
    ASSERT_EQ(KXAPI_OK, m_Af.GetProxy(pDemod));
    bool flag0 = true, flag1 = true, flag2 = true;
    uint32_t word3 = 0;
    m_Environment.Rack().Find(SERIAL_3470)->SetTunedHz(0, 1150000000); // as the card's tuner does
    ASSERT_EQ(KXAPI_OK, pDemod->GetStatus(flag0, flag1, flag2, word3));
    EXPECT_FALSE(flag0) << "stopped";
    ASSERT_EQ(KXAPI_OK, pDemod->SetOperationalMode(2));
    ASSERT_EQ(KXAPI_OK, pDemod->SetSymbolRate(DEMOD_SAMPLE_RATE_HZ, 27500000));
    int64_t rate = 0;
    ASSERT_EQ(KXAPI_OK, pDemod->GetSymbolRate(DEMOD_SAMPLE_RATE_HZ, rate));
    EXPECT_NEAR(27500000, rate, 1000);
    for (int i = 0; i < 50 && !flag1; i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_EQ(KXAPI_OK, pDemod->GetStatus(flag0, flag1, flag2, word3));
    }
    EXPECT_TRUE(flag0 && flag1 && flag2) << "locked after the carrier's acquisition time";
    int64_t offsetHz = -1;
    ASSERT_EQ(KXAPI_OK, pDemod->GetFreqOffset(DEMOD_SAMPLE_RATE_HZ, offsetHz));
    EXPECT_EQ(0, offsetHz) << "tuned onto the carrier";

    // Another symbol rate, or a tuner beside the carrier, does not lock.
    ASSERT_EQ(KXAPI_OK, pDemod->SetSymbolRate(DEMOD_SAMPLE_RATE_HZ, 30000000));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_EQ(KXAPI_OK, pDemod->GetStatus(flag0, flag1, flag2, word3));
    EXPECT_FALSE(flag1) << "30 MBd programmed for a 27.5 MBd carrier";
    ASSERT_EQ(KXAPI_OK, pDemod->SetSymbolRate(DEMOD_SAMPLE_RATE_HZ, 27500000));
    m_Environment.Rack().Find(SERIAL_3470)->SetTunedHz(0, 1160000000);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_EQ(KXAPI_OK, pDemod->GetStatus(flag0, flag1, flag2, word3));
    EXPECT_FALSE(flag1) << "10 MHz beside the carrier";
    m_Environment.Rack().Find(SERIAL_3470)->SetTunedHz(0, 1152000000);
    for (int i = 0; i < 50 && !flag1; i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_EQ(KXAPI_OK, pDemod->GetStatus(flag0, flag1, flag2, word3));
    }
    EXPECT_TRUE(flag1) << "2 MHz off is within the capture range";
    ASSERT_EQ(KXAPI_OK, pDemod->GetFreqOffset(DEMOD_SAMPLE_RATE_HZ, offsetHz));
    EXPECT_NEAR(-2000000, offsetHz, 200) << "the carrier lies 2 MHz below the tuned frequency";
    double snrDb = 0;
    ASSERT_EQ(KXAPI_OK, pDemod->GetSnr(snrDb));
    EXPECT_NEAR(11.5, snrDb, 1.0) << "C/N 12 dB of the first carrier less the implementation loss";
    ASSERT_EQ(KXAPI_OK, pDemod->SetSpectrumInversion(1));
    int inversion = -1;
    ASSERT_EQ(KXAPI_OK, pDemod->GetSpectrumInversion(inversion));
    EXPECT_EQ(1, inversion);
    int mode = 0;
    ASSERT_EQ(KXAPI_OK, pDemod->GetOperationalMode(mode));
    EXPECT_EQ(2, mode);
}

TEST_F(BlockModelTest, ConstellationPointsAndDmaRing)
{
    m_Environment.Rack().Find(SERIAL_3470)->SetTunedHz(0, 1150000000); // the grabber shows the tuned carrier
    KxAf grab;
    ASSERT_EQ(KXAPI_OK, grab.Init(AF_IQCGRAB, m_Device.Backend()->Core(), 0));
    KxProxyIQCGRAB_3470* pGrab = nullptr;
    ASSERT_EQ(KXAPI_OK, grab.GetProxy(pGrab));
    std::vector<KxIqPoint> points;
    ASSERT_EQ(KXAPI_OK, pGrab->GetIqConstPoints(0, 100, points));
    ASSERT_EQ(100u, points.size());
    int nonZero = 0;
    for (const KxIqPoint& p : points)
        nonZero += p.m_I != 0 || p.m_Q != 0;
    EXPECT_GT(nonZero, 90);

    KxAf dma;
    ASSERT_EQ(KXAPI_OK, dma.Init(AF_AFS2CRDEMOD, m_Device.Backend()->Core(), 0));
    KxPalCDMAC_Rx* pRing = nullptr;
    ASSERT_EQ(KXAPI_OK, dma.GetPal(pRing));
    ASSERT_EQ(KXAPI_OK, pRing->Init(65536));
    ASSERT_EQ(KXAPI_OK, pRing->SetRxControl(1));
    KxPalBURSTFIFO_Rx* pFifo = nullptr;
    ASSERT_EQ(KXAPI_OK, dma.GetPal(pFifo));
    ASSERT_EQ(KXAPI_OK, pFifo->FifoProxy().SetOperationalMode(2));
    m_Environment.Rack().Find(SERIAL_3470)->SetTunedHz(0, 1150000000);
    int load = 0;
    for (int i = 0; i < 100 && load < 4096; i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_EQ(KXAPI_OK, pRing->GetLoad(load));
    }
    ASSERT_GE(load, 4096) << "samples arrive while the channel runs";
    alignas(4) unsigned char samples[4096];
    ASSERT_EQ(KXAPI_OK, pRing->Read(samples, sizeof(samples)));
    int nonZeroBytes = 0;
    for (unsigned char b : samples)
        nonZeroBytes += b != 0;
    EXPECT_GT(nonZeroBytes, 1000);
    EXPECT_EQ(KXAPI_OK, pRing->SetRxControl(0));
}

// Mean power of I/Q words (16-bit I low, Q high).
double MeanPower(const std::vector<uint32_t>& words)
{
    double sum = 0;
    for (uint32_t w : words) {
        const double i = static_cast<int16_t>(w & 0xFFFF), q = static_cast<int16_t>(w >> 16);
        sum += i * i + q * q;
    }
    return words.empty() ? 0.0 : sum / static_cast<double>(words.size());
}

// Mean power of `pairs` samples read from the ring (waits up to a second for them).
double ReadPower(KxPalCDMAC_Rx& ring, int pairs)
{
    std::vector<uint32_t> words(static_cast<size_t>(pairs));
    int load = 0;
    for (int i = 0; i < 200 && load < pairs * 4; i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_EQ(KXAPI_OK, ring.GetLoad(load));
    }
    EXPECT_GE(load, pairs * 4);
    EXPECT_EQ(KXAPI_OK, ring.Read(reinterpret_cast<unsigned char*>(words.data()), pairs * 4));
    return MeanPower(words);
}

// The capture path of the card's first port, its ring of ringBytes receiving.
struct CapturePath {
    KxAf m_Af;
    KxPalCDMAC_Rx* m_pRing = nullptr;
    KxPalBURSTFIFO_Rx* m_pFifo = nullptr;

    ::testing::AssertionResult Open(KxDeviceInt& device, int ringBytes)
    {
        if (m_Af.Init(AF_IQCAPTURE, device.Backend()->Core(), 0) != KXAPI_OK || m_Af.GetPal(m_pRing) != KXAPI_OK ||
            m_Af.GetPal(m_pFifo) != KXAPI_OK || m_pRing->Init(ringBytes) != KXAPI_OK ||
            m_pRing->SetRxControl(1) != KXAPI_OK)
            return ::testing::AssertionFailure() << "the capture path did not open";
        return ::testing::AssertionSuccess();
    }
};

// The I/Q capture path: nothing comes while its burst FIFO is stopped; while it runs, the
// carrier under the tuned frequency (unit amplitude 4096) or, with none there, receiver noise;
// samples the reader leaves behind overflow the FIFO.
TEST_F(BlockModelTest, CapturePathCarriesWhatTheTunerSeesWhileItsFifoRuns)
{
    std::shared_ptr<SimCard> card = m_Environment.Rack().Find(SERIAL_3470);
    CapturePath capture;
    ASSERT_TRUE(capture.Open(m_Device, 1 << 20));
    KxPalCDMAC_Rx* pRing = capture.m_pRing;
    KxPalBURSTFIFO_Rx* pFifo = capture.m_pFifo;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    int load = -1;
    ASSERT_EQ(KXAPI_OK, pRing->GetLoad(load));
    EXPECT_EQ(0, load) << "the FIFO is stopped";

    card->SetTunedHz(0, 1151000000); // on the 27.5 Msym/s carrier at 1150 MHz
    ASSERT_EQ(KXAPI_OK, pFifo->FifoProxy().SetOperationalMode(2));
    const double carrier = ReadPower(*pRing, 4096);
    EXPECT_NEAR(4096.0 * 4096.0, carrier, 0.25 * 4096.0 * 4096.0);

    card->SetTunedHz(0, 1000000000); // nothing there
    ASSERT_EQ(KXAPI_OK, pRing->IssueChannelFlush());
    const double noise = ReadPower(*pRing, 4096);
    EXPECT_LT(noise, carrier / 1000.0);
    EXPECT_GT(noise, 0.0);

    uint32_t before = 0, after = 0;
    ASSERT_EQ(KXAPI_OK, pFifo->FifoProxy().GetOverUnderflowCount(before));
    std::this_thread::sleep_for(std::chrono::milliseconds(20)); // 12.8 MB due, 1 MiB of room
    ASSERT_EQ(KXAPI_OK, pRing->GetLoad(load));
    ASSERT_EQ(KXAPI_OK, pFifo->FifoProxy().GetOverUnderflowCount(after));
    EXPECT_GT(after, before);
    EXPECT_EQ(KXAPI_OK, pRing->SetRxControl(0));
}

// The capture path runs ahead of real time: the ring is full whenever the reader looks, so a
// reader that keeps taking never waits for samples, however much it takes.
TEST_F(BlockModelTest, CapturePathKeepsItsRingFullForAReaderThatKeepsTaking)
{
    std::shared_ptr<SimCard> card = m_Environment.Rack().Find(SERIAL_3470);
    constexpr int RING_BYTES = 1 << 16;
    CapturePath capture;
    ASSERT_TRUE(capture.Open(m_Device, RING_BYTES));
    KxPalCDMAC_Rx* pRing = capture.m_pRing;
    card->SetTunedHz(0, 1151000000);
    ASSERT_EQ(KXAPI_OK, capture.m_pFifo->FifoProxy().SetOperationalMode(2));
    std::vector<uint32_t> chunk(RING_BYTES / 16);
    double power = 0;
    for (int i = 0; i < 64; i++) { // 16 rings' worth
        int load = 0;
        ASSERT_EQ(KXAPI_OK, pRing->GetLoad(load));
        ASSERT_EQ(RING_BYTES - 4, load) << "read " << i;
        ASSERT_EQ(KXAPI_OK, pRing->Read(reinterpret_cast<unsigned char*>(chunk.data()), RING_BYTES / 4));
        power += MeanPower(chunk) / 64.0;
    }
    EXPECT_NEAR(4096.0 * 4096.0, power, 0.25 * 4096.0 * 4096.0) << "the carrier's samples, all along";
    EXPECT_EQ(KXAPI_OK, pRing->SetRxControl(0));
}

TEST_F(BlockModelTest, ExclusiveAccessIsArbitratedBetweenHolders)
{
    KxProxyI2CM* pI2c = nullptr;
    ASSERT_EQ(KXAPI_OK, m_Af.GetProxy(pI2c));
    KxDeviceInt other;
    ASSERT_EQ(KXAPI_OK, other.AttachToSerial(SERIAL_3470));
    KxAf otherAf;
    ASSERT_EQ(KXAPI_OK, otherAf.Init(AF_DEMODCHANNEL, other.Backend()->Core(), 0));
    ASSERT_EQ(KXAPI_OK, m_Af.ExclAccess(1));
    EXPECT_EQ(KXAPI_E_IN_USE, otherAf.ExclAccess(1));
    EXPECT_EQ(KXAPI_OK, m_Af.ExclAccess(2));
    EXPECT_EQ(KXAPI_OK, otherAf.ExclAccess(1)) << "the failed acquire left nothing held";
    EXPECT_EQ(KXAPI_OK, otherAf.ExclAccess(2));
}

std::vector<double> SnrReadings()
{
    SimEnvironment environment;
    std::string error;
    EXPECT_EQ(KXAPI_OK, environment.Load(nullptr, error));
    KxDeviceInt device;
    EXPECT_EQ(KXAPI_OK, device.AttachToSerial(SERIAL_3470));
    KxAf af;
    EXPECT_EQ(KXAPI_OK, af.Init(AF_DEMODCHANNEL, device.Backend()->Core(), 1));
    KxProxyS2CRDEMOD_3470* pDemod = nullptr;
    EXPECT_EQ(KXAPI_OK, af.GetProxy(pDemod));
    std::vector<double> readings;
    if (pDemod == nullptr)
        return readings;
    // Port index 1's block sits on RF input 1 (a 30 MBd carrier at 1400 MHz); locked, it measures.
    environment.Rack().Find(SERIAL_3470)->SetTunedHz(1, 1400000000);
    pDemod->SetSymbolRate(DEMOD_SAMPLE_RATE_HZ, 30000000);
    pDemod->SetOperationalMode(2);
    bool carrier = false, plHeader = false, stream = false;
    uint32_t word3 = 0;
    for (int i = 0; i < 100 && !plHeader; i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(KXAPI_OK, pDemod->GetStatus(carrier, plHeader, stream, word3));
    }
    EXPECT_TRUE(plHeader);
    for (int i = 0; i < 8; i++) {
        double snr = 0;
        EXPECT_EQ(KXAPI_OK, pDemod->GetSnr(snr));
        readings.push_back(snr);
    }
    return readings;
}

TEST(BlockModelSeed, TwoRunsWithTheSameSeedReadTheSame)
{
    const std::vector<double> first = SnrReadings();
    const std::vector<double> second = SnrReadings();
    ASSERT_EQ(8u, first.size());
    EXPECT_EQ(first, second);
    EXPECT_NE(first[0], first[1]) << "the readings carry noise";
}

TEST(SimCardTuner, EachRfInputKeepsItsOwnTuning)
{
    SimCard card;
    EXPECT_EQ(0, card.TunedHz(0)) << "untuned until a tuner model sets it";
    EXPECT_EQ(0, card.LowPassHz(1));
    card.SetTunedHz(0, 1150000000);
    card.SetLowPassHz(0, 24300000);
    card.SetTunedHz(1, 1750000000);
    card.SetTunedHz(-1, 999);
    card.SetLowPassHz(-1, 999);
    EXPECT_EQ(1150000000, card.TunedHz(0));
    EXPECT_EQ(24300000, card.LowPassHz(0));
    EXPECT_EQ(1750000000, card.TunedHz(1));
    EXPECT_EQ(0, card.LowPassHz(1)) << "input 1's low-pass is not input 0's";
    EXPECT_EQ(0, card.TunedHz(-1)) << "a negative input is refused";
}

} // namespace
