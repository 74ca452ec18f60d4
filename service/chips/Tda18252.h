// TDA18252 driver: programs the cable tuner through its accessor, behind the demodulator's
// I2C gate (register set in VirtualQamChipRegs.h).
#pragma once

#include <cstdint>

#include "ITda18252.h"

class Tda18252 : public ITda18252 {
public:
    KXAPI_RESULT Init(int address, int mode, ITda18252I2c& i2c) override;
    KXAPI_RESULT EnableRfLoopThrough(bool enable) override;
    KXAPI_RESULT EnableMasterTunerOutput(bool enable) override;
    KXAPI_RESULT SetFrequency(long long freqHz, int mode) override;
    KXAPI_RESULT SetBandwidth(int code) override;
    KXAPI_RESULT GetRfBand(int& band) override;
    KXAPI_RESULT GetAgc1(int& agc1) override;
    KXAPI_RESULT GetAgc2(int& agc2) override;
    KXAPI_RESULT SetAgc1Running(bool running) override;
    KXAPI_RESULT GetTemperature(int& degreesC) override;

private:
    // One write or write-and-read of registers with the gate opened around it (the accessor
    // counts nested openings).
    KXAPI_RESULT WriteRegisters(uint8_t reg, const unsigned char* data, int length);
    KXAPI_RESULT ReadRegisters(uint8_t reg, unsigned char* data, int length);
    KXAPI_RESULT ReadByte(uint8_t reg, int& value, bool isSigned = false);

    ITda18252I2c* m_pI2c = nullptr;
    int m_Address = 0;
};
