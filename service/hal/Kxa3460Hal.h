// Kxa3460Hal: the single-port tuner-only I/Q receiver. A TDA18273 tuner converts the RF input
// and the card streams I/Q samples; the HAL accepts the two I/Q modulation types, tunes the
// tuner, keeps the client's tune parameter block and reports lock, RF level and temperature.
#pragma once

#include "DemodHal.h"
#include "DemodHalRegistry.h"
#include "ITda18273.h"

class Kxa3460Hal : public DemodHal {
public:
    // The model table's row this HAL serves and its factory.
    static const DemodHalDescriptor DESCRIPTOR;

    // Board wiring: the tuner's I2C address word on the card's device-level bus.
    static constexpr int TUNER_I2C_ADDRESS = 448;

    static constexpr long long MIN_FREQ_HZ = 42000000;
    static constexpr long long MAX_FREQ_HZ = 870000000;
    static constexpr long long POWER_ON_FREQ_HZ = 474000000;

    Kxa3460Hal(long long serial, Kxapi::KxDeviceInt& device);
    ~Kxa3460Hal() override;

    KXAPI_RESULT Init() override;
    KXAPI_RESULT InitPort(int port) override;
    KXAPI_RESULT Tune(int port, bool blindScan) override;
    KXAPI_RESULT GetStatistics(int port, int count, Kxapi::KxStatistic* stats) override;
    KXAPI_RESULT GetDemodControl(int port, Kxapi::KxDemodPars& pars) override;
    KXAPI_RESULT GetTunerFrequency(int port, long long& freqHz, int tunerId) override;
    KXAPI_RESULT GetTunePars(int port, Kxapi::KxTunePars* pars, bool execute) override;
    KXAPI_RESULT SetDemodControl(int port, Kxapi::KxDemodPars& pars, bool execute) override;
    KXAPI_RESULT SetTunePars(int port, Kxapi::KxTunePars* pars, bool execute) override;
    KXAPI_RESULT SetTunerFrequency(int port, long long freqHz, int tunerId, bool execute) override;
    KXAPI_RESULT Tune(int port, long long freqHz, Kxapi::KxDemodPars& pars, bool execute) override;

private:
    // Modulation type and validity of a parameter set the tuner can stream.
    static KXAPI_RESULT CheckPars(const Kxapi::KxDemodPars& pars);
    static KXAPI_RESULT CheckFrequency(long long freqHz);
    // Tunes and, on success, remembers frequency and parameters.
    KXAPI_RESULT ExecuteTune(long long freqHz, const Kxapi::KxDemodPars& pars);

    // Guarded by the HAL lock.
    ITda18273* m_pTuner = nullptr;
    long long m_TunedFreqHz = POWER_ON_FREQ_HZ;
    Kxapi::KxDemodPars m_DemodPars;
    Kxapi::KxTunePars m_TunePars;
};
