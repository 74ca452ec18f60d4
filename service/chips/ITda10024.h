// The TDA10024 J.83 QAM demodulator as the cable receivers' HALs (3530, 3490) use it. The
// settings (modulation code, annex-B mode, spectrum settings, symbol rate) are held by the
// driver and written to the chip by Acquire; every other operation is one bus access. Callers
// hold the port's I2C lock around every operation that reaches the chip.
#pragma once

#include <cstdint>

#include "IInterface.h"
#include "KxapiResult.h"

// The driver's answer for a demodulator that has not locked (reads that need a lock, and
// Acquire while the acquisition is still running). Not a failure of the bus.
constexpr KXAPI_RESULT TDA10024_NOT_LOCKED = 4096;

// Bus access of the demodulator: 8-bit bus addresses, the caller's bus.
class ITda10024I2c : public virtual IInterface {
public:
    virtual KXAPI_RESULT Read(int address, unsigned char* buffer, int length) = 0;
    virtual KXAPI_RESULT Write(int address, const unsigned char* buffer, int length) = 0;
};

class ITda10024 : public IInterface {
public:
    // Checks the chip and runs its power-on initialisation; primary marks the demodulator that
    // drives the board's shared clock. KXAPI_E_NOT_SUPPORTED for a chip this driver cannot program.
    virtual KXAPI_RESULT Init(ITda10024I2c& i2c, bool primary) = 0;
    // Connects (true) or disconnects the tuner's bus through the demodulator's gate.
    virtual KXAPI_RESULT TunerI2cBusEnable(bool enable) = 0;

    // Settings, taken by the next Acquire.
    virtual void SetModulationCode(int code) = 0;
    virtual void SetAnnexBMode(bool on) = 0;
    virtual void SetSpectrumSettings(int first, int second) = 0;
    // automatic: the symbol rate is searched and rateBd ignored.
    virtual void SetSymbolRate(bool automatic, int rateBd) = 0;
    virtual int ModulationCode() const = 0;
    virtual bool AnnexBMode() const = 0;
    virtual int SpectrumSetting(int index) const = 0;

    // Writes the settings, restarts the acquisition and follows it until the demodulator locks
    // (KXAPI_OK), reports no signal at all or ACQUIRE_TIMEOUT_MS pass (TDA10024_NOT_LOCKED).
    virtual KXAPI_RESULT Acquire() = 0;
    // Modulation code and interleaving code the chip works with.
    virtual KXAPI_RESULT GetModulation(int& code, int& interleavingCode) = 0;
    // The measured rate once locked; before, the rate set (-1 when searched), TDA10024_NOT_LOCKED.
    virtual KXAPI_RESULT ReadSymbolRate(int& rateBd) = 0;
    // FEC (frame) lock and carrier lock; TDA10024_NOT_LOCKED when not both are set.
    virtual KXAPI_RESULT ReadLocks(bool& fecLock, bool& carrierLock) = 0;
    // Bit errors before Reed-Solomon in the last 10^8 bits.
    virtual KXAPI_RESULT ReadBer(uint32_t& count) = 0;
    virtual KXAPI_RESULT ResetBadPacketCount() = 0;
    // Uncorrectable packets since the last reset; the counter wraps at 2^32.
    virtual KXAPI_RESULT ReadBadPacketCount(uint32_t& count) = 0;
    virtual KXAPI_RESULT ReadRegister(uint8_t reg, uint8_t& value) = 0;
    // IF AGC gain word (0.3 dB per step).
    virtual KXAPI_RESULT ReadAgc(int& agc) = 0;
    // Carrier minus tuned frequency; TDA10024_NOT_LOCKED without a carrier lock.
    virtual KXAPI_RESULT ReadFrequencyOffset(int& offsetHz) = 0;
    // count I/Q pairs of signed bytes (I then Q) into iq (2 x count bytes).
    virtual KXAPI_RESULT ReadIq(int count, int8_t* iq) = 0;
    virtual KXAPI_RESULT ReadSpectrumInversion(bool& inverted) = 0;
    // The control output pin (the input switch of two-input boards).
    virtual KXAPI_RESULT SetControlOutput(int level) = 0;
};
