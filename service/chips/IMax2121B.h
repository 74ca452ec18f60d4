// The MAX2121B zero-IF satellite tuner as the 3470 HAL uses it, reached through one of the
// card's I2C master blocks. The HAL relies on the tuner reporting back exactly the frequency
// and low-pass corner it set.
#pragma once

#include "IInterface.h"
#include "KxapiResult.h"

class KxProxyI2CM;

class IMax2121B : public IInterface {
public:
    // Binds the driver to the I2C master and bus address and checks the chip's identity.
    // KXAPI_E_NOT_SUPPORTED for a chip this driver cannot program.
    virtual KXAPI_RESULT Init(KxProxyI2CM* i2c, int address) = 0;
    // Baseband gain step, 0..15.
    virtual KXAPI_RESULT SetBBGain(int gain) = 0;
    virtual KXAPI_RESULT GetBBGain(int& gain) = 0;
    // LO frequency (the carrier centre, zero IF). KXAPI_E_INVALID_FREQ outside 925..2175 MHz.
    virtual KXAPI_RESULT SetFrequency(long long freqHz) = 0;
    virtual KXAPI_RESULT GetFrequency(long long& freqHz) = 0;
    // One-sided low-pass corner. KXAPI_E_INVALID_BANDWIDTH outside 1..130 MHz.
    virtual KXAPI_RESULT SetLpfBandWidth(int bandwidthHz) = 0;
    virtual KXAPI_RESULT GetLpfBandWidth(int& bandwidthHz) = 0;
};
