// The TDA10024 and TDA18252 drivers against the virtual chips of a 3530 port: identification,
// the tuner's bus behind the demodulator's gate with the accessor's counted enabling, and the
// demodulator's acquisition, lock flags and I/Q reads.
#include <memory>

#include <gtest/gtest.h>

#include "HalTestSupport.h"
#include "Kx3530Hal.h"
#include "QamReceiver.h"
#include "SimI2cDevice.h"
#include "SimTda10024.h"
#include "Tda10024.h"
#include "Tda18252.h"

using namespace Kxapi;
using haltest::SERIAL_3530;

namespace {

constexpr int PORT_INDEX = 0; // port 1, a group's first port
constexpr long long CARRIER_HZ = 314000000; // QAM-64, annex A, 6.9 MBd
constexpr long long EMPTY_HZ = 600000000;

class QamChipsTest : public haltest::VirtualCardFixture {
protected:
    void SetUp() override
    {
        Attach(SERIAL_3530);
        m_pI2c = std::make_unique<QamReceiver::PortI2c>(m_Device, m_Demod, PORT_INDEX);
    }
    // The demodulator, then the tuner behind it, with the master output on.
    void InitChips()
    {
        ASSERT_EQ(KXAPI_OK, m_Demod.Init(*m_pI2c, false));
        ASSERT_EQ(KXAPI_OK, m_Tuner.Init(Kx3530Hal::TUNER_I2C_ADDRESS, Kx3530Hal::TUNER_INIT_MODE, *m_pI2c));
        ASSERT_EQ(KXAPI_OK, m_Tuner.EnableMasterTunerOutput(true));
    }
    bool GateOpen()
    {
        return dynamic_cast<SimTda10024*>(m_pCard->I2cDevice(PORT_INDEX, Kx3530Hal::DEMOD_I2C_ADDRESS))
            ->TunerGateOpen();
    }
    // Tunes and acquires QAM-64 annex A at 6.9 MBd.
    KXAPI_RESULT TuneAndAcquire(long long freqHz)
    {
        EXPECT_EQ(KXAPI_OK, m_Tuner.SetFrequency(freqHz, Kx3530Hal::TUNER_TUNE_MODE));
        m_Demod.SetModulationCode(0);
        m_Demod.SetAnnexBMode(false);
        m_Demod.SetSpectrumSettings(3, 0);
        m_Demod.SetSymbolRate(false, 6900000);
        return m_Demod.Acquire();
    }

    Tda10024 m_Demod{Kx3530Hal::DEMOD_I2C_ADDRESS};
    Tda18252 m_Tuner;
    std::unique_ptr<QamReceiver::PortI2c> m_pI2c;
};

} // namespace

TEST_F(QamChipsTest, RealSiliconIsRefused)
{
    // Chips that answer, but not with the virtual chips' identification.
    ASSERT_EQ(KXAPI_OK, m_Demod.Init(*m_pI2c, false));
    m_pCard->AddI2cDevice(PORT_INDEX, Kx3530Hal::TUNER_I2C_ADDRESS, new SimI2cRegisterFile());
    EXPECT_EQ(KXAPI_E_NOT_SUPPORTED, m_Tuner.Init(Kx3530Hal::TUNER_I2C_ADDRESS, 1, *m_pI2c));
    int band = 0;
    EXPECT_EQ(KXAPI_E_NOT_INITIALIZED, m_Tuner.GetRfBand(band)) << "a refused chip is not driven";
    m_pCard->AddI2cDevice(PORT_INDEX, Kx3530Hal::DEMOD_I2C_ADDRESS, new SimI2cRegisterFile());
    EXPECT_EQ(KXAPI_E_NOT_SUPPORTED, m_Demod.Init(*m_pI2c, false));
    EXPECT_EQ(KXAPI_E_NOT_INITIALIZED, m_Demod.Acquire());
}

TEST_F(QamChipsTest, TheTunerAnswersOnlyThroughTheCountedGate)
{
    ASSERT_NO_FATAL_FAILURE(InitChips());
    EXPECT_FALSE(GateOpen());
    unsigned char id[4] = {};
    const unsigned char reg = 0xF0;
    EXPECT_EQ(KXAPI_E_I2C, m_Device.I2CWrite(PORT_INDEX, Kx3530Hal::TUNER_I2C_ADDRESS, &reg, 1, -1));
    // Nested enabling: the gate closes with the last disable only.
    ASSERT_EQ(KXAPI_OK, m_pI2c->Enable(true));
    ASSERT_EQ(KXAPI_OK, m_pI2c->Enable(true));
    EXPECT_EQ(KXAPI_OK, m_pI2c->Write(Kx3530Hal::TUNER_I2C_ADDRESS, &reg, 1));
    EXPECT_EQ(KXAPI_OK, m_pI2c->Read(Kx3530Hal::TUNER_I2C_ADDRESS, id, 4));
    ASSERT_EQ(KXAPI_OK, m_pI2c->Enable(false));
    EXPECT_TRUE(GateOpen());
    ASSERT_EQ(KXAPI_OK, m_pI2c->Enable(false));
    EXPECT_FALSE(GateOpen());
    // A surplus disable neither underflows the count nor touches the gate.
    ASSERT_EQ(KXAPI_OK, m_pI2c->Enable(false));
    EXPECT_EQ(0, m_pI2c->EnableCount());
    int band = -1;
    EXPECT_EQ(KXAPI_OK, m_Tuner.GetRfBand(band)) << "the driver opens the gate itself";
    EXPECT_FALSE(GateOpen());
}

TEST_F(QamChipsTest, AcquisitionLocksOnACarrierAndGivesUpOnNothing)
{
    ASSERT_NO_FATAL_FAILURE(InitChips());
    EXPECT_EQ(TDA10024_NOT_LOCKED, TuneAndAcquire(EMPTY_HZ));
    int offsetHz = 0;
    EXPECT_EQ(TDA10024_NOT_LOCKED, m_Demod.ReadFrequencyOffset(offsetHz));
    bool fec = true, carrier = true;
    EXPECT_EQ(TDA10024_NOT_LOCKED, m_Demod.ReadLocks(fec, carrier));
    EXPECT_FALSE(fec || carrier);

    ASSERT_EQ(KXAPI_OK, TuneAndAcquire(CARRIER_HZ));
    EXPECT_EQ(KXAPI_OK, m_Demod.ReadLocks(fec, carrier));
    EXPECT_TRUE(fec && carrier);
    EXPECT_EQ(KXAPI_OK, m_Demod.ReadFrequencyOffset(offsetHz));
    EXPECT_EQ(0, offsetHz);
    int rate = 0;
    EXPECT_EQ(KXAPI_OK, m_Demod.ReadSymbolRate(rate));
    EXPECT_EQ(6900000, rate);
}

TEST_F(QamChipsTest, IqReadsSpanSeveralTransfers)
{
    ASSERT_NO_FATAL_FAILURE(InitChips());
    ASSERT_EQ(KXAPI_OK, TuneAndAcquire(CARRIER_HZ));
    std::vector<int8_t> iq(2 * 300, 0);
    ASSERT_EQ(KXAPI_OK, m_Demod.ReadIq(300, iq.data()));
    int nonZero = 0;
    for (int8_t value : iq)
        nonZero += value != 0 ? 1 : 0;
    EXPECT_GT(nonZero, 500) << "points from every transfer";
    EXPECT_EQ(KXAPI_OK, m_Demod.ReadIq(0, nullptr));
    EXPECT_EQ(KXAPI_E_INVALID_SIZE, m_Demod.ReadIq(-1, iq.data()));
    EXPECT_EQ(KXAPI_E_INVALID_BUF, m_Demod.ReadIq(4, nullptr));
}
