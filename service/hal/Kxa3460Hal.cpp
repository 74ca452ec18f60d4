#include "Kxa3460Hal.h"

#include <new>

#include "CritSecAutoLockSvc.h"
#include "KxModelTable.h"
#include "Tda18273.h"

using namespace Kxapi;

namespace {

const SupportedStatisticsType SUPPORTED_STATISTICS[] = {
    {KX_STAT_LOCK, false, 0, 1, {-1, -1, -1, -1}},
    {KX_STAT_RF_LVL_UNCALIB, false, 10, 1, {-1, -1, -1, -1}},
    {KX_STAT_TEMP_TUNER, false, 0, 1, {-1, -1, -1, -1}},
};

// Power-on tune parameters: standard word 4, 8 MHz IF bandwidth, the rest left to the tuner.
const KxTunePars POWER_ON_TUNE_PARS = {{4, 8000000, -1, -1, -1, -1, -1, -1, -1}};
constexpr int32_t POWER_ON_BANDWIDTH_HZ = 8000000;
constexpr int32_t POWER_ON_SAMPLE_RATE_HZ = 9142857;

// Before the first measurement the lock reads "not locked"; the tuner's readings are not there
// yet (-1, KXAPI_E_TUNING), and neither is anything else.
const DefaultStatisticValue DEFAULT_STATISTICS[] = {
    {KX_STAT_LOCK, KXAPI_OK, false},
    {KX_STAT_RF_LVL_UNCALIB, KXAPI_E_TUNING, int32_t(-1)},
    {KX_STAT_TEMP_TUNER, KXAPI_E_TUNING, int32_t(-1)},
};

void SetIntValue(KxStatistic& stat, int32_t value)
{
    stat.SetValue(value);
}

} // namespace

const DemodHalDescriptor Kxa3460Hal::DESCRIPTOR = {3460, KX_MODEL_ANY_SUBTYPE, MakeDemodHal<Kxa3460Hal>,
                                      SUPPORTED_STATISTICS, DEFAULT_STATISTICS};

Kxa3460Hal::Kxa3460Hal(long long serial, KxDeviceInt& device) : DemodHal(serial, device, DESCRIPTOR) {}

Kxa3460Hal::~Kxa3460Hal()
{
    delete m_pTuner;
}

KXAPI_RESULT Kxa3460Hal::CheckPars(const KxDemodPars& pars)
{
    KXAPI_RESULT result = pars.CheckValidity();
    if (KxapiFailed(result))
        return result;
    if (pars.ModType() != KX_MOD_IQ && pars.ModType() != KX_MOD_IQ3460)
        return KXAPI_E_INVALID_MODE;
    return KXAPI_OK;
}

KXAPI_RESULT Kxa3460Hal::CheckFrequency(long long freqHz)
{
    if (freqHz < MIN_FREQ_HZ || freqHz > MAX_FREQ_HZ)
        return KXAPI_E_INVALID_FREQ;
    return KXAPI_OK;
}

KXAPI_RESULT Kxa3460Hal::Init()
{
    return KXAPI_OK;
}

KXAPI_RESULT Kxa3460Hal::InitPort(int port)
{
    KXAPI_RESULT result = CheckDevicePort(port);
    if (KxapiFailed(result))
        return result;
    {
        HardwareLock lock(*this);
        if (!lock.Locked())
            return lock.Result();
        if (m_pTuner == nullptr) {
            m_pTuner = new (std::nothrow) Tda18273(m_Device, TUNER_I2C_ADDRESS);
            if (m_pTuner == nullptr)
                return KXAPI_E_OUT_OF_MEM;
        }
        result = m_pTuner->Init();
        if (KxapiFailed(result))
            return result;
        lock.UnlockI2c();
        m_TunedFreqHz = POWER_ON_FREQ_HZ;
    }

    // Power-on defaults, set the way a client would set them.
    KxTunePars tunePars = POWER_ON_TUNE_PARS;
    result = SetTunePars(port, &tunePars, true);
    if (KxapiFailed(result))
        return result;
    KxDemodPars pars(KX_MOD_IQ);
    KxDemodParsIq* iq = pars.Iq();
    iq->m_BandwidthHz = POWER_ON_BANDWIDTH_HZ;
    iq->m_IqDataType = 0;
    iq->m_SampleRateHz = POWER_ON_SAMPLE_RATE_HZ;
    return Tune(port, POWER_ON_FREQ_HZ, pars, true);
}

KXAPI_RESULT Kxa3460Hal::Tune(int port, bool)
{
    // The tuner is programmed when parameters or frequency are set; nothing to step.
    return CheckDevicePort(port);
}

KXAPI_RESULT Kxa3460Hal::GetStatistics(int port, int count, KxStatistic* stats)
{
    KXAPI_RESULT result = CheckDevicePort(port);
    if (KxapiFailed(result))
        return result;
    if (count > 0 && stats == nullptr)
        return KXAPI_E_INVALID_ARG;

    bool wantLock = false, wantTemp = false, wantLevel = false;
    for (int i = 0; i < count; i++) {
        wantLock |= stats[i].m_StatisticId == KX_STAT_LOCK;
        wantTemp |= stats[i].m_StatisticId == KX_STAT_TEMP_TUNER;
        wantLevel |= stats[i].m_StatisticId == KX_STAT_RF_LVL_UNCALIB;
    }

    // Each reading is taken once per call, whatever the number of requests for it.
    KXAPI_RESULT lockResult = KXAPI_E_INTERNAL, tempResult = KXAPI_E_INTERNAL, levelResult = KXAPI_E_INTERNAL;
    unsigned int status = 0;
    unsigned char temperature = 0;
    int level = 0;
    if (wantLock || wantTemp || wantLevel) {
        HardwareLock lock(*this);
        if (lock.Locked()) {
            ITda18273* tuner = m_pTuner;
            const KXAPI_RESULT none = KXAPI_E_NOT_INITIALIZED;
            if (wantLock)
                lockResult = tuner != nullptr ? tuner->GetStatus(status) : none;
            if (wantTemp)
                tempResult = tuner != nullptr ? tuner->GetTemperature(temperature) : none;
            if (wantLevel)
                levelResult = tuner != nullptr ? tuner->GetRfLevel(level) : none;
        }
    }

    for (int i = 0; i < count; i++) {
        KxStatistic& stat = stats[i];
        switch (stat.m_StatisticId) {
        case KX_STAT_LOCK:
            stat.m_Result = static_cast<int32_t>(lockResult);
            stat.SetValue(KxapiSucceeded(lockResult) && status != 0);
            break;
        case KX_STAT_TEMP_TUNER:
            stat.m_Result = static_cast<int32_t>(tempResult);
            SetIntValue(stat, KxapiSucceeded(tempResult) ? static_cast<int32_t>(temperature) : -1);
            break;
        case KX_STAT_RF_LVL_UNCALIB:
            stat.m_Result = static_cast<int32_t>(levelResult);
            SetIntValue(stat, KxapiSucceeded(levelResult) ? static_cast<int32_t>(level) : -1);
            break;
        default:
            stat.m_Result = static_cast<int32_t>(KXAPI_E_NOT_SUPPORTED);
            break;
        }
    }
    return KXAPI_OK;
}

KXAPI_RESULT Kxa3460Hal::ExecuteTune(long long freqHz, const KxDemodPars& pars)
{
    HardwareLock lock(*this);
    if (m_pTuner == nullptr)
        return KXAPI_E_NOT_INITIALIZED;
    if (!lock.Locked())
        return lock.Result();
    KXAPI_RESULT result = m_pTuner->SetFrequency(freqHz);
    if (KxapiFailed(result))
        return result;
    m_TunedFreqHz = freqHz;
    m_DemodPars = pars;
    return KXAPI_OK;
}

KXAPI_RESULT Kxa3460Hal::SetTunePars(int port, KxTunePars* pars, bool execute)
{
    KXAPI_RESULT result = CheckDevicePort(port);
    if (KxapiFailed(result))
        return result;
    if (pars == nullptr)
        return KXAPI_E_INVALID_ARG;
    if (!execute)
        return KXAPI_OK;
    HardwareLock lock(*this);
    if (m_pTuner == nullptr)
        return KXAPI_E_NOT_INITIALIZED;
    if (!lock.Locked())
        return lock.Result();
    result = m_pTuner->SetTunePars(*pars);
    if (KxapiFailed(result))
        return result;
    result = m_pTuner->SetFrequency(m_TunedFreqHz);
    if (KxapiFailed(result))
        return result;
    m_TunePars = *pars;
    return KXAPI_OK;
}

KXAPI_RESULT Kxa3460Hal::GetTunePars(int port, KxTunePars* pars, bool)
{
    KXAPI_RESULT result = CheckPort(port);
    if (KxapiFailed(result))
        return result;
    if (pars == nullptr)
        return KXAPI_E_INVALID_ARG;
    CritSecAutoLockSvc lock(m_pHalLock);
    *pars = m_TunePars;
    return KXAPI_OK;
}

KXAPI_RESULT Kxa3460Hal::SetTunerFrequency(int port, long long freqHz, int tunerId, bool execute)
{
    KXAPI_RESULT result = CheckDevicePort(port);
    if (KxapiFailed(result))
        return result;
    if (tunerId != -1)
        return KXAPI_E_INVALID_ARG;
    result = CheckFrequency(freqHz);
    if (KxapiFailed(result) || !execute)
        return result;
    KxDemodPars pars;
    {
        CritSecAutoLockSvc lock(m_pHalLock);
        pars = m_DemodPars;
    }
    return ExecuteTune(freqHz, pars);
}

KXAPI_RESULT Kxa3460Hal::SetDemodControl(int port, KxDemodPars& pars, bool execute)
{
    KXAPI_RESULT result = CheckDevicePort(port);
    if (KxapiFailed(result))
        return result;
    result = CheckPars(pars);
    if (KxapiFailed(result) || !execute)
        return result;
    long long freqHz;
    {
        CritSecAutoLockSvc lock(m_pHalLock);
        freqHz = m_TunedFreqHz;
    }
    return ExecuteTune(freqHz, pars);
}

KXAPI_RESULT Kxa3460Hal::Tune(int port, long long freqHz, KxDemodPars& pars, bool execute)
{
    KXAPI_RESULT result = CheckDevicePort(port);
    if (KxapiFailed(result))
        return result;
    result = CheckPars(pars);
    if (KxapiFailed(result))
        return result;
    result = CheckFrequency(freqHz);
    if (KxapiFailed(result) || !execute)
        return result;
    return ExecuteTune(freqHz, pars);
}

KXAPI_RESULT Kxa3460Hal::GetTunerFrequency(int port, long long& freqHz, int tunerId)
{
    KXAPI_RESULT result = CheckPort(port);
    if (KxapiFailed(result))
        return result;
    if (tunerId != -1)
        return KXAPI_E_INVALID_ARG;
    CritSecAutoLockSvc lock(m_pHalLock);
    freqHz = m_TunedFreqHz;
    return KXAPI_OK;
}

KXAPI_RESULT Kxa3460Hal::GetDemodControl(int port, KxDemodPars& pars)
{
    KXAPI_RESULT result = CheckPort(port);
    if (KxapiFailed(result))
        return result;
    CritSecAutoLockSvc lock(m_pHalLock);
    pars = m_DemodPars;
    return KXAPI_OK;
}
