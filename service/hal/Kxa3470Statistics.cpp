#include "Kxa3470Statistics.h"

#include <cmath>

#include "CritSecAutoLockSvc.h"
#include "CrossPlatform.h"
#include "Kxa3470StatEngine.h"
#include "Kxa3470StatTables.h"
#include "KxProxyBlocks.h"
#include "KxProxyCore.h"
#include "KxProxyS2CRDEMOD_3470.h"
#include "XpUtil.h"

using namespace Kxapi;

namespace {

constexpr uint64_t TICK_NS = 100000000; // 100 ms of the card's time of day

// The card's blocks behind the statistics.
class ProxyStatSource : public IKxa3470StatSource {
public:
    ProxyStatSource(KxProxyS2CRDEMOD_3470* pDemod, KxProxyS2STATS_3470* pStats, KxProxyAD5320_3470* pDac,
                    KxProxyIQPWR_3470* pPower, KxProxyCORE* pCore)
        : m_pDemod(pDemod), m_pStats(pStats), m_pDac(pDac), m_pPower(pPower), m_pCore(pCore)
    {
    }

    KXAPI_RESULT GetTimeOfDayNs(uint64_t& timeNs) override
    {
        uint32_t extra = 0;
        return m_pCore == nullptr ? KXAPI_E_NOT_INITIALIZED : m_pCore->Tod().GetTime(timeNs, extra);
    }
    KXAPI_RESULT ReadSignal(Kxa3470SignalReading& signal) override
    {
        if (m_pDemod == nullptr)
            return KXAPI_E_NOT_INITIALIZED;
        uint32_t word3 = 0;
        KXAPI_RESULT result =
            m_pDemod->GetStatus(signal.m_CarrierLock, signal.m_PlHeaderLock, signal.m_FrameLock, word3);
        if (KxapiSucceeded(result))
            result = m_pDemod->GetSnr(signal.m_PlHeaderMerDb);
        if (KxapiSucceeded(result))
            result = m_pDemod->GetCounters(signal.m_Counters);
        return result;
    }
    KXAPI_RESULT ClearFrameStatistics() override
    {
        return m_pStats == nullptr ? KXAPI_E_NOT_INITIALIZED : m_pStats->ClearStatistics();
    }
    KXAPI_RESULT GetFrameStatus(int& numFrames, bool& overflow) override
    {
        int lost = 0;
        return m_pStats == nullptr ? KXAPI_E_NOT_INITIALIZED : m_pStats->GetStatisticsStatus(numFrames, lost, overflow);
    }
    KXAPI_RESULT ReadFrames(std::vector<S2FrameStatus>& frames) override
    {
        return m_pStats == nullptr ? KXAPI_E_NOT_INITIALIZED : m_pStats->ReadStatistics(frames);
    }
    KXAPI_RESULT GetRollOffCode(int& code) override
    {
        return m_pDemod == nullptr ? KXAPI_E_NOT_INITIALIZED : m_pDemod->GetRollOff(code);
    }
    KXAPI_RESULT GetSpectrumInversion(int& inversion) override
    {
        return m_pDemod == nullptr ? KXAPI_E_NOT_INITIALIZED : m_pDemod->GetSpectrumInversion(inversion);
    }
    KXAPI_RESULT GetAgc(int& agc) override
    {
        int status = 0;
        return m_pDac == nullptr ? KXAPI_E_NOT_INITIALIZED : m_pDac->GetGainStatus(status, agc);
    }
    KXAPI_RESULT GetPower(uint32_t& power) override
    {
        return m_pPower == nullptr ? KXAPI_E_NOT_INITIALIZED : m_pPower->GetEstPower(power);
    }

private:
    KxProxyS2CRDEMOD_3470* m_pDemod;
    KxProxyS2STATS_3470* m_pStats;
    KxProxyAD5320_3470* m_pDac;
    KxProxyIQPWR_3470* m_pPower;
    KxProxyCORE* m_pCore;
};

} // namespace

Kxa3470Statistics::Kxa3470Statistics()
    : m_pLock(Xp::Instance()->MakeCritSec()), m_pWake(Xp::Instance()->MakeEvent(false)),
      m_pEngine(std::make_unique<Kxa3470StatEngine>())
{
    RfCalZero(&m_TableCal);
    RfCalZero(&m_StoredCal);
}

Kxa3470Statistics::~Kxa3470Statistics()
{
    Close();
}

bool Kxa3470Statistics::Init(KxProxyS2CRDEMOD_3470* pDemod, KxProxyS2STATS_3470* pStats, KxProxyAD5320_3470* pDac,
                             KxProxyIQPWR_3470* pPower, KxProxyCORE* pCore)
{
    return Init(std::make_unique<ProxyStatSource>(pDemod, pStats, pDac, pPower, pCore));
}

bool Kxa3470Statistics::Init(std::unique_ptr<IKxa3470StatSource> pSource)
{
    Close();
    {
        CritSecAutoLockSvc lock(m_pLock);
        m_pSource = std::move(pSource);
        if (m_pSource == nullptr || m_pLock == nullptr || m_pWake == nullptr ||
            KxapiFailed(m_pSource->ClearFrameStatistics()))
            return false;
    }
    m_Stop = false;
    m_pThread = Xp::Instance()->MakeThread();
    if (m_pThread == nullptr || m_pThread->Create(&Kxa3470Statistics::StaticStatUpdateThread, this) != KXAPI_OK) {
        m_pThread.reset();
        return false;
    }
    m_pThread->SetName("Kxa3470Stats");
    return true;
}

void Kxa3470Statistics::Close()
{
    m_Stop = true;
    if (m_pWake != nullptr)
        m_pWake->Set();
    if (m_pThread != nullptr) {
        m_pThread->WaitFinished();
        m_pThread.reset();
    }
    CritSecAutoLockSvc lock(m_pLock);
    m_pEngine->Clear();
}

void Kxa3470Statistics::StaticStatUpdateThread(void* pArg)
{
    static_cast<Kxa3470Statistics*>(pArg)->StatUpdateThread();
}

void Kxa3470Statistics::StatUpdateThread()
{
    int ticks = 0;
    int seconds = 0;
    double rateFactor = 1.0;
    uint64_t lastStartNs = 0;
    while (!m_Stop.load()) {
        if (!m_Buffering.load()) {
            // Idle until a client turns buffering on (or the stop), at most 100 ms at a time.
            m_pWake->WaitTimeout(100);
            lastStartNs = 0;
            continue;
        }
        uint64_t startNs = 0;
        KXAPI_RESULT timeResult;
        {
            CritSecAutoLockSvc lock(m_pLock);
            timeResult = m_pSource->GetTimeOfDayNs(startNs);
        }
        if (KxapiSucceeded(timeResult) && lastStartNs != 0 && startNs > lastStartNs)
            rateFactor = static_cast<double>(TICK_NS) / static_cast<double>(startNs - lastStartNs);
        lastStartNs = KxapiSucceeded(timeResult) ? startNs : 0;

        bool second = false;
        bool minute = false;
        if (++ticks == 10) {
            ticks = 0;
            second = true;
            if (++seconds == 60) {
                seconds = 0;
                minute = true;
            }
        }
        UpdateStatisticsBuffers(second, minute, rateFactor);

        uint64_t endNs = 0;
        KXAPI_RESULT endResult;
        {
            CritSecAutoLockSvc lock(m_pLock);
            endResult = m_pSource->GetTimeOfDayNs(endNs);
        }
        int sleepMs = static_cast<int>(TICK_NS / 1000000);
        if (KxapiSucceeded(timeResult) && KxapiSucceeded(endResult) && endNs >= startNs) {
            const uint64_t spentNs = endNs - startNs;
            sleepMs = spentNs >= TICK_NS ? 1 : static_cast<int>((TICK_NS - spentNs) / 1000000);
        }
        // At most 100 ms: a stop request is seen within one tick.
        if (!m_Stop.load())
            XpUtil::Sleep(sleepMs);
    }
}

KXAPI_RESULT Kxa3470Statistics::UpdateStatisticsBuffers(bool second, bool minute, double rateFactor)
{
    CritSecAutoLockSvc lock(m_pLock);
    if (m_pSource == nullptr)
        return KXAPI_E_NOT_INITIALIZED;
    m_pEngine->SetRateFactor(rateFactor);
    Kxa3470SignalReading signal;
    if (KxapiFailed(m_pSource->ReadSignal(signal)))
        signal = Kxa3470SignalReading();
    int pending = 0;
    bool overflow = false;
    KXAPI_RESULT result = m_pSource->GetFrameStatus(pending, overflow);
    if (KxapiSucceeded(result) && overflow) {
        m_pSource->ClearFrameStatistics();
        return KXAPI_E_INTERNAL;
    }
    std::vector<S2FrameStatus> frames;
    std::vector<S2FrameStatus> chunk;
    // Every pending report, in chunks of what one read carries.
    for (int reads = 0; KxapiSucceeded(result) && pending > 0 && reads < 64; reads++) {
        result = m_pSource->ReadFrames(chunk);
        if (KxapiFailed(result) || chunk.empty())
            break;
        frames.insert(frames.end(), chunk.begin(), chunk.end());
        pending -= static_cast<int>(chunk.size());
    }
    m_pEngine->Tick(signal, frames, second, minute);
    return KXAPI_OK;
}

void Kxa3470Statistics::EnableBuffering(bool enable)
{
    m_Buffering = enable;
    if (enable && m_pWake != nullptr)
        m_pWake->Set();
    if (!enable) {
        CritSecAutoLockSvc lock(m_pLock);
        m_pEngine->ForgetStreams();
    }
}

void Kxa3470Statistics::ClearBuffers()
{
    CritSecAutoLockSvc lock(m_pLock);
    m_pEngine->Clear();
    if (m_pSource != nullptr)
        m_pSource->ClearFrameStatistics();
}

void Kxa3470Statistics::SetTableCalibration(const KxRfCalV1& cal)
{
    CritSecAutoLockSvc lock(m_pLock);
    m_TableCal = cal;
}

void Kxa3470Statistics::SetStoredCalibration(const KxRfCalV1& cal)
{
    CritSecAutoLockSvc lock(m_pLock);
    m_StoredCal = cal;
}

void Kxa3470Statistics::ClearStoredCalibration()
{
    CritSecAutoLockSvc lock(m_pLock);
    RfCalZero(&m_StoredCal);
}

KXAPI_RESULT Kxa3470Statistics::GetWindowStatistic(int isi, int window, KxStatistic& stat)
{
    CritSecAutoLockSvc lock(m_pLock);
    return m_pEngine->GetWindowStatistic(isi, window, stat);
}

bool Kxa3470Statistics::GetLockAll()
{
    CritSecAutoLockSvc lock(m_pLock);
    return m_Buffering.load() && m_pEngine->LockAll();
}

bool Kxa3470Statistics::GetPlHeaderLock()
{
    CritSecAutoLockSvc lock(m_pLock);
    return m_Buffering.load() && m_pEngine->PlHeaderLock();
}

bool Kxa3470Statistics::GetLock(int isi, int& grabIndex)
{
    CritSecAutoLockSvc lock(m_pLock);
    grabIndex = -1;
    return m_Buffering.load() && m_pEngine->StreamLock(isi, grabIndex);
}

bool Kxa3470Statistics::StreamLockFound()
{
    CritSecAutoLockSvc lock(m_pLock);
    return m_Buffering.load() && m_pEngine->StreamLockFound();
}

KXAPI_RESULT Kxa3470Statistics::GetSpectrumInv(bool& inverted)
{
    CritSecAutoLockSvc lock(m_pLock);
    inverted = false;
    if (m_pSource == nullptr)
        return KXAPI_E_NOT_INITIALIZED;
    int inversion = 0;
    KXAPI_RESULT result = m_pSource->GetSpectrumInversion(inversion);
    inverted = KxapiSucceeded(result) && inversion == 1;
    return result;
}

KXAPI_RESULT Kxa3470Statistics::GetIsiIds(std::vector<int>& isis)
{
    CritSecAutoLockSvc lock(m_pLock);
    isis = m_pEngine->IsiIds();
    return KXAPI_OK;
}

KXAPI_RESULT Kxa3470Statistics::GetIsiSigData(int isi, KxDvbS2IsiSigData& data)
{
    CritSecAutoLockSvc lock(m_pLock);
    return m_pEngine->IsiSigData(isi, data);
}

KXAPI_RESULT Kxa3470Statistics::GetDemodPars(int isi, KxDemodPars& pars)
{
    CritSecAutoLockSvc lock(m_pLock);
    return m_pEngine->DemodPars(isi, pars);
}

KXAPI_RESULT Kxa3470Statistics::GetBBHeadCoding(bool& ccm)
{
    CritSecAutoLockSvc lock(m_pLock);
    return m_pEngine->BBHeadCoding(ccm);
}

KXAPI_RESULT Kxa3470Statistics::GetCcmPlsValue(int& pls)
{
    CritSecAutoLockSvc lock(m_pLock);
    return m_pEngine->CcmPlsValue(pls);
}

KXAPI_RESULT Kxa3470Statistics::GetMer(int isi, double& merDb)
{
    CritSecAutoLockSvc lock(m_pLock);
    return m_pEngine->Mer(isi, merDb);
}

KXAPI_RESULT Kxa3470Statistics::GetMerPlHeaders(double& merDb)
{
    CritSecAutoLockSvc lock(m_pLock);
    merDb = -1.0;
    if (!m_Buffering.load() || !m_pEngine->PlHeaderLock())
        return KXAPI_E_NOT_LOCKED;
    return m_pEngine->MerPlHeaders(merDb);
}

KXAPI_RESULT Kxa3470Statistics::GetStatEbN0(int isi, double merDb, double& ebN0Db)
{
    CritSecAutoLockSvc lock(m_pLock);
    return Kxa3470Calc::EbN0(m_pEngine->ShortPls(isi), merDb, ebN0Db);
}

KXAPI_RESULT Kxa3470Statistics::GetLinkMargin(int isi, double merDb, double& marginDb)
{
    CritSecAutoLockSvc lock(m_pLock);
    return Kxa3470Calc::LinkMargin(m_pEngine->ShortPls(isi), merDb, marginDb);
}

KXAPI_RESULT Kxa3470Statistics::GetBerPreLdpc(int isi, double merDb, double& ber)
{
    CritSecAutoLockSvc lock(m_pLock);
    return Kxa3470Calc::BerPreLdpc(m_pEngine->ShortPls(isi), merDb, ber);
}

namespace {
KXAPI_RESULT PostDecoderBer(const std::map<int, BaseStatistics>& pls, double merDb, bool bch, double& ber)
{
    ber = -1.0;
    double pre = 0.0;
    double fer = 0.0;
    KXAPI_RESULT result = Kxa3470Calc::BerPreLdpc(pls, merDb, pre);
    if (KxapiSucceeded(result))
        result = bch ? Kxa3470Calc::FerPostBch(pls, fer) : Kxa3470Calc::FerPostLdpc(pls, fer);
    if (KxapiSucceeded(result))
        ber = fer * pre;
    return result;
}
} // namespace

KXAPI_RESULT Kxa3470Statistics::GetBerPostLdpc(int isi, double merDb, double& ber)
{
    CritSecAutoLockSvc lock(m_pLock);
    return PostDecoderBer(m_pEngine->ShortPls(isi), merDb, false, ber);
}

KXAPI_RESULT Kxa3470Statistics::GetBerPostBch(int isi, double merDb, double& ber)
{
    CritSecAutoLockSvc lock(m_pLock);
    return PostDecoderBer(m_pEngine->ShortPls(isi), merDb, true, ber);
}

KXAPI_RESULT Kxa3470Statistics::GetFerPostLdpc(int isi, double& fer)
{
    CritSecAutoLockSvc lock(m_pLock);
    return Kxa3470Calc::FerPostLdpc(m_pEngine->ShortPls(isi), fer);
}

KXAPI_RESULT Kxa3470Statistics::GetFerPostBch(int isi, double& fer)
{
    CritSecAutoLockSvc lock(m_pLock);
    return Kxa3470Calc::FerPostBch(m_pEngine->ShortPls(isi), fer);
}

KXAPI_RESULT Kxa3470Statistics::GetRollOff(double& rollOff)
{
    CritSecAutoLockSvc lock(m_pLock);
    rollOff = 0.0;
    if (m_pSource == nullptr)
        return KXAPI_E_NOT_INITIALIZED;
    int code = 0;
    KXAPI_RESULT result = m_pSource->GetRollOffCode(code);
    if (KxapiFailed(result))
        return result;
    return RollOffFromCode(code, rollOff) ? KXAPI_OK : KXAPI_E_INTERNAL;
}

KXAPI_RESULT Kxa3470Statistics::GetOccupiedBw(long long symbolRateBd, double& bandwidthMHz)
{
    double rollOff = 0.0;
    bandwidthMHz = 0.0;
    KXAPI_RESULT result = GetRollOff(rollOff);
    if (KxapiSucceeded(result))
        bandwidthMHz = OccupiedBandwidthMHz(symbolRateBd, rollOff);
    return result;
}

KXAPI_RESULT Kxa3470Statistics::GetAgc1(int& agc)
{
    CritSecAutoLockSvc lock(m_pLock);
    agc = -1;
    return m_pSource == nullptr ? KXAPI_E_NOT_INITIALIZED : m_pSource->GetAgc(agc);
}

KXAPI_RESULT Kxa3470Statistics::GetRfLvlUncalib(int basebandGain, double& levelDbmV)
{
    CritSecAutoLockSvc lock(m_pLock);
    levelDbmV = 0.0;
    if (m_pSource == nullptr)
        return KXAPI_E_NOT_INITIALIZED;
    int agc = 0;
    uint32_t power = 0;
    KXAPI_RESULT result = m_pSource->GetAgc(agc);
    if (KxapiSucceeded(result))
        result = m_pSource->GetPower(power);
    if (KxapiFailed(result))
        return result;
    levelDbmV = RfLvlUncalibDbmV(basebandGain, agc, power);
    return std::isfinite(levelDbmV) ? KXAPI_OK : KXAPI_E_STAT_NOTAVAIL;
}

KXAPI_RESULT Kxa3470Statistics::GetRfLvlChan(int basebandGain, long long freqHz, int temperature,
                                             long long symbolRateBd, int& levelTenthsDbmV)
{
    levelTenthsDbmV = -1;
    double uncalibrated = 0.0;
    KXAPI_RESULT result = GetRfLvlUncalib(basebandGain, uncalibrated);
    if (KxapiFailed(result))
        return result;
    const bool plhLock = GetPlHeaderLock();
    CritSecAutoLockSvc lock(m_pLock);
    int power = KxapiVoltage2Power(static_cast<int>(std::floor(10.0 * uncalibrated + 0.5)));
    const unsigned int freqMHz = static_cast<unsigned int>(std::trunc(static_cast<double>(freqHz) / 1e6 + 0.5));
    power = m_TableCal.RfCalCorrection(power, freqMHz, temperature);
    const double tempOffset = GetRfLvlOffset(g_TempOffset, TEMP_OFFSET_POINTS, temperature);
    const double rateOffset =
        plhLock ? GetRfLvlOffset(g_SymrateOffset, SYMRATE_OFFSET_POINTS, symbolRateBd) : SYMRATE_OFFSET_UNLOCKED;
    power += static_cast<int>(std::trunc((rateOffset + tempOffset) / 10.0));
    power = m_StoredCal.RfCalCorrection(power, freqMHz, temperature);
    levelTenthsDbmV = KxapiPower2Voltage(power);
    return KXAPI_OK;
}

size_t Kxa3470Statistics::MemoryBytes()
{
    CritSecAutoLockSvc lock(m_pLock);
    return m_pEngine->MemoryBytes();
}
