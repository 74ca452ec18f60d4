// The TDA18273 driver and the virtual tuner meet on the register set of VirtualChipRegs.h:
// what the driver writes is what the chip holds, the chip refuses to tune before its
// initialisation, and its readings follow the card's RF scene.
#include <gtest/gtest.h>

#include "CritSecAutoLock.h"
#include "HalTestSupport.h"
#include "Kxa3460Hal.h"
#include "Tda18273.h"
#include "VirtualChipRegs.h"

using namespace Kxapi;
namespace Regs = VirtualTda18273;

namespace {

// The virtual 3460 carries the tuner where the receiver's board has it.
constexpr int TUNER = Kxa3460Hal::TUNER_I2C_ADDRESS;

class Tda18273Test : public haltest::VirtualCardFixture {
protected:
    void SetUp() override { Attach(haltest::SERIAL_3460); }

    // Raw register read through the device, as a bus analyser would see the chip.
    std::vector<unsigned char> ReadRaw(uint8_t reg, int length)
    {
        std::vector<unsigned char> data(static_cast<size_t>(length));
        EXPECT_EQ(KXAPI_OK, m_Device.I2CWriteRead(TUNER, &reg, 1, TUNER, data.data(), length));
        return data;
    }
};

} // namespace

TEST_F(Tda18273Test, DriverWritesTheDocumentedRegisters)
{
    Tda18273 tuner(m_Device, TUNER);
    EXPECT_EQ(KXAPI_E_NOT_INITIALIZED, tuner.SetFrequency(474000000));
    ASSERT_EQ(KXAPI_OK, tuner.Init());
    EXPECT_EQ(Regs::STATUS_INIT_DONE, ReadRaw(Regs::REG_STATUS, 1)[0] & Regs::STATUS_INIT_DONE);

    const KxTunePars pars = {{4, 8000000, -1, 0, 1, 2, 3, 4, 0x7FFFFFFF}};
    ASSERT_EQ(KXAPI_OK, tuner.SetTunePars(pars));
    std::vector<unsigned char> words = ReadRaw(Regs::REG_TUNE_PARS, 4 * Regs::NUM_TUNE_PAR_WORDS);
    EXPECT_EQ((std::vector<unsigned char>{0, 0, 0, 4}), std::vector<unsigned char>(words.begin(), words.begin() + 4));
    EXPECT_EQ((std::vector<unsigned char>{0x00, 0x7A, 0x12, 0x00}),
              std::vector<unsigned char>(words.begin() + 4, words.begin() + 8));
    EXPECT_EQ((std::vector<unsigned char>{0xFF, 0xFF, 0xFF, 0xFF}),
              std::vector<unsigned char>(words.begin() + 8, words.begin() + 12));
    EXPECT_EQ((std::vector<unsigned char>{0x7F, 0xFF, 0xFF, 0xFF}),
              std::vector<unsigned char>(words.begin() + 32, words.end()));

    ASSERT_EQ(KXAPI_OK, tuner.SetFrequency(474000000)); // 0x1C40AA80
    EXPECT_EQ((std::vector<unsigned char>{0x1C, 0x40, 0xAA, 0x80}), ReadRaw(Regs::REG_FREQ_HZ, 4));
    EXPECT_EQ(KXAPI_E_INVALID_FREQ, tuner.SetFrequency(0));
    EXPECT_EQ(KXAPI_E_INVALID_FREQ, tuner.SetFrequency(0x100000000ll));
    // Identification and the read-only registers are not changed by writes.
    const unsigned char overwrite[] = {Regs::REG_ID, 'A', 'B'};
    ASSERT_EQ(KXAPI_OK, m_Device.I2CWrite(TUNER, overwrite, sizeof(overwrite)));
    EXPECT_EQ((std::vector<unsigned char>{'K', 'X', 'V', 'T'}), ReadRaw(Regs::REG_ID, 4));
}

TEST_F(Tda18273Test, ChipRefusesToTuneBeforeItsInitialisation)
{
    const unsigned char apply[] = {Regs::REG_CONTROL, Regs::CTRL_APPLY};
    EXPECT_EQ(KXAPI_E_I2C, m_Device.I2CWrite(TUNER, apply, sizeof(apply)));
    EXPECT_EQ(0, ReadRaw(Regs::REG_STATUS, 1)[0]);

    // A slow initialisation: started, not done yet, tunes still refused.
    m_pCard->SetProperty(-1, "SIM_INIT_DELAY_MS", 60000);
    const unsigned char start[] = {Regs::REG_CONTROL, Regs::CTRL_START_INIT};
    ASSERT_EQ(KXAPI_OK, m_Device.I2CWrite(TUNER, start, sizeof(start)));
    EXPECT_EQ(0, ReadRaw(Regs::REG_STATUS, 1)[0] & Regs::STATUS_INIT_DONE);
    EXPECT_EQ(KXAPI_E_I2C, m_Device.I2CWrite(TUNER, apply, sizeof(apply)));

    m_pCard->SetProperty(-1, "SIM_INIT_DELAY_MS", 0);
    ASSERT_EQ(KXAPI_OK, m_Device.I2CWrite(TUNER, start, sizeof(start)));
    EXPECT_NE(0, ReadRaw(Regs::REG_STATUS, 1)[0] & Regs::STATUS_INIT_DONE);
    EXPECT_EQ(KXAPI_OK, m_Device.I2CWrite(TUNER, apply, sizeof(apply)));
}

TEST_F(Tda18273Test, ReadingsFollowTheCarrierUnderTheTunedFrequency)
{
    Tda18273 tuner(m_Device, TUNER);
    ASSERT_EQ(KXAPI_OK, tuner.Init());
    ASSERT_EQ(KXAPI_OK, tuner.SetFrequency(306000000)); // QAM carrier at -45 dBm
    unsigned int status = 0;
    ASSERT_TRUE(kxtest::WaitUntil([&] { return tuner.GetStatus(status) == KXAPI_OK && status != 0; }, 5000));
    int level = 0;
    ASSERT_EQ(KXAPI_OK, tuner.GetRfLevel(level));
    EXPECT_NEAR(38, level, 10); // -45 + 48.8 = 3.8 dBmV
    unsigned char temperature = 0;
    for (int i = 0; i < 50; i++) {
        ASSERT_EQ(KXAPI_OK, tuner.GetTemperature(temperature));
        EXPECT_GE(temperature, 40);
        EXPECT_LE(temperature, 45);
    }

    // The carrier moves away: the tuner loses it at once and reads the noise floor.
    {
        CritSecAutoLock lock(m_pCard->Lock());
        for (SimCarrier& carrier : m_pCard->Scene().Carriers(0)) {
            if (carrier.m_FreqHz == 306000000)
                carrier.m_FreqHz = 322000000;
        }
    }
    ASSERT_EQ(KXAPI_OK, tuner.GetStatus(status));
    EXPECT_EQ(0u, status);
    ASSERT_EQ(KXAPI_OK, tuner.GetRfLevel(level));
    EXPECT_NEAR(-512, level, 15);
}

TEST_F(Tda18273Test, UnpluggedCardFailsEveryAccess)
{
    Tda18273 tuner(m_Device, TUNER);
    ASSERT_EQ(KXAPI_OK, tuner.Init());
    ASSERT_EQ(KXAPI_OK, m_Environment.Rack().Unplug(haltest::SERIAL_3460));
    unsigned int status = 0;
    EXPECT_TRUE(KxapiFailed(tuner.GetStatus(status)));
    EXPECT_TRUE(KxapiFailed(tuner.SetFrequency(474000000)));
    EXPECT_TRUE(KxapiFailed(tuner.Init()));
}
