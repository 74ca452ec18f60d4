#include "Kx3530Hal.h"

#include <cmath>
#include <new>
#include <vector>

#include "CrossPlatform.h"
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
    {KX_STAT_RF_LVL_UNCALIB, false, 0, 1, {-1, -1, -1, -1}},
    {KX_STAT_TEMP_TUNER, false, 0, 1, {-1, -1, -1, -1}},
    {KX_STAT_BER_PRE_RS, true, 0, 1, {-1, -1, -1, -1}},
    {KX_STAT_MER, true, 10, 1, {-1, -1, -1, -1}},
    {KX_STAT_SNR, true, 10, 1, {-1, -1, -1, -1}},
    {KX_STAT_CNR, true, 10, 1, {-1, -1, -1, -1}},
    {KX_STAT_BAD_PCK_CNT, true, 0, 1, {-1, -1, -1, -1}},
};

// Before the first measurement: no readings of the chain yet (-1, KXAPI_E_TUNING), the
// locked-only readings not locked, the locks false.
const DefaultStatisticValue DEFAULT_STATISTICS[] = {
    {KX_STAT_TEMP_TUNER, KXAPI_E_TUNING, int32_t(-1)},
    {KX_STAT_AGC1, KXAPI_E_TUNING, int32_t(-1)},
    {KX_STAT_AGC2, KXAPI_E_TUNING, int32_t(-1)},
    {KX_STAT_RF_LVL_CHAN, KXAPI_E_TUNING, int32_t(-1)},
    {KX_STAT_RF_LVL_UNCALIB, KXAPI_E_TUNING, int32_t(-1)},
    {KX_STAT_BAD_PCK_CNT, KXAPI_E_NOT_LOCKED, int32_t(0)},
    {KX_STAT_CNR, KXAPI_E_NOT_LOCKED, int32_t(-1)},
    {KX_STAT_MER, KXAPI_E_NOT_LOCKED, int32_t(-1)},
    {KX_STAT_SNR, KXAPI_E_NOT_LOCKED, int32_t(-1)},
    {KX_STAT_BER_PRE_RS, KXAPI_E_NOT_LOCKED, 0.0},
    {KX_STAT_LOCK, KXAPI_OK, false},
    {KX_STAT_CARRIER_LOCK, KXAPI_OK, false},
};

// LNA gain (dB) by the low three bits of an AGC1 reading.
constexpr double RF_AGC1_GAIN_DB[8] = {3.0, 6.0, 9.0, 12.0, 15.0, 0.0, 0.0, 0.0};
// Gain deviation of the tuner chain by RF band (dB).
constexpr double RF_BAND_LEVEL_OFFSETS_DB[8] = {2.1, 1.2, 0.5, 0.0, 0.0, 0.0, -1.3, 2.7};
// Loss from a group's master LNA to a fed tuner (dB), and the chain's reference (dB).
constexpr double MASTER_FEED_LOSS_DB = 5.6;
constexpr double CHAIN_REFERENCE_DB = 3.1;

// The first failure of a list of results, else KXAPI_OK.
KXAPI_RESULT FirstFailure(std::initializer_list<KXAPI_RESULT> results)
{
    for (KXAPI_RESULT result : results)
        if (KxapiFailed(result))
            return result;
    return KXAPI_OK;
}

} // namespace

const DemodHalDescriptor Kx3530Hal::DESCRIPTOR = {3530, KX_MODEL_ANY_SUBTYPE, MakeDemodHal<Kx3530Hal>,
                                      SUPPORTED_STATISTICS, DEFAULT_STATISTICS};

struct Kx3530Hal::LevelReadings {
    KXAPI_RESULT m_TunerResult = KXAPI_OK;
    KXAPI_RESULT m_DemodAgcResult = KXAPI_OK;
    KXAPI_RESULT m_MasterResult = KXAPI_OK;
    KXAPI_RESULT m_TempResult = KXAPI_OK;
    int m_Band = 0, m_Agc1 = 0, m_Agc2 = 0, m_DemodAgc = 0, m_MasterAgc1 = -1, m_TempC = 0;
};

Kx3530Hal::Kx3530Hal(long long serial, KxDeviceInt& device) : QamReceiverHal(serial, device, DESCRIPTOR)
{
    for (int index = 0; index < NUM_PORTS; index++) {
        Port& port = m_Ports[index];
        port.m_pDemod.reset(new (std::nothrow) Tda10024(DEMOD_I2C_ADDRESS));
        port.m_pTuner.reset(new (std::nothrow) Tda18252());
        if (port.m_pDemod != nullptr)
            port.m_pI2c.reset(new (std::nothrow) PortI2c(device, *port.m_pDemod, index));
        // Each port's chips on the port's own bus.
        port.m_Bus = index;
    }
}

Kx3530Hal::~Kx3530Hal() = default;

int Kx3530Hal::GetMasterIndex(int port)
{
    if ((port & (PORTS_PER_GROUP - 1)) == 1)
        return -1;
    return (port - 1) & ~(PORTS_PER_GROUP - 1);
}

int Kx3530Hal::UncalibratedLevel(int band, int agc1, int agc2, int demodAgc, int masterAgc1)
{
    double gainDb = agc2 * 0.2 + RF_AGC1_GAIN_DB[agc1 & 7] + demodAgc * 0.3 - CHAIN_REFERENCE_DB;
    if (masterAgc1 >= 0)
        gainDb += RF_AGC1_GAIN_DB[masterAgc1 & 7] - MASTER_FEED_LOSS_DB;
    return static_cast<int>(std::floor(0.5 - (gainDb + std::rint(-RF_BAND_LEVEL_OFFSETS_DB[band & 7])) * 10.0));
}

KXAPI_RESULT Kx3530Hal::Init()
{
    KXAPI_RESULT result = DemodHal::Init();
    if (KxapiFailed(result))
        return result;
    result = CheckPortChips();
    if (KxapiFailed(result))
        return result;
    for (int port = 1; port <= NUM_PORTS; port++) {
        Port& p = PortOf(port);
        if (p.m_pCritSec == nullptr)
            p.m_pCritSec = Xp::Instance()->MakeCritSec();
        if (p.m_pCritSec == nullptr)
            return KXAPI_E_OUT_OF_RESOURCES;
        // A group's first port is locked inside its own section too: the group's other ports
        // read its tuner.
        p.m_pSection = GetMasterIndex(port) == -1 ? p.m_pCritSec.get() : nullptr;
    }
    return KXAPI_OK;
}

KXAPI_RESULT Kx3530Hal::InitPortDevice(int port)
{
    KXAPI_RESULT result = CheckDevicePort(port);
    if (KxapiFailed(result))
        return result;
    Port& p = PortOf(port);
    if (p.m_pI2c == nullptr)
        return KXAPI_E_INTERNAL;
    ChipLock lock(*this, port);
    if (!lock.Locked())
        return KXAPI_E_INTERNAL;
    result = p.m_pDemod->Init(*p.m_pI2c, false);
    if (KxapiSucceeded(result))
        result = p.m_pI2c->Enable(true);
    if (KxapiFailed(result))
        return KXAPI_E_INTERNAL;
    result = p.m_pTuner->Init(TUNER_I2C_ADDRESS, TUNER_INIT_MODE, *p.m_pI2c);
    if (KxapiSucceeded(result))
        result = p.m_pTuner->EnableRfLoopThrough(false);
    if (KxapiSucceeded(result))
        result = p.m_pTuner->EnableMasterTunerOutput(GetMasterIndex(port) == -1);
    const KXAPI_RESULT disable = p.m_pI2c->Enable(false);
    return KxapiFailed(result) || KxapiFailed(disable) ? KXAPI_E_INTERNAL : KXAPI_OK;
}

KXAPI_RESULT Kx3530Hal::InitPort(int port)
{
    KXAPI_RESULT result = InitPortDevice(port);
    if (KxapiFailed(result))
        return result;
    Port& p = PortOf(port);
    p.m_TunedFreqHz = POWER_ON_FREQ_HZ;
    p.m_ModType = POWER_ON_MOD_TYPE;
    {
        ChipLock lock(*this, port);
        if (!lock.Locked())
            return lock.Result();
        if (KxapiFailed(p.m_pTuner->SetFrequency(POWER_ON_FREQ_HZ, TUNER_TUNE_MODE)) ||
            KxapiFailed(p.m_pTuner->SetBandwidth(SettingsOfAnnex(2).m_TunerBandwidth)))
            return KXAPI_E_INTERNAL;
    }
    int code = 0;
    ModulationCode(POWER_ON_MOD_TYPE, code);
    const AnnexSettings annex = SettingsOfAnnex(2);
    p.m_pDemod->SetModulationCode(code);
    p.m_pDemod->SetAnnexBMode(annex.m_AnnexB);
    p.m_pDemod->SetSpectrumSettings(annex.m_Spectrum[0], annex.m_Spectrum[1]);
    p.m_pDemod->SetSymbolRate(false, POWER_ON_SYMBOL_RATE_BD);
    GetRfLevelTables(port, &p.m_Cal); // a card without tables gets no correction
    p.m_Initialised = true;
    return KXAPI_OK;
}

KXAPI_RESULT Kx3530Hal::Tune(int port, bool)
{
    KXAPI_RESULT result = CheckDevicePort(port);
    if (KxapiFailed(result))
        return result;
    Port& p = PortOf(port);
    if (!p.m_Initialised)
        return KXAPI_E_INIT_ERROR;
    ChipLock lock(*this, port);
    if (!lock.Locked())
        return lock.Result();
    const KXAPI_RESULT acquired = Acquire(p, p.m_TunedFreqHz, TUNER_TUNE_MODE);
    result = lock.Unlock();
    return KxapiFailed(result) ? result : acquired;
}

KXAPI_RESULT Kx3530Hal::ResetAgc(int port, unsigned int mode, bool execute)
{
    KXAPI_RESULT result = CheckDevicePort(port);
    if (KxapiFailed(result))
        return result;
    if (mode > 1)
        return KXAPI_E_INVALID_PARS;
    if (!execute)
        return KXAPI_OK;
    ChipLock lock(*this, port);
    if (!lock.Locked())
        return lock.Result();
    return KxapiFailed(PortOf(port).m_pTuner->SetAgc1Running(mode != 1)) ? KXAPI_E_DEV_DRIVER : KXAPI_OK;
}

KXAPI_RESULT Kx3530Hal::GetTemperature(int port, int& degreesC)
{
    KXAPI_RESULT result = CheckDevicePort(port);
    if (KxapiFailed(result))
        return result;
    Port& p = PortOf(port);
    if (p.m_pTuner == nullptr)
        return KXAPI_E_INTERNAL;
    int tunerC = 0;
    {
        ChipLock lock(*this, port);
        if (!lock.Locked())
            return lock.Result();
        if (KxapiFailed(p.m_pTuner->GetTemperature(tunerC)))
            return KXAPI_E_DEV_DRIVER;
    }
    if (tunerC > TUNER_TEMP_TRUSTED_ABOVE_C) {
        degreesC = tunerC;
        return KXAPI_OK;
    }
    // The board sensor: two sensing points, registers 0 and 1, 14 degrees below the board.
    I2cAutoLock lock(m_Device, I2C_LOCK_TIMEOUT_MS);
    if (!lock.Locked())
        return lock.Result();
    signed char readings[2] = {};
    for (unsigned char reg = 0; reg < 2; reg++) {
        result = m_Device.I2CWrite(TEMP_SENSOR_I2C_ADDRESS, &reg, 1);
        if (KxapiSucceeded(result))
            result = m_Device.I2CRead(TEMP_SENSOR_I2C_ADDRESS, reinterpret_cast<unsigned char*>(&readings[reg]), 1);
        if (KxapiFailed(result))
            return result;
    }
    degreesC = ((readings[0] + readings[1] + 1) >> 1) + 14;
    return KXAPI_OK;
}

KXAPI_RESULT Kx3530Hal::ReadLevels(int port, LevelReadings& r)
{
    Port& p = PortOf(port);
    {
        ChipLock lock(*this, port);
        if (!lock.Locked()) {
            r.m_TunerResult = r.m_DemodAgcResult = lock.Result();
        } else {
            r.m_TunerResult = FirstFailure({p.m_pTuner->GetRfBand(r.m_Band), p.m_pTuner->GetAgc1(r.m_Agc1),
                                            p.m_pTuner->GetAgc2(r.m_Agc2)});
            r.m_DemodAgcResult = p.m_pDemod->ReadAgc(r.m_DemodAgc);
        }
    }
    const int master = GetMasterIndex(port);
    if (master >= 0) {
        ChipLock lock(*this, master + 1);
        r.m_MasterResult = lock.Locked() ? m_Ports[master].m_pTuner->GetAgc1(r.m_MasterAgc1) : lock.Result();
    }
    r.m_TempResult = GetTemperature(port, r.m_TempC);
    return FirstFailure({r.m_TunerResult, r.m_DemodAgcResult, r.m_MasterResult, r.m_TempResult});
}

KXAPI_RESULT Kx3530Hal::GetStatistics(int port, int count, KxStatistic* stats)
{
    KXAPI_RESULT result = CheckDevicePort(port);
    if (KxapiFailed(result))
        return result;
    if (count < 0 || (count > 0 && stats == nullptr))
        return KXAPI_E_INVALID_ARG;
    Port& p = PortOf(port);

    // Each reading is taken once per call, however many statistics it serves.
    DemodReadings demod;
    if (Wants(stats, count, {KX_STAT_BER_PRE_RS, KX_STAT_LOCK, KX_STAT_CARRIER_LOCK, KX_STAT_BAD_PCK_CNT, KX_STAT_MER,
                             KX_STAT_SNR, KX_STAT_CNR})) {
        ChipLock lock(*this, port);
        if (lock.Locked())
            ReadDemod(*p.m_pDemod, stats, count, p.m_BadPacketTotal, p.m_LastBadPackets, demod);
        else
            demod.Fail(lock.Result());
    }
    LevelReadings levels;
    KXAPI_RESULT levelResult = KXAPI_OK;
    if (Wants(stats, count, {KX_STAT_AGC1, KX_STAT_AGC2, KX_STAT_RF_LVL_CHAN, KX_STAT_RF_LVL_UNCALIB,
                             KX_STAT_TEMP_TUNER}))
        levelResult = ReadLevels(port, levels);
    const int uncalibrated = UncalibratedLevel(levels.m_Band, levels.m_Agc1, levels.m_Agc2, levels.m_DemodAgc,
                                               levels.m_MasterAgc1);

    for (int i = 0; i < count; i++) {
        KxStatistic& stat = stats[i];
        if (AnswerDemod(stat, demod, p.m_ModType, p.m_BadPacketTotal))
            continue;
        switch (stat.m_StatisticId) {
        case KX_STAT_AGC1:
            Answer(stat, levels.m_TunerResult,
                   static_cast<int32_t>(levels.m_Band * 10000000 + levels.m_Agc1 * 1000000 + levels.m_Agc2),
                   int32_t(-1));
            break;
        case KX_STAT_AGC2:
            Answer(stat, levels.m_DemodAgcResult, static_cast<int32_t>(levels.m_DemodAgc), int32_t(-1));
            break;
        case KX_STAT_RF_LVL_UNCALIB:
            Answer(stat, levelResult, static_cast<int32_t>(uncalibrated + DBMV_OFFSET_TENTHS), int32_t(-1));
            break;
        case KX_STAT_RF_LVL_CHAN: {
            const int calibrated = p.m_Cal.RfCalCorrection(
                uncalibrated, static_cast<unsigned int>(p.m_TunedFreqHz / 1000000), levels.m_TempC);
            Answer(stat, levelResult, static_cast<int32_t>(calibrated + DBMV_OFFSET_TENTHS), int32_t(-1));
            break;
        }
        case KX_STAT_TEMP_TUNER:
            Answer(stat, levels.m_TempResult, static_cast<int32_t>(levels.m_TempC), int32_t(-1));
            break;
        default:
            stat.m_Result = static_cast<int32_t>(KXAPI_E_NOT_SUPPORTED);
            break;
        }
    }
    return KXAPI_OK;
}
