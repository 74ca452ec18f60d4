#include "Max2121B.h"

#include <cstring>

#include "ChipRegisterBus.h"
#include "KxProxyBlocks.h"
#include "Max2121BRegs.h"

namespace Regs = VirtualMax2121B;

KXAPI_RESULT Max2121B::WriteRegisters(uint8_t reg, const unsigned char* data, int length)
{
    if (m_pI2c == nullptr)
        return KXAPI_E_NOT_INITIALIZED;
    ChipRegisterWrite<8> transfer;
    KXAPI_RESULT result = transfer.Fill(reg, data, length);
    if (KxapiFailed(result))
        return result;
    return m_pI2c->Write(m_Address, transfer.Length(), transfer.Bytes());
}

KXAPI_RESULT Max2121B::ReadRegisters(uint8_t reg, unsigned char* data, int length)
{
    if (m_pI2c == nullptr)
        return KXAPI_E_NOT_INITIALIZED;
    int count = 0;
    KXAPI_RESULT result = m_pI2c->WriteRead(m_Address, 1, &reg, length, data, count);
    if (KxapiFailed(result))
        return result;
    return count == length ? KXAPI_OK : KXAPI_E_I2C;
}

KXAPI_RESULT Max2121B::WriteU32(uint8_t reg, uint32_t value)
{
    unsigned char bytes[4];
    ChipPutU32(bytes, value);
    return WriteRegisters(reg, bytes, 4);
}

KXAPI_RESULT Max2121B::ReadU32(uint8_t reg, uint32_t& value)
{
    unsigned char bytes[4] = {};
    KXAPI_RESULT result = ReadRegisters(reg, bytes, 4);
    if (KxapiFailed(result))
        return result;
    value = ChipGetU32(bytes);
    return KXAPI_OK;
}

KXAPI_RESULT Max2121B::Init(KxProxyI2CM* i2c, int address)
{
    if (i2c == nullptr)
        return KXAPI_E_INVALID_ARG;
    m_pI2c = i2c;
    m_Address = address;
    unsigned char id[sizeof(Regs::ID_BYTES)] = {};
    KXAPI_RESULT result = ReadRegisters(Regs::REG_ID, id, sizeof(id));
    if (KxapiSucceeded(result) && memcmp(id, Regs::ID_BYTES, sizeof(id)) != 0)
        result = KXAPI_E_NOT_SUPPORTED; // real silicon: its register programming is not available here
    if (KxapiFailed(result))
        m_pI2c = nullptr;
    return result;
}

KXAPI_RESULT Max2121B::SetBBGain(int gain)
{
    if (gain < 0 || gain > Regs::MAX_BB_GAIN)
        return KXAPI_E_INVALID_ARG;
    const unsigned char value = static_cast<unsigned char>(gain);
    return WriteRegisters(Regs::REG_BB_GAIN, &value, 1);
}

KXAPI_RESULT Max2121B::GetBBGain(int& gain)
{
    unsigned char value = 0;
    KXAPI_RESULT result = ReadRegisters(Regs::REG_BB_GAIN, &value, 1);
    if (KxapiSucceeded(result))
        gain = value;
    return result;
}

KXAPI_RESULT Max2121B::SetFrequency(long long freqHz)
{
    if (freqHz < Regs::MIN_FREQ_HZ || freqHz > Regs::MAX_FREQ_HZ)
        return KXAPI_E_INVALID_FREQ;
    return WriteU32(Regs::REG_FREQ_HZ, static_cast<uint32_t>(freqHz));
}

KXAPI_RESULT Max2121B::GetFrequency(long long& freqHz)
{
    uint32_t value = 0;
    KXAPI_RESULT result = ReadU32(Regs::REG_FREQ_HZ, value);
    if (KxapiSucceeded(result))
        freqHz = value;
    return result;
}

KXAPI_RESULT Max2121B::SetLpfBandWidth(int bandwidthHz)
{
    if (bandwidthHz < static_cast<int>(Regs::MIN_LPF_HZ) || bandwidthHz > static_cast<int>(Regs::MAX_LPF_HZ))
        return KXAPI_E_INVALID_BANDWIDTH;
    return WriteU32(Regs::REG_LPF_HZ, static_cast<uint32_t>(bandwidthHz));
}

KXAPI_RESULT Max2121B::GetLpfBandWidth(int& bandwidthHz)
{
    uint32_t value = 0;
    KXAPI_RESULT result = ReadU32(Regs::REG_LPF_HZ, value);
    if (KxapiSucceeded(result))
        bandwidthHz = static_cast<int>(value);
    return result;
}
