#include "Kxa3490Hal.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "DemodSvcLayouts.h"
#include "KxModelTable.h"
#include "Tda10024.h"
#include "Tda18252.h"

using namespace Kxapi;
using namespace QamReceiver;

namespace {

const SupportedStatisticsType SUPPORTED_STATISTICS[] = {
    {KX_STAT_LOCK, false, 0, 1, {-1, -1, -1, -1}},
    {KX_STAT_CARRIER_LOCK, false, 0, 1, {-1, -1, -1, -1}},
    {KX_STAT_AGC1, false, 0, 1, {-1, -1, -1, -1}},
    {KX_STAT_AGC2, false, 0, 1, {-1, -1, -1, -1}},
    {KX_STAT_RF_LVL_CHAN, false, 0, 1, {-1, -1, -1, -1}},
    {KX_STAT_BER_PRE_RS, true, 0, 1, {-1, -1, -1, -1}},
    {KX_STAT_MER, true, 10, 1, {-1, -1, -1, -1}},
    {KX_STAT_SNR, true, 10, 1, {-1, -1, -1, -1}},
    {KX_STAT_CNR, true, 10, 1, {-1, -1, -1, -1}},
    {KX_STAT_BAD_PCK_CNT, true, 0, 1, {-1, -1, -1, -1}},
    {KX_STAT_SPECTRUM_INV, true, 0, 1, {-1, -1, -1, -1}},
};

const DefaultStatisticValue DEFAULT_STATISTICS[] = {
    {KX_STAT_AGC1, KXAPI_E_TUNING, int32_t(-1)},
    {KX_STAT_AGC2, KXAPI_E_TUNING, int32_t(-1)},
    {KX_STAT_RF_LVL_CHAN, KXAPI_E_TUNING, int32_t(-1)},
    {KX_STAT_BAD_PCK_CNT, KXAPI_E_NOT_LOCKED, int32_t(0)},
    {KX_STAT_CNR, KXAPI_E_NOT_LOCKED, int32_t(-1)},
    {KX_STAT_MER, KXAPI_E_NOT_LOCKED, int32_t(-1)},
    {KX_STAT_SNR, KXAPI_E_NOT_LOCKED, int32_t(-1)},
    {KX_STAT_BER_PRE_RS, KXAPI_E_NOT_LOCKED, 0.0},
    {KX_STAT_SPECTRUM_INV, KXAPI_E_NOT_LOCKED, false},
    {KX_STAT_LOCK, KXAPI_OK, false},
    {KX_STAT_CARRIER_LOCK, KXAPI_OK, false},
};

// Offset of the LNA by AGC1 reading (a shared input's sum bounded to the last entry).
constexpr int RF_LNA_AGC_OFFSETS[8] = {-48, -48, -33, -17, 0, 0, 0, 0};
// 16.16 fixed-point slopes and the offsets of the two segments; segment 1 above SEGMENT_EDGE.
constexpr int RF_LEVEL_SLOPES[2] = {-119299, -237086};
constexpr int RF_LEVEL_OFFSETS[2] = {309, 636};
constexpr int SEGMENT_EDGE = 182;
constexpr int RF_BAND_LEVEL_OFFSETS[Kxa3490Hal::NUM_PORTS][8] = {{0, -10, -19, -19, -16, -21, -1, 47},
                                                                 {16, 4, -1, -3, -2, 2, 23, 70}};
// Frequency compensation, rows at 54 MHz + 25 MHz x i.
constexpr long long FREQ_COMP_START_HZ = 54000000;
constexpr long long FREQ_COMP_STEP_HZ = 25000000;
constexpr int FREQ_COMP_ROWS = 38;
constexpr int FREQ_COMP_PORT1_INPUT[FREQ_COMP_ROWS] = {
    -44, -42, -44, -48, -40, -48, -35, -41, -39, -41, -45, -47, -26, -24, -27, -27, -27, -28, -28,
    -32, -31, -35, -34, -37, -11, -12, -14, -14, -16, -17, -19, -20, -22, -23, -25, -27, -29, -31};
constexpr int FREQ_COMP_PORT2_INPUT[FREQ_COMP_ROWS] = {
    -31, -33, -29, -36, -27, -36, -25, -31, -21, -22, -28, -29, -10, -7,  -11, -12, -11, -17, -15,
    -20, -20, -22, -24, -25, -2,  -2,  -6,  -7,  -10, -10, -12, -14, -15, -16, -17, -18, -20, -21};
constexpr int FREQ_COMP_PORT2_SHARED[FREQ_COMP_ROWS] = {
    -23, -23, -19, -24, -17, -25, -14, -18, -7,  -11, -15, -18, 3,   4,   1,   0,   -1,  -5,  -4,
    -11, -11, -13, -15, -17, 7,   7,   4,   3,   1,   -2,  -3,  -6,  -8,  -10, -12, -14, -17, -19};

} // namespace

const DemodHalDescriptor Kxa3490Hal::DESCRIPTOR = {3490, KX_MODEL_ANY_SUBTYPE, MakeDemodHal<Kxa3490Hal>,
                                      SUPPORTED_STATISTICS, DEFAULT_STATISTICS};

Kxa3490Hal::Kxa3490Hal(long long serial, KxDeviceInt& device) : QamReceiverHal(serial, device, DESCRIPTOR)
{
    for (int index = 0; index < NUM_PORTS; index++) {
        Port& port = m_Ports[index];
        port.m_pDemod.reset(new (std::nothrow) Tda10024(DEMOD_I2C_ADDRESSES[index]));
        port.m_pTuner.reset(new (std::nothrow) Tda18252());
        // Both ports' chips sit on the device-level bus, which the HAL lock guards.
        if (port.m_pDemod != nullptr)
            port.m_pI2c.reset(new (std::nothrow) PortI2c(device, *port.m_pDemod, -1));
        port.m_Bus = -1;
        port.m_pSection = m_pHalLock.get();
    }
}

Kxa3490Hal::~Kxa3490Hal() = default;

int Kxa3490Hal::GetRfLevelFrequencyOffset(int port, long long freqHz, bool shared)
{
    const int* table = nullptr;
    if (port == 1)
        table = FREQ_COMP_PORT1_INPUT;
    else if (port == 2)
        table = shared ? FREQ_COMP_PORT2_SHARED : FREQ_COMP_PORT2_INPUT;
    if (table == nullptr)
        return 0;
    if (freqHz <= FREQ_COMP_START_HZ)
        return table[0];
    const long long row = (freqHz - FREQ_COMP_START_HZ) / FREQ_COMP_STEP_HZ;
    if (row >= FREQ_COMP_ROWS - 1)
        return table[FREQ_COMP_ROWS - 1];
    const long long rowHz = FREQ_COMP_START_HZ + row * FREQ_COMP_STEP_HZ;
    if (freqHz == rowHz)
        return table[row];
    // Interpolated in twice the unit, rounded, then halved.
    const long long twice = ((freqHz - rowHz) * (table[row + 1] - table[row]) * 2 + 1) / FREQ_COMP_STEP_HZ;
    return table[row] + static_cast<int>(twice / 2);
}

int Kxa3490Hal::CalcRfLevel(int port, int band, int agc1, int agc2, int demodAgc, long long freqHz, bool shared)
{
    if (port < 1 || port > NUM_PORTS)
        return 0;
    // A shared input's two LNA readings may add up past the table.
    const int lna = RF_LNA_AGC_OFFSETS[std::clamp(agc1, 0, 7)];
    const long long sum = static_cast<long long>(lna) + agc2 + demodAgc;
    const int segment = sum > SEGMENT_EDGE ? 1 : 0;
    const double scaled = (static_cast<double>(sum) * RF_LEVEL_SLOPES[segment] + 32768.0) / 65536.0;
    const int level = static_cast<int>(std::floor(scaled)) + RF_LEVEL_OFFSETS[segment] +
                      RF_BAND_LEVEL_OFFSETS[port - 1][band & 7];
    return level - GetRfLevelFrequencyOffset(port, freqHz, shared);
}

KXAPI_RESULT Kxa3490Hal::Init()
{
    KXAPI_RESULT result = DemodHal::Init();
    if (KxapiFailed(result))
        return result;
    if (m_pHalLock == nullptr)
        return KXAPI_E_OUT_OF_RESOURCES;
    result = CheckPortChips();
    if (KxapiFailed(result))
        return result;
    for (Port& port : m_Ports)
        port.m_Shared = false;
    return KXAPI_OK;
}

KXAPI_RESULT Kxa3490Hal::OnFirstUsage(int port)
{
    KXAPI_RESULT result = CheckDevicePort(port);
    if (KxapiFailed(result))
        return result;
    if (port == 1) {
        PortOf(1).m_Shared = false;
        return KXAPI_OK;
    }
    int value = 0, subValue = 0;
    const bool configured =
        KxapiSucceeded(m_Device.PropertyGetInt(IO_CONFIG_PROPERTY, port - 1, value)) &&
        KxapiSucceeded(m_Device.PropertyGetInt(IO_CONFIG_SUB_PROPERTY, port - 1, subValue));
    const bool shared = configured && value == IO_CONFIG_RF_INPUT && subValue == IO_CONFIG_RF_INPUT_LOOP;
    HardwareLock lock(*this);
    if (!lock.Locked())
        return lock.Result();
    // Control output low switches port 2 to port 1's loop-through.
    if (KxapiFailed(PortOf(2).m_pDemod->SetControlOutput(shared ? 0 : 1)) ||
        KxapiFailed(PortOf(1).m_pTuner->EnableRfLoopThrough(shared)))
        return KXAPI_E_DEV_DRIVER;
    PortOf(2).m_Shared = shared;
    return KXAPI_OK;
}

KXAPI_RESULT Kxa3490Hal::InitPortDevice(int port)
{
    KXAPI_RESULT result = CheckDevicePort(port);
    if (KxapiFailed(result))
        return result;
    Port& p = PortOf(port);
    ChipLock lock(*this, port);
    if (!lock.Locked())
        return lock.Result();
    if (KxapiFailed(p.m_pDemod->Init(*p.m_pI2c, port == 1)) ||
        KxapiFailed(p.m_pTuner->Init(TUNER_I2C_ADDRESSES[port - 1], TUNER_MODE, *p.m_pI2c)))
        return KXAPI_E_DEV_DRIVER;
    return KXAPI_OK;
}

KXAPI_RESULT Kxa3490Hal::InitPort(int port)
{
    KXAPI_RESULT result = InitPortDevice(port);
    if (KxapiFailed(result))
        return result;
    Port& p = PortOf(port);
    ChipLock lock(*this, port);
    if (!lock.Locked())
        return lock.Result();
    p.m_TunedFreqHz = POWER_ON_FREQ_HZ;
    p.m_ModType = POWER_ON_MOD_TYPE;
    KxDemodPars defaults(POWER_ON_MOD_TYPE);
    defaults.Qam()->m_Annex = 2;
    defaults.Qam()->m_SymRateBd = POWER_ON_SYMBOL_RATE_BD;
    const int bandwidth = ApplyDemodPars(*p.m_pDemod, defaults);
    if (KxapiFailed(p.m_pTuner->SetFrequency(POWER_ON_FREQ_HZ, TUNER_MODE)) ||
        KxapiFailed(p.m_pTuner->SetBandwidth(bandwidth)))
        return KXAPI_E_INTERNAL;
    p.m_Initialised = true;
    return KXAPI_OK;
}

KXAPI_RESULT Kxa3490Hal::Tune(int port, bool)
{
    KXAPI_RESULT result = CheckDevicePort(port);
    if (KxapiFailed(result))
        return result;
    Port& p = PortOf(port);
    if (!p.m_Initialised)
        return KXAPI_OK_FAILSAFE;
    ChipLock lock(*this, port);
    if (!lock.Locked())
        return lock.Result();
    // Every second acquisition starts a little below the frequency.
    m_Detune = !m_Detune;
    const long long tunedHz = p.m_TunedFreqHz;
    return Acquire(p, m_Detune ? tunedHz - DETUNE_HZ : tunedHz, TUNER_MODE);
}

KXAPI_RESULT Kxa3490Hal::GetSpectrumInversion(int port, bool& inverted)
{
    KXAPI_RESULT result = CheckDevicePort(port);
    if (KxapiFailed(result))
        return result;
    ChipLock lock(*this, port);
    if (!lock.Locked())
        return lock.Result();
    bool chipInverted = false;
    if (KxapiFailed(PortOf(port).m_pDemod->ReadSpectrumInversion(chipInverted)))
        return KXAPI_E_DEV_DRIVER;
    inverted = !chipInverted;
    return KXAPI_OK;
}

KXAPI_RESULT Kxa3490Hal::GetStatistics(int port, int count, KxStatistic* stats)
{
    KXAPI_RESULT result = CheckDevicePort(port);
    if (KxapiFailed(result))
        return result;
    if (count < 0 || (count > 0 && stats == nullptr))
        return KXAPI_E_INVALID_ARG;
    Port& p = PortOf(port);
    const bool shared = port == 2 && p.m_Shared;

    DemodReadings demod;
    KXAPI_RESULT tunerResult = KXAPI_OK, demodAgcResult = KXAPI_OK, feederResult = KXAPI_OK;
    int band = 0, agc1 = 0, agc2 = 0, demodAgc = 0, feederAgc1 = 0;
    const bool wantsDemod = Wants(stats, count, {KX_STAT_BER_PRE_RS, KX_STAT_LOCK, KX_STAT_CARRIER_LOCK,
                                                 KX_STAT_BAD_PCK_CNT, KX_STAT_MER, KX_STAT_SNR, KX_STAT_CNR});
    const bool wantsLevels = Wants(stats, count, {KX_STAT_AGC1, KX_STAT_AGC2, KX_STAT_RF_LVL_CHAN});
    if (wantsDemod || wantsLevels) {
        ChipLock lock(*this, port);
        if (!lock.Locked()) {
            demod.Fail(lock.Result());
            tunerResult = demodAgcResult = lock.Result();
        } else {
            if (wantsDemod)
                ReadDemod(*p.m_pDemod, stats, count, p.m_BadPacketTotal, p.m_LastBadPackets, demod);
            if (wantsLevels) {
                if (KxapiFailed(p.m_pTuner->GetRfBand(band)) || KxapiFailed(p.m_pTuner->GetAgc1(agc1)) ||
                    KxapiFailed(p.m_pTuner->GetAgc2(agc2)))
                    tunerResult = KXAPI_E_DEV_DRIVER;
                if (KxapiFailed(p.m_pDemod->ReadAgc(demodAgc)))
                    demodAgcResult = KXAPI_E_DEV_DRIVER;
                if (shared && KxapiFailed(PortOf(1).m_pTuner->GetAgc1(feederAgc1)))
                    feederResult = KXAPI_E_DEV_DRIVER;
            }
        }
    }
    bool inverted = false;
    KXAPI_RESULT inversionResult = KXAPI_OK;
    if (Wants(stats, count, {KX_STAT_SPECTRUM_INV}))
        inversionResult = GetSpectrumInversion(port, inverted);
    const KXAPI_RESULT levelResult = KxapiFailed(tunerResult) || KxapiFailed(demodAgcResult) ||
                                             KxapiFailed(feederResult)
                                         ? KXAPI_E_DEV_DRIVER
                                         : KXAPI_OK;

    for (int i = 0; i < count; i++) {
        KxStatistic& stat = stats[i];
        if (AnswerDemod(stat, demod, p.m_ModType, p.m_BadPacketTotal))
            continue;
        switch (stat.m_StatisticId) {
        case KX_STAT_AGC1:
            Answer(stat, tunerResult, static_cast<int32_t>(band * 10000000 + agc1 * 1000000 + agc2), int32_t(-1));
            break;
        case KX_STAT_AGC2:
            Answer(stat, demodAgcResult, static_cast<int32_t>(demodAgc), int32_t(-1));
            break;
        case KX_STAT_RF_LVL_CHAN: {
            const int level =
                CalcRfLevel(port, band, agc1 + (shared ? feederAgc1 : 0), agc2, demodAgc, p.m_TunedFreqHz, shared);
            Answer(stat, levelResult, static_cast<int32_t>(level), int32_t(-1));
            break;
        }
        case KX_STAT_SPECTRUM_INV:
            Answer(stat, inversionResult, inverted, false);
            break;
        default:
            stat.m_Result = static_cast<int32_t>(KXAPI_E_NOT_SUPPORTED);
            break;
        }
    }
    return KXAPI_OK;
}
