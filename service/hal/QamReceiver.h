// What the cable QAM receivers built from the TDA10024 demodulator and the TDA18252 tuner
// (Kx3530Hal, Kxa3490Hal) share: the parameter rules and chip-code mappings, MER from the
// demodulator's MSE register, the bad-packet total, and the port's I2C accessor through which
// both chip drivers reach the bus.
#pragma once

#include <cstdint>

#include <initializer_list>

#include "DemodPars.h"
#include "KxDemodTypes.h"
#include "KxStatistic.h"
#include "ITda10024.h"
#include "ITda18252.h"
#include "KxDevice.h"
#include "KxNonCopyable.h"
#include "KxapiResult.h"

namespace QamReceiver {

constexpr long long MIN_FREQ_HZ = 54000000;
constexpr long long MAX_FREQ_HZ = 1002000000;
constexpr long long POWER_ON_FREQ_HZ = 474000000;
constexpr int MIN_SYMBOL_RATE_BD = 5000000;
constexpr int MAX_SYMBOL_RATE_BD = 7100000;
constexpr int AUTO_SYMBOL_RATE = -1;
constexpr int POWER_ON_SYMBOL_RATE_BD = 6875000;
constexpr int POWER_ON_MOD_TYPE = Kxapi::KX_MOD_QAM64;
// The bad-packet total stays at or below BAD_PACKET_TOTAL_MAX: above it, BAD_PACKET_TOTAL_WRAP
// is taken off.
constexpr long long BAD_PACKET_TOTAL_MAX = 2147483646;
constexpr long long BAD_PACKET_TOTAL_WRAP = 2147483647;
// The demodulator register holding the equaliser's MSE.
constexpr uint8_t MSE_REGISTER = 24;
// Bits per BER count of the demodulator.
constexpr double BER_WINDOW_BITS = 100000000.0;

// One row of an MSE-to-MER table.
struct MseToMerRow {
    double m_MerDb;
    uint8_t m_Mse;
};

// The demodulator settings of an annex, and the tuner's IF filter code for it.
struct AnnexSettings {
    bool m_AnnexB;
    int m_Spectrum[2];
    int m_TunerBandwidth;
};

// KXAPI_E_INVALID_MODE unless a QAM type other than automatic QAM, KXAPI_E_INVALID_J83ANNEX
// unless annex 1, 2 or 3, KXAPI_E_INVALID_SYMRATE unless 5,000,000..7,100,000 Bd or -1.
KXAPI_RESULT CheckPars(const Kxapi::KxDemodPars& pars);
// KXAPI_E_INVALID_RATE outside MIN_FREQ_HZ..MAX_FREQ_HZ.
KXAPI_RESULT CheckFrequency(long long freqHz);
// The demodulator's modulation code of a QAM type (3..8); false for any other type.
bool ModulationCode(int modType, int& code);
// The settings of annex 1, 2 or 3 (anything else: annex 2's).
AnnexSettings SettingsOfAnnex(int annex);
// The parameters the demodulator works with: the type of the modulation code; for a QAM type
// annex 3 with the interleaving when the annex-B mode is on, else annex 2 or 1 by the first
// spectrum setting (15 for another setting), and the symbol rate. Returns the type.
int ParsFromChip(int code, int interleavingCode, bool annexB, int firstSpectrum, int rateBd, Kxapi::KxDemodPars& pars);
// MER (dB) of an MSE reading by the table (rows in falling MER order, rising MSE), interpolated
// between rows; the first row's MER below it, the last row's past it.
double ConvMseToMer(const MseToMerRow* table, int mse, int rows);
// MER, SNR and CNR value (tenths of a dB) of an MSE reading for a modulation type: the QAM-16,
// -32, -64 or -256 table, the QAM-16 table for any other type.
int MerTenthsFromMse(int modType, int mse);
// Adds a new reading of the demodulator's (wrapping 32-bit) bad-packet counter to the total.
void AccumulateBadPackets(long long& total, uint32_t& lastCount, uint32_t count);
// Driver results where only the not-locked bit is set count as success.
inline KXAPI_RESULT LockReadResult(KXAPI_RESULT result)
{
    return (result & ~TDA10024_NOT_LOCKED) == 0 ? KXAPI_OK : result;
}
// A demodulator result other than 0 and not-locked: KXAPI_E_DEV_DRIVER.
inline KXAPI_RESULT DemodResult(KXAPI_RESULT result)
{
    return result == KXAPI_OK || result == TDA10024_NOT_LOCKED ? KXAPI_OK : KXAPI_E_DEV_DRIVER;
}

// Sets the demodulator's modulation code, annex settings and symbol rate of checked QAM
// parameters (taken by its next Acquire); the tuner's IF filter code for them, or -1 for a type
// without a modulation code.
int ApplyDemodPars(ITda10024& demod, const Kxapi::KxDemodPars& pars);
// The parameters the demodulator works with (see ParsFromChip); KXAPI_E_DEV_DRIVER for a
// driver failure. The caller holds the port's lock.
KXAPI_RESULT ReadDemodPars(ITda10024& demod, Kxapi::KxDemodPars& pars, int& modType);
// count points X = I x 128, Y = Q x 128 read from the demodulator; KXAPI_E_DEV_DRIVER on
// failure. The caller holds the port's lock.
KXAPI_RESULT ReadConstellation(ITda10024& demod, int count, Kxapi::KxConstelPoint* points);

// True when any of stats has one of ids.
bool Wants(const Kxapi::KxStatistic* stats, int count, std::initializer_list<int32_t> ids);
// A statistic's result and, on failure, failedValue in place of value.
template <typename T> void Answer(Kxapi::KxStatistic& stat, KXAPI_RESULT result, T value, T failedValue)
{
    stat.m_Result = static_cast<int32_t>(result);
    stat.SetValue(KxapiSucceeded(result) ? value : failedValue);
}

// The demodulator's readings of one statistics call, each taken once.
struct DemodReadings {
    KXAPI_RESULT m_BerResult = KXAPI_OK;
    KXAPI_RESULT m_LockResult = KXAPI_OK;
    KXAPI_RESULT m_BadResult = KXAPI_OK;
    KXAPI_RESULT m_MseResult = KXAPI_OK;
    uint32_t m_BerCount = 0;
    bool m_FecLock = false;
    bool m_CarrierLock = false;
    uint8_t m_Mse = 0;
    // Every reading failed with result (the port's lock was not obtained).
    void Fail(KXAPI_RESULT result) { m_BerResult = m_LockResult = m_BadResult = m_MseResult = result; }
};
// Takes the readings the requested statistics need and adds a bad-packet reading to the total.
// The caller holds the port's lock.
void ReadDemod(ITda10024& demod, const Kxapi::KxStatistic* stats, int count, long long& badPacketTotal,
               uint32_t& lastBadPackets, DemodReadings& readings);
// Answers a statistic served by the demodulator (BER, locks, bad packets, MER, SNR, CNR) with
// the MER table of modType; false for any other id.
bool AnswerDemod(Kxapi::KxStatistic& stat, const DemodReadings& readings, int modType, long long badPacketTotal);

// The bus access of one port's two chips: the device's I2C transfers of the port (0-based,
// -1 for the device-level bus) with bus -1. Enable counts: the first switch on and the last
// switch off open and close the demodulator's tuner gate; other calls only count.
class PortI2c : public ITda10024I2c, public ITda18252I2c, private KxNonCopyable {
public:
    PortI2c(Kxapi::KxDevice& device, ITda10024& demod, int portIndex)
        : m_Device(device), m_Demod(demod), m_PortIndex(portIndex)
    {
    }
    KXAPI_RESULT Read(int address, unsigned char* buffer, int length) override;
    KXAPI_RESULT Write(int address, const unsigned char* buffer, int length) override;
    KXAPI_RESULT Enable(bool on) override;
    int EnableCount() const { return m_EnableCount; }

private:
    Kxapi::KxDevice& m_Device;
    ITda10024& m_Demod;
    int m_PortIndex;
    int m_EnableCount = 0;
};

} // namespace QamReceiver
