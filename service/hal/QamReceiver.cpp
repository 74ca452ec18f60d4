#include "QamReceiver.h"

#include <cmath>
#include <iterator>
#include <vector>

#include "DemodSvcLayouts.h"

using namespace Kxapi;

namespace QamReceiver {

namespace {

// Modulation type of each demodulator modulation code (code AND 7).
constexpr int MOD_MAP[8] = {6, 8, 4, 5, 7, 3, 7, -1};
// Interleaving value of each interleaving code (code AND 15).
constexpr int INT_MAP[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 15, 12, 15, 14, 15};

// MER falls by 1 dB per row from 40 dB.
constexpr MseToMerRow MSE_TO_MER_QAM16[] = {
    {40, 8},   {39, 8},   {38, 9},   {37, 10},  {36, 11}, {35, 12}, {34, 13}, {33, 14}, {32, 16}, {31, 18},
    {30, 20},  {29, 22},  {28, 25},  {27, 28},  {26, 31}, {25, 35}, {24, 39}, {23, 44}, {22, 49}, {21, 55},
    {20, 62},  {19, 69},  {18, 77},  {17, 86},  {16, 97}, {15, 108}, {14, 120}, {13, 141}};
constexpr MseToMerRow MSE_TO_MER_QAM32[] = {
    {40, 8},  {39, 9},  {38, 9},  {37, 10}, {36, 11}, {35, 12}, {34, 14}, {33, 14}, {32, 16},
    {31, 18}, {30, 20}, {29, 23}, {28, 25}, {27, 28}, {26, 31}, {25, 36}, {24, 40}, {23, 45},
    {22, 50}, {21, 56}, {20, 63}, {19, 69}, {18, 78}, {17, 88}, {16, 97}};
constexpr MseToMerRow MSE_TO_MER_QAM64[] = {
    {40, 7},  {39, 7},  {38, 8},  {37, 8},  {36, 9},  {35, 10}, {34, 11}, {33, 12},
    {32, 13}, {31, 15}, {30, 17}, {29, 19}, {28, 21}, {27, 23}, {26, 26}, {25, 30},
    {24, 33}, {23, 37}, {22, 42}, {21, 46}, {20, 51}, {19, 57}, {18, 61}, {17, 66}};
constexpr MseToMerRow MSE_TO_MER_QAM256[] = {
    {40, 7},  {39, 7},  {38, 8},  {37, 8},  {36, 9},  {35, 10}, {34, 11}, {33, 12}, {32, 13}, {31, 15},
    {30, 17}, {29, 19}, {28, 21}, {27, 23}, {26, 26}, {25, 29}, {24, 31}, {23, 33}, {22, 37}};

template <size_t N> int Rows(const MseToMerRow (&)[N])
{
    return static_cast<int>(N);
}

} // namespace

KXAPI_RESULT CheckPars(const KxDemodPars& pars)
{
    if (!pars.IsQam() || pars.ModType() == KX_MOD_QAMAUTO)
        return KXAPI_E_INVALID_MODE;
    const KxDemodParsQam& qam = *pars.Qam();
    if (qam.m_Annex < 1 || qam.m_Annex > 3)
        return KXAPI_E_INVALID_J83ANNEX;
    if (qam.m_SymRateBd != AUTO_SYMBOL_RATE &&
        (qam.m_SymRateBd < MIN_SYMBOL_RATE_BD || qam.m_SymRateBd > MAX_SYMBOL_RATE_BD))
        return KXAPI_E_INVALID_SYMRATE;
    return KXAPI_OK;
}

KXAPI_RESULT CheckFrequency(long long freqHz)
{
    return freqHz < MIN_FREQ_HZ || freqHz > MAX_FREQ_HZ ? KXAPI_E_INVALID_RATE : KXAPI_OK;
}

bool ModulationCode(int modType, int& code)
{
    switch (modType) {
    case KX_MOD_QAM4: code = 5; return true;
    case KX_MOD_QAM16: code = 2; return true;
    case KX_MOD_QAM32: code = 3; return true;
    case KX_MOD_QAM64: code = 0; return true;
    case KX_MOD_QAM128: code = 4; return true;
    case KX_MOD_QAM256: code = 1; return true;
    default: return false;
    }
}

AnnexSettings SettingsOfAnnex(int annex)
{
    switch (annex) {
    case 1: return {false, {3, 0}, 0};
    case 3: return {true, {4, 0}, 0};
    default: return {false, {2, 2}, 2};
    }
}

int ParsFromChip(int code, int interleavingCode, bool annexB, int firstSpectrum, int rateBd, KxDemodPars& pars)
{
    const int modType = MOD_MAP[code & 7];
    pars = KxDemodPars(modType);
    KxDemodParsQam* qam = pars.Qam();
    if (qam == nullptr)
        return modType;
    if (annexB) {
        qam->m_Annex = 3;
        qam->m_Interleaving = INT_MAP[interleavingCode & 15];
    } else {
        qam->m_Annex = firstSpectrum == 2 ? 2 : (firstSpectrum == 3 ? 1 : 15);
    }
    qam->m_SymRateBd = rateBd;
    return modType;
}

double ConvMseToMer(const MseToMerRow* table, int mse, int rows)
{
    if (table == nullptr || rows <= 0)
        return 0.0;
    if (mse <= table[0].m_Mse)
        return table[0].m_MerDb;
    for (int i = 1; i < rows; i++) {
        if (mse == table[i].m_Mse)
            return table[i].m_MerDb;
        if (table[i].m_Mse > mse) {
            const MseToMerRow& lo = table[i - 1];
            const MseToMerRow& hi = table[i];
            const double twice = ((mse - lo.m_Mse) * (hi.m_MerDb - lo.m_MerDb) * 2 + 1) / (hi.m_Mse - lo.m_Mse);
            return lo.m_MerDb + twice * 0.5;
        }
    }
    return table[rows - 1].m_MerDb;
}

int MerTenthsFromMse(int modType, int mse)
{
    double mer;
    switch (modType) {
    case KX_MOD_QAM32: mer = ConvMseToMer(MSE_TO_MER_QAM32, mse, Rows(MSE_TO_MER_QAM32)); break;
    case KX_MOD_QAM64: mer = ConvMseToMer(MSE_TO_MER_QAM64, mse, Rows(MSE_TO_MER_QAM64)); break;
    case KX_MOD_QAM256: mer = ConvMseToMer(MSE_TO_MER_QAM256, mse, Rows(MSE_TO_MER_QAM256)); break;
    default: mer = ConvMseToMer(MSE_TO_MER_QAM16, mse, Rows(MSE_TO_MER_QAM16)); break;
    }
    return static_cast<int>(std::lround(mer * 10.0));
}

void AccumulateBadPackets(long long& total, uint32_t& lastCount, uint32_t count)
{
    // The chip's counter wraps at 2^32: the difference is taken in its width.
    total += static_cast<uint32_t>(count - lastCount);
    if (total > BAD_PACKET_TOTAL_MAX)
        total %= BAD_PACKET_TOTAL_WRAP;
    lastCount = count;
}

int ApplyDemodPars(ITda10024& demod, const KxDemodPars& pars)
{
    int code = 0;
    if (!ModulationCode(pars.ModType(), code) || pars.Qam() == nullptr)
        return -1;
    const KxDemodParsQam& qam = *pars.Qam();
    const AnnexSettings annex = SettingsOfAnnex(qam.m_Annex);
    demod.SetModulationCode(code);
    demod.SetAnnexBMode(annex.m_AnnexB);
    demod.SetSpectrumSettings(annex.m_Spectrum[0], annex.m_Spectrum[1]);
    if (qam.m_SymRateBd == AUTO_SYMBOL_RATE)
        demod.SetSymbolRate(true, 0);
    else
        demod.SetSymbolRate(false, qam.m_SymRateBd);
    return annex.m_TunerBandwidth;
}

KXAPI_RESULT ReadDemodPars(ITda10024& demod, KxDemodPars& pars, int& modType)
{
    int code = 0, interleaving = 0, rate = 0;
    KXAPI_RESULT result = DemodResult(demod.GetModulation(code, interleaving));
    if (KxapiSucceeded(result))
        result = DemodResult(demod.ReadSymbolRate(rate));
    if (KxapiFailed(result))
        return result;
    modType = ParsFromChip(code, interleaving, demod.AnnexBMode(), demod.SpectrumSetting(0), rate, pars);
    return KXAPI_OK;
}

KXAPI_RESULT ReadConstellation(ITda10024& demod, int count, KxConstelPoint* points)
{
    if (count < 0 || count > DEMOD_MAX_CONSTEL_POINTS || (count > 0 && points == nullptr))
        return KXAPI_E_INVALID_ARG;
    std::vector<int8_t> iq(static_cast<size_t>(count) * 2);
    if (KxapiFailed(demod.ReadIq(count, iq.data())))
        return KXAPI_E_DEV_DRIVER;
    for (size_t i = 0; i < static_cast<size_t>(count); i++) {
        points[i].m_X = iq[2 * i] * 128;
        points[i].m_Y = iq[2 * i + 1] * 128;
    }
    return KXAPI_OK;
}

bool Wants(const KxStatistic* stats, int count, std::initializer_list<int32_t> ids)
{
    for (int i = 0; i < count; i++)
        for (int32_t id : ids)
            if (stats[i].m_StatisticId == id)
                return true;
    return false;
}

void ReadDemod(ITda10024& demod, const KxStatistic* stats, int count, long long& badPacketTotal,
               uint32_t& lastBadPackets, DemodReadings& r)
{
    if (Wants(stats, count, {KX_STAT_BER_PRE_RS}))
        r.m_BerResult = demod.ReadBer(r.m_BerCount);
    if (Wants(stats, count, {KX_STAT_LOCK, KX_STAT_CARRIER_LOCK}))
        r.m_LockResult = LockReadResult(demod.ReadLocks(r.m_FecLock, r.m_CarrierLock));
    if (Wants(stats, count, {KX_STAT_BAD_PCK_CNT})) {
        uint32_t badCount = 0;
        r.m_BadResult = demod.ReadBadPacketCount(badCount);
        if (KxapiSucceeded(r.m_BadResult))
            AccumulateBadPackets(badPacketTotal, lastBadPackets, badCount);
    }
    if (Wants(stats, count, {KX_STAT_MER, KX_STAT_SNR, KX_STAT_CNR}))
        r.m_MseResult = KxapiFailed(demod.ReadRegister(MSE_REGISTER, r.m_Mse)) ? KXAPI_E_DEV_DRIVER : KXAPI_OK;
}

bool AnswerDemod(KxStatistic& stat, const DemodReadings& r, int modType, long long badPacketTotal)
{
    switch (stat.m_StatisticId) {
    case KX_STAT_BER_PRE_RS:
        Answer(stat, r.m_BerResult, r.m_BerCount / BER_WINDOW_BITS, 0.0);
        return true;
    case KX_STAT_LOCK:
        Answer(stat, r.m_LockResult, r.m_FecLock && r.m_CarrierLock, false);
        return true;
    case KX_STAT_CARRIER_LOCK:
        Answer(stat, r.m_LockResult, r.m_CarrierLock, false);
        return true;
    case KX_STAT_BAD_PCK_CNT:
        Answer(stat, r.m_BadResult, static_cast<int32_t>(badPacketTotal), int32_t(0));
        return true;
    case KX_STAT_MER:
    case KX_STAT_SNR:
    case KX_STAT_CNR:
        Answer(stat, r.m_MseResult, static_cast<int32_t>(MerTenthsFromMse(modType, r.m_Mse)), int32_t(-1));
        return true;
    default:
        return false;
    }
}

KXAPI_RESULT PortI2c::Read(int address, unsigned char* buffer, int length)
{
    return m_Device.I2CRead(m_PortIndex, address, buffer, length, -1);
}

KXAPI_RESULT PortI2c::Write(int address, const unsigned char* buffer, int length)
{
    return m_Device.I2CWrite(m_PortIndex, address, buffer, length, -1);
}

KXAPI_RESULT PortI2c::Enable(bool on)
{
    if (on) {
        if (m_EnableCount++ == 0) {
            KXAPI_RESULT result = m_Demod.TunerI2cBusEnable(true);
            if (KxapiFailed(result))
                m_EnableCount--;
            return result;
        }
        return KXAPI_OK;
    }
    if (m_EnableCount == 0)
        return KXAPI_OK;
    if (--m_EnableCount == 0)
        return m_Demod.TunerI2cBusEnable(false);
    return KXAPI_OK;
}

} // namespace QamReceiver
