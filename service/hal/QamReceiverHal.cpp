#include "QamReceiverHal.h"

#include "DemodSvcLayouts.h"

using namespace Kxapi;
using namespace QamReceiver;

KXAPI_RESULT QamReceiverHal::LockChips(int port)
{
    KXAPI_RESULT result = CheckPort(port);
    if (KxapiFailed(result))
        return result;
    QamPort& p = QamPortOf(port);
    if (p.m_pSection != nullptr)
        p.m_pSection->Lock();
    result = m_Device.I2CLock(p.m_Bus, I2C_LOCK_TIMEOUT_MS);
    if (KxapiFailed(result) && p.m_pSection != nullptr)
        p.m_pSection->Unlock();
    return result;
}

KXAPI_RESULT QamReceiverHal::UnlockChips(int port)
{
    KXAPI_RESULT result = CheckPort(port);
    if (KxapiFailed(result))
        return result;
    QamPort& p = QamPortOf(port);
    result = m_Device.I2CUnlock(p.m_Bus);
    if (p.m_pSection != nullptr) {
        const KXAPI_RESULT sectionResult = p.m_pSection->Unlock();
        if (KxapiSucceeded(result))
            result = sectionResult;
    }
    return result;
}

KXAPI_RESULT QamReceiverHal::CheckPortChips()
{
    for (int port = 1; port <= NumDemodPorts(); port++) {
        QamPort& p = QamPortOf(port);
        if (p.m_pDemod == nullptr || p.m_pTuner == nullptr || p.m_pI2c == nullptr)
            return KXAPI_E_OUT_OF_MEM;
        p.m_LastBadPackets = 0;
        p.m_BadPacketTotal = 0;
    }
    return KXAPI_OK;
}

KXAPI_RESULT QamReceiverHal::Acquire(QamPort& p, long long tunerHz, int tunerMode)
{
    const KXAPI_RESULT tuner = p.m_pTuner->SetFrequency(tunerHz, tunerMode);
    KXAPI_RESULT demod = KXAPI_OK;
    if (KxapiSucceeded(tuner)) {
        demod = p.m_pDemod->ResetBadPacketCount();
        p.m_LastBadPackets = 0;
        uint32_t count = 0;
        if (DemodResult(demod) == KXAPI_OK)
            demod = p.m_pDemod->ReadBadPacketCount(count);
        if (DemodResult(demod) == KXAPI_OK)
            demod = p.m_pDemod->Acquire();
    }
    return KxapiFailed(tuner) ? KXAPI_E_DEV_DRIVER : DemodResult(demod);
}

KXAPI_RESULT QamReceiverHal::SetTunerFrequency(int port, long long freqHz, int tunerId, bool execute)
{
    KXAPI_RESULT result = CheckDevicePort(port);
    if (KxapiFailed(result))
        return result;
    result = CheckFrequency(freqHz);
    if (KxapiFailed(result))
        return result;
    if (tunerId != -1)
        return KXAPI_E_INVALID_ARG;
    if (execute)
        QamPortOf(port).m_TunedFreqHz = freqHz; // programmed by the next Tune(port, bool)
    return KXAPI_OK;
}

KXAPI_RESULT QamReceiverHal::SetDemodControl(int port, KxDemodPars& pars, bool execute)
{
    KXAPI_RESULT result = CheckDevicePort(port);
    if (KxapiFailed(result))
        return result;
    result = CheckPars(pars);
    if (KxapiFailed(result) || !execute)
        return result;
    QamPort& p = QamPortOf(port);
    ChipLock lock(*this, port);
    if (!lock.Locked())
        return lock.Result();
    const int bandwidth = ApplyDemodPars(*p.m_pDemod, pars);
    if (bandwidth < 0)
        return KXAPI_E_INTERNAL;
    if (KxapiFailed(p.m_pTuner->SetBandwidth(bandwidth)))
        return KXAPI_E_DEV_DRIVER;
    // The MER table follows the modulation the demodulator now works with.
    p.m_ModType = pars.ModType();
    return KXAPI_OK;
}

KXAPI_RESULT QamReceiverHal::Tune(int port, long long freqHz, KxDemodPars& pars, bool execute)
{
    KXAPI_RESULT result = SetTunerFrequency(port, freqHz, -1, execute);
    if (KxapiFailed(result))
        return result;
    return SetDemodControl(port, pars, execute);
}

KXAPI_RESULT QamReceiverHal::GetDemodControl(int port, KxDemodPars& pars)
{
    KXAPI_RESULT result = CheckDevicePort(port);
    if (KxapiFailed(result))
        return result;
    QamPort& p = QamPortOf(port);
    ChipLock lock(*this, port);
    if (!lock.Locked())
        return lock.Result();
    int modType = p.m_ModType;
    result = ReadDemodPars(*p.m_pDemod, pars, modType);
    p.m_ModType = modType;
    return result;
}

KXAPI_RESULT QamReceiverHal::GetTunerFrequency(int port, long long& freqHz, int tunerId)
{
    KXAPI_RESULT result = CheckDevicePort(port);
    if (KxapiFailed(result))
        return result;
    if (tunerId != -1)
        return KXAPI_E_INVALID_ARG;
    QamPort& p = QamPortOf(port);
    int offsetHz = 0;
    {
        ChipLock lock(*this, port);
        if (!lock.Locked())
            return lock.Result();
        result = p.m_pDemod->ReadFrequencyOffset(offsetHz);
    }
    if (result == TDA10024_NOT_LOCKED)
        return KXAPI_E_LOCKED;
    if (KxapiFailed(result))
        return KXAPI_E_DEV_DRIVER;
    freqHz = p.m_TunedFreqHz + offsetHz;
    return KXAPI_OK;
}

KXAPI_RESULT QamReceiverHal::GetConstellationPoints(int port, int count, KxConstelPoint* points, int, bool execute)
{
    KXAPI_RESULT result = CheckDevicePort(port);
    if (KxapiFailed(result))
        return result;
    if (points == nullptr)
        return KXAPI_E_INVALID_BUF;
    if (count < 0 || count > DEMOD_MAX_CONSTEL_POINTS)
        return KXAPI_E_INVALID_ARG;
    if (!execute)
        return KXAPI_OK;
    ChipLock lock(*this, port);
    if (!lock.Locked())
        return lock.Result();
    return ReadConstellation(*QamPortOf(port).m_pDemod, count, points);
}
