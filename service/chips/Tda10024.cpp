#include "Tda10024.h"

#include <cstring>

#include "ChipRegisterBus.h"
#include "VirtualQamChipRegs.h"
#include "XpUtil.h"

namespace Regs = VirtualTda10024;

KXAPI_RESULT Tda10024::WriteRegisters(uint8_t reg, const unsigned char* data, int length)
{
    if (m_pI2c == nullptr)
        return KXAPI_E_NOT_INITIALIZED;
    ChipRegisterWrite<16> transfer;
    KXAPI_RESULT result = transfer.Fill(reg, data, length);
    if (KxapiFailed(result))
        return result;
    return m_pI2c->Write(m_Address, transfer.Bytes(), transfer.Length());
}

KXAPI_RESULT Tda10024::ReadRegisters(uint8_t reg, unsigned char* data, int length)
{
    if (m_pI2c == nullptr)
        return KXAPI_E_NOT_INITIALIZED;
    KXAPI_RESULT result = m_pI2c->Write(m_Address, &reg, 1);
    if (KxapiFailed(result))
        return result;
    return m_pI2c->Read(m_Address, data, length);
}

KXAPI_RESULT Tda10024::Init(ITda10024I2c& i2c, bool primary)
{
    m_pI2c = &i2c;
    unsigned char id[sizeof(Regs::ID_BYTES)] = {};
    KXAPI_RESULT result = ReadRegisters(Regs::REG_ID, id, sizeof(id));
    if (KxapiSucceeded(result) && memcmp(id, Regs::ID_BYTES, sizeof(id)) != 0)
        result = KXAPI_E_NOT_SUPPORTED; // real silicon: its register programming is not available here
    if (KxapiFailed(result)) {
        m_pI2c = nullptr;
        return result;
    }
    const unsigned char control[] = {Regs::CTRL_INIT};
    result = WriteRegisters(Regs::REG_CONTROL, control, 1);
    if (KxapiFailed(result))
        return result;
    // The primary demodulator drives the clock the board's other demodulators run on.
    const unsigned char clockOut = primary ? 1 : 0;
    return WriteRegisters(Regs::REG_CLOCK_OUT, &clockOut, 1);
}

KXAPI_RESULT Tda10024::TunerI2cBusEnable(bool enable)
{
    const unsigned char value = enable ? 1 : 0;
    return WriteRegisters(Regs::REG_TUNER_GATE, &value, 1);
}

KXAPI_RESULT Tda10024::Acquire()
{
    // REG_MODULATION .. REG_SYMBOL_RATE in one transfer, then the command.
    unsigned char settings[9];
    settings[0] = static_cast<unsigned char>(m_ModulationCode);
    settings[1] = m_AnnexB ? 1 : 0;
    settings[2] = static_cast<unsigned char>(m_Spectrum[0]);
    settings[3] = static_cast<unsigned char>(m_Spectrum[1]);
    settings[4] = m_AutoSymbolRate ? 1 : 0;
    ChipPutU32(settings + 5, static_cast<uint32_t>(m_SymbolRateBd));
    KXAPI_RESULT result = WriteRegisters(Regs::REG_MODULATION, settings, sizeof(settings));
    if (KxapiFailed(result))
        return result;
    const unsigned char acquire = Regs::CTRL_ACQUIRE;
    result = WriteRegisters(Regs::REG_CONTROL, &acquire, 1);
    if (KxapiFailed(result))
        return result;
    const unsigned int start = XpUtil::GetTickCount();
    for (;;) {
        uint8_t status = 0;
        result = LockState(status);
        if (result != TDA10024_NOT_LOCKED || (status & Regs::STATUS_NO_SIGNAL) != 0 ||
            XpUtil::GetTickCount() - start >= ACQUIRE_TIMEOUT_MS)
            return result;
        XpUtil::Sleep(ACQUIRE_POLL_MS);
    }
}

KXAPI_RESULT Tda10024::LockState(uint8_t& status)
{
    unsigned char value = 0;
    KXAPI_RESULT result = ReadRegisters(Regs::REG_STATUS, &value, 1);
    if (KxapiFailed(result))
        return result;
    status = value;
    const uint8_t both = Regs::STATUS_CARRIER_LOCK | Regs::STATUS_FEC_LOCK;
    return (value & both) == both ? KXAPI_OK : TDA10024_NOT_LOCKED;
}

KXAPI_RESULT Tda10024::GetModulation(int& code, int& interleavingCode)
{
    unsigned char modulation = 0, interleaving = 0;
    KXAPI_RESULT result = ReadRegisters(Regs::REG_MODULATION, &modulation, 1);
    if (KxapiSucceeded(result))
        result = ReadRegisters(Regs::REG_INTERLEAVING, &interleaving, 1);
    if (KxapiFailed(result))
        return result;
    code = modulation;
    interleavingCode = interleaving;
    uint8_t status = 0;
    return LockState(status);
}

KXAPI_RESULT Tda10024::ReadSymbolRate(int& rateBd)
{
    // Until the carrier is locked the chip has measured nothing: the rate is the one set (-1
    // while searching).
    uint8_t status = 0;
    KXAPI_RESULT result = LockState(status);
    if (result == TDA10024_NOT_LOCKED) {
        rateBd = m_AutoSymbolRate ? -1 : m_SymbolRateBd;
        return result;
    }
    if (KxapiFailed(result))
        return result;
    unsigned char rate[4] = {};
    result = ReadRegisters(Regs::REG_SYMBOL_RATE, rate, sizeof(rate));
    if (KxapiSucceeded(result))
        rateBd = static_cast<int>(ChipGetU32(rate));
    return result;
}

KXAPI_RESULT Tda10024::ReadLocks(bool& fecLock, bool& carrierLock)
{
    uint8_t status = 0;
    KXAPI_RESULT result = LockState(status);
    fecLock = (status & Regs::STATUS_FEC_LOCK) != 0;
    carrierLock = (status & Regs::STATUS_CARRIER_LOCK) != 0;
    return result;
}

KXAPI_RESULT Tda10024::ReadBer(uint32_t& count)
{
    unsigned char value[4] = {};
    KXAPI_RESULT result = ReadRegisters(Regs::REG_BER_COUNT, value, sizeof(value));
    if (KxapiSucceeded(result))
        count = ChipGetU32(value);
    return result;
}

KXAPI_RESULT Tda10024::ResetBadPacketCount()
{
    const unsigned char reset = Regs::CTRL_RESET_BAD_PACKETS;
    return WriteRegisters(Regs::REG_CONTROL, &reset, 1);
}

KXAPI_RESULT Tda10024::ReadBadPacketCount(uint32_t& count)
{
    unsigned char value[4] = {};
    KXAPI_RESULT result = ReadRegisters(Regs::REG_BAD_PACKETS, value, sizeof(value));
    if (KxapiSucceeded(result))
        count = ChipGetU32(value);
    return result;
}

KXAPI_RESULT Tda10024::ReadRegister(uint8_t reg, uint8_t& value)
{
    return ReadRegisters(reg, &value, 1);
}

KXAPI_RESULT Tda10024::ReadAgc(int& agc)
{
    unsigned char value = 0;
    KXAPI_RESULT result = ReadRegisters(Regs::REG_AGC, &value, 1);
    if (KxapiSucceeded(result))
        agc = value;
    return result;
}

KXAPI_RESULT Tda10024::ReadFrequencyOffset(int& offsetHz)
{
    uint8_t status = 0;
    KXAPI_RESULT result = LockState(status);
    if (KxapiFailed(result) && result != TDA10024_NOT_LOCKED)
        return result;
    if ((status & Regs::STATUS_CARRIER_LOCK) == 0)
        return TDA10024_NOT_LOCKED;
    unsigned char value[4] = {};
    result = ReadRegisters(Regs::REG_FREQ_OFFSET, value, sizeof(value));
    if (KxapiSucceeded(result))
        offsetHz = static_cast<int32_t>(ChipGetU32(value));
    return result;
}

KXAPI_RESULT Tda10024::ReadIq(int count, int8_t* iq)
{
    if (count < 0)
        return KXAPI_E_INVALID_SIZE;
    if (count > 0 && iq == nullptr)
        return KXAPI_E_INVALID_BUF;
    for (int done = 0; done < count;) {
        const int pairs = count - done < Regs::MAX_IQ_PAIRS_PER_READ ? count - done : Regs::MAX_IQ_PAIRS_PER_READ;
        KXAPI_RESULT result =
            ReadRegisters(Regs::REG_IQ_FIFO, reinterpret_cast<unsigned char*>(iq + 2 * done), 2 * pairs);
        if (KxapiFailed(result))
            return result;
        done += pairs;
    }
    return KXAPI_OK;
}

KXAPI_RESULT Tda10024::ReadSpectrumInversion(bool& inverted)
{
    unsigned char value = 0;
    KXAPI_RESULT result = ReadRegisters(Regs::REG_SPECTRUM_INV, &value, 1);
    if (KxapiSucceeded(result))
        inverted = value != 0;
    return result;
}

KXAPI_RESULT Tda10024::SetControlOutput(int level)
{
    const unsigned char value = level != 0 ? 1 : 0;
    return WriteRegisters(Regs::REG_CONTROL_OUT, &value, 1);
}
