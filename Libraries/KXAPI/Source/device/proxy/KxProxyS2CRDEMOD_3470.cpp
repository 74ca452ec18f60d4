#include "KxProxyS2CRDEMOD_3470.h"

#include <cmath>

namespace {

const int ROLL_OFF_BY_CODE[] = {0xFF00, 2048, 1792, 1536, 1280, 1024, 768}; // codes -1..5
constexpr int64_t MIN_SYMBOL_RATE = 80001, MAX_SYMBOL_RATE = 72000000;
constexpr int64_t MAX_SAMPLE_RATE = 160000000;
constexpr int MAX_DOUBLINGS = 9;

// The API's spectrum-inversion values and the block's codes swap 1 and 2.
int SwapInversion(int value)
{
    return value == 1 ? 2 : value == 2 ? 1 : value;
}

} // namespace

bool KxProxyS2CRDEMOD_3470::RollOffFromCode(int32_t code, int& rollOff)
{
    if (code < -1 || code > 5)
        return false;
    rollOff = ROLL_OFF_BY_CODE[code + 1];
    return true;
}

double KxProxyS2CRDEMOD_3470::SnrFromReadings(uint32_t signal, uint32_t noise)
{
    if (noise == 0)
        return 2147483647.0;
    if (signal == 0)
        return -2147483648.0;
    return 10.0 * std::log10(static_cast<double>(signal) * 16384.0 / static_cast<double>(noise));
}

int64_t KxProxyS2CRDEMOD_3470::SymbolRateFromWords(int64_t sampleRateHz, int32_t w0, int32_t w3)
{
    if (w0 <= 0 || w3 <= 0)
        return 0;
    return std::llround(static_cast<double>(sampleRateHz) * 65536.0 / (static_cast<double>(w3) * w0));
}

KXAPI_RESULT KxProxyS2CRDEMOD_3470::FreqOffsetFromWords(int64_t sampleRateHz, uint32_t w0, int32_t w2,
                                                        int64_t& offsetHz)
{
    if (w2 == 0)
        return KXAPI_E_INTERNAL;
    int32_t value = static_cast<int32_t>(w0 & 0xFFFFF);
    if ((value & 0x80000) != 0)
        value -= 0x100000;
    double offset = static_cast<double>(value) / 1048576.0 * static_cast<double>(sampleRateHz) / w2;
    offsetHz = std::llround(offset); // halves away from zero
    return KXAPI_OK;
}

KXAPI_RESULT KxProxyS2CRDEMOD_3470::SymbolRateWords(int64_t sampleRateHz, int64_t symbolRateBd,
                                                    uint32_t& decimation, uint32_t& ratio16, uint32_t& ratio)
{
    if (symbolRateBd < MIN_SYMBOL_RATE || symbolRateBd > MAX_SYMBOL_RATE || sampleRateHz < 1 ||
        sampleRateHz > MAX_SAMPLE_RATE)
        return KXAPI_E_INVALID_SYMRATE;
    for (int doublings = 0, k = 1; doublings <= MAX_DOUBLINGS; doublings++, k *= 2) {
        // sample rate / (rate * k) < 7.8125 = 125 / 16, compared exactly in integers.
        int64_t denominator = symbolRateBd * k;
        if (sampleRateHz * 16 < denominator * 125) {
            decimation = static_cast<uint32_t>(k);
            ratio16 = static_cast<uint32_t>(std::llround(static_cast<double>(sampleRateHz) * 65536.0 / denominator));
            ratio = static_cast<uint32_t>(std::llround(static_cast<double>(sampleRateHz) / denominator));
            return KXAPI_OK;
        }
    }
    return KXAPI_E_INVALID_SYMRATE;
}

KXAPI_RESULT KxProxyS2CRDEMOD_3470::GetOperationalMode(int& mode)
{
    uint32_t answer = 0;
    KXAPI_RESULT result = Command(KX_REQ_S2CRDEMOD_3470, CMD_GET_OPERATIONAL_MODE, nullptr, 0, &answer, 1);
    if (KxapiFailed(result))
        return result;
    if (answer != 0 && answer != 2)
        return KXAPI_E_DEV_DRIVER;
    mode = static_cast<int>(answer);
    return result;
}

KXAPI_RESULT KxProxyS2CRDEMOD_3470::GetRollOff(int& rollOff)
{
    uint32_t answer = 0;
    KXAPI_RESULT result = Command(KX_REQ_S2CRDEMOD_3470, CMD_GET_ROLL_OFF, nullptr, 0, &answer, 1);
    if (KxapiFailed(result))
        return result;
    return RollOffFromCode(static_cast<int32_t>(answer), rollOff) ? result : KXAPI_E_DEV_DRIVER;
}

KXAPI_RESULT KxProxyS2CRDEMOD_3470::GetSnr(double& snrDb)
{
    uint32_t answer[2] = {};
    KXAPI_RESULT result = Command(KX_REQ_S2CRDEMOD_3470, CMD_GET_SNR, nullptr, 0, answer, 2);
    if (KxapiSucceeded(result))
        snrDb = SnrFromReadings(answer[0], answer[1]);
    return result;
}

KXAPI_RESULT KxProxyS2CRDEMOD_3470::GetSpectrumInversion(int& inversion)
{
    uint32_t answer = 0;
    KXAPI_RESULT result = Command(KX_REQ_S2CRDEMOD_3470, CMD_GET_SPECTRUM_INVERSION, nullptr, 0, &answer, 1);
    if (KxapiFailed(result))
        return result;
    if (answer > 2)
        return KXAPI_E_DEV_DRIVER;
    inversion = SwapInversion(static_cast<int>(answer));
    return result;
}

KXAPI_RESULT KxProxyS2CRDEMOD_3470::GetStatus(bool& flag0, bool& flag1, bool& flag2, uint32_t& word3)
{
    uint32_t answer[4] = {};
    KXAPI_RESULT result = Command(KX_REQ_S2CRDEMOD_3470, CMD_GET_STATUS, nullptr, 0, answer, 4);
    if (KxapiFailed(result))
        return result;
    flag0 = answer[0] != 0;
    flag1 = answer[1] != 0;
    flag2 = answer[2] != 0;
    word3 = answer[3];
    return result;
}

KXAPI_RESULT KxProxyS2CRDEMOD_3470::GetSymbolRate(int64_t sampleRateHz, int64_t& symbolRateBd)
{
    uint32_t answer[4] = {};
    KXAPI_RESULT result = Command(KX_REQ_S2CRDEMOD_3470, CMD_GET_SYMBOL_RATE, nullptr, 0, answer, 4);
    if (KxapiSucceeded(result))
        symbolRateBd = SymbolRateFromWords(sampleRateHz, static_cast<int32_t>(answer[0]), static_cast<int32_t>(answer[3]));
    return result;
}

KXAPI_RESULT KxProxyS2CRDEMOD_3470::SetOperationalMode(int mode)
{
    if (mode != 0 && mode != 2)
        return KXAPI_E_INVALID_ARG;
    uint32_t word = static_cast<uint32_t>(mode);
    return Command(KX_REQ_S2CRDEMOD_3470, CMD_SET_OPERATIONAL_MODE, &word, 1, nullptr, 0);
}

KXAPI_RESULT KxProxyS2CRDEMOD_3470::SetSpectrumInversion(int inversion)
{
    if (inversion < 0 || inversion > 2)
        return KXAPI_E_INVALID_ARG;
    uint32_t word = static_cast<uint32_t>(SwapInversion(inversion));
    return Command(KX_REQ_S2CRDEMOD_3470, CMD_SET_SPECTRUM_INVERSION, &word, 1, nullptr, 0);
}

KXAPI_RESULT KxProxyS2CRDEMOD_3470::SetSymbolRate(int64_t sampleRateHz, int64_t symbolRateBd)
{
    uint32_t words[3] = {};
    KXAPI_RESULT result = SymbolRateWords(sampleRateHz, symbolRateBd, words[0], words[1], words[2]);
    if (KxapiFailed(result))
        return result;
    return Command(KX_REQ_S2CRDEMOD_3470, CMD_SET_SYMBOL_RATE, words, 3, nullptr, 0);
}

KXAPI_RESULT KxProxyS2CRDEMOD_3470::SoftReset()
{
    return Command(KX_REQ_S2CRDEMOD_3470, CMD_SOFT_RESET, nullptr, 0, nullptr, 0);
}

KXAPI_RESULT KxProxyS2CRDEMOD_3470::GetCounters(uint32_t counters[5])
{
    return Command(KX_REQ_S2CRDEMOD_3470, CMD_GET_COUNTERS, nullptr, 0, counters, 5);
}

KXAPI_RESULT KxProxyS2CRDEMOD_3470::GetFreqOffset(int64_t sampleRateHz, int64_t& offsetHz)
{
    uint32_t answer[3] = {};
    KXAPI_RESULT result = Command(KX_REQ_S2CRDEMOD_3470, CMD_GET_FREQ_OFFSET, nullptr, 0, answer, 3);
    if (KxapiFailed(result))
        return result;
    return FreqOffsetFromWords(sampleRateHz, answer[0], static_cast<int32_t>(answer[2]), offsetHz);
}

KXAPI_RESULT KxProxyS2CRDEMOD_3470::DemodReset()
{
    return Command(KX_REQ_S2CRDEMOD_3470, CMD_DEMOD_RESET, nullptr, 0, nullptr, 0);
}

KXAPI_RESULT KxProxyS2CRDEMOD_3470::GetPlInformation(int& mode, uint32_t& value)
{
    uint32_t answer[2] = {};
    KXAPI_RESULT result = Command(KX_REQ_S2CRDEMOD_3470, CMD_GET_PL_INFORMATION, nullptr, 0, answer, 2);
    if (KxapiFailed(result))
        return result;
    if (answer[0] > 2)
        return KXAPI_E_DEV_DRIVER;
    mode = static_cast<int>(answer[0]);
    value = answer[1];
    return result;
}

KXAPI_RESULT KxProxyS2CRDEMOD_3470::SetPlInformation(int mode, uint32_t value)
{
    if (mode < 0 || mode > 2)
        return KXAPI_E_INVALID_ARG;
    uint32_t words[2] = {static_cast<uint32_t>(mode), value};
    return Command(KX_REQ_S2CRDEMOD_3470, CMD_SET_PL_INFORMATION, words, 2, nullptr, 0);
}
