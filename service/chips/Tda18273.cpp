#include "Tda18273.h"

#include <cstring>

#include "ChipRegisterBus.h"
#include "VirtualChipRegs.h"
#include "XpUtil.h"

using namespace Kxapi;
namespace Regs = VirtualTda18273;

namespace {

constexpr unsigned int INIT_POLL_MS = 10;
constexpr long long MAX_FREQ_HZ = 0xFFFFFFFFll;

} // namespace

Tda18273::Tda18273(KxDevice& device, int address) : m_Device(device), m_Address(address) {}

KXAPI_RESULT Tda18273::WriteRegisters(uint8_t reg, const unsigned char* data, int length)
{
    ChipRegisterWrite<1 + 4 * Regs::NUM_TUNE_PAR_WORDS> transfer;
    KXAPI_RESULT result = transfer.Fill(reg, data, length);
    if (KxapiFailed(result))
        return result;
    return m_Device.I2CWrite(m_Address, transfer.Bytes(), transfer.Length());
}

KXAPI_RESULT Tda18273::ReadRegisters(uint8_t reg, unsigned char* data, int length)
{
    return m_Device.I2CWriteRead(m_Address, &reg, 1, m_Address, data, length);
}

KXAPI_RESULT Tda18273::Init()
{
    unsigned char id[sizeof(Regs::ID_BYTES)] = {};
    KXAPI_RESULT result = ReadRegisters(Regs::REG_ID, id, sizeof(id));
    if (KxapiFailed(result))
        return result;
    if (memcmp(id, Regs::ID_BYTES, sizeof(id)) != 0)
        return KXAPI_E_NOT_SUPPORTED; // real silicon: its register programming is not available here

    const unsigned char start = Regs::CTRL_START_INIT;
    result = WriteRegisters(Regs::REG_CONTROL, &start, 1);
    if (KxapiFailed(result))
        return result;
    const unsigned int begin = XpUtil::GetTickCount();
    for (;;) {
        unsigned char status = 0;
        result = ReadRegisters(Regs::REG_STATUS, &status, 1);
        if (KxapiFailed(result))
            return result;
        if ((status & Regs::STATUS_INIT_DONE) != 0)
            break;
        if (XpUtil::GetTickCount() - begin >= INIT_TIMEOUT_MS)
            return KXAPI_E_TIMEOUT;
        XpUtil::Sleep(INIT_POLL_MS);
    }
    m_Initialised = true;
    return KXAPI_OK;
}

KXAPI_RESULT Tda18273::SetTunePars(const KxTunePars& pars)
{
    if (!m_Initialised)
        return KXAPI_E_NOT_INITIALIZED;
    unsigned char words[4 * Regs::NUM_TUNE_PAR_WORDS];
    for (int i = 0; i < Regs::NUM_TUNE_PAR_WORDS; i++)
        ChipPutU32(words + 4 * i, static_cast<uint32_t>(pars.m_Words[i]));
    return WriteRegisters(Regs::REG_TUNE_PARS, words, sizeof(words));
}

KXAPI_RESULT Tda18273::SetFrequency(long long freqHz)
{
    if (!m_Initialised)
        return KXAPI_E_NOT_INITIALIZED;
    if (freqHz <= 0 || freqHz > MAX_FREQ_HZ)
        return KXAPI_E_INVALID_FREQ;
    unsigned char freq[4];
    ChipPutU32(freq, static_cast<uint32_t>(freqHz));
    KXAPI_RESULT result = WriteRegisters(Regs::REG_FREQ_HZ, freq, sizeof(freq));
    if (KxapiFailed(result))
        return result;
    const unsigned char apply = Regs::CTRL_APPLY;
    return WriteRegisters(Regs::REG_CONTROL, &apply, 1);
}

KXAPI_RESULT Tda18273::GetStatus(unsigned int& status)
{
    if (!m_Initialised)
        return KXAPI_E_NOT_INITIALIZED;
    unsigned char value = 0;
    KXAPI_RESULT result = ReadRegisters(Regs::REG_STATUS, &value, 1);
    if (KxapiSucceeded(result))
        status = (value & Regs::STATUS_LOCKED) != 0 ? 1u : 0u;
    return result;
}

KXAPI_RESULT Tda18273::GetTemperature(unsigned char& degreesC)
{
    if (!m_Initialised)
        return KXAPI_E_NOT_INITIALIZED;
    return ReadRegisters(Regs::REG_TEMPERATURE, &degreesC, 1);
}

KXAPI_RESULT Tda18273::GetRfLevel(int& levelTenthsDbmv)
{
    if (!m_Initialised)
        return KXAPI_E_NOT_INITIALIZED;
    unsigned char level[2] = {};
    KXAPI_RESULT result = ReadRegisters(Regs::REG_RF_LEVEL, level, sizeof(level));
    if (KxapiSucceeded(result))
        levelTenthsDbmv = static_cast<int16_t>((level[0] << 8) | level[1]);
    return result;
}
