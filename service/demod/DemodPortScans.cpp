// Blind scan and spectrum scan of a port: both run on the worker thread as queued commands,
// step through a frequency range, report progress to the requesting client and stop early
// when cancelled.
#include "CritSecAutoLockSvc.h"
#include "DemodHal.h"
#include "DemodPortController.h"
#include "KxCheckedMath.h"
#include "XpUtil.h"

using namespace Kxapi;

namespace {

constexpr int64_t HZ_PER_MHZ = 1000000;
constexpr int64_t BLIND_SCAN_MIN_STEP_HZ = 1000000;
constexpr unsigned int BLIND_SCAN_LOCK_WAIT_MS = 1000;
constexpr int SPECTRUM_SCAN_TYPE_CHANNEL = 5;
constexpr int SPECTRUM_SCAN_TYPE_NARROW = 6;
constexpr int SPECTRUM_SCAN_TYPE_FLAG = 16;

// The range check both scans share, on client values of any size: the step at least minStepHz
// and ABSMIN + step not above ABSMAX (an ABSMIN + step that does not fit in 64 bits is above),
// start within [ABSMIN, ABSMAX] and below end, end not above ABSMAX. Once it passed, every
// position start + k * step up to end + step fits in 64 bits.
KXAPI_RESULT CheckScanRange(int64_t minStepHz, int64_t stepHz, int64_t startHz, int64_t endHz, int64_t absMinHz,
                            int64_t absMaxHz)
{
    int64_t firstStepHz = 0;
    if (stepHz < minStepHz || !KxCheckedAdd(absMinHz, stepHz, firstStepHz) || firstStepHz > absMaxHz ||
        startHz < absMinHz || startHz > absMaxHz || startHz >= endHz || endHz > absMaxHz)
        return KXAPI_E_INVALID_FREQ;
    return KXAPI_OK;
}

bool LockOf(const KxStatistic& stat)
{
    bool locked = false;
    return stat.GetValue(locked) == KXAPI_OK && locked;
}

} // namespace

int64_t DemodPortController::GetBandWidthHz(const KxDemodPars& pars)
{
    if (const KxDemodParsDvbC2* c2 = pars.DvbC2()) {
        if (c2->m_BandwidthMhz == 6)
            return 6000000;
        if (c2->m_BandwidthMhz == 8)
            return 8000000;
        return -1;
    }
    if (const KxDemodParsDvbT* t = pars.DvbT()) {
        if (t->m_Bandwidth >= 1 && t->m_Bandwidth <= 4)
            return (t->m_Bandwidth + 4) * HZ_PER_MHZ;
        return -1;
    }
    if (const KxDemodParsDvbT2* t2 = pars.DvbT2()) {
        static const int64_t T2_BANDWIDTHS_HZ[] = {1700000, 5000000, 6000000, 7000000, 8000000, 10000000};
        if (t2->m_Bandwidth >= 0 && t2->m_Bandwidth <= 5)
            return T2_BANDWIDTHS_HZ[t2->m_Bandwidth];
        return -1;
    }
    if (const KxDemodParsIsdbt* isdbt = pars.Isdbt()) {
        switch (isdbt->m_Bandwidth) {
        case 16:
            return 5000000;
        case 32:
            return 6000000;
        case 48:
            return 7000000;
        case 64:
            return 8000000;
        default:
            return -1;
        }
    }
    if (const KxDemodParsIq* iq = pars.Iq())
        return iq->m_BandwidthHz;
    if (const KxDemodParsIq3460* iq = pars.Iq3460())
        return iq->m_Tuner.m_BandwidthHz;
    if (const KxDemodParsDvbS2Adv* s2 = pars.DvbS2())
        return s2->m_SymRateBd;
    if (const KxDemodParsDvbS* s = pars.DvbS())
        return s->m_SymRateBd;
    if (const KxDemodParsQam* qam = pars.Qam())
        return qam->m_SymRateBd;
    return -1;
}

void DemodPortController::CancelBlindScan()
{
    m_BlindScanCancel = true;
    m_pHal->CancelBlindScan(m_Port);
}

KXAPI_RESULT DemodPortController::ReadFreqAttributes(int64_t& absMinHz, int64_t& absMaxHz, int64_t& minHz,
                                                     int64_t& maxHz)
{
    int absMin = 0;
    int absMax = 0;
    int min = 0;
    int max = 0;
    KXAPI_RESULT r = m_pHal->GetAttribute(m_Port, DEMOD_ATTR_MOD_FREQ_ABSMIN, absMin, true);
    if (KxapiSucceeded(r))
        r = m_pHal->GetAttribute(m_Port, DEMOD_ATTR_MOD_FREQ_ABSMAX, absMax, true);
    if (KxapiSucceeded(r))
        r = m_pHal->GetAttribute(m_Port, DEMOD_ATTR_MOD_FREQ_MIN, min, true);
    if (KxapiSucceeded(r))
        r = m_pHal->GetAttribute(m_Port, DEMOD_ATTR_MOD_FREQ_MAX, max, true);
    absMinHz = absMin * HZ_PER_MHZ;
    absMaxHz = absMax * HZ_PER_MHZ;
    minHz = min * HZ_PER_MHZ;
    maxHz = max * HZ_PER_MHZ;
    return r;
}

KXAPI_RESULT DemodPortController::BlindScan(IDemodPortClient* pClient, int maxCount, int& found,
                                            KxTransmitter* transmitters, KxDemodPars& pars, int64_t stepHz,
                                            int64_t startHz, int64_t endHz, bool execute)
{
    found = 0;
    int64_t absMinHz, absMaxHz, minHz, maxHz;
    KXAPI_RESULT r = ReadFreqAttributes(absMinHz, absMaxHz, minHz, maxHz);
    if (KxapiFailed(r))
        return r;
    if (startHz == -1)
        startHz = minHz;
    if (endHz == -1)
        endHz = maxHz;
    r = CheckScanRange(BLIND_SCAN_MIN_STEP_HZ, stepHz, startHz, endHz, absMinHz, absMaxHz);
    if (KxapiFailed(r))
        return r;
    if (pars.ModType() == KX_MOD_NONE && KxapiFailed(m_pHal->GetAutoBlindScanPars(m_Port, pars)))
        return KXAPI_E_NOT_SUPPORTED;
    r = m_pHal->SetDemodControl(m_Port, pars, execute);
    if (KxapiFailed(r) || !execute)
        return r;

    {
        CritSecAutoLockSvc lock(m_pParsLock);
        m_TunePars = pars;
    }
    const bool eventMode = transmitters == nullptr;
    // A cancel that arrived before the busy flag was visible must still end the scan: the
    // cancel flag is cleared before busy is set and read once more afterwards.
    m_BlindScanCancel = false;
    m_BlindScanBusy = true;
    if (m_BlindScanCancel.load() || m_Stop.load())
        r = KXAPI_E_CANCELLED;
    else
        r = BlindScanSweep(pClient, maxCount, found, transmitters, pars, stepHz, startHz, endHz);

    if (!eventMode) {
        m_BlindScanBusy = false;
        return found > maxCount ? KXAPI_E_BUF_TOO_SMALL : r;
    }
    KxBsProgress last;
    last.m_Event = r == KXAPI_E_CANCELLED ? 1 : 2;
    last.m_Result = static_cast<int32_t>(r);
    FireBsProgressEvent(pClient, last);
    m_BlindScanBusy = false;
    return r;
}

KXAPI_RESULT DemodPortController::BlindScanSweep(IDemodPortClient* pClient, int maxCount, int& found,
                                                 KxTransmitter* transmitters, const KxDemodPars& pars,
                                                 int64_t stepHz, int64_t startHz, int64_t endHz)
{
    const bool eventMode = transmitters == nullptr;
    int64_t coveredHz = startHz;
    for (int64_t p = startHz;; p = KxSaturatingAdd(p, stepHz)) {
        if (p >= coveredHz) {
            KXAPI_RESULT r = m_pHal->SetTunerFrequency(m_Port, p, -1, true);
            if (KxapiFailed(r))
                return r;
            int64_t oldFreqHz;
            {
                CritSecAutoLockSvc lock(m_pParsLock);
                oldFreqHz = m_TuneFreqHz;
            }
            FireTuneFreqHasChangedEvent(pClient, oldFreqHz, p);
            {
                CritSecAutoLockSvc lock(m_pParsLock);
                m_TuneFreqHz = p;
            }
            FireTuneParsHaveChangedEvent(pClient, p, pars, p, pars);

            // Wait up to a second for lock.
            bool locked = false;
            const unsigned int t0 = XpUtil::GetTickCount();
            for (;;) {
                r = m_pHal->Tune(m_Port, true);
                if (r == KXAPI_E_NOT_LOCKED)
                    break;
                if (KxapiFailed(r))
                    return r;
                KxStatistic lock(KX_STAT_LOCK);
                r = m_pHal->GetStatistics(m_Port, 1, &lock);
                if (KxapiFailed(r))
                    return r;
                locked = LockOf(lock);
                if (locked || XpUtil::GetTickCount() - t0 >= BLIND_SCAN_LOCK_WAIT_MS)
                    break;
                XpUtil::Sleep(1);
            }

            coveredHz = KxSaturatingAdd(p, stepHz);
            long long foundHz = p;
            KxDemodPars foundPars;
            bool transmitter = false;
            if (locked) {
                long long tunerHz = 0;
                KxStatistic lock(KX_STAT_LOCK);
                if (KxapiFailed(r = m_pHal->Update(m_Port, true)) ||
                    KxapiFailed(r = m_pHal->GetTunerFrequency(m_Port, tunerHz, -1)) ||
                    KxapiFailed(r = m_pHal->GetDemodControl(m_Port, foundPars)) ||
                    KxapiFailed(r = m_pHal->GetStatistics(m_Port, 1, &lock)))
                    return r;
                foundHz = tunerHz;
                if (LockOf(lock)) {
                    long long refinedHz = foundHz;
                    long long nextHz = coveredHz;
                    r = m_pHal->GetBlindScanFrequencies(m_Port, foundHz, refinedHz, foundPars, nextHz);
                    if (KxapiSucceeded(r)) {
                        foundHz = refinedHz;
                        coveredHz = nextHz;
                        transmitter = true;
                    } else if (r == KXAPI_E_NOT_SUPPORTED) {
                        const int64_t bandwidthHz = GetBandWidthHz(foundPars);
                        if (bandwidthHz != -1)
                            coveredHz = KxSaturatingAdd<int64_t>(foundHz, bandwidthHz / 2);
                        transmitter = true;
                    } else if (r != KXAPI_E_INVALID_FREQ) {
                        return r;
                    }
                }
            }

            if (transmitter) {
                if (eventMode) {
                    KxBsProgress progress;
                    progress.m_FreqHz = foundHz;
                    progress.m_DemodPars = foundPars;
                    progress.m_Event = 0;
                    progress.m_ChannelFound = true;
                    progress.m_Result = KXAPI_OK;
                    FireBsProgressEvent(pClient, progress);
                } else if (found < maxCount) {
                    KxTransmitter& t = transmitters[found];
                    t.m_FreqHz = foundHz;
                    t.m_ModType = foundPars.ModType();
                    int32_t modType = 0, x0 = 0, x1 = 0, symRate = 0;
                    foundPars.ToOldStyle(modType, x0, x1, symRate);
                    t.m_SymRateBd = symRate;
                }
                found++;
            } else if (eventMode) {
                KxBsProgress progress;
                progress.m_FreqHz = foundHz;
                progress.m_Event = 0;
                progress.m_ChannelFound = false;
                progress.m_Result = KXAPI_OK;
                FireBsProgressEvent(pClient, progress);
            }
        }
        if (endHz <= KxSaturatingAdd(p, stepHz))
            return KXAPI_OK; // the end frequency itself is never tuned
        if (m_BlindScanCancel.load() || m_Stop.load())
            return KXAPI_E_CANCELLED;
    }
}

KXAPI_RESULT DemodPortController::SpectrumScan(IDemodPortClient* pClient, int scanType, int64_t stepHz,
                                               int64_t startHz, int64_t endHz, bool execute)
{
    int64_t absMinHz, absMaxHz, minHz, maxHz;
    KXAPI_RESULT r = ReadFreqAttributes(absMinHz, absMaxHz, minHz, maxHz);
    if (KxapiFailed(r))
        return r;
    if (endHz == -1)
        endHz = maxHz;
    if (startHz == -1)
        startHz = minHz;
    r = CheckScanRange(1, stepHz, startHz, endHz, absMinHz, absMaxHz);
    if (KxapiFailed(r))
        return r;
    const int kind = scanType & ~SPECTRUM_SCAN_TYPE_FLAG;
    if (kind != SPECTRUM_SCAN_TYPE_CHANNEL && kind != SPECTRUM_SCAN_TYPE_NARROW)
        return KXAPI_E_INVALID_ARG;
    int tunerArg = 0;
    int tuningMode = 0;
    int settleMs = 0;
    long long offsetHz = 0;
    r = m_pHal->InitSpectrumScan(m_Port, scanType, tunerArg, tuningMode, settleMs, offsetHz, execute);
    if (KxapiFailed(r) || !execute)
        return r;

    m_SpectrumScanCancel = false;
    m_SpectrumScanBusy = true;
    r = m_pHal->SetTuningMode(m_Port, tuningMode, true);
    if (KxapiFailed(r)) {
        m_SpectrumScanBusy = false;
        return r;
    }
    if (m_SpectrumScanCancel.load() || m_Stop.load())
        r = KXAPI_E_CANCELLED;
    else
        r = SpectrumScanSweep(pClient, kind, tunerArg, settleMs, offsetHz, stepHz, startHz, endHz, absMinHz,
                              absMaxHz);

    KxSpsProgress last;
    last.m_Event = r == KXAPI_E_CANCELLED ? 1 : 2;
    last.m_Result = static_cast<int32_t>(r);
    FireSpsProgressEvent(pClient, last);
    r = m_pHal->CloseSpectrumScan(m_Port);
    m_SpectrumScanBusy = false;
    return r;
}

KXAPI_RESULT DemodPortController::SpectrumScanSweep(IDemodPortClient* pClient, int scanType, int tunerArg,
                                                    int settleMs, int64_t offsetHz, int64_t stepHz, int64_t startHz,
                                                    int64_t endHz, int64_t absMinHz, int64_t absMaxHz)
{
    for (int64_t p = startHz;;) {
        int64_t tuneHz = KxSaturatingAdd(p, offsetHz);
        if (tuneHz < absMinHz)
            tuneHz = absMinHz;
        if (tuneHz > absMaxHz)
            tuneHz = absMaxHz;
        KXAPI_RESULT r = m_pHal->SetTunerFrequency(m_Port, tuneHz, tunerArg, true);
        if (KxapiSucceeded(r))
            r = m_pHal->Tune(m_Port, false);
        if (KxapiFailed(r))
            return r;
        if (settleMs > 0)
            XpUtil::Sleep(settleMs);
        KxStatistic level(scanType == SPECTRUM_SCAN_TYPE_CHANNEL ? KX_STAT_RF_LVL_CHAN_QS : KX_STAT_RF_LVL_NARROW_QS);
        r = m_pHal->GetStatistics(m_Port, 1, &level);
        if (KxapiFailed(r))
            return r;
        KxSpsProgress progress;
        progress.m_FreqHz = p;
        progress.m_Event = 0;
        progress.m_Result = level.m_Result;
        progress.m_Level = 0;
        if (level.m_Result == static_cast<int32_t>(KXAPI_OK)) {
            const KxStatistic::Value& v = level.GetRawValue();
            if (const int32_t* i = std::get_if<int32_t>(&v))
                progress.m_Level = *i;
            else if (const double* d = std::get_if<double>(&v))
                progress.m_Level = static_cast<int32_t>(*d);
        }
        FireSpsProgressEvent(pClient, progress);
        p = KxSaturatingAdd(p, stepHz);
        if (p > endHz)
            return KXAPI_OK;
        if (m_SpectrumScanCancel.load() || m_Stop.load())
            return KXAPI_E_CANCELLED;
    }
}
