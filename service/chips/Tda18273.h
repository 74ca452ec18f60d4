// TDA18273 driver: programs the tuner over the device's I2C bus (register set in
// VirtualChipRegs.h).
#pragma once

#include "ITda18273.h"
#include "KxDevice.h"

class Tda18273 : public ITda18273 {
public:
    // address: the tuner's I2C address word on the device-level bus.
    Tda18273(Kxapi::KxDevice& device, int address);

    KXAPI_RESULT Init() override;
    KXAPI_RESULT SetTunePars(const Kxapi::KxTunePars& pars) override;
    KXAPI_RESULT SetFrequency(long long freqHz) override;
    KXAPI_RESULT GetStatus(unsigned int& status) override;
    KXAPI_RESULT GetTemperature(unsigned char& degreesC) override;
    KXAPI_RESULT GetRfLevel(int& levelTenthsDbmv) override;

    // Longest power-on initialisation the driver waits for.
    static constexpr unsigned int INIT_TIMEOUT_MS = 30000;

private:
    KXAPI_RESULT WriteRegisters(uint8_t reg, const unsigned char* data, int length);
    KXAPI_RESULT ReadRegisters(uint8_t reg, unsigned char* data, int length);

    Kxapi::KxDevice& m_Device;
    int m_Address;
    bool m_Initialised = false;
};
