#include "Tda18252.h"

#include <cstring>

#include "ChipRegisterBus.h"
#include "VirtualQamChipRegs.h"

namespace Regs = VirtualTda18252;

namespace {

constexpr long long MAX_FREQ_HZ = 0xFFFFFFFFll;

// Opens the tuner's gate for the scope and closes it on every way out; Result() is the
// opening's answer.
class GateScope {
public:
    explicit GateScope(ITda18252I2c& i2c) : m_I2c(i2c), m_Result(i2c.Enable(true)) {}
    ~GateScope()
    {
        if (KxapiSucceeded(m_Result))
            m_I2c.Enable(false);
    }
    GateScope(const GateScope&) = delete;
    GateScope& operator=(const GateScope&) = delete;
    KXAPI_RESULT Result() const { return m_Result; }

private:
    ITda18252I2c& m_I2c;
    KXAPI_RESULT m_Result;
};

} // namespace

KXAPI_RESULT Tda18252::WriteRegisters(uint8_t reg, const unsigned char* data, int length)
{
    if (m_pI2c == nullptr)
        return KXAPI_E_NOT_INITIALIZED;
    ChipRegisterWrite<8> transfer;
    KXAPI_RESULT result = transfer.Fill(reg, data, length);
    if (KxapiFailed(result))
        return result;
    GateScope gate(*m_pI2c);
    if (KxapiFailed(gate.Result()))
        return gate.Result();
    return m_pI2c->Write(m_Address, transfer.Bytes(), transfer.Length());
}

KXAPI_RESULT Tda18252::ReadRegisters(uint8_t reg, unsigned char* data, int length)
{
    if (m_pI2c == nullptr)
        return KXAPI_E_NOT_INITIALIZED;
    GateScope gate(*m_pI2c);
    if (KxapiFailed(gate.Result()))
        return gate.Result();
    KXAPI_RESULT result = m_pI2c->Write(m_Address, &reg, 1);
    if (KxapiFailed(result))
        return result;
    return m_pI2c->Read(m_Address, data, length);
}

KXAPI_RESULT Tda18252::ReadByte(uint8_t reg, int& value, bool isSigned)
{
    unsigned char byte = 0;
    KXAPI_RESULT result = ReadRegisters(reg, &byte, 1);
    if (KxapiSucceeded(result))
        value = isSigned ? static_cast<int>(static_cast<int8_t>(byte)) : static_cast<int>(byte);
    return result;
}

KXAPI_RESULT Tda18252::Init(int address, int mode, ITda18252I2c& i2c)
{
    m_pI2c = &i2c;
    m_Address = address;
    unsigned char id[sizeof(Regs::ID_BYTES)] = {};
    KXAPI_RESULT result = ReadRegisters(Regs::REG_ID, id, sizeof(id));
    if (KxapiSucceeded(result) && memcmp(id, Regs::ID_BYTES, sizeof(id)) != 0)
        result = KXAPI_E_NOT_SUPPORTED; // real silicon: its register programming is not available here
    if (KxapiFailed(result)) {
        m_pI2c = nullptr;
        return result;
    }
    const unsigned char modeByte = static_cast<unsigned char>(mode);
    result = WriteRegisters(Regs::REG_INIT_MODE, &modeByte, 1);
    if (KxapiFailed(result))
        return result;
    const unsigned char init = Regs::CTRL_INIT;
    return WriteRegisters(Regs::REG_CONTROL, &init, 1);
}

KXAPI_RESULT Tda18252::EnableRfLoopThrough(bool enable)
{
    const unsigned char value = enable ? 1 : 0;
    return WriteRegisters(Regs::REG_LOOP_THROUGH, &value, 1);
}

KXAPI_RESULT Tda18252::EnableMasterTunerOutput(bool enable)
{
    const unsigned char value = enable ? 1 : 0;
    return WriteRegisters(Regs::REG_MASTER_OUT, &value, 1);
}

KXAPI_RESULT Tda18252::SetFrequency(long long freqHz, int mode)
{
    if (freqHz < 1 || freqHz > MAX_FREQ_HZ)
        return KXAPI_E_INVALID_FREQ;
    unsigned char data[5];
    const auto hz = static_cast<uint32_t>(freqHz);
    data[0] = static_cast<unsigned char>(hz >> 24);
    data[1] = static_cast<unsigned char>(hz >> 16);
    data[2] = static_cast<unsigned char>(hz >> 8);
    data[3] = static_cast<unsigned char>(hz);
    data[4] = static_cast<unsigned char>(mode);
    KXAPI_RESULT result = WriteRegisters(Regs::REG_FREQ_HZ, data, sizeof(data));
    if (KxapiFailed(result))
        return result;
    const unsigned char apply = Regs::CTRL_APPLY;
    return WriteRegisters(Regs::REG_CONTROL, &apply, 1);
}

KXAPI_RESULT Tda18252::SetBandwidth(int code)
{
    if (code < 0 || code > 2)
        return KXAPI_E_INVALID_ARG;
    const unsigned char value = static_cast<unsigned char>(code);
    return WriteRegisters(Regs::REG_BANDWIDTH, &value, 1);
}

KXAPI_RESULT Tda18252::GetRfBand(int& band)
{
    return ReadByte(Regs::REG_RF_BAND, band);
}

KXAPI_RESULT Tda18252::GetAgc1(int& agc1)
{
    return ReadByte(Regs::REG_AGC1, agc1);
}

KXAPI_RESULT Tda18252::GetAgc2(int& agc2)
{
    return ReadByte(Regs::REG_AGC2, agc2);
}

KXAPI_RESULT Tda18252::SetAgc1Running(bool running)
{
    const unsigned char value = running ? 1 : 0;
    return WriteRegisters(Regs::REG_AGC1_RUN, &value, 1);
}

KXAPI_RESULT Tda18252::GetTemperature(int& degreesC)
{
    return ReadByte(Regs::REG_TEMPERATURE, degreesC, true);
}
