// The TDA18252 cable tuner as the cable receivers' HALs (3530, 3490) use it. It sits behind the
// demodulator's I2C gate: its accessor's Enable connects the bus. Callers hold the port's I2C
// lock around every operation.
#pragma once

#include "IInterface.h"
#include "KxapiResult.h"

// Bus access of the tuner: 8-bit bus addresses. Enable(true) before and Enable(false) after a
// group of transfers; nested calls are counted by the accessor.
class ITda18252I2c : public virtual IInterface {
public:
    virtual KXAPI_RESULT Read(int address, unsigned char* buffer, int length) = 0;
    virtual KXAPI_RESULT Write(int address, const unsigned char* buffer, int length) = 0;
    virtual KXAPI_RESULT Enable(bool on) = 0;
};

class ITda18252 : public IInterface {
public:
    // Checks the chip at 8-bit bus address and runs its power-on initialisation with the board's
    // mode word. KXAPI_E_NOT_SUPPORTED for a chip this driver cannot program.
    virtual KXAPI_RESULT Init(int address, int mode, ITda18252I2c& i2c) = 0;
    virtual KXAPI_RESULT EnableRfLoopThrough(bool enable) = 0;
    // The output that feeds the other tuners of a group from this (master) tuner.
    virtual KXAPI_RESULT EnableMasterTunerOutput(bool enable) = 0;
    // Tunes to freqHz (1 Hz .. 4.29 GHz) with the board's mode word.
    virtual KXAPI_RESULT SetFrequency(long long freqHz, int mode) = 0;
    // IF filter code: 0 8 MHz, 1 7 MHz, 2 6 MHz (applied at once).
    virtual KXAPI_RESULT SetBandwidth(int code) = 0;
    // RF band 0..7 of the tuned frequency.
    virtual KXAPI_RESULT GetRfBand(int& band) = 0;
    // LNA gain step (AGC1) and RF AGC gain (AGC2) readings.
    virtual KXAPI_RESULT GetAgc1(int& agc1) = 0;
    virtual KXAPI_RESULT GetAgc2(int& agc2) = 0;
    // true: the LNA gain follows the input; false: it stays where it is.
    virtual KXAPI_RESULT SetAgc1Running(bool running) = 0;
    virtual KXAPI_RESULT GetTemperature(int& degreesC) = 0;
};
