// Register proxies: the satellite demodulator's conversions and records, the hardware function
// with its block tree, proxy and PAL look-up, exclusive access with roll-back and the DMA ring.
#include <cmath>
#include <gtest/gtest.h>

#include "KxAf.h"
#include "KxDevice.h"
#include "KxDeviceBackend.h"
#include "KxProxyS2CRDEMOD_3470.h"
#include "RecordingNode.h"

using Kxapi::KxDeviceInt;

namespace {

typedef KxProxyS2CRDEMOD_3470 Demod;

TEST(S2CrDemodConversions, RollOffCodes)
{
    const int expected[] = {0xFF00, 2048, 1792, 1536, 1280, 1024, 768};
    for (int code = -1; code <= 5; code++) {
        int rollOff = 0;
        ASSERT_TRUE(Demod::RollOffFromCode(code, rollOff));
        EXPECT_EQ(expected[code + 1], rollOff);
    }
    int rollOff = 0;
    EXPECT_FALSE(Demod::RollOffFromCode(6, rollOff));
    EXPECT_FALSE(Demod::RollOffFromCode(-2, rollOff));
}

TEST(S2CrDemodConversions, Snr)
{
    EXPECT_EQ(2147483647.0, Demod::SnrFromReadings(100, 0));
    EXPECT_EQ(2147483647.0, Demod::SnrFromReadings(0, 0));
    EXPECT_EQ(-2147483648.0, Demod::SnrFromReadings(0, 5));
    EXPECT_NEAR(10 * std::log10(16384.0), Demod::SnrFromReadings(7, 7), 1e-9);
    EXPECT_NEAR(10 * std::log10(16384.0 / 100.0), Demod::SnrFromReadings(1, 100), 1e-9);
}

TEST(S2CrDemodConversions, SymbolRateWordsSearchTheDecimation)
{
    uint32_t k = 0, ratio16 = 0, ratio = 0;
    // 100 MHz / 1 MBd = 100: the first k with 100 / k < 7.8125 is 16 (6.25).
    ASSERT_EQ(KXAPI_OK, Demod::SymbolRateWords(100000000, 1000000, k, ratio16, ratio));
    EXPECT_EQ(16u, k);
    EXPECT_EQ(static_cast<uint32_t>(6.25 * 65536), ratio16);
    EXPECT_EQ(6u, ratio);
    // Exactly 7.8125 is not below: 78.125 MHz / 10 MBd needs k = 2.
    ASSERT_EQ(KXAPI_OK, Demod::SymbolRateWords(78125000, 10000000, k, ratio16, ratio));
    EXPECT_EQ(2u, k);
    ASSERT_EQ(KXAPI_OK, Demod::SymbolRateWords(160000000, 80001, k, ratio16, ratio));
    EXPECT_EQ(256u, k);
    EXPECT_EQ(KXAPI_E_INVALID_SYMRATE, Demod::SymbolRateWords(100000000, 80000, k, ratio16, ratio));
    EXPECT_EQ(KXAPI_E_INVALID_SYMRATE, Demod::SymbolRateWords(100000000, 72000001, k, ratio16, ratio));
    EXPECT_EQ(KXAPI_E_INVALID_SYMRATE, Demod::SymbolRateWords(0, 1000000, k, ratio16, ratio));
    EXPECT_EQ(KXAPI_E_INVALID_SYMRATE, Demod::SymbolRateWords(160000001, 1000000, k, ratio16, ratio));
}

TEST(S2CrDemodConversions, SymbolRateAndOffsetFromWords)
{
    EXPECT_EQ(1000000, Demod::SymbolRateFromWords(100000000, 16, 409600));
    EXPECT_EQ(0, Demod::SymbolRateFromWords(100000000, 0, 409600));
    EXPECT_EQ(0, Demod::SymbolRateFromWords(100000000, 16, -1));
    int64_t offset = 0;
    // 0x80000 is -2^19: -0.5 * sample rate / w2.
    ASSERT_EQ(KXAPI_OK, Demod::FreqOffsetFromWords(1000000, 0xFFF80000u, 1, offset));
    EXPECT_EQ(-500000, offset);
    // 1 * 2^-20 * 1572864 / 1 = 1.5: halves go away from zero, on both sides.
    ASSERT_EQ(KXAPI_OK, Demod::FreqOffsetFromWords(1572864, 1, 1, offset));
    EXPECT_EQ(2, offset);
    ASSERT_EQ(KXAPI_OK, Demod::FreqOffsetFromWords(1572864, 0xFFFFF, 1, offset));
    EXPECT_EQ(-2, offset);
    EXPECT_EQ(KXAPI_E_INTERNAL, Demod::FreqOffsetFromWords(1572864, 1, 0, offset));
}

// A 3470 on the block driver with one demodulation channel function on port 0.
class BlockCard : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestCard& card = m_Factory.AddCard(KX_FAMILY_PCIE, 0, 3470100, 3470);
        const int version[4] = {1, 10, 2, 0};
        std::copy(version, version + 4, card.m_DriverVersion);
        card.m_StringProperties = {{"DEVICE.1", "AF_LNB0"},       {"DEVICE.2", "AF_DEMOD0"},
                                   {"AF_DEMOD0.1", "DF_CRDEMOD"}, {"AF_DEMOD0.2", "BC_IQPWR"},
                                   {"AF_DEMOD0.3", "BC_DMA"},     {"AF_DEMOD0.4", "BC_FIFO"},
                                   {"AF_DEMOD0.5", "XX_OTHER"}};
        card.m_IntProperties = {{"AF_LNB0_TYPE", AF_LNBH25},     {"AF_DEMOD0_TYPE", AF_DEMODCHANNEL},
                                {"DF_CRDEMOD_TYPE", 347007},    {"DF_CRDEMOD_UUID", 0x55},
                                {"BC_IQPWR_TYPE", 347007},      {"BC_IQPWR_UUID", 0x66},
                                {"BC_DMA_TYPE", 4},             {"BC_DMA_UUID", 0x77},
                                {"BC_FIFO_TYPE", 32},           {"BC_FIFO_UUID", 0x88},
                                {"XX_OTHER_TYPE", 4},           {"XX_OTHER_UUID", 0x99}};
        m_pCard = &card;
        ASSERT_EQ(KXAPI_OK, m_Device.AttachToSerial(3470100));
        ASSERT_EQ(KXAPI_OK, m_Af.Init(AF_DEMODCHANNEL, m_Device.Backend()->Core(), 0));
        m_Factory.ClearRequests();
    }
    RecordingFactory m_Factory;
    TestCard* m_pCard = nullptr;
    KxDeviceInt m_Device;
    KxAf m_Af;
};

TEST_F(BlockCard, InitBuildsOneProxyPerKnownChild)
{
    ASSERT_EQ(4, m_Af.Proxies().Count());
    EXPECT_EQ(KX_PROXY_BURSTFIFO, m_Af.Proxies().GetType(0));
    EXPECT_EQ(KX_PROXY_CDMAC, m_Af.Proxies().GetType(1));
    EXPECT_EQ(KX_PROXY_IQPWR_3470, m_Af.Proxies().GetType(2));
    EXPECT_EQ(KX_PROXY_S2CRDEMOD_3470, m_Af.Proxies().GetType(3));
    EXPECT_EQ(0x55u, m_Af.Proxies()[3]->InstanceId());
    KxAf missing;
    EXPECT_EQ(KXAPI_E_NOT_FOUND, missing.Init(AF_S2STATS, m_Device.Backend()->Core(), 0));
}

TEST_F(BlockCard, SameProxyTheSecondTime)
{
    Demod* first = nullptr;
    Demod* second = nullptr;
    ASSERT_EQ(KXAPI_OK, m_Af.GetProxy(first));
    ASSERT_EQ(KXAPI_OK, m_Af.GetProxy(second));
    EXPECT_EQ(first, second);
    EXPECT_EQ(0x55u, first->InstanceId());
    KxProxyI2CM* absent = reinterpret_cast<KxProxyI2CM*>(1);
    EXPECT_EQ(KXAPI_E_NOT_FOUND, m_Af.GetProxy(absent));
    EXPECT_EQ(nullptr, absent);
    // A PAL of another kind under the same key.
    KxPalCDMAC_Rx* ring = nullptr;
    ASSERT_EQ(KXAPI_OK, m_Af.GetPal(ring));
    KxProxyCDMAC* plain = nullptr;
    EXPECT_EQ(KXAPI_E_INTERNAL, m_Af.GetProxy(plain));
}

TEST_F(BlockCard, VersionTableGuardsTheBurstFifo)
{
    KxPalBURSTFIFO_Rx* fifo = nullptr;
    EXPECT_EQ(KXAPI_OK, m_Af.GetPal(fifo)); // 1.10.2.0 is newer than 1.0.5.50
    const int old[4] = {1, 0, 5, 49};
    KxProxyCORE oldCore(nullptr, old);
    EXPECT_EQ(KXAPI_E_DRIVER_INCOMP, KxProxyUtility::CheckDriverVersion(oldCore, KX_PROXY_BURSTFIFO));
    EXPECT_EQ(KXAPI_OK, KxProxyUtility::CheckDriverVersion(oldCore, KX_PROXY_S2CRDEMOD_3470));
    const int older[4] = {1, 0, 4, 47};
    KxProxyCORE olderCore(nullptr, older);
    EXPECT_EQ(KXAPI_E_DRIVER_INCOMP, KxProxyUtility::CheckDriverVersion(olderCore, KX_PROXY_S2CRDEMOD_3470));
    KxProxyCORE otherDriver(nullptr, old, 1);
    EXPECT_EQ(KXAPI_E_DRIVER_INCOMP, KxProxyUtility::CheckDriverVersion(otherDriver, KX_PROXY_S2CRDEMOD_3470));
}

TEST_F(BlockCard, SetSymbolRateRequestBytes)
{
    Demod* demod = nullptr;
    ASSERT_EQ(KXAPI_OK, m_Af.GetProxy(demod));
    ASSERT_EQ(KXAPI_OK, demod->SetSymbolRate(100000000, 1000000));
    auto sent = m_Factory.Requests(KX_REQ_S2CRDEMOD_3470);
    ASSERT_EQ(1u, sent.size());
    const unsigned char* bytes = sent[0].m_Bytes.data();
    EXPECT_EQ(28u, KxGetU32(bytes, 0)); // size header: 16-byte block header + three words
    const uint32_t expected[7] = {0x55, 0, 8, 0xFFFFFFFFu, 16, 409600, 6};
    for (int i = 0; i < 7; i++)
        EXPECT_EQ(expected[i], KxGetU32(bytes, 8 + 4 * i)) << "word " << i;
}

TEST_F(BlockCard, DemodAnswersAreConverted)
{
    m_pCard->m_CommandAnswers[{KX_REQ_S2CRDEMOD_3470, Demod::CMD_GET_SPECTRUM_INVERSION}] = {1};
    m_pCard->m_CommandAnswers[{KX_REQ_S2CRDEMOD_3470, Demod::CMD_GET_OPERATIONAL_MODE}] = {1};
    m_pCard->m_CommandAnswers[{KX_REQ_S2CRDEMOD_3470, Demod::CMD_GET_SNR}] = {1000, 0};
    m_pCard->m_CommandAnswers[{KX_REQ_S2CRDEMOD_3470, Demod::CMD_GET_STATUS}] = {1, 0, 5, 0xABC};
    m_pCard->m_CommandAnswers[{KX_REQ_S2CRDEMOD_3470, Demod::CMD_GET_PL_INFORMATION}] = {3, 1};
    Demod* demod = nullptr;
    ASSERT_EQ(KXAPI_OK, m_Af.GetProxy(demod));
    int value = -1;
    ASSERT_EQ(KXAPI_OK, demod->GetSpectrumInversion(value));
    EXPECT_EQ(2, value);
    EXPECT_EQ(KXAPI_E_DEV_DRIVER, demod->GetOperationalMode(value));
    double snr = 0;
    ASSERT_EQ(KXAPI_OK, demod->GetSnr(snr));
    EXPECT_EQ(2147483647.0, snr);
    bool a = false, b = true, c = false;
    uint32_t word = 0;
    ASSERT_EQ(KXAPI_OK, demod->GetStatus(a, b, c, word));
    EXPECT_TRUE(a);
    EXPECT_FALSE(b);
    EXPECT_TRUE(c);
    EXPECT_EQ(0xABCu, word);
    uint32_t pl = 0;
    EXPECT_EQ(KXAPI_E_DEV_DRIVER, demod->GetPlInformation(value, pl));
    EXPECT_EQ(KXAPI_E_INVALID_ARG, demod->SetOperationalMode(1));
    EXPECT_EQ(KXAPI_E_INVALID_ARG, demod->SetSpectrumInversion(3));
    ASSERT_EQ(KXAPI_OK, demod->SetSpectrumInversion(1));
    auto sent = m_Factory.Requests(KX_REQ_S2CRDEMOD_3470);
    EXPECT_EQ(2u, KxGetU32(sent.back().m_Bytes.data(), 8 + 16)); // API 1 is sent as 2
}

TEST_F(BlockCard, AcquireFailingOnTheThirdProxyReleasesTheFirstTwo)
{
    m_pCard->m_BusyInstances = {0x66}; // the IQ power block, third in collection order
    EXPECT_EQ(KXAPI_E_IN_USE, m_Af.ExclAccess(KX_EXCL_ACQUIRE));
    auto sent = m_Factory.Requests(KXP_REQ_EXCL_ACCESS);
    std::vector<std::pair<uint32_t, uint32_t>> calls; // instance, driver command
    for (const RecordedRequest& r : sent)
        calls.push_back({KxGetU32(r.m_Bytes.data(), 8), KxGetU32(r.m_Bytes.data(), 16)});
    const std::vector<std::pair<uint32_t, uint32_t>> expected = {{0x88, 0}, {0x77, 0}, {0x66, 0}, {0x88, 1}, {0x77, 1}};
    EXPECT_EQ(expected, calls);
    EXPECT_EQ(KXAPI_E_INVALID_ARG, m_Af.ExclAccess(5));
    EXPECT_EQ(KXAPI_E_INVALID_ARG, m_Af.ExclAccess(0));
    m_pCard->m_BusyInstances.clear();
    EXPECT_EQ(KXAPI_OK, m_Af.ExclAccess(KX_EXCL_ACQUIRE));
    EXPECT_EQ(KXAPI_OK, m_Af.ExclAccess(KX_EXCL_RELEASE));
}

TEST_F(BlockCard, DmaRingReadsWhatTheDriverWrote)
{
    m_pCard->m_CommandAnswers[{KX_REQ_CDMAC, 2}] = {1, 1}; // receive capable, one page per unit
    m_pCard->m_CommandAnswers[{KX_REQ_CDMAC, 3}] = {0};
    KxPalCDMAC_Rx* ring = nullptr;
    ASSERT_EQ(KXAPI_OK, m_Af.GetPal(ring));
    KxPalCDMAC_Rx* again = nullptr;
    ASSERT_EQ(KXAPI_OK, m_Af.GetPal(again));
    EXPECT_EQ(ring, again);
    std::vector<uint32_t> storage(2048); // 4-byte aligned, the whole ring
    unsigned char* out = reinterpret_cast<unsigned char*>(storage.data());
    EXPECT_EQ(KXAPI_E_NOT_INITIALIZED, ring->SetRxControl(1));
    EXPECT_EQ(KXAPI_E_INVALID_ARG, ring->Init(0));
    ASSERT_EQ(KXAPI_OK, ring->Init(5000));
    EXPECT_EQ(8192, ring->Size());
    EXPECT_EQ(KXAPI_E_INIT_ERROR, ring->Init(5000));
    EXPECT_EQ(KXAPI_E_IDLE, ring->Read(out, 4));

    // The driver got the buffer's address; play the DMA engine and fill it.
    auto allocations = m_Factory.Requests(KX_REQ_CDMAC);
    unsigned char* dma = nullptr;
    for (const RecordedRequest& r : allocations)
        if (KxGetU32(r.m_Bytes.data(), 16) == 0)
            dma = reinterpret_cast<unsigned char*>(KxGetU64(r.m_Bytes.data(), 32));
    ASSERT_NE(nullptr, dma);
    for (int i = 0; i < 8192; i++)
        dma[i] = static_cast<unsigned char>(i);

    ASSERT_EQ(KXAPI_OK, ring->SetRxControl(1));
    m_pCard->m_CommandAnswers[{KX_REQ_CDMAC, 3}] = {8184};
    int load = 0;
    ASSERT_EQ(KXAPI_OK, ring->GetLoad(load));
    EXPECT_EQ(8184, load);
    ASSERT_EQ(KXAPI_OK, ring->Read(out, 8176));
    // Wrap around: write offset 8 after the end; 16 bytes remain (8184..8191 and 0..7).
    m_pCard->m_CommandAnswers[{KX_REQ_CDMAC, 3}] = {8};
    ASSERT_EQ(KXAPI_OK, ring->GetLoad(load));
    EXPECT_EQ(24, load);
    EXPECT_EQ(KXAPI_E_INVALID_SIZE, ring->Read(out, 6));
    EXPECT_EQ(KXAPI_E_INVALID_SIZE, ring->Read(out, 28));
    EXPECT_EQ(KXAPI_E_INVALID_BUF, ring->Read(out + 1, 4));
    ASSERT_EQ(KXAPI_OK, ring->Read(out, 24));
    EXPECT_EQ(static_cast<unsigned char>(8176 & 0xFF), out[0]);
    EXPECT_EQ(0, out[16]);
    EXPECT_EQ(7, out[23]);
    auto sent = m_Factory.Requests(KX_REQ_CDMAC);
    EXPECT_EQ(8u, KxGetU32(sent.back().m_Bytes.data(), 24)); // read offset told to the driver
    ASSERT_EQ(KXAPI_OK, ring->SetRxControl(0));
    ASSERT_EQ(KXAPI_OK, ring->GetLoad(load));
    EXPECT_EQ(0, load);
}

TEST_F(BlockCard, IqPointsAndI2CMasterRecords)
{
    KxProxyIQPWR_3470* power = nullptr;
    ASSERT_EQ(KXAPI_OK, m_Af.GetProxy(power));
    uint32_t estimate = 0;
    m_pCard->m_CommandAnswers[{KX_REQ_IQPWR, 1}] = {12345};
    ASSERT_EQ(KXAPI_OK, power->GetEstPower(estimate));
    EXPECT_EQ(12345u, estimate);

    KxProxyIQCGRAB_3470 grab(&m_Device.Backend()->Driver(), "", 0, 0x42);
    m_pCard->m_CommandAnswers[{KX_REQ_IQCGRAB, 0}] = {2, 0xFFFE0003u, 0x7FFF8000u};
    std::vector<KxIqPoint> points;
    EXPECT_EQ(KXAPI_E_INVALID_ARG, grab.GetIqConstPoints(0, -1, points));
    ASSERT_EQ(KXAPI_OK, grab.GetIqConstPoints(1, 2, points));
    ASSERT_EQ(2u, points.size());
    EXPECT_EQ(3, points[0].m_I);
    EXPECT_EQ(-2, points[0].m_Q);
    EXPECT_EQ(-32768, points[1].m_I);
    EXPECT_EQ(32767, points[1].m_Q);

    KxProxyI2CM i2c(&m_Device.Backend()->Driver(), "", 0, 0x43);
    const unsigned char data[2] = {0xAA, 0xBB};
    unsigned char read[2] = {};
    int count = 0;
    m_pCard->m_CommandAnswers[{KX_REQ_I2CM, 2}] = {3, 0};
    EXPECT_EQ(KXAPI_E_OUTBUF_TOO_SMALL, i2c.WriteRead(0xC0, 2, data, 2, read, count));
    m_pCard->m_CommandAnswers[{KX_REQ_I2CM, 2}] = {2, 0x1234};
    ASSERT_EQ(KXAPI_OK, i2c.WriteRead(0xC0, 2, data, 2, read, count));
    EXPECT_EQ(2, count);
    EXPECT_EQ(0x34, read[0]);
    auto sent = m_Factory.Requests(KX_REQ_I2CM);
    const unsigned char* bytes = sent.back().m_Bytes.data();
    const uint32_t expected[7] = {0x43, 0, 2, 0xFFFFFFFFu, 0xC0, 2, 2};
    for (int i = 0; i < 7; i++)
        EXPECT_EQ(expected[i], KxGetU32(bytes, 8 + 4 * i)) << "word " << i;
    EXPECT_EQ(0xAA, bytes[36]);
}

} // namespace
