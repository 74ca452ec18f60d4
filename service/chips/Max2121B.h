// MAX2121B driver over the register set of chipregs/Max2121BRegs.h.
#pragma once

#include <cstdint>

#include "IMax2121B.h"

class Max2121B : public IMax2121B {
public:
    KXAPI_RESULT Init(KxProxyI2CM* i2c, int address) override;
    KXAPI_RESULT SetBBGain(int gain) override;
    KXAPI_RESULT GetBBGain(int& gain) override;
    KXAPI_RESULT SetFrequency(long long freqHz) override;
    KXAPI_RESULT GetFrequency(long long& freqHz) override;
    KXAPI_RESULT SetLpfBandWidth(int bandwidthHz) override;
    KXAPI_RESULT GetLpfBandWidth(int& bandwidthHz) override;

private:
    KXAPI_RESULT WriteRegisters(uint8_t reg, const unsigned char* data, int length);
    KXAPI_RESULT ReadRegisters(uint8_t reg, unsigned char* data, int length);
    KXAPI_RESULT WriteU32(uint8_t reg, uint32_t value);
    KXAPI_RESULT ReadU32(uint8_t reg, uint32_t& value);

    KxProxyI2CM* m_pI2c = nullptr;
    int m_Address = 0;
};
