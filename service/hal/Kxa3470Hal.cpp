#include "Kxa3470Hal.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>

#include "CritSecAutoLockSvc.h"
#include "KxModelTable.h"
#include "KxRfCal.h"
#include "Kxa3470Statistics.h"
#include "Max2121B.h"
#include "XpUtil.h"

using namespace Kxapi;

namespace {

// The symbol rate a client leaves to the port's search.
constexpr int32_t SYMBOL_RATE_AUTO = -1;
constexpr int32_t IQ_DATA_TYPE = 1;

constexpr int DETECTOR_FFT_SIZE = 16384;
constexpr int SEARCH_LPF_HZ = 48600000;
constexpr long long SEARCH_FILTER_HZ = 97200000;
constexpr long long MIN_FILTER_CUTOFF_HZ = 5000000;
constexpr int BLIND_SCAN_OFFSET_DIVISOR = 10;
constexpr unsigned int BLIND_SCAN_WAIT_MS = 500;
constexpr int STREAM_LOCK_POLLS = 30;
constexpr int SYMBOL_RATE_READINGS = 10;
constexpr unsigned int SYMBOL_RATE_READING_MS = 10;
constexpr unsigned int CLOCK_REG3_DELAY_MS = 10;
constexpr int ALL_STREAMS = 256;

// LNBH25 register 2 values of the voltage levels 0..3.
constexpr unsigned char LNB_VOLTAGE_VALUES[4] = {1, 8, 4, 11};

// CDCM6208 start-up: registers 0..21 and 40 with their values; register 3 is written again
// with CLOCK_REG3_LATE after CLOCK_REG3_DELAY_MS.
struct ClockRegister {
    uint16_t m_Register;
    uint16_t m_Value;
};
constexpr ClockRegister CLOCK_REGISTERS[23] = {
    {0, 0x01B9},  {1, 0x0004},  {2, 0x002C},  {3, 0x00B4},  {4, 0x204C},  {5, 0x0000},
    {6, 0x0000},  {7, 0x0022},  {8, 0x0011},  {9, 0x0602},  {10, 0x0004}, {11, 0x4000},
    {12, 0x0000}, {13, 0x0000}, {14, 0x0000}, {15, 0x0000}, {16, 0x0000}, {17, 0x0000},
    {18, 0x0000}, {19, 0x0000}, {20, 0x0000}, {21, 0x0000}, {40, 0x0000},
};
constexpr uint16_t CLOCK_REG3_LATE = 0x00F4;

// Sample rates of the I/Q port and the converter, in MHz.
constexpr int IQ_SAMPLE_RATES_MHZ[] = {160, 80, 40, 20, 10, 5};

// The extra ids of a statistic: the stream (ISI, -1 all streams), then the time window (-1 the
// instantaneous value, 0 short, 1 medium, 2 long). The port's statistics cache keeps a value
// per stream of the port's stream list (GetPlpList) where a row says STREAMS, and per window
// where it says WINDOWS.
constexpr int32_t NONE = STAT_XTRA_UNUSED;
constexpr int32_t STREAMS = STAT_XTRA_PER_PLP;
constexpr int32_t WINDOWS = STAT_XTRA_LAYERS;

constexpr SupportedStatisticsType Row(int32_t id, bool lockedOnly, int32_t stream, int32_t window)
{
    return {id, lockedOnly, 0, 1, {stream, window, NONE, NONE}};
}

const SupportedStatisticsType SUPPORTED_STATISTICS[] = {
    Row(KX_STAT_LOCK, false, NONE, NONE),
    Row(KX_STAT_PL_HEADER_LOCK, false, NONE, NONE),
    Row(KX_STAT_STREAM_LOCK, true, STREAMS, NONE),
    Row(KX_STAT_LOCK_PERC, false, STREAMS, WINDOWS),
    Row(KX_STAT_ES_N0, true, STREAMS, WINDOWS),
    Row(KX_STAT_MER_PL_HEADERS, true, NONE, WINDOWS),
    Row(KX_STAT_CNR, true, STREAMS, WINDOWS),
    Row(KX_STAT_SNR, true, STREAMS, WINDOWS),
    Row(KX_STAT_SPECTRUM_INV, true, NONE, NONE),
    Row(KX_STAT_DVBS2_ISI, true, NONE, WINDOWS),
    Row(KX_STAT_S2_ISI_SIG, true, STREAMS, NONE),
    Row(KX_STAT_AGC1, false, NONE, NONE),
    Row(KX_STAT_RF_LVL_CHAN, false, NONE, NONE),
    Row(KX_STAT_RF_LVL_UNCALIB, false, NONE, NONE),
    Row(KX_STAT_MER, true, STREAMS, WINDOWS),
    Row(KX_STAT_LINK_MARGIN, true, STREAMS, WINDOWS),
    Row(KX_STAT_EB_N0, true, STREAMS, WINDOWS),
    Row(KX_STAT_BER_PRE_LDPC, true, STREAMS, WINDOWS),
    Row(KX_STAT_FER_POST_LDPC, true, STREAMS, WINDOWS),
    Row(KX_STAT_BER_POST_LDPC, true, STREAMS, WINDOWS),
    Row(KX_STAT_BER_PRE_BCH, true, STREAMS, WINDOWS),
    Row(KX_STAT_FER_POST_BCH, true, STREAMS, WINDOWS),
    Row(KX_STAT_BER_POST_BCH, true, STREAMS, WINDOWS),
    Row(KX_STAT_OCCUPIED_BANDWIDTH, true, NONE, NONE),
    Row(KX_STAT_ROLL_OFF_FACTOR, true, NONE, NONE),
};

// Before the first measurement every statistic answers KXAPI_E_TUNING, except these.
const DefaultStatisticValue DEFAULT_STATISTICS[] = {
    {KX_STAT_AGC1, KXAPI_E_TUNING, int32_t(-1)},
    {KX_STAT_RF_LVL_CHAN, KXAPI_E_TUNING, int32_t(-1)},
    {KX_STAT_RF_LVL_UNCALIB, KXAPI_E_TUNING, int32_t(-1)},
    {KX_STAT_LOCK_PERC, KXAPI_OK, int32_t(0)},
    {KX_STAT_MER_PL_HEADERS, KXAPI_E_NOT_LOCKED, int32_t(-1)},
    {KX_STAT_CNR, KXAPI_E_NOT_LOCKED, int32_t(-1)},
    {KX_STAT_MER, KXAPI_E_NOT_LOCKED, int32_t(-1)},
    {KX_STAT_SNR, KXAPI_E_NOT_LOCKED, int32_t(-1)},
    {KX_STAT_ES_N0, KXAPI_E_NOT_LOCKED, int32_t(-1)},
    {KX_STAT_BER_POST_BCH, KXAPI_E_NOT_LOCKED, -1.0},
    {KX_STAT_BER_POST_LDPC, KXAPI_E_NOT_LOCKED, -1.0},
    {KX_STAT_BER_PRE_LDPC, KXAPI_E_NOT_LOCKED, -1.0},
    {KX_STAT_BER_PRE_BCH, KXAPI_E_NOT_LOCKED, -1.0},
    {KX_STAT_FER_POST_BCH, KXAPI_E_NOT_LOCKED, -1.0},
    {KX_STAT_FER_POST_LDPC, KXAPI_E_NOT_LOCKED, -1.0},
    {KX_STAT_LINK_MARGIN, KXAPI_E_NOT_LOCKED, int32_t(0)},
    {KX_STAT_EB_N0, KXAPI_E_NOT_LOCKED, int32_t(0)},
    {KX_STAT_OCCUPIED_BANDWIDTH, KXAPI_E_NOT_LOCKED, 0.0},
    {KX_STAT_ROLL_OFF_FACTOR, KXAPI_E_NOT_LOCKED, 0.0},
    {KX_STAT_LOCK, KXAPI_OK, false},
    {KX_STAT_SPECTRUM_INV, KXAPI_OK, false},
    {KX_STAT_PL_HEADER_LOCK, KXAPI_OK, false},
    {KX_STAT_STREAM_LOCK, KXAPI_OK, false},
    {KX_STAT_DVBS2_ISI, KXAPI_E_NOT_LOCKED, std::monostate()},
    {KX_STAT_S2_ISI_SIG, KXAPI_E_NOT_LOCKED, std::monostate()},
};

// A figure in dB reported in tenths as an integer (or as it is for a double statistic).
void SetTenths(KxStatistic& stat, double db)
{
    if (stat.m_ValueType == KX_STAT_VT_DOUBLE)
        stat.SetValue(db * 10.0);
    else
        stat.SetValue(static_cast<int32_t>(db * 10.0));
}

void SetResult(KxStatistic& stat, KXAPI_RESULT result)
{
    stat.m_Result = static_cast<int32_t>(result);
}

bool TimeReached(unsigned int now, unsigned int deadline)
{
    return static_cast<int32_t>(now - deadline) >= 0;
}

} // namespace

const DemodHalDescriptor Kxa3470Hal::DESCRIPTOR = {3470, KX_MODEL_ANY_SUBTYPE, MakeDemodHal<Kxa3470Hal>,
                                      SUPPORTED_STATISTICS, DEFAULT_STATISTICS};

Kxa3470Hal::Kxa3470Hal(long long serial, KxDeviceInt& device)
    : DemodHal(serial, device, DESCRIPTOR), m_pTuner(new (std::nothrow) Max2121B),
      m_pStatistics(new (std::nothrow) Kxa3470Statistics)
{
    const unsigned int now = XpUtil::GetTickCount();
    m_CheckTime = now - 125;
    m_CcmDeadline = now - CCM_PROBE_MS;
    m_SymbolRateHoldDeadline = now;
    m_Pars[0] = KxDemodPars::DvbS2Automatic(POWER_ON_SYMBOL_RATE_BD);
    m_Pars[1] = KxDemodPars(KX_MOD_IQ);
}

Kxa3470Hal::~Kxa3470Hal()
{
    m_pDetector.reset();
    if (m_pStatistics)
        m_pStatistics->Close();
    m_pStatistics.reset();
    m_pTuner.reset();
    CleanupAfFunctions();
}

template <class P>
KXAPI_RESULT Kxa3470Hal::OpenFunction(Function& function, KxAfType type, const char* role, P*& proxy)
{
    KxProxyCORE* core = m_Device.Core();
    if (core == nullptr)
        return KXAPI_E_NOT_SUPPORTED; // not a block-driver card
    KXAPI_RESULT result = role != nullptr ? function.m_Af.Init(type, role, core, 0) : function.m_Af.Init(type, core, 0);
    if (KxapiFailed(result))
        return result;
    result = function.m_Af.ExclAccess(KX_EXCL_ACQUIRE);
    if (KxapiFailed(result))
        return result;
    function.m_Held = true;
    return function.m_Af.GetProxy(proxy);
}

void Kxa3470Hal::CleanupAfFunctions()
{
    for (Function* function : {&m_DemodFn, &m_GrabFn, &m_LnbFn, &m_FirFn, &m_PowerFn, &m_TunerI2cFn, &m_ClockI2cFn,
                               &m_LnbI2cFn, &m_AdcSpiFn, &m_AdcFn, &m_SrcFn, &m_DacFn, &m_StatsFn}) {
        if (function->m_Held && m_Device.IsAttached())
            function->m_Af.ExclAccess(KX_EXCL_RELEASE);
        function->m_Held = false;
    }
}

KXAPI_RESULT Kxa3470Hal::Init()
{
    if (!m_Device.IsAttached())
        return KXAPI_E_NOT_ATTACHED;
    CritSecAutoLockSvc lock(m_pHalLock);
    if (m_Initialised)
        return KXAPI_E_IN_USE;
    if (!m_pTuner || !m_pStatistics)
        return KXAPI_E_OUT_OF_MEM;

    KXAPI_RESULT result = OpenFunction(m_DemodFn, AF_AFS2CRDEMOD, nullptr, m_pDemod);
    if (KxapiSucceeded(result))
        result = OpenFunction(m_GrabFn, AF_IQCGRAB, nullptr, m_pGrab);
    if (KxapiSucceeded(result))
        result = OpenFunction(m_LnbFn, AF_LNBH25, nullptr, m_pLnb);
    if (KxapiSucceeded(result))
        result = OpenFunction(m_FirFn, AF_IQFIR, nullptr, m_pFir);
    if (KxapiSucceeded(result))
        result = OpenFunction(m_PowerFn, AF_IQPWR, nullptr, m_pPower);
    if (KxapiSucceeded(result))
        result = OpenFunction(m_TunerI2cFn, AF_I2CM, "MAX2121B", m_pTunerI2c);
    if (KxapiSucceeded(result))
        result = OpenFunction(m_ClockI2cFn, AF_I2CM, "CDCM6208", m_pClockI2c);
    if (KxapiSucceeded(result))
        result = OpenFunction(m_LnbI2cFn, AF_I2CM, "LNBH25", m_pLnbI2c);
    if (KxapiSucceeded(result))
        result = OpenFunction(m_AdcSpiFn, AF_SPIM, "ADS4246", m_pAdcSpi);
    if (KxapiSucceeded(result))
        result = OpenFunction(m_AdcFn, AF_ADS4246, nullptr, m_pAdc);
    if (KxapiSucceeded(result))
        result = OpenFunction(m_SrcFn, AF_IQSRC3470, nullptr, m_pSrc);
    if (KxapiSucceeded(result))
        result = OpenFunction(m_DacFn, AF_AD5320, nullptr, m_pDac);
    if (KxapiSucceeded(result))
        result = OpenFunction(m_StatsFn, AF_S2STATS, nullptr, m_pStats);
    if (KxapiSucceeded(result))
        result = m_pTuner->Init(m_pTunerI2c, TUNER_I2C_ADDRESS);
    if (KxapiSucceeded(result))
        result = ProgramClockGenerator();
    if (KxapiSucceeded(result))
        result = InitLnbController();
    if (KxapiSucceeded(result))
        result = m_pDac->SetGainCtrlPars(GAIN_CTRL_PARS[0], GAIN_CTRL_PARS[1], GAIN_CTRL_PARS[2], GAIN_CTRL_PARS[3],
                                         GAIN_CTRL_PARS[4]);
    if (KxapiSucceeded(result))
        result = m_pPower->SetEstWindow(POWER_ESTIMATOR_WINDOW);
    if (KxapiSucceeded(result) &&
        !m_pStatistics->Init(m_pDemod, m_pStats, m_pDac, m_pPower, m_Device.Core()))
        result = KXAPI_E_INTERNAL;
    if (KxapiFailed(result))
        return result;
    // The port's whole channel, never held: probing it tells whether another process holds any
    // of its blocks, that is, has attached port 1 exclusively.
    m_ChannelOpen = KxapiSucceeded(m_ChannelFn.m_Af.Init(AF_DEMODCHANNEL, m_Device.Core(), 0));
    m_pDetector.reset(NewKxa3470SymbolRateSearch(m_Device.Core()));
    m_Initialised = true;
    return KXAPI_OK;
}

KXAPI_RESULT Kxa3470Hal::ProgramClockGenerator()
{
    for (const ClockRegister& reg : CLOCK_REGISTERS) {
        const unsigned char bytes[4] = {static_cast<unsigned char>(reg.m_Register >> 8),
                                        static_cast<unsigned char>(reg.m_Register),
                                        static_cast<unsigned char>(reg.m_Value >> 8),
                                        static_cast<unsigned char>(reg.m_Value)};
        KXAPI_RESULT result = m_pClockI2c->Write(CDCM6208_I2C_ADDRESS, 4, bytes);
        if (KxapiFailed(result))
            return result;
    }
    XpUtil::Sleep(CLOCK_REG3_DELAY_MS);
    const unsigned char late[4] = {0, 3, static_cast<unsigned char>(CLOCK_REG3_LATE >> 8),
                                   static_cast<unsigned char>(CLOCK_REG3_LATE)};
    return m_pClockI2c->Write(CDCM6208_I2C_ADDRESS, 4, late);
}

KXAPI_RESULT Kxa3470Hal::WriteLnbRegister(unsigned char reg, unsigned char value)
{
    const unsigned char bytes[2] = {reg, value};
    return m_pLnbI2c->Write(LNBH25_I2C_ADDRESS, 2, bytes);
}

KXAPI_RESULT Kxa3470Hal::InitLnbController()
{
    m_LnbEnabled = false;
    m_ToneOn = false;
    m_LnbVoltageValue = 1;
    KXAPI_RESULT result = WriteLnbRegister(LNBH25_VOLTAGE_REG, 0);
    if (KxapiFailed(result))
        return result;
    return WriteLnbRegister(LNBH25_TONE_REG, 1);
}

KXAPI_RESULT Kxa3470Hal::ReadBoardTemperature(int& degreesC)
{
    return m_Device.PropertyGetInt(BOARD_TEMPERATURE_PROPERTY, -1, degreesC);
}

// ---------------------------------------------------------------------------------------------
// Rules of the board.

KXAPI_RESULT Kxa3470Hal::CheckDemodPars(const KxDemodPars& pars)
{
    if (const KxDemodParsIq* iq = pars.Iq()) {
        if (iq->m_IqDataType != IQ_DATA_TYPE)
            return KXAPI_E_INVALID_ARG;
        if (iq->m_BandwidthHz != -1 &&
            (iq->m_BandwidthHz < MIN_IQ_BANDWIDTH_HZ || iq->m_BandwidthHz > MAX_IQ_BANDWIDTH_HZ))
            return KXAPI_E_INVALID_BANDWIDTH;
        int division = 0;
        return KxapiSucceeded(DivisionOfSampleRate(iq->m_SampleRateHz, division)) ? KXAPI_OK
                                                                                   : KXAPI_E_INVALID_SAMPRATE;
    }
    if (const KxDemodParsDvbS2Adv* s2 = pars.DvbS2()) {
        const bool s2Form = pars.ModType() == KX_MOD_DVBS2 || s2->m_CodeRate == KX_S2_CODE_RATE_AUTO ||
                            s2->m_FecFrame == KX_S2_FEC_FRAME_AUTO || s2->m_Pilots == KX_S2_PILOTS_AUTO;
        if (!s2Form)
            return KXAPI_E_INVALID_PARS;
        if (s2->m_SymRateBd != SYMBOL_RATE_AUTO &&
            (s2->m_SymRateBd < MIN_SYMBOL_RATE_BD || s2->m_SymRateBd > MAX_SYMBOL_RATE_BD))
            return KXAPI_E_INVALID_SYMRATE;
    }
    return pars.CheckValidity();
}

KXAPI_RESULT Kxa3470Hal::SpecInvToHardware(int specInv, int& code)
{
    switch (specInv) {
    case 16:
        code = 1;
        return KXAPI_OK;
    case 48:
        code = 0;
        return KXAPI_OK;
    case 0:
        code = 2;
        return KXAPI_OK;
    default:
        return KXAPI_E_INVALID_ARG;
    }
}

KXAPI_RESULT Kxa3470Hal::SampleRateOfDivision(int division, int& rateMHz)
{
    if (division < 1 || division > 32)
        return KXAPI_E_INTERNAL;
    rateMHz = static_cast<int>(DEMOD_SAMPLE_RATE_HZ / 1000000) / division;
    return KXAPI_OK;
}

KXAPI_RESULT Kxa3470Hal::DivisionOfSampleRate(long long rateHz, int& division)
{
    for (int rateMHz : IQ_SAMPLE_RATES_MHZ) {
        if (rateHz == rateMHz * 1000000LL) {
            division = static_cast<int>(DEMOD_SAMPLE_RATE_HZ / 1000000) / rateMHz;
            return KXAPI_OK;
        }
    }
    return KXAPI_E_INVALID_RATE;
}

std::vector<int> Kxa3470Hal::CalcLpfFirFilterCoeffs(int n, long long cutoffHz, long long sampleRateHz, int coefBits)
{
    std::vector<int> taps;
    if (n < 1 || sampleRateHz <= 0 || coefBits < 2 || coefBits > 31)
        return taps;
    const double x = (static_cast<double>(cutoffHz) / 2.0) / static_cast<double>(sampleRateHz);
    const double scale = std::ldexp(1.0, coefBits - 1) - 1.0;
    taps.reserve(static_cast<size_t>(n));
    for (int k = 0; k < n; k++) {
        const int t = k - (n - 1);
        const double tap = t == 0 ? 2.0 * x : std::sin(2.0 * M_PI * x * t) / (M_PI * t);
        taps.push_back(static_cast<int>(std::lround(tap * scale))); // half away from zero
    }
    return taps;
}

KXAPI_RESULT Kxa3470Hal::NextBlindScanFrequency(long long freqHz, long long offsetHz, long long symbolRateBd,
                                                double rollOff, long long& foundHz, long long& nextHz)
{
    foundHz = freqHz + offsetHz;
    if (std::llabs(offsetHz) > symbolRateBd / 2) {
        nextHz = foundHz;
        return KXAPI_E_INVALID_FREQ;
    }
    const double edge = static_cast<double>(foundHz) + static_cast<double>(symbolRateBd) * (1.0 + rollOff) / 2.0;
    nextHz = static_cast<long long>(edge / 1e6 + 0.5) * 1000000LL;
    return KXAPI_OK;
}

// ---------------------------------------------------------------------------------------------
// Hardware helpers (HAL lock held).

KXAPI_RESULT Kxa3470Hal::SetRfLvlMeasFilter(long long bandwidthHz)
{
    int numTaps = 0, coefBits = 0;
    KXAPI_RESULT result = m_pFir->GetConfig(numTaps, coefBits);
    if (KxapiFailed(result))
        return result;
    const long long cutoffHz = std::max(bandwidthHz, MIN_FILTER_CUTOFF_HZ);
    const std::vector<int> taps = CalcLpfFirFilterCoeffs(numTaps, cutoffHz, DEMOD_SAMPLE_RATE_HZ, coefBits);
    if (taps.empty())
        return KXAPI_E_INTERNAL;
    result = m_pFir->SetCoefficients(taps);
    if (KxapiFailed(result))
        return result;
    std::vector<int> readBack;
    return m_pFir->GetCoefficients(numTaps, readBack);
}

KXAPI_RESULT Kxa3470Hal::DemodSetPlMode(int mode, int pls, bool& changed, bool reset)
{
    changed = false;
    if (mode == m_PlMode && pls == m_Pls)
        return KXAPI_OK;
    KXAPI_RESULT result = m_pDemod->SetPlInformation(mode, static_cast<uint32_t>(pls));
    if (KxapiFailed(result))
        return result;
    if (reset) {
        result = m_pDemod->SoftReset();
        if (KxapiFailed(result))
            return result;
    }
    m_PlMode = mode;
    m_Pls = pls;
    changed = true;
    return KXAPI_OK;
}

KXAPI_RESULT Kxa3470Hal::ReadPlInformation()
{
    int mode = 0;
    uint32_t value = 0;
    KXAPI_RESULT result = m_pDemod->GetPlInformation(mode, value);
    if (KxapiSucceeded(result)) {
        m_PlMode = mode;
        m_Pls = static_cast<int>(value);
    }
    return result;
}

KXAPI_RESULT Kxa3470Hal::SetSpectrumInversion()
{
    const KxDemodParsDvbS2Adv* s2 = m_Pars[0].DvbS2();
    int code = 0;
    KXAPI_RESULT result = SpecInvToHardware(s2 != nullptr ? s2->m_SpecInv : KX_S2_SPEC_INV_NONE, code);
    if (KxapiFailed(result))
        return result;
    return m_pDemod->SetSpectrumInversion(code);
}

KXAPI_RESULT Kxa3470Hal::SetDemodSymbolRate(long long symbolRateBd)
{
    return m_pDemod->SetSymbolRate(DEMOD_SAMPLE_RATE_HZ, symbolRateBd);
}

KXAPI_RESULT Kxa3470Hal::GetSampleRate(int& rateMHz)
{
    int division = 0;
    KXAPI_RESULT result = m_pSrc->GetDivisionFactor(division);
    if (KxapiFailed(result))
        return result;
    return SampleRateOfDivision(division, rateMHz);
}

KXAPI_RESULT Kxa3470Hal::SetSampleRate(long long rateHz)
{
    int division = 0;
    KXAPI_RESULT result = DivisionOfSampleRate(rateHz, division);
    if (KxapiFailed(result))
        return result;
    return m_pSrc->SetDivisionFactor(division);
}

// Tuner low-pass to half the bandwidth; the tuner reports back what it runs on.
KXAPI_RESULT Kxa3470Hal::SetBandwidth(long long bandwidthHz)
{
    KXAPI_RESULT result = m_pTuner->SetLpfBandWidth(static_cast<int>(bandwidthHz / 2));
    if (KxapiFailed(result))
        return result;
    return m_pTuner->GetLpfBandWidth(m_TunerLpfHz);
}

KXAPI_RESULT Kxa3470Hal::TuneTuner(long long freqHz)
{
    KXAPI_RESULT result = m_pTuner->SetFrequency(freqHz);
    if (KxapiFailed(result))
        return result;
    return m_pTuner->GetFrequency(m_TunerFreqHz);
}

KXAPI_RESULT Kxa3470Hal::ReadDemodPlHeaderLock(bool& locked)
{
    bool carrier = false, stream = false;
    uint32_t word3 = 0;
    return m_pDemod->GetStatus(carrier, locked, stream, word3);
}

KXAPI_RESULT Kxa3470Hal::MeasureAverageSymbolRate(long long& symbolRateBd)
{
    long long sum = 0;
    for (int i = 0; i < SYMBOL_RATE_READINGS; i++) {
        if (i > 0)
            XpUtil::Sleep(SYMBOL_RATE_READING_MS);
        int64_t rate = 0;
        KXAPI_RESULT result = m_pDemod->GetSymbolRate(DEMOD_SAMPLE_RATE_HZ, rate);
        if (KxapiFailed(result))
            return result;
        sum += rate;
    }
    symbolRateBd = sum / SYMBOL_RATE_READINGS;
    return KXAPI_OK;
}

int Kxa3470Hal::SymbolRate() const
{
    const KxDemodParsDvbS2Adv* s2 = m_Pars[0].DvbS2();
    return s2 != nullptr ? s2->m_SymRateBd : SYMBOL_RATE_AUTO;
}

bool Kxa3470Hal::HoldsDvbS2() const
{
    return m_Pars[0].IsDvbS2();
}

// ---------------------------------------------------------------------------------------------
// Ports.

KXAPI_RESULT Kxa3470Hal::InitPort(int port)
{
    KXAPI_RESULT result = CheckDevicePort(port);
    if (KxapiFailed(result))
        return result;
    CritSecAutoLockSvc lock(m_pHalLock);
    if (!m_Initialised)
        return KXAPI_E_NOT_INITIALIZED;
    if (port == PORT_IQ) {
        int rateMHz = 0;
        result = m_pTuner->GetLpfBandWidth(m_TunerLpfHz);
        if (KxapiSucceeded(result))
            result = GetSampleRate(rateMHz);
        if (KxapiFailed(result))
            return result;
        KxDemodPars pars(KX_MOD_IQ);
        KxDemodParsIq* iq = pars.Iq();
        iq->m_IqDataType = IQ_DATA_TYPE;
        iq->m_BandwidthHz = 2 * m_TunerLpfHz;
        iq->m_SampleRateHz = rateMHz * 1000000;
        m_Pars[1] = pars;
        return KXAPI_OK;
    }

    result = m_pTuner->SetBBGain(BASEBAND_GAIN);
    if (KxapiSucceeded(result))
        result = TuneTuner(POWER_ON_FREQ_HZ);
    if (KxapiSucceeded(result))
        result = m_pTuner->SetLpfBandWidth(POWER_ON_LPF_HZ);
    if (KxapiSucceeded(result))
        result = m_pTuner->GetLpfBandWidth(m_TunerLpfHz);
    if (KxapiFailed(result))
        return result;
    m_TunedFreqHz = POWER_ON_FREQ_HZ;
    m_Pars[0] = KxDemodPars::DvbS2Automatic(POWER_ON_SYMBOL_RATE_BD);
    bool changed = false;
    result = SetRfLvlMeasFilter(static_cast<long long>(POWER_ON_SYMBOL_RATE_BD * (1.0 + m_RollOff)));
    if (KxapiSucceeded(result))
        result = SetDemodSymbolRate(POWER_ON_SYMBOL_RATE_BD);
    if (KxapiSucceeded(result))
        result = SetSpectrumInversion();
    if (KxapiSucceeded(result))
        result = ReadPlInformation();
    if (KxapiSucceeded(result))
        result = DemodSetPlMode(0, DEFAULT_CCM_PLS, changed, false);
    // The demodulator runs from here on; the periodic steps reset and re-program it.
    if (KxapiSucceeded(result))
        result = m_pDemod->SetOperationalMode(2);
    if (KxapiSucceeded(result))
        result = m_pDemod->SoftReset();
    if (KxapiFailed(result))
        return result;
    if (!m_Device.IsAttached())
        return KXAPI_E_NOT_ATTACHED;
    KxRfCalV1 tableCal;
    GetRfLevelTables(PORT_S2, &tableCal); // a card without tables gets no correction
    m_pStatistics->SetTableCalibration(tableCal);
    m_pStatistics->ClearStoredCalibration();
    return KXAPI_OK;
}

KXAPI_RESULT Kxa3470Hal::OnFirstUsage(int port)
{
    KXAPI_RESULT result = CheckPort(port);
    if (KxapiFailed(result) || port != PORT_S2)
        return result;
    CritSecAutoLockSvc lock(m_pHalLock);
    if (!m_Initialised)
        return KXAPI_E_NOT_INITIALIZED;
    m_pStatistics->ClearBuffers();
    m_pStatistics->EnableBuffering(true);
    KxRfCalV1 stored;
    if (KxapiSucceeded(stored.ReadFromVpd(m_Device, PORT_S2)))
        m_pStatistics->SetStoredCalibration(stored);
    else
        m_pStatistics->ClearStoredCalibration();
    return KXAPI_OK;
}

KXAPI_RESULT Kxa3470Hal::OnLastUsageEnds(int port)
{
    KXAPI_RESULT result = CheckPort(port);
    if (KxapiFailed(result) || port != PORT_S2)
        return result;
    CritSecAutoLockSvc lock(m_pHalLock);
    if (!m_Initialised)
        return KXAPI_E_NOT_INITIALIZED;
    m_pStatistics->EnableBuffering(false);
    m_pStatistics->ClearBuffers();
    return KXAPI_OK;
}

KXAPI_RESULT Kxa3470Hal::GetAttribute(int port, int attribute, int& value, bool)
{
    KXAPI_RESULT result = CheckPort(port);
    if (KxapiFailed(result))
        return result;
    switch (attribute) {
    case DEMOD_ATTR_MOD_FREQ_ABSMAX:
    case DEMOD_ATTR_MOD_FREQ_MAX:
        value = static_cast<int>(MAX_FREQ_HZ / 1000000);
        return KXAPI_OK;
    case DEMOD_ATTR_MOD_FREQ_ABSMIN:
    case DEMOD_ATTR_MOD_FREQ_MIN:
        value = static_cast<int>(MIN_FREQ_HZ / 1000000);
        return KXAPI_OK;
    default:
        return KXAPI_E_NOT_SUPPORTED;
    }
}

KXAPI_RESULT Kxa3470Hal::Tune(int port, long long freqHz, KxDemodPars& pars, bool execute)
{
    KXAPI_RESULT result = CheckDevicePort(port);
    if (KxapiFailed(result))
        return result;
    CritSecAutoLockSvc lock(m_pHalLock);
    if (freqHz < MIN_FREQ_HZ || freqHz > MAX_FREQ_HZ)
        return KXAPI_E_INVALID_FREQ;
    result = CheckDemodPars(pars);
    if (KxapiFailed(result))
        return result;
    if (port == PORT_IQ) {
        if (!pars.IsIq())
            return KXAPI_E_INVALID_MODTYPE;
        // The I/Q port acts in the validation pass, so that its client learns at once whether
        // the tuner could be taken; the queued execution has nothing left to do.
        if (execute)
            return KXAPI_OK;
        return TuneIqPort(freqHz, pars);
    }

    if (!pars.IsDvbS2())
        return KXAPI_E_INVALID_MODTYPE;
    const int symbolRate = pars.DvbS2()->m_SymRateBd;
    if (symbolRate != SYMBOL_RATE_AUTO && (symbolRate < MIN_PORT_SYMBOL_RATE_BD || symbolRate > MAX_SYMBOL_RATE_BD))
        return KXAPI_E_INVALID_SYMRATE;
    if (!execute)
        return KXAPI_OK;
    // The hardware is programmed by the next periodic step.
    m_TunerChanged = false;
    m_DemodControlChanged = false;
    m_Pars[0] = pars;
    m_TunedFreqHz = freqHz;
    m_OptimisePending = false;
    m_CheckTime = XpUtil::GetTickCount() - CHECK_PERIOD_MS;
    m_CheckCountdown = 0;
    m_CcmProbeActive = false;
    m_CcmProbeFailed = false;
    m_NewTune = true;
    m_IqMode = false;
    m_AutoSymbolRate = symbolRate == SYMBOL_RATE_AUTO;
    m_MeasuredSymbolRateInUse = false;
    return KXAPI_OK;
}

KXAPI_RESULT Kxa3470Hal::TuneIqPort(long long freqHz, const KxDemodPars& pars)
{
    if (!m_Initialised)
        return KXAPI_E_NOT_INITIALIZED;
    const bool tunerChanged = m_TunerChanged;
    const bool demodControlChanged = m_DemodControlChanged;
    m_TunerChanged = false;
    m_DemodControlChanged = false;
    const KxDemodParsIq& iq = *pars.Iq();

    // Port 1 held exclusively by another process: only the sample rate may change.
    const bool port1Held = m_ChannelOpen && m_ChannelFn.m_Af.ExclAccess(KX_EXCL_PROBE) == KXAPI_E_IN_USE;
    if (port1Held && !(demodControlChanged && !tunerChanged && iq.m_BandwidthHz == -1))
        return KXAPI_E_IN_USE;

    KXAPI_RESULT result = SetSampleRate(iq.m_SampleRateHz);
    if (KxapiFailed(result))
        return result;
    KxDemodParsIq& stored = *m_Pars[1].Iq();
    stored.m_SampleRateHz = iq.m_SampleRateHz;
    stored.m_IqDataType = iq.m_IqDataType;
    if (port1Held) {
        result = m_pTuner->GetLpfBandWidth(m_TunerLpfHz);
        if (KxapiSucceeded(result))
            stored.m_BandwidthHz = 2 * m_TunerLpfHz;
        return result;
    }

    // The tuner is the I/Q port's until port 1 is tuned again.
    m_IqMode = true;
    const long long bandwidthHz = iq.m_BandwidthHz == -1 ? 2LL * m_TunerLpfHz : iq.m_BandwidthHz;
    result = SetBandwidth(bandwidthHz);
    if (KxapiSucceeded(result))
        result = SetRfLvlMeasFilter(bandwidthHz);
    if (KxapiFailed(result))
        return result;
    stored.m_BandwidthHz = static_cast<int32_t>(bandwidthHz);
    result = TuneTuner(freqHz);
    if (KxapiSucceeded(result))
        m_TunedFreqHz = freqHz;
    return result;
}

KXAPI_RESULT Kxa3470Hal::SetDemodControl(int port, KxDemodPars& pars, bool execute)
{
    KXAPI_RESULT result = CheckDevicePort(port);
    if (KxapiFailed(result))
        return result;
    long long freqHz;
    {
        CritSecAutoLockSvc lock(m_pHalLock);
        m_DemodControlChanged = true;
        freqHz = m_TunedFreqHz;
    }
    return Tune(port, freqHz, pars, execute);
}

KXAPI_RESULT Kxa3470Hal::SetTunerFrequency(int port, long long freqHz, int tunerId, bool execute)
{
    KXAPI_RESULT result = CheckDevicePort(port);
    if (KxapiFailed(result))
        return result;
    if (tunerId != -1)
        return KXAPI_E_INVALID_ARG;
    KxDemodPars pars;
    {
        CritSecAutoLockSvc lock(m_pHalLock);
        m_TunerChanged = true;
        pars = m_Pars[port - 1];
    }
    return Tune(port, freqHz, pars, execute);
}

KXAPI_RESULT Kxa3470Hal::GetTunerFrequency(int port, long long& freqHz, int tunerId)
{
    KXAPI_RESULT result = CheckPort(port);
    if (KxapiFailed(result))
        return result;
    if (tunerId != -1)
        return KXAPI_E_INVALID_ARG;
    CritSecAutoLockSvc lock(m_pHalLock);
    freqHz = m_TunerFreqHz;
    return KXAPI_OK;
}

// ---------------------------------------------------------------------------------------------
// Periodic steps.

KXAPI_RESULT Kxa3470Hal::Tune(int port, bool blindScan)
{
    KXAPI_RESULT result = CheckDevicePort(port);
    if (KxapiFailed(result) || port != PORT_S2)
        return result;
    CritSecAutoLockSvc lock(m_pHalLock);
    if (!m_Initialised)
        return KXAPI_E_NOT_INITIALIZED;
    if (m_IqMode || !HoldsDvbS2())
        return KXAPI_OK;
    const bool newTune = m_NewTune;
    m_NewTune = false;
    m_BlindScanMode = blindScan;

    const unsigned int now = XpUtil::GetTickCount();
    bool automatic = false, relockCheck = false;
    if (now - m_CheckTime >= CHECK_PERIOD_MS || newTune) {
        m_CheckTime = now;
        automatic = SymbolRate() == SYMBOL_RATE_AUTO;
        if (--m_CheckCountdown < 0) {
            m_CheckCountdown = RELOCK_COUNTDOWN;
            relockCheck = true;
        }
    }

    if (newTune) {
        m_pStatistics->EnableBuffering(false);
        m_pStatistics->ClearBuffers();
        result = m_pDemod->DemodReset();
        if (KxapiFailed(result))
            return result;
        if (m_pDetector)
            m_pDetector->Reset(DETECTOR_FFT_SIZE, true);
    }

    if (automatic) {
        if (blindScan) {
            m_pStatistics->EnableBuffering(true);
            result = TuneTuner(m_TunedFreqHz);
            if (KxapiSucceeded(result))
                result = SetSpectrumInversion();
            if (KxapiFailed(result))
                return result;
            return BlindScanAutoSymbolRateTune();
        }
        if (newTune) {
            result = TuneTuner(m_TunedFreqHz);
            if (KxapiSucceeded(result))
                result = SetSpectrumInversion();
            if (KxapiFailed(result))
                return result;
        }
        bool plLocked = false;
        result = ReadDemodPlHeaderLock(plLocked);
        if (KxapiFailed(result))
            return result;
        if (!plLocked) {
            m_pStatistics->EnableBuffering(false);
            result = AutoSymbolRateTune(0);
            if (KxapiFailed(result) && result != KXAPI_E_INVALID_SYMRATE)
                return result;
            m_CheckTime = now;
            return KXAPI_OK;
        }
        if (m_pDetector)
            m_pDetector->Reset(DETECTOR_FFT_SIZE, true);
        long long measured = 0;
        result = MeasureAverageSymbolRate(measured);
        if (KxapiFailed(result))
            return result;
        m_Pars[0].DvbS2()->m_SymRateBd = static_cast<int32_t>(measured);
        m_MeasuredSymbolRateInUse = true;
        m_SymbolRateHoldDeadline = XpUtil::GetTickCount() + SYMBOL_RATE_HOLD_MS;
    }

    if (automatic || relockCheck) {
        m_pStatistics->EnableBuffering(true);
        if (!m_pStatistics->GetPlHeaderLock() || automatic) {
            const long long symbolRate = SymbolRate();
            const long long bandwidthHz = static_cast<long long>(static_cast<double>(symbolRate) * 1.35);
            m_RollOff = DEFAULT_ROLL_OFF;
            result = TuneTuner(m_TunedFreqHz);
            if (KxapiSucceeded(result))
                result = SetBandwidth(bandwidthHz);
            if (KxapiSucceeded(result))
                result = SetRfLvlMeasFilter(bandwidthHz);
            if (KxapiSucceeded(result))
                result = SetDemodSymbolRate(symbolRate);
            if (KxapiSucceeded(result))
                result = SetSpectrumInversion();
            if (KxapiSucceeded(result))
                result = m_pDemod->SoftReset();
            if (KxapiFailed(result))
                return result;
            m_OptimisePending = true;
        }
    }
    return KXAPI_OK;
}

KXAPI_RESULT Kxa3470Hal::AutoSymbolRateTune(int divisor)
{
    if (!m_pDetector)
        return KXAPI_E_INVALID_SYMRATE; // no detector in this build: nothing is found
    const bool firstStep = m_pDetector->NeedsNewSpectrum();
    KXAPI_RESULT result = KXAPI_OK;
    if (firstStep) {
        result = m_pDemod->DemodReset();
        if (KxapiSucceeded(result))
            result = SetBandwidth(2LL * SEARCH_LPF_HZ);
        if (KxapiSucceeded(result))
            result = SetRfLvlMeasFilter(SEARCH_FILTER_HZ);
        if (KxapiFailed(result))
            return result;
    }
    m_pDetector->SetOffsetLimitDivisor(divisor);
    result = m_pDetector->Update();
    if (KxapiFailed(result))
        return result;
    long long candidate = m_pDetector->CandidateSymbolRate();
    if (firstStep) {
        int fftSize = 16384;
        bool smoothing = true;
        if (candidate < 200000) {
            fftSize = 131072;
            smoothing = false;
        } else if (candidate < 1000000) {
            fftSize = 65536;
            smoothing = false;
        } else if (candidate < 2000000) {
            fftSize = 32768;
            smoothing = false;
        }
        if (fftSize != m_pDetector->FftSize()) {
            result = m_pDetector->SetFftSize(fftSize, smoothing);
            if (KxapiFailed(result))
                return result;
            m_pDetector->SetOffsetLimitDivisor(0);
            m_pDetector->RequestNewSpectrum();
            result = m_pDetector->Update();
            if (KxapiFailed(result))
                return result;
            candidate = m_pDetector->CandidateSymbolRate();
        }
        const double rollOff = m_pDetector->RollOffPercent() / 100.0;
        const long long bandwidthHz = static_cast<long long>(static_cast<double>(candidate) * (1.0 + rollOff));
        result = SetBandwidth(bandwidthHz);
        if (KxapiSucceeded(result))
            result = SetRfLvlMeasFilter(bandwidthHz);
        if (KxapiFailed(result))
            return result;
    }
    result = SetDemodSymbolRate(candidate);
    if (KxapiFailed(result))
        return result;
    return m_pDemod->SoftReset();
}

KXAPI_RESULT Kxa3470Hal::BlindScanAutoSymbolRateTune()
{
    m_BlindScanCancel = false;
    bool locked = false;
    long long symbolRate = 0;
    KXAPI_RESULT result;
    while ((result = AutoSymbolRateTune(BLIND_SCAN_OFFSET_DIVISOR)) != KXAPI_E_INVALID_SYMRATE) {
        if (KxapiFailed(result))
            return result;
        for (unsigned int waited = 0; waited < BLIND_SCAN_WAIT_MS && !m_BlindScanCancel; waited += 100)
            XpUtil::Sleep(100);
        if (m_BlindScanCancel)
            return KXAPI_OK;
        result = ReadDemodPlHeaderLock(locked);
        if (KxapiFailed(result))
            return result;
        if (locked) {
            result = MeasureAverageSymbolRate(symbolRate);
            if (KxapiFailed(result))
                return result;
            break;
        }
        if (!m_pDetector->NeedsNewSpectrum() && m_pDetector->StepIndex() == 0)
            break;
    }
    if (!locked)
        return KXAPI_E_NOT_LOCKED;
    result = TuneTuner(m_TunerFreqHz + m_pDetector->CarrierOffsetHz());
    if (KxapiSucceeded(result))
        result = SetDemodSymbolRate(symbolRate);
    if (KxapiSucceeded(result))
        result = m_pDemod->SoftReset();
    if (KxapiFailed(result))
        return result;
    // The rate goes to the demodulator only: the port's parameters keep the open rate, so the
    // scan's next step searches again (the scan reads the found rate from the demodulator).
    for (int i = 0; i < STREAM_LOCK_POLLS && !m_pStatistics->StreamLockFound(); i++)
        XpUtil::Sleep(100);
    return KXAPI_OK;
}

KXAPI_RESULT Kxa3470Hal::Update(int port, bool locked)
{
    KXAPI_RESULT result = CheckDevicePort(port);
    if (KxapiFailed(result) || port != PORT_S2)
        return result;
    CritSecAutoLockSvc lock(m_pHalLock);
    if (!m_Initialised || m_IqMode || !HoldsDvbS2() || m_BlindScanMode)
        return KXAPI_OK;
    const unsigned int now = XpUtil::GetTickCount();
    if (m_AutoSymbolRate && m_MeasuredSymbolRateInUse) {
        // A measured rate is kept for a while, then measured again.
        if (TimeReached(now, m_SymbolRateHoldDeadline)) {
            m_Pars[0].DvbS2()->m_SymRateBd = SYMBOL_RATE_AUTO;
            m_MeasuredSymbolRateInUse = false;
        }
        return KXAPI_OK;
    }
    const bool plLocked = m_pStatistics->GetPlHeaderLock();

    // Constant coding and modulation: tell the demodulator the stream's PLS, and fall back to
    // the default when it does not lock with it within the probe time.
    bool changed = false;
    if (!m_CcmProbeActive && !m_CcmProbeFailed) {
        int mode = 0, pls = DEFAULT_CCM_PLS;
        bool ccm = false;
        if (locked && KxapiSucceeded(m_pStatistics->GetBBHeadCoding(ccm)) && ccm) {
            int ccmPls = 0;
            if (KxapiSucceeded(m_pStatistics->GetCcmPlsValue(ccmPls))) {
                mode = 1;
                pls = ccmPls;
            }
        }
        result = DemodSetPlMode(mode, pls, changed, true);
        if (KxapiFailed(result))
            return result;
        if (changed && mode == 1) {
            m_CcmProbeActive = true;
            m_CcmDeadline = now + CCM_PROBE_MS;
        }
    } else if (m_CcmProbeActive && TimeReached(now, m_CcmDeadline)) {
        m_CcmProbeActive = false;
        if (!plLocked) {
            m_CcmProbeFailed = true;
            result = DemodSetPlMode(0, DEFAULT_CCM_PLS, changed, true);
            if (KxapiFailed(result))
                return result;
        }
    }

    const long long symbolRate = SymbolRate();
    if (!plLocked || symbolRate == SYMBOL_RATE_AUTO)
        return KXAPI_OK;

    double rollOff = 0.0;
    if (KxapiSucceeded(m_pStatistics->GetRollOff(rollOff)) && rollOff != 0.0 && rollOff != m_RollOff) {
        const long long bandwidthHz = static_cast<long long>(static_cast<double>(symbolRate) * (1.0 + rollOff));
        result = SetBandwidth(bandwidthHz);
        if (KxapiSucceeded(result))
            result = SetRfLvlMeasFilter(bandwidthHz);
        if (KxapiFailed(result))
            return result;
        m_RollOff = rollOff;
    }

    if (m_OptimisePending) {
        int64_t offsetHz = 0;
        result = m_pDemod->GetFreqOffset(DEMOD_SAMPLE_RATE_HZ, offsetHz);
        if (KxapiSucceeded(result))
            result = TuneTuner(m_TunerFreqHz + offsetHz);
        if (KxapiSucceeded(result))
            m_OptimisePending = false;
    }
    return result;
}

// ---------------------------------------------------------------------------------------------
// Parameters and scans.

KXAPI_RESULT Kxa3470Hal::GetDemodControl(int port, KxDemodPars& pars)
{
    KXAPI_RESULT result = CheckPort(port);
    if (KxapiFailed(result))
        return result;
    CritSecAutoLockSvc lock(m_pHalLock);
    if (port == PORT_IQ) {
        if (!m_Initialised || !m_Device.IsAttached()) {
            pars = m_Pars[1];
            return KXAPI_OK;
        }
        int rateMHz = 0;
        result = GetSampleRate(rateMHz);
        if (KxapiFailed(result))
            return result;
        pars = m_Pars[1];
        pars.Iq()->m_BandwidthHz = 2 * m_TunerLpfHz;
        pars.Iq()->m_SampleRateHz = rateMHz * 1000000;
        return KXAPI_OK;
    }
    if (!m_Initialised || !m_pStatistics->StreamLockFound())
        return KXAPI_E_NOT_LOCKED;
    KxDemodPars current = KxDemodPars::DvbS2Automatic(SYMBOL_RATE_AUTO);
    std::vector<int> isis;
    bool fromStream = false;
    if (KxapiSucceeded(m_pStatistics->GetIsiIds(isis)) && isis.size() == 1) {
        KxDemodPars streamPars;
        if (KxapiSucceeded(m_pStatistics->GetDemodPars(isis[0], streamPars)) && streamPars.IsDvbS2()) {
            current = streamPars;
            // The frames tell modulation and coding, not the symbol rate: that is measured.
            fromStream = current.DvbS2()->m_SymRateBd > 0;
        }
    }
    if (!fromStream) {
        int64_t rate = 0;
        result = m_pDemod->GetSymbolRate(DEMOD_SAMPLE_RATE_HZ, rate);
        if (KxapiFailed(result))
            return result;
        current.DvbS2()->m_SymRateBd = static_cast<int32_t>(rate);
    }
    pars = current;
    return KXAPI_OK;
}

KXAPI_RESULT Kxa3470Hal::GetAutoBlindScanPars(int port, KxDemodPars& pars)
{
    KXAPI_RESULT result = CheckPort(port);
    if (KxapiFailed(result))
        return result;
    KxDemodPars s2 = KxDemodPars::DvbS2Automatic(SYMBOL_RATE_AUTO);
    if (!s2.IsDvbS2())
        return KXAPI_E_INTERNAL;
    pars = s2;
    return KXAPI_OK;
}

KXAPI_RESULT Kxa3470Hal::GetBlindScanFrequencies(int port, long long freqHz, long long& foundHz, KxDemodPars& pars,
                                                 long long& nextHz)
{
    KXAPI_RESULT result = CheckDevicePort(port);
    if (KxapiFailed(result))
        return result;
    CritSecAutoLockSvc lock(m_pHalLock);
    if (port != PORT_S2 || !HoldsDvbS2())
        return KXAPI_E_NOT_SUPPORTED;
    if (!m_Initialised)
        return KXAPI_E_NOT_INITIALIZED;
    int64_t offsetHz = 0, symbolRate = 0;
    result = m_pDemod->GetFreqOffset(DEMOD_SAMPLE_RATE_HZ, offsetHz);
    if (KxapiSucceeded(result))
        result = m_pDemod->GetSymbolRate(DEMOD_SAMPLE_RATE_HZ, symbolRate);
    if (KxapiFailed(result))
        return result;
    pars = m_Pars[0];
    pars.DvbS2()->m_SymRateBd = static_cast<int32_t>(symbolRate);
    return NextBlindScanFrequency(freqHz, offsetHz, symbolRate, m_RollOff, foundHz, nextHz);
}

KXAPI_RESULT Kxa3470Hal::CancelBlindScan(int port)
{
    KXAPI_RESULT result = CheckPort(port);
    if (KxapiFailed(result))
        return result;
    m_BlindScanCancel = true; // without the lock: the scan step holds it
    return KXAPI_OK;
}

KXAPI_RESULT Kxa3470Hal::GetPlpList(int port, std::vector<int>& plpIds)
{
    KXAPI_RESULT result = CheckPort(port);
    if (KxapiFailed(result))
        return result;
    CritSecAutoLockSvc lock(m_pHalLock);
    plpIds.assign(1, -1);
    KxStatistic isis(KX_STAT_DVBS2_ISI);
    if (m_Initialised && KxapiSucceeded(m_pStatistics->GetWindowStatistic(ALL_STREAMS, 2, isis))) {
        KxDvbS2IsiList list;
        if (KxapiSucceeded(isis.GetValue(list)))
            for (const KxS2IsiId& isi : list.m_Isis)
                plpIds.push_back(isi.m_Isi);
    }
    return KXAPI_OK;
}

// ---------------------------------------------------------------------------------------------
// Constellation.

KXAPI_RESULT Kxa3470Hal::GetPointsOfStream(int grabIndex, int count, KxConstelPoint* points)
{
    int done = 0;
    while (done < count) {
        const int n = std::min(count - done, KxProxyIQCGRAB_3470::MAX_POINTS);
        std::vector<KxIqPoint> grabbed;
        KXAPI_RESULT result = m_pGrab->GetIqConstPoints(grabIndex, n, grabbed);
        if (KxapiFailed(result))
            return result;
        if (grabbed.size() != static_cast<size_t>(n))
            return KXAPI_E_INTERNAL;
        for (const KxIqPoint& point : grabbed) {
            points[done].m_X = point.m_I;
            points[done].m_Y = point.m_Q;
            done++;
        }
    }
    return KXAPI_OK;
}

KXAPI_RESULT Kxa3470Hal::GetConstellationPoints(int port, int count, KxConstelPoint* points, int streamId,
                                                bool execute)
{
    KXAPI_RESULT result = CheckDevicePort(port);
    if (KxapiFailed(result))
        return result;
    if (port != PORT_S2)
        return KXAPI_E_NOT_SUPPORTED;
    if (count <= 0 || points == nullptr)
        return KXAPI_E_INVALID_ARG;
    if (!execute)
        return KXAPI_OK;
    CritSecAutoLockSvc lock(m_pHalLock);
    if (!m_Initialised)
        return KXAPI_E_NOT_INITIALIZED;
    if (streamId != -1) {
        int grabIndex = 0;
        if (!m_pStatistics->GetLock(streamId, grabIndex))
            return KXAPI_E_NOT_LOCKED;
        return GetPointsOfStream(grabIndex, count, points);
    }
    // Every stream: the points shared out, the first streams taking one more of the remainder.
    std::vector<int> isis;
    if (KxapiFailed(m_pStatistics->GetIsiIds(isis)) || isis.empty())
        return KXAPI_E_NOT_LOCKED;
    const int k = static_cast<int>(isis.size());
    std::vector<int> grabIndexes(isis.size());
    for (int i = 0; i < k; i++) {
        if (!m_pStatistics->GetLock(isis[i], grabIndexes[i]))
            return KXAPI_E_NOT_LOCKED;
    }
    int offset = 0;
    for (int i = 0; i < k; i++) {
        const int share = count / k + (i < count % k ? 1 : 0);
        if (share == 0)
            continue;
        result = GetPointsOfStream(grabIndexes[i], share, points + offset);
        if (KxapiFailed(result))
            return result;
        offset += share;
    }
    return KXAPI_OK;
}

// ---------------------------------------------------------------------------------------------
// Statistics.

KXAPI_RESULT Kxa3470Hal::GetSupportedStatistics(int port, int& count, SupportedStatisticsType* list)
{
    KXAPI_RESULT result = CheckPort(port);
    if (KxapiFailed(result))
        return result;
    if (port == PORT_IQ) {
        if (count < 0)
            return KXAPI_E_BUF_TOO_SMALL;
        count = 0;
        return KXAPI_OK;
    }
    return DemodHal::GetSupportedStatistics(port, count, list);
}

// A statistic's stream is its first extra id (-1: none), its time window the second (0 short,
// 1 medium, 2 long; -1 or 3 and above: instantaneous).
KXAPI_RESULT Kxa3470Hal::GetStatistics(int port, int count, KxStatistic* stats)
{
    KXAPI_RESULT result = CheckDevicePort(port);
    if (KxapiFailed(result))
        return result;
    if (count > 0 && stats == nullptr)
        return KXAPI_E_INVALID_ARG;
    CritSecAutoLockSvc lock(m_pHalLock);
    // The lock indications cannot fail; a demodulator that does not answer fails every item.
    KXAPI_RESULT reachable = KXAPI_OK;
    if (m_Initialised && port == PORT_S2 && count > 0) {
        int mode = 0;
        reachable = m_pDemod->GetOperationalMode(mode);
    }
    for (int i = 0; i < count; i++) {
        KxStatistic& stat = stats[i];
        bool listed = false;
        for (const SupportedStatisticsType& row : SUPPORTED_STATISTICS)
            listed |= row.StatisticId == stat.m_StatisticId;
        if (port != PORT_S2 || !listed) {
            SetResult(stat, KXAPI_E_NOT_SUPPORTED);
            continue;
        }
        if (!m_Initialised || KxapiFailed(reachable)) {
            SetResult(stat, m_Initialised ? reachable : KXAPI_E_NOT_INITIALIZED);
            continue;
        }
        const int window = stat.m_XtraId[1];
        if (window >= 0 && window <= 2) {
            const int isi = stat.m_XtraId[0] == -1 ? ALL_STREAMS : stat.m_XtraId[0];
            SetResult(stat, m_pStatistics->GetWindowStatistic(isi, window, stat));
            continue;
        }
        FillInstantStatistic(stat);
    }
    return KXAPI_OK;
}

void Kxa3470Hal::FillInstantStatistic(KxStatistic& stat)
{
    IKxa3470Statistics& s = *m_pStatistics;
    const int isi = stat.m_XtraId[0];
    KXAPI_RESULT result = KXAPI_OK;
    double db = 0.0, value = 0.0;
    switch (stat.m_StatisticId) {
    case KX_STAT_LOCK:
        stat.SetValue(s.GetLockAll());
        break;
    case KX_STAT_PL_HEADER_LOCK:
        stat.SetValue(s.GetPlHeaderLock());
        break;
    case KX_STAT_SPECTRUM_INV: {
        bool inverted = false;
        result = s.GetSpectrumInv(inverted);
        stat.SetValue(inverted);
        break;
    }
    case KX_STAT_STREAM_LOCK: {
        int grabIndex = 0;
        if (isi == -1)
            result = KXAPI_E_PLP_NOT_FOUND;
        stat.SetValue(isi != -1 && s.GetLock(isi, grabIndex));
        break;
    }
    case KX_STAT_MER:
        result = s.GetMer(isi == -1 ? ALL_STREAMS : isi, db);
        if (KxapiSucceeded(result))
            SetTenths(stat, db);
        break;
    case KX_STAT_CNR:
    case KX_STAT_SNR:
    case KX_STAT_ES_N0:
    case KX_STAT_MER_PL_HEADERS:
        result = s.GetMerPlHeaders(db);
        if (KxapiSucceeded(result))
            SetTenths(stat, db);
        break;
    case KX_STAT_LINK_MARGIN:
    case KX_STAT_EB_N0:
        result = s.GetMerPlHeaders(db);
        if (KxapiSucceeded(result))
            result = stat.m_StatisticId == KX_STAT_LINK_MARGIN ? s.GetLinkMargin(isi, db, value)
                                                               : s.GetStatEbN0(isi, db, value);
        if (KxapiSucceeded(result))
            SetTenths(stat, value);
        break;
    case KX_STAT_BER_PRE_LDPC:
    case KX_STAT_BER_PRE_BCH:
    case KX_STAT_BER_POST_LDPC:
    case KX_STAT_BER_POST_BCH:
        if (isi == -1) {
            result = KXAPI_E_PLP_NOT_FOUND;
            break;
        }
        result = s.GetMerPlHeaders(db);
        if (KxapiSucceeded(result)) {
            // Pre-BCH and post-LDPC are the same quantity.
            switch (stat.m_StatisticId) {
            case KX_STAT_BER_PRE_LDPC:
                result = s.GetBerPreLdpc(isi, db, value);
                break;
            case KX_STAT_BER_POST_BCH:
                result = s.GetBerPostBch(isi, db, value);
                break;
            default:
                result = s.GetBerPostLdpc(isi, db, value);
                break;
            }
        }
        if (KxapiSucceeded(result))
            stat.SetValue(value);
        break;
    case KX_STAT_FER_POST_LDPC:
        result = s.GetFerPostLdpc(isi == -1 ? ALL_STREAMS : isi, value);
        if (KxapiSucceeded(result))
            stat.SetValue(value);
        break;
    case KX_STAT_FER_POST_BCH:
        result = s.GetFerPostBch(isi == -1 ? ALL_STREAMS : isi, value);
        if (KxapiSucceeded(result))
            stat.SetValue(value);
        break;
    case KX_STAT_OCCUPIED_BANDWIDTH: {
        int64_t rate = 0;
        result = m_pDemod->GetSymbolRate(DEMOD_SAMPLE_RATE_HZ, rate);
        if (KxapiSucceeded(result))
            result = s.GetOccupiedBw(rate, value);
        if (KxapiSucceeded(result))
            stat.SetValue(value);
        break;
    }
    case KX_STAT_ROLL_OFF_FACTOR:
        result = s.GetRollOff(value);
        if (KxapiSucceeded(result))
            stat.SetValue(value);
        break;
    case KX_STAT_DVBS2_ISI: {
        std::vector<int> isis;
        result = s.GetIsiIds(isis);
        KxDvbS2IsiList list;
        for (int id : isis)
            list.m_Isis.push_back(KxS2IsiId{id});
        if (KxapiSucceeded(result))
            stat.SetValue(list);
        break;
    }
    case KX_STAT_S2_ISI_SIG: {
        if (isi == -1) {
            result = KXAPI_E_PLP_NOT_FOUND;
            break;
        }
        KxDvbS2IsiSigData data;
        result = s.GetIsiSigData(isi, data);
        if (KxapiSucceeded(result))
            stat.SetValue(data);
        break;
    }
    case KX_STAT_AGC1: {
        int agc = 0;
        result = s.GetAgc1(agc);
        if (KxapiSucceeded(result))
            stat.SetValue(static_cast<int32_t>(agc));
        break;
    }
    case KX_STAT_RF_LVL_UNCALIB: {
        int gain = 0;
        result = m_pTuner->GetBBGain(gain);
        if (KxapiSucceeded(result))
            result = s.GetRfLvlUncalib(gain, value);
        if (KxapiSucceeded(result))
            stat.SetValue(static_cast<int32_t>(std::floor(10.0 * value + 0.5)));
        break;
    }
    case KX_STAT_RF_LVL_CHAN: {
        int gain = 0, temperature = 0, level = 0;
        result = m_pTuner->GetBBGain(gain);
        if (KxapiSucceeded(result))
            result = ReadBoardTemperature(temperature);
        if (KxapiSucceeded(result))
            result = s.GetRfLvlChan(gain, m_TunerFreqHz, temperature, SymbolRate(), level);
        if (KxapiSucceeded(result))
            stat.SetValue(static_cast<int32_t>(level));
        break;
    }
    default: // LockPerc is a window statistic only
        result = KXAPI_E_NOT_SUPPORTED;
        break;
    }
    SetResult(stat, result);
}

// ---------------------------------------------------------------------------------------------
// LNB supply (port 1).

KXAPI_RESULT Kxa3470Hal::CheckLnbPort(int port)
{
    KXAPI_RESULT result = CheckDevicePort(port);
    if (KxapiFailed(result))
        return result;
    return port == PORT_S2 ? KXAPI_OK : KXAPI_E_NOT_SUPPORTED;
}

KXAPI_RESULT Kxa3470Hal::LnbSetVoltage(int port, unsigned int level, bool execute)
{
    KXAPI_RESULT result = CheckLnbPort(port);
    if (KxapiFailed(result))
        return result;
    if (level >= sizeof(LNB_VOLTAGE_VALUES))
        return KXAPI_E_INVALID_ARG;
    if (!execute)
        return KXAPI_OK;
    CritSecAutoLockSvc lock(m_pHalLock);
    if (!m_Initialised)
        return KXAPI_E_NOT_INITIALIZED;
    result = WriteLnbRegister(LNBH25_VOLTAGE_REG, LNB_VOLTAGE_VALUES[level]);
    if (KxapiSucceeded(result))
        m_LnbVoltageValue = LNB_VOLTAGE_VALUES[level];
    return result;
}

KXAPI_RESULT Kxa3470Hal::LnbEnable(int port, bool enable, bool execute)
{
    KXAPI_RESULT result = CheckLnbPort(port);
    if (KxapiFailed(result) || !execute)
        return result;
    CritSecAutoLockSvc lock(m_pHalLock);
    if (!m_Initialised)
        return KXAPI_E_NOT_INITIALIZED;
    if (enable) {
        result = WriteLnbRegister(LNBH25_VOLTAGE_REG, m_LnbVoltageValue);
        if (KxapiSucceeded(result))
            result = m_pLnb->EnableTone(m_ToneOn);
    } else {
        result = m_pLnb->EnableTone(false);
        m_ToneOn = false;
        if (KxapiSucceeded(result))
            result = WriteLnbRegister(LNBH25_VOLTAGE_REG, 0);
    }
    if (KxapiSucceeded(result))
        m_LnbEnabled = enable;
    return result;
}

KXAPI_RESULT Kxa3470Hal::LnbEnableTone(int port, bool enable, bool execute)
{
    KXAPI_RESULT result = CheckLnbPort(port);
    if (KxapiFailed(result))
        return result;
    CritSecAutoLockSvc lock(m_pHalLock);
    if (!m_LnbEnabled)
        return KXAPI_E_INVALID_MODE;
    if (!execute)
        return KXAPI_OK;
    result = m_pLnb->EnableTone(enable);
    if (KxapiSucceeded(result))
        m_ToneOn = enable;
    return result;
}

KXAPI_RESULT Kxa3470Hal::LnbSendBurst(int port, unsigned int burst, bool execute)
{
    KXAPI_RESULT result = CheckLnbPort(port);
    if (KxapiFailed(result))
        return result;
    CritSecAutoLockSvc lock(m_pHalLock);
    if (!m_LnbEnabled)
        return KXAPI_E_INVALID_MODE;
    if (!execute)
        return KXAPI_OK;
    return m_pLnb->SendBurst(burst != 0 ? 1 : 0);
}

KXAPI_RESULT Kxa3470Hal::LnbSendDiseqcMessage(int port, const unsigned char* message, int length,
                                              unsigned char* reply, int* replyLength, bool execute)
{
    KXAPI_RESULT result = CheckLnbPort(port);
    if (KxapiFailed(result))
        return result;
    CritSecAutoLockSvc lock(m_pHalLock);
    if (!m_LnbEnabled)
        return KXAPI_E_INVALID_MODE;
    if (message == nullptr)
        return KXAPI_E_INVALID_BUF;
    if (!execute)
        return KXAPI_OK;
    if (reply != nullptr && replyLength != nullptr)
        return m_pLnb->SendDiseqcMessage(message, length, reply, *replyLength);
    return m_pLnb->SendDiseqcMessage(message, length);
}
