#include "Kxa3470DemodReadings.h"

#include <cmath>

#include "KxProxyBlocks.h"
#include "KxProxyS2CRDEMOD_3470.h"

using namespace Kxapi;

namespace {

constexpr long long DEMOD_SAMPLE_RATE_HZ = 160000000;
constexpr int STREAM_ISI = 0;

} // namespace

IKxa3470Statistics* NewKxa3470Statistics()
{
    return new (std::nothrow) Kxa3470DemodReadings;
}

bool Kxa3470DemodReadings::Init(KxProxyS2CRDEMOD_3470* demod, KxProxyS2STATS_3470*, KxProxyAD5320_3470* dac,
                                KxProxyIQPWR_3470* power, KxProxyCORE*)
{
    std::lock_guard<std::recursive_mutex> lock(m_Lock);
    m_pDemod = demod;
    m_pDac = dac;
    m_pPower = power;
    return demod != nullptr && dac != nullptr && power != nullptr;
}

void Kxa3470DemodReadings::Close()
{
    std::lock_guard<std::recursive_mutex> lock(m_Lock);
    m_Buffering = false;
}

void Kxa3470DemodReadings::EnableBuffering(bool enable)
{
    std::lock_guard<std::recursive_mutex> lock(m_Lock);
    m_Buffering = enable;
}

void Kxa3470DemodReadings::ClearBuffers() {}

void Kxa3470DemodReadings::SetTableCalibration(const KxRfCalV1& cal)
{
    std::lock_guard<std::recursive_mutex> lock(m_Lock);
    m_TableCal = cal;
}

void Kxa3470DemodReadings::SetStoredCalibration(const KxRfCalV1& cal)
{
    std::lock_guard<std::recursive_mutex> lock(m_Lock);
    m_StoredCal = cal;
}

void Kxa3470DemodReadings::ClearStoredCalibration()
{
    std::lock_guard<std::recursive_mutex> lock(m_Lock);
    RfCalZero(&m_StoredCal);
}

KXAPI_RESULT Kxa3470DemodReadings::GetWindowStatistic(int, int window, KxStatistic&)
{
    return window < 0 ? KXAPI_E_STAT_NOTAVAIL : KXAPI_E_NOT_SUPPORTED;
}

KXAPI_RESULT Kxa3470DemodReadings::Flags(bool& plHeader, bool& stream)
{
    std::lock_guard<std::recursive_mutex> lock(m_Lock);
    bool carrier = false;
    uint32_t word3 = 0;
    plHeader = stream = false;
    if (m_pDemod == nullptr)
        return KXAPI_E_NOT_INITIALIZED;
    KXAPI_RESULT result = m_pDemod->GetStatus(carrier, plHeader, stream, word3);
    if (KxapiFailed(result))
        plHeader = stream = false;
    return result;
}

bool Kxa3470DemodReadings::GetPlHeaderLock()
{
    bool plHeader = false, stream = false;
    return KxapiSucceeded(Flags(plHeader, stream)) && plHeader && m_Buffering;
}

bool Kxa3470DemodReadings::GetLock(int isi, int& grabIndex)
{
    bool plHeader = false, stream = false;
    grabIndex = 0;
    return isi == STREAM_ISI && KxapiSucceeded(Flags(plHeader, stream)) && plHeader && stream;
}

bool Kxa3470DemodReadings::GetLockAll()
{
    int grabIndex = 0;
    return GetLock(STREAM_ISI, grabIndex);
}

bool Kxa3470DemodReadings::StreamLockFound()
{
    return GetLockAll();
}

KXAPI_RESULT Kxa3470DemodReadings::GetSpectrumInv(bool& inverted)
{
    std::lock_guard<std::recursive_mutex> lock(m_Lock);
    int code = 0;
    KXAPI_RESULT result = m_pDemod != nullptr ? m_pDemod->GetSpectrumInversion(code) : KXAPI_E_NOT_INITIALIZED;
    inverted = KxapiSucceeded(result) && code == 1;
    return result;
}

KXAPI_RESULT Kxa3470DemodReadings::GetIsiIds(std::vector<int>& isis)
{
    isis.clear();
    if (GetLockAll())
        isis.push_back(STREAM_ISI);
    return KXAPI_OK;
}

KXAPI_RESULT Kxa3470DemodReadings::GetIsiSigData(int, KxDvbS2IsiSigData&)
{
    return KXAPI_E_STAT_NOTAVAIL;
}

KXAPI_RESULT Kxa3470DemodReadings::GetDemodPars(int, KxDemodPars&)
{
    return KXAPI_E_STAT_NOTAVAIL;
}

KXAPI_RESULT Kxa3470DemodReadings::GetBBHeadCoding(bool&)
{
    return KXAPI_E_STAT_NOTAVAIL;
}

KXAPI_RESULT Kxa3470DemodReadings::GetCcmPlsValue(int&)
{
    return KXAPI_E_STAT_NOTAVAIL;
}

KXAPI_RESULT Kxa3470DemodReadings::GetMer(int isi, double& merDb)
{
    if ((isi != STREAM_ISI && isi != 256) || !GetLockAll())
        return KXAPI_E_NOT_LOCKED;
    return GetMerPlHeaders(merDb);
}

KXAPI_RESULT Kxa3470DemodReadings::GetMerPlHeaders(double& merDb)
{
    if (!GetPlHeaderLock())
        return KXAPI_E_NOT_LOCKED;
    std::lock_guard<std::recursive_mutex> lock(m_Lock);
    return m_pDemod->GetSnr(merDb);
}

KXAPI_RESULT Kxa3470DemodReadings::GetStatEbN0(int, double, double&)
{
    return KXAPI_E_STAT_NOTAVAIL;
}

KXAPI_RESULT Kxa3470DemodReadings::GetLinkMargin(int, double, double&)
{
    return KXAPI_E_STAT_NOTAVAIL;
}

KXAPI_RESULT Kxa3470DemodReadings::GetBerPreLdpc(int, double, double&)
{
    return KXAPI_E_STAT_NOTAVAIL;
}

KXAPI_RESULT Kxa3470DemodReadings::GetBerPostLdpc(int, double, double&)
{
    return KXAPI_E_STAT_NOTAVAIL;
}

KXAPI_RESULT Kxa3470DemodReadings::GetBerPostBch(int, double, double&)
{
    return KXAPI_E_STAT_NOTAVAIL;
}

KXAPI_RESULT Kxa3470DemodReadings::GetFerPostLdpc(int, double&)
{
    return KXAPI_E_STAT_NOTAVAIL;
}

KXAPI_RESULT Kxa3470DemodReadings::GetFerPostBch(int, double&)
{
    return KXAPI_E_STAT_NOTAVAIL;
}

KXAPI_RESULT Kxa3470DemodReadings::RollOffOfCode(int code, double& rollOff)
{
    switch (code) {
    case 768: rollOff = 0.05; return KXAPI_OK;
    case 1024: rollOff = 0.10; return KXAPI_OK;
    case 1280: rollOff = 0.15; return KXAPI_OK;
    case 1536: rollOff = 0.20; return KXAPI_OK;
    case 1792: rollOff = 0.25; return KXAPI_OK;
    case 2048: rollOff = 0.35; return KXAPI_OK;
    case 65280: rollOff = 0.0; return KXAPI_OK;
    default: return KXAPI_E_INTERNAL;
    }
}

KXAPI_RESULT Kxa3470DemodReadings::GetRollOff(double& rollOff)
{
    if (!GetPlHeaderLock())
        return KXAPI_E_NOT_LOCKED;
    std::lock_guard<std::recursive_mutex> lock(m_Lock);
    int code = 0;
    KXAPI_RESULT result = m_pDemod->GetRollOff(code);
    if (KxapiFailed(result))
        return result;
    return RollOffOfCode(code, rollOff);
}

KXAPI_RESULT Kxa3470DemodReadings::GetOccupiedBw(long long symbolRateBd, double& bandwidthMHz)
{
    double rollOff = 0.0;
    KXAPI_RESULT result = GetRollOff(rollOff);
    if (KxapiFailed(result))
        return result;
    bandwidthMHz = static_cast<double>(symbolRateBd) * (1.0 + rollOff) / 1e6;
    return KXAPI_OK;
}

KXAPI_RESULT Kxa3470DemodReadings::GetAgc1(int& agc)
{
    std::lock_guard<std::recursive_mutex> lock(m_Lock);
    if (m_pDac == nullptr)
        return KXAPI_E_NOT_INITIALIZED;
    int status = 0;
    return m_pDac->GetGainStatus(status, agc);
}

KXAPI_RESULT Kxa3470DemodReadings::GetRfLvlUncalib(int basebandGain, double& levelDbmv)
{
    std::lock_guard<std::recursive_mutex> lock(m_Lock);
    if (m_pPower == nullptr)
        return KXAPI_E_NOT_INITIALIZED;
    int agc = 0;
    KXAPI_RESULT result = GetAgc1(agc);
    uint32_t power = 0;
    if (KxapiSucceeded(result))
        result = m_pPower->GetEstPower(power);
    if (KxapiFailed(result))
        return result;
    if (power == 0)
        return KXAPI_E_NOT_LOCKED;
    const double chainGainDb = basebandGain + (agc / 4096.0 * 2.73 * -40.5 + 90.55) + LOWPASS_FILTER_GAIN_DB +
                               SCALING_GAIN_DB + IQ_FIR_FILTER_GAIN_DB;
    levelDbmv = 20.0 * std::log10(std::sqrt(static_cast<double>(power)) / 32768.0 * 1000.0) - chainGainDb;
    return KXAPI_OK;
}

KXAPI_RESULT Kxa3470DemodReadings::GetRfLvlChan(int, long long, int, long long, int&)
{
    return KXAPI_E_STAT_NOTAVAIL;
}
