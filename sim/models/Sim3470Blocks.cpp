#include "Sim3470Blocks.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "CritSecAutoLock.h"
#include "KxWire.h"
#include "SimBlockModels.h"
#include "SimDriverStatus.h"
#include "KxProxyS2CRDEMOD_3470.h"
#include "Sim3470FrameStats.h"
#include "SimMax2121B.h"
#include "XpUtil.h"

namespace {

constexpr uint32_t OK = 0;
constexpr int MAX_DISEQC_BYTES = 64;
constexpr double NOISE_FLOOR_DBM = -100.0;
constexpr double DBMV_PER_DBM = 48.75; // 75-ohm input
// RMS of the 16-bit samples the gain loop holds at the ADC, and the chain's losses after the
// tuner (low-pass 1.0, scaling 2.2, FIR 6.0 dB).
constexpr double AGC_TARGET_RMS = 8192.0;
constexpr double CHAIN_LOSS_DB = 9.2;

// Power (mW) of the receiver noise and the carriers inside the tuner's low-pass on input.
double InBandMilliwatts(SimCard& card, int input)
{
    const int64_t tunedHz = card.TunedHz(input);
    const int64_t lowPassHz = card.LowPassHz(input);
    double milliwatts = std::pow(10.0, NOISE_FLOOR_DBM / 10.0);
    if (const std::vector<SimCarrier>* carriers = card.Scene().FindInput(input))
        for (const SimCarrier& carrier : *carriers)
            if (std::llabs(carrier.m_FreqHz - tunedHz) <= lowPassHz)
                milliwatts += std::pow(10.0, carrier.m_LevelDbm / 10.0);
    return milliwatts;
}

// FIR filter: GetConfig 0 -> {taps, bits}; SetCoefficients 1 {n, coefficients};
// GetCoefficients 2 {n} -> {count, coefficients}.
class SimFirModel : public ISimBlockModel {
public:
    static constexpr uint32_t NUM_TAPS = 64;
    static constexpr uint32_t COEF_BITS = 16;

    uint32_t Command(const SimBlock&, uint32_t command, const unsigned char* pIn, uint32_t inSize,
                     unsigned char* pOut, uint32_t outCapacity) override
    {
        switch (command) {
        case 0:
            if (outCapacity < 8)
                return SIM_STATUS_BUF_TOO_SMALL;
            KxPutU32(pOut, 0, NUM_TAPS);
            KxPutU32(pOut, 4, COEF_BITS);
            return OK;
        case 1: {
            if (inSize < 4)
                return SIM_STATUS_INVALID_ARG;
            const uint32_t n = KxGetU32(pIn, 0);
            if (n == 0 || n > NUM_TAPS || inSize < 4 + 4 * n)
                return SIM_STATUS_INVALID_ARG;
            m_Coefficients.assign(n, 0);
            for (uint32_t i = 0; i < n; i++)
                m_Coefficients[i] = KxGetU32(pIn, 4 + 4 * i);
            return OK;
        }
        case 2: {
            if (inSize < 4)
                return SIM_STATUS_INVALID_ARG;
            const uint32_t n = std::min<uint32_t>(KxGetU32(pIn, 0), static_cast<uint32_t>(m_Coefficients.size()));
            if (outCapacity < 4 + 4 * n)
                return SIM_STATUS_BUF_TOO_SMALL;
            KxPutU32(pOut, 0, n);
            for (uint32_t i = 0; i < n; i++)
                KxPutU32(pOut, 4 + 4 * i, m_Coefficients[i]);
            return OK;
        }
        default:
            return SIM_STATUS_NOT_SUPPORTED;
        }
    }

private:
    std::vector<uint32_t> m_Coefficients;
};

// Sample-rate converter: SetDivisionFactor 0 {1..32}; GetDivisionFactor 1 -> {factor}.
class SimSampleRateConverterModel : public ISimBlockModel {
public:
    uint32_t Command(const SimBlock&, uint32_t command, const unsigned char* pIn, uint32_t inSize,
                     unsigned char* pOut, uint32_t outCapacity) override
    {
        if (command == 0) {
            if (inSize < 4 || KxGetU32(pIn, 0) < 1 || KxGetU32(pIn, 0) > 32)
                return SIM_STATUS_INVALID_ARG;
            m_Factor = KxGetU32(pIn, 0);
            return OK;
        }
        if (command == 1) {
            if (outCapacity < 4)
                return SIM_STATUS_BUF_TOO_SMALL;
            KxPutU32(pOut, 0, m_Factor);
            return OK;
        }
        return SIM_STATUS_NOT_SUPPORTED;
    }

private:
    uint32_t m_Factor = 1;
};

// Gain DAC: GetGainStatus 0 -> {status, gain}; SetGainCtrlPars 1 {five values};
// SetOperationalMode 2 {mode}. Once its control loop is set up (status 1) it holds the power at
// the ADC at AGC_TARGET_RMS: the gain word follows the power inside the tuner's low-pass (more
// gain for a weaker input), along the receive chain's gain law (90.55 dB less 2.73 x 40.5 dB
// over the 4096 steps, after the tuner's baseband gain and 9.2 dB of filter and scaling loss).
class SimGainDacModel : public ISimBlockModel {
public:
    explicit SimGainDacModel(SimCard* pCard) : m_pCard(pCard) {}
    uint32_t Command(const SimBlock& block, uint32_t command, const unsigned char* pIn, uint32_t inSize,
                     unsigned char* pOut, uint32_t outCapacity) override
    {
        switch (command) {
        case 0: {
            if (outCapacity < 8)
                return SIM_STATUS_BUF_TOO_SMALL;
            CritSecAutoLock lock(m_pCard->Lock());
            const int input = block.m_Port < 0 ? 0 : block.m_Port;
            const double levelDbmv = 10.0 * std::log10(InBandMilliwatts(*m_pCard, input)) + DBMV_PER_DBM;
            const SimMax2121B* pTuner = Sim3470Tuner(*m_pCard);
            const double basebandGainDb = pTuner != nullptr ? pTuner->BasebandGain() : 0;
            const double neededGainDb = 20.0 * std::log10(AGC_TARGET_RMS / 32768.0 * 1000.0) - levelDbmv -
                                        basebandGainDb + CHAIN_LOSS_DB;
            const double word = (90.55 - neededGainDb) / (2.73 * 40.5) * 4096.0;
            KxPutU32(pOut, 0, m_Configured ? 1 : 0);
            KxPutU32(pOut, 4, m_Configured ? static_cast<uint32_t>(std::lround(std::clamp(word, 0.0, 4095.0))) : 0);
            return OK;
        }
        case 1:
            if (inSize < 20)
                return SIM_STATUS_INVALID_ARG;
            m_Configured = true;
            return OK;
        case 2:
            return inSize >= 4 && KxGetU32(pIn, 0) <= 2 ? OK : SIM_STATUS_INVALID_ARG;
        default:
            return SIM_STATUS_NOT_SUPPORTED;
        }
    }

private:
    SimCard* m_pCard;
    bool m_Configured = false;
};

constexpr int64_t DEMOD_SAMPLE_RATE_HZ = 160000000;

// The DVB-S2 carrier under the frequency the card's tuner is tuned to on input; null when none.
const SimCarrier* TunedS2Carrier(SimCard& card, int input)
{
    const SimCarrier* pCarrier = card.Scene().CarrierAt(input, card.TunedHz(input));
    return pCarrier != nullptr && pCarrier->m_Standard.compare(0, 6, "DVB-S2") == 0 ? pCarrier : nullptr;
}

// The physical-layer signalling code of a carrier's frames (normal frames, no pilots).
uint32_t CarrierPls(const SimCarrier& carrier)
{
    return static_cast<uint32_t>(Sim3470Frames::PlsOf(carrier));
}

// Roll-off code of the block (0: 0.35 ... 5: 0.05; -1 unknown).
int32_t RollOffCode(int percent)
{
    switch (percent) {
    case 35: return 0;
    case 25: return 1;
    case 20: return 2;
    case 15: return 3;
    case 10: return 4;
    case 5: return 5;
    default: return -1;
    }
}

// Satellite demodulator of the 3470 (commands 0..14 of its proxy). It locks on the DVB-S2
// carrier under the tuned frequency once the programmed symbol rate is within 1 % of the
// carrier's, the carrier lies within a quarter of its symbol rate of the tuned frequency, its
// C/N is above the threshold, the PL information (mode 1: a given PLS) fits its frames and the
// carrier's lock time has passed since the last reset, symbol-rate change or retune. Locked, it
// reports the carrier's symbol rate, roll-off and offset from the tuned frequency.
class SimS2Demod3470Model : public ISimBlockModel {
public:
    explicit SimS2Demod3470Model(SimCard* pCard) : m_pCard(pCard) {}
    uint32_t Command(const SimBlock& block, uint32_t command, const unsigned char* pIn, uint32_t inSize,
                     unsigned char* pOut, uint32_t outCapacity) override
    {
        CritSecAutoLock lock(m_pCard->Lock());
        const int input = block.m_Port < 0 ? 0 : block.m_Port;
        State& s = m_States[block.m_Uuid];
        s.m_Input = input;
        const unsigned int now = XpUtil::GetTickCount();
        const int64_t tunedHz = m_pCard->TunedHz(input);
        if (tunedHz != s.m_TunedHz) {
            s.m_TunedHz = tunedHz;
            s.m_AcquireStartMs = now;
        }
        const SimCarrier* pCarrier = TunedS2Carrier(*m_pCard, input);
        const bool locked = Locked(s, pCarrier, tunedHz, now);
        auto answer = [&](std::initializer_list<uint32_t> words) -> uint32_t {
            if (outCapacity < 4 * words.size())
                return SIM_STATUS_BUF_TOO_SMALL;
            unsigned int offset = 0;
            for (uint32_t w : words) {
                KxPutU32(pOut, offset, w);
                offset += 4;
            }
            return OK;
        };
        switch (command) {
        case 0:
            return answer({static_cast<uint32_t>(s.m_Mode)});
        case 1:
            return answer({static_cast<uint32_t>(locked ? RollOffCode(pCarrier->m_RollOffPercent) : -1)});
        case 2: {
            if (!locked)
                return answer({0, 16384});
            const double mer = SimRf::MerDb(*pCarrier, m_pCard->Random());
            return answer({static_cast<uint32_t>(std::lround(std::pow(10.0, mer / 10.0) * 1024.0)), 16384u * 1024u});
        }
        case 3:
            return answer({static_cast<uint32_t>(s.m_Inversion)});
        case 4:
            return answer({locked ? 1u : 0u, locked ? 1u : 0u, locked ? 1u : 0u, 0});
        case 5: {
            uint32_t decimation = s.m_Decimation, ratio16 = s.m_Ratio16, ratio = 0;
            if (locked)
                KxProxyS2CRDEMOD_3470::SymbolRateWords(DEMOD_SAMPLE_RATE_HZ, pCarrier->m_SymbolRateBd, decimation,
                                                       ratio16, ratio);
            return answer({decimation, 0, 0, ratio16});
        }
        case 6:
            if (inSize < 4 || (KxGetU32(pIn, 0) != 0 && KxGetU32(pIn, 0) != 2))
                return SIM_STATUS_INVALID_ARG;
            s.m_Mode = static_cast<int>(KxGetU32(pIn, 0));
            s.m_AcquireStartMs = now;
            return OK;
        case 7:
            if (inSize < 4 || KxGetU32(pIn, 0) > 2)
                return SIM_STATUS_INVALID_ARG;
            s.m_Inversion = static_cast<int>(KxGetU32(pIn, 0));
            return OK;
        case 8:
            if (inSize < 12 || KxGetU32(pIn, 0) == 0 || KxGetU32(pIn, 4) == 0)
                return SIM_STATUS_INVALID_ARG;
            s.m_Decimation = KxGetU32(pIn, 0);
            s.m_Ratio16 = KxGetU32(pIn, 4);
            s.m_AcquireStartMs = now;
            return OK;
        case 9:
        case 12:
            std::fill(std::begin(s.m_Counters), std::end(s.m_Counters), 0u);
            s.m_AcquireStartMs = now;
            return OK;
        case 10:
            if (locked)
                s.m_Counters[0] += 1000; // frames received since the last read
            return answer({s.m_Counters[0], s.m_Counters[1], s.m_Counters[2], s.m_Counters[3], s.m_Counters[4]});
        case 11: {
            // Offset of the carrier from the tuned frequency in 2^-20 of the sample rate.
            int64_t offsetHz = CarrierHeld(s, pCarrier, tunedHz) ? SimRf::CarrierOffsetHz(*pCarrier, tunedHz) : 0;
            const int64_t value = std::llround(static_cast<double>(offsetHz) * 1048576.0 / DEMOD_SAMPLE_RATE_HZ);
            return answer({static_cast<uint32_t>(value) & 0xFFFFFu, 0, 1});
        }
        case 13:
            return answer({static_cast<uint32_t>(s.m_PlMode), s.m_PlValue});
        case 14:
            if (inSize < 8 || KxGetU32(pIn, 0) > 2)
                return SIM_STATUS_INVALID_ARG;
            s.m_PlMode = static_cast<int>(KxGetU32(pIn, 0));
            s.m_PlValue = KxGetU32(pIn, 4);
            s.m_AcquireStartMs = now;
            return OK;
        default:
            return SIM_STATUS_NOT_SUPPORTED;
        }
    }

    // Whether the demodulator of RF input `input` is locked on the carrier under the tuned
    // frequency now, and since when (tick count) it is.
    bool LockedSince(int input, unsigned int& sinceMs)
    {
        CritSecAutoLock lock(m_pCard->Lock());
        const unsigned int now = XpUtil::GetTickCount();
        const int64_t tunedHz = m_pCard->TunedHz(input);
        const SimCarrier* pCarrier = TunedS2Carrier(*m_pCard, input);
        for (auto& entry : m_States) {
            State& s = entry.second;
            if (s.m_Input != input)
                continue;
            if (tunedHz != s.m_TunedHz) { // a retune the block has not seen yet restarts acquisition
                s.m_TunedHz = tunedHz;
                s.m_AcquireStartMs = now;
            }
            if (Locked(s, pCarrier, tunedHz, now)) {
                sinceMs = s.m_AcquireStartMs + SimRf::LockTimeMs(*pCarrier);
                return true;
            }
        }
        return false;
    }

private:
    struct State {
        int m_Input = 0;
        int m_Mode = 0;
        int m_Inversion = 0;
        uint32_t m_Decimation = 0;
        uint32_t m_Ratio16 = 0;
        int m_PlMode = 0;
        uint32_t m_PlValue = 0;
        uint32_t m_Counters[5] = {};
        int64_t m_TunedHz = 0;
        unsigned int m_AcquireStartMs = 0;
    };

    static bool Locked(const State& s, const SimCarrier* pCarrier, int64_t tunedHz, unsigned int now)
    {
        if (s.m_Mode != 2 || pCarrier == nullptr || pCarrier->m_SymbolRateBd <= 0)
            return false;
        const int64_t programmed = KxProxyS2CRDEMOD_3470::SymbolRateFromWords(
            DEMOD_SAMPLE_RATE_HZ, static_cast<int32_t>(s.m_Decimation), static_cast<int32_t>(s.m_Ratio16));
        if (std::llabs(programmed - pCarrier->m_SymbolRateBd) * 100 > pCarrier->m_SymbolRateBd)
            return false;
        if (std::llabs(SimRf::CarrierOffsetHz(*pCarrier, tunedHz)) * 4 > pCarrier->m_SymbolRateBd)
            return false;
        if (pCarrier->m_CnDb < SimRf::RequiredCnDb(*pCarrier))
            return false;
        if (s.m_PlMode == 1 && s.m_PlValue != CarrierPls(*pCarrier))
            return false;
        return now - s.m_AcquireStartMs >= SimRf::LockTimeMs(*pCarrier);
    }

    // Whether the carrier recovery holds the carrier (its offset is known): the programmed
    // symbol rate fits and the carrier lies within the capture range, whatever the frame sync.
    static bool CarrierHeld(const State& s, const SimCarrier* pCarrier, int64_t tunedHz)
    {
        if (s.m_Mode != 2 || pCarrier == nullptr || pCarrier->m_SymbolRateBd <= 0)
            return false;
        const int64_t programmed = KxProxyS2CRDEMOD_3470::SymbolRateFromWords(
            DEMOD_SAMPLE_RATE_HZ, static_cast<int32_t>(s.m_Decimation), static_cast<int32_t>(s.m_Ratio16));
        return std::llabs(programmed - pCarrier->m_SymbolRateBd) * 100 <= pCarrier->m_SymbolRateBd &&
               std::llabs(SimRf::CarrierOffsetHz(*pCarrier, tunedHz)) * 4 <= pCarrier->m_SymbolRateBd;
    }

    SimCard* m_pCard;
    std::map<uint32_t, State> m_States;
};

// Constellation grabber: command 0 {first, n} -> {n, n pairs of int16 I, Q}: points of the
// carrier under the tuned frequency (zeros without one). `first` selects the stream.
class SimConstellationGrab3470Model : public ISimBlockModel {
public:
    explicit SimConstellationGrab3470Model(SimCard* pCard) : m_pCard(pCard) {}
    uint32_t Command(const SimBlock& block, uint32_t command, const unsigned char* pIn, uint32_t inSize,
                     unsigned char* pOut, uint32_t outCapacity) override
    {
        if (command != 0 || inSize < 8)
            return SIM_STATUS_NOT_SUPPORTED;
        const int n = KxGetI32(pIn, 4);
        if (n < 0 || 4u + 4u * static_cast<uint32_t>(n) > outCapacity)
            return SIM_STATUS_INVALID_ARG;
        CritSecAutoLock lock(m_pCard->Lock());
        const SimCarrier* pCarrier = TunedS2Carrier(*m_pCard, block.m_Port < 0 ? 0 : block.m_Port);
        KxPutU32(pOut, 0, static_cast<uint32_t>(n));
        if (pCarrier == nullptr) {
            memset(pOut + 4, 0, 4u * static_cast<uint32_t>(n));
            return OK;
        }
        const double mer = SimRf::MerDb(*pCarrier, m_pCard->Random());
        const std::vector<SimIqSample> points = SimRf::ConstellationPoints(*pCarrier, mer, n, m_pCard->Random());
        for (int i = 0; i < n; i++)
            KxPutU32(pOut, 4 + 4 * static_cast<unsigned int>(i),
                     static_cast<uint16_t>(points[i].m_I) |
                         (static_cast<uint32_t>(static_cast<uint16_t>(points[i].m_Q)) << 16));
        return OK;
    }

private:
    SimCard* m_pCard;
};

// I/Q power estimator behind the FIR filter: SetEstWindow 0 {window}; GetEstPower 1 -> {power}:
// the mean square of the 16-bit samples, which the gain loop holds at AGC_TARGET_RMS (with
// 0.1 dB of measurement noise).
class SimIqPower3470Model : public ISimBlockModel {
public:
    explicit SimIqPower3470Model(SimCard* pCard) : m_pCard(pCard) {}
    uint32_t Command(const SimBlock&, uint32_t command, const unsigned char*, uint32_t inSize, unsigned char* pOut,
                     uint32_t outCapacity) override
    {
        if (command == 0)
            return inSize >= 4 ? OK : SIM_STATUS_INVALID_ARG;
        if (command != 1 || outCapacity < 4)
            return SIM_STATUS_NOT_SUPPORTED;
        CritSecAutoLock lock(m_pCard->Lock());
        const double noiseDb = 0.1 * m_pCard->Random().Gaussian();
        const double meanSquare = AGC_TARGET_RMS * AGC_TARGET_RMS * std::pow(10.0, noiseDb / 10.0);
        KxPutU32(pOut, 0, static_cast<uint32_t>(std::lround(meanSquare)));
        return OK;
    }

private:
    SimCard* m_pCard;
};

} // namespace

bool SimCdcm6208::Write(const unsigned char* pData, int length)
{
    if (pData == nullptr || length < 2)
        return false;
    m_Pointer = static_cast<uint16_t>((pData[0] << 8) | pData[1]);
    if (length == 2)
        return true;
    if (length != 4)
        return false;
    const uint16_t value = static_cast<uint16_t>((pData[2] << 8) | pData[3]);
    m_Registers[m_Pointer] = value;
    m_Writes.emplace_back(m_Pointer, value);
    return true;
}

bool SimCdcm6208::Read(unsigned char* pData, int length)
{
    if (length != 2 || pData == nullptr)
        return false;
    const uint16_t value = m_Registers[m_Pointer];
    pData[0] = static_cast<unsigned char>(value >> 8);
    pData[1] = static_cast<unsigned char>(value);
    return true;
}

uint32_t SimLnbControllerModel::Command(const SimBlock&, uint32_t command, const unsigned char* pIn, uint32_t inSize,
                                        unsigned char* pOut, uint32_t outCapacity)
{
    switch (command) {
    case 0:
        if (inSize < 4 || KxGetU32(pIn, 0) > 1)
            return SIM_STATUS_INVALID_ARG;
        m_Bursts++;
        m_LastBurst = static_cast<int>(KxGetU32(pIn, 0));
        return OK;
    case 1:
    case 2: {
        const uint32_t header = command == 1 ? 4 : 8;
        if (inSize < header)
            return SIM_STATUS_INVALID_ARG;
        const uint32_t length = KxGetU32(pIn, 0);
        if (length < 1 || length > MAX_DISEQC_BYTES || inSize < header + length)
            return SIM_STATUS_INVALID_ARG;
        m_Messages.emplace_back(pIn + header, pIn + header + length);
        if (command == 1)
            return OK;
        const uint32_t capacity = KxGetU32(pIn, 4);
        const bool wantsReply = pIn[header] == 0xE2 || pIn[header] == 0xE3;
        const uint32_t count = wantsReply && capacity >= 1 ? 1 : 0;
        if (outCapacity < 4 + count)
            return SIM_STATUS_BUF_TOO_SMALL;
        KxPutU32(pOut, 0, count);
        if (count == 1)
            pOut[4] = 0xE4;
        return OK;
    }
    case 3:
        if (inSize < 4 || KxGetU32(pIn, 0) > 1)
            return SIM_STATUS_INVALID_ARG;
        m_ToneOn = KxGetU32(pIn, 0) == 1;
        return OK;
    default:
        return SIM_STATUS_NOT_SUPPORTED;
    }
}

void SimFit3470Parts(SimCard& card)
{
    card.SetBlockModel(KX_DF_S2CRDEMOD_3470, true, new SimS2Demod3470Model(&card));
    card.SetBlockModel(KX_DF_IQCGRAB_3470, true, new SimConstellationGrab3470Model(&card));
    card.SetBlockModel(KX_BC_IQPWR_3470, false, new SimIqPower3470Model(&card));
    card.AddI2cDevice(0, SIM3470_TUNER_I2C_ADDRESS, new SimMax2121B(card, 0));
    card.AddI2cDevice(0, SIM3470_CLOCK_I2C_ADDRESS, new SimCdcm6208());
    card.AddI2cDevice(0, SIM3470_LNB_I2C_ADDRESS, new SimI2cRegisterFile(16));
    card.SetBlockModel(KX_DF_LNBH25_3470, true, new SimLnbControllerModel());
    card.SetBlockModel(KX_DF_IQFIR_3470, true, new SimFirModel());
    card.SetBlockModel(KX_DF_IQSRC3470_3470, true, new SimSampleRateConverterModel());
    card.SetBlockModel(KX_DF_AD5320_3470, true, new SimGainDacModel(&card));
}

SimMax2121B* Sim3470Tuner(SimCard& card)
{
    return dynamic_cast<SimMax2121B*>(card.I2cDevice(0, SIM3470_TUNER_I2C_ADDRESS));
}

bool Sim3470DemodLockedSince(SimCard& card, int input, unsigned int& sinceMs)
{
    SimBlock block;
    block.m_TypeCode = KX_DF_S2CRDEMOD_3470;
    block.m_Name = "DF_S2CRDEMOD_" + std::to_string(input);
    auto* pDemod = dynamic_cast<SimS2Demod3470Model*>(card.BlockModel(block));
    return pDemod != nullptr && pDemod->LockedSince(input, sinceMs);
}

SimLnbControllerModel* Sim3470LnbController(SimCard& card)
{
    SimBlock block;
    block.m_TypeCode = KX_DF_LNBH25_3470;
    block.m_Name = "DF_LNBH25_0";
    return dynamic_cast<SimLnbControllerModel*>(card.BlockModel(block));
}
