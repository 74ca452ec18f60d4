// The satellite demodulator block of the 3470: carrier recovery, symbol rate, roll-off,
// spectrum inversion, SNR, counters and physical-layer information.
#pragma once

#include <cstdint>

#include "KxProxy.h"

constexpr uint32_t KX_REQ_S2CRDEMOD_3470 = 0xC01CCD81;

class KxProxyS2CRDEMOD_3470 : public KxProxyBase<KX_PROXY_S2CRDEMOD_3470> {
public:
    using KxProxyBase::KxProxyBase;

    enum S2CrDemodCmd : uint32_t {
        CMD_GET_OPERATIONAL_MODE = 0,
        CMD_GET_ROLL_OFF = 1,
        CMD_GET_SNR = 2,
        CMD_GET_SPECTRUM_INVERSION = 3,
        CMD_GET_STATUS = 4,
        CMD_GET_SYMBOL_RATE = 5,
        CMD_SET_OPERATIONAL_MODE = 6,
        CMD_SET_SPECTRUM_INVERSION = 7,
        CMD_SET_SYMBOL_RATE = 8,
        CMD_SOFT_RESET = 9,
        CMD_GET_COUNTERS = 10,
        CMD_GET_FREQ_OFFSET = 11,
        CMD_DEMOD_RESET = 12,
        CMD_GET_PL_INFORMATION = 13,
        CMD_SET_PL_INFORMATION = 14,
    };

    // Mode 0 (stopped) or 2 (running); anything else from the block is KXAPI_E_DEV_DRIVER.
    KXAPI_RESULT GetOperationalMode(int& mode);
    // Roll-off code -1..5 as 0xFF00, 2048, 1792, 1536, 1280, 1024, 768.
    KXAPI_RESULT GetRollOff(int& rollOff);
    // 10 log10(signal * 16384 / noise) dB; noise 0 gives 2147483647.0, signal 0 -2147483648.0.
    KXAPI_RESULT GetSnr(double& snrDb);
    // 0 none, 1 inverted, 2 automatic (the block's codes 0, 2, 1).
    KXAPI_RESULT GetSpectrumInversion(int& inversion);
    KXAPI_RESULT GetStatus(bool& flag0, bool& flag1, bool& flag2, uint32_t& word3);
    KXAPI_RESULT GetSymbolRate(int64_t sampleRateHz, int64_t& symbolRateBd);
    KXAPI_RESULT SetOperationalMode(int mode);
    KXAPI_RESULT SetSpectrumInversion(int inversion);
    // Symbol rates 80,001..72,000,000 Bd, sample rates 1..160,000,000 Hz.
    KXAPI_RESULT SetSymbolRate(int64_t sampleRateHz, int64_t symbolRateBd);
    KXAPI_RESULT SoftReset();
    KXAPI_RESULT GetCounters(uint32_t counters[5]);
    KXAPI_RESULT GetFreqOffset(int64_t sampleRateHz, int64_t& offsetHz);
    KXAPI_RESULT DemodReset();
    KXAPI_RESULT GetPlInformation(int& mode, uint32_t& value);
    KXAPI_RESULT SetPlInformation(int mode, uint32_t value);

    // Conversions, also used by the virtual block.
    static bool RollOffFromCode(int32_t code, int& rollOff);
    static double SnrFromReadings(uint32_t signal, uint32_t noise);
    static int64_t SymbolRateFromWords(int64_t sampleRateHz, int32_t w0, int32_t w3);
    static KXAPI_RESULT FreqOffsetFromWords(int64_t sampleRateHz, uint32_t w0, int32_t w2, int64_t& offsetHz);
    // The decimation factor and the two fixed-point words sent by SetSymbolRate:
    // ratio16 = round(sample rate * 65536 / (symbol rate * k)), ratio = round(sample rate / (rate * k)).
    static KXAPI_RESULT SymbolRateWords(int64_t sampleRateHz, int64_t symbolRateBd, uint32_t& decimation,
                                        uint32_t& ratio16, uint32_t& ratio);
};
