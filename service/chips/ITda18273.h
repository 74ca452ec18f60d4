// The TDA18273 terrestrial/cable tuner as the 3460 HAL uses it. Callers hold the device's I2C
// lock around every operation.
#pragma once

#include "IInterface.h"
#include "KxDemodTypes.h"
#include "KxapiResult.h"

class ITda18273 : public IInterface {
public:
    // Checks the chip's identity and runs its power-on initialisation (bounded wait).
    // KXAPI_E_NOT_SUPPORTED for a chip this driver cannot program.
    virtual KXAPI_RESULT Init() = 0;
    // Programs the nine tune parameter words (standard, IF bandwidth, ...); they take effect
    // with the next SetFrequency.
    virtual KXAPI_RESULT SetTunePars(const Kxapi::KxTunePars& pars) = 0;
    // Tunes to freqHz and restarts acquisition. KXAPI_E_INVALID_FREQ outside 1 Hz .. 4.29 GHz.
    virtual KXAPI_RESULT SetFrequency(long long freqHz) = 0;
    // Lock word: non-zero when the tuner has settled on a signal.
    virtual KXAPI_RESULT GetStatus(unsigned int& status) = 0;
    virtual KXAPI_RESULT GetTemperature(unsigned char& degreesC) = 0;
    // RF input level in tenths of a dBmV (uncalibrated).
    virtual KXAPI_RESULT GetRfLevel(int& levelTenthsDbmv) = 0;
};
