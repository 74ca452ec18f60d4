// TDA10024 driver: programs the QAM demodulator over its accessor (register set in
// VirtualQamChipRegs.h).
#pragma once

#include "ITda10024.h"

class Tda10024 : public ITda10024 {
public:
    // Longest acquisition followed (a symbol-rate search included) and its polling period.
    static constexpr unsigned int ACQUIRE_TIMEOUT_MS = 600;
    static constexpr unsigned int ACQUIRE_POLL_MS = 10;

    // address: the demodulator's 8-bit bus address (board wiring).
    explicit Tda10024(int address) : m_Address(address) {}

    KXAPI_RESULT Init(ITda10024I2c& i2c, bool primary) override;
    KXAPI_RESULT TunerI2cBusEnable(bool enable) override;
    void SetModulationCode(int code) override { m_ModulationCode = code; }
    void SetAnnexBMode(bool on) override { m_AnnexB = on; }
    void SetSpectrumSettings(int first, int second) override
    {
        m_Spectrum[0] = first;
        m_Spectrum[1] = second;
    }
    void SetSymbolRate(bool automatic, int rateBd) override
    {
        m_AutoSymbolRate = automatic;
        m_SymbolRateBd = automatic ? 0 : rateBd;
    }
    int ModulationCode() const override { return m_ModulationCode; }
    bool AnnexBMode() const override { return m_AnnexB; }
    int SpectrumSetting(int index) const override { return index == 0 || index == 1 ? m_Spectrum[index] : -1; }
    KXAPI_RESULT Acquire() override;
    KXAPI_RESULT GetModulation(int& code, int& interleavingCode) override;
    KXAPI_RESULT ReadSymbolRate(int& rateBd) override;
    KXAPI_RESULT ReadLocks(bool& fecLock, bool& carrierLock) override;
    KXAPI_RESULT ReadBer(uint32_t& count) override;
    KXAPI_RESULT ResetBadPacketCount() override;
    KXAPI_RESULT ReadBadPacketCount(uint32_t& count) override;
    KXAPI_RESULT ReadRegister(uint8_t reg, uint8_t& value) override;
    KXAPI_RESULT ReadAgc(int& agc) override;
    KXAPI_RESULT ReadFrequencyOffset(int& offsetHz) override;
    KXAPI_RESULT ReadIq(int count, int8_t* iq) override;
    KXAPI_RESULT ReadSpectrumInversion(bool& inverted) override;
    KXAPI_RESULT SetControlOutput(int level) override;

private:
    KXAPI_RESULT WriteRegisters(uint8_t reg, const unsigned char* data, int length);
    KXAPI_RESULT ReadRegisters(uint8_t reg, unsigned char* data, int length);
    // KXAPI_OK when carrier and FEC lock are both set, TDA10024_NOT_LOCKED when not, or the bus result.
    KXAPI_RESULT LockState(uint8_t& status);

    int m_Address;
    ITda10024I2c* m_pI2c = nullptr;
    int m_ModulationCode = 0;
    bool m_AnnexB = false;
    int m_Spectrum[2] = {2, 2};
    bool m_AutoSymbolRate = false;
    int m_SymbolRateBd = 6875000;
};
