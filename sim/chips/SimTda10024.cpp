#include "SimTda10024.h"

#include <algorithm>
#include <cmath>

#include "ChipRegisterBus.h"
#include "SimCard.h"
#include "SimTda18252.h"
#include "XpUtil.h"

namespace Regs = VirtualTda10024;

namespace {

// Constellation of each modulation code.
constexpr int CONSTELLATIONS[6] = {64, 256, 16, 32, 128, 4};
// MSE reading at 0 dB MER per constellation: the equaliser's error power in register units
// falls by 20 dB per 20 dB of MER (square and cross constellations are scaled differently).
double MseScale(int constellation)
{
    return constellation == 64 || constellation == 256 ? 538.0 : 632.0;
}
constexpr double PACKET_BITS = 204.0 * 8.0; // an RS-protected transport packet on the line

bool ReadOnly(uint8_t reg)
{
    return reg == Regs::REG_STATUS || reg == Regs::REG_INTERLEAVING ||
           (reg >= Regs::REG_FREQ_OFFSET && reg <= Regs::REG_SPECTRUM_INV) || reg == Regs::REG_IQ_FIFO ||
           (reg >= Regs::REG_ID && reg < Regs::REG_ID + 4);
}

int8_t SaturateByte(int value)
{
    return static_cast<int8_t>(std::clamp(value, -128, 127));
}

} // namespace

SimTda10024::SimTda10024(SimCard& card, bool ifInverts) : m_Card(card), m_IfInverts(ifInverts)
{
    for (int i = 0; i < 4; i++)
        m_Regs[Regs::REG_ID + i] = Regs::ID_BYTES[i];
}

int SimTda10024::Constellation(int code)
{
    return code >= 0 && code < 6 ? CONSTELLATIONS[code] : 0;
}

const SimCarrier* SimTda10024::MatchingCarrier() const
{
    const SimCarrier* pCarrier = m_pTuner != nullptr ? m_pTuner->Carrier() : nullptr;
    if (pCarrier == nullptr || pCarrier->m_SymbolRateBd <= 0)
        return nullptr;
    if (Constellation(m_Regs[Regs::REG_MODULATION]) != pCarrier->m_Constellation)
        return nullptr;
    // J.83 B framing only on an annex-B carrier; annex A and C differ in their spectrum setting.
    const bool annexB = m_Regs[Regs::REG_ANNEX_B] != 0;
    const std::string& standard = pCarrier->m_Standard;
    if (annexB != (standard == "QAM-B"))
        return nullptr;
    if ((standard == "QAM-A" && m_Regs[Regs::REG_SPECTRUM_A] != 3) ||
        (standard == "QAM-C" && m_Regs[Regs::REG_SPECTRUM_A] != 2))
        return nullptr;
    if (m_Regs[Regs::REG_SR_AUTO] == 0) {
        const double set = ChipGetU32(m_Regs + Regs::REG_SYMBOL_RATE);
        const double actual = static_cast<double>(pCarrier->m_SymbolRateBd);
        if (std::fabs(set - actual) > SYMBOL_RATE_TOLERANCE * actual)
            return nullptr;
    }
    return pCarrier;
}

unsigned int SimTda10024::MsSinceAcquire(unsigned int now) const
{
    if (!m_Acquiring || m_pTuner == nullptr)
        return 0;
    // A retune of the tuner restarts the demodulator's loops too.
    const unsigned int start = now - m_AcquireMs < now - m_pTuner->TuneTimeMs() ? m_AcquireMs : m_pTuner->TuneTimeMs();
    return now - start;
}

bool SimTda10024::CarrierLocked(unsigned int now) const
{
    const SimCarrier* pCarrier = MatchingCarrier();
    if (pCarrier == nullptr)
        return false;
    const unsigned int search = m_Regs[Regs::REG_SR_AUTO] != 0 ? SYMBOL_RATE_SEARCH_MS : 0;
    if (MsSinceAcquire(now) < search + SimRf::LockTimeMs(*pCarrier) / 2)
        return false;
    // Carrier recovery holds inside the capture range down to 3 dB below the decoding threshold.
    return std::llabs(pCarrier->m_FreqHz - m_pTuner->TunedHz()) <= SimRf::CaptureRangeHz(*pCarrier) &&
           pCarrier->m_CnDb >= SimRf::RequiredCnDb(*pCarrier) - 3.0;
}

bool SimTda10024::FecLocked(unsigned int now) const
{
    const SimCarrier* pCarrier = MatchingCarrier();
    if (pCarrier == nullptr)
        return false;
    const unsigned int search = m_Regs[Regs::REG_SR_AUTO] != 0 ? SYMBOL_RATE_SEARCH_MS : 0;
    const unsigned int since = MsSinceAcquire(now);
    return since >= search && SimRf::IsLocked(pCarrier, m_pTuner->TunedHz(), since - search);
}

double SimTda10024::MerDb(const SimCarrier& carrier)
{
    double mer = SimRf::MerDb(carrier, m_Card.Random());
    // A carrier wider than the tuner's IF filter loses the cut-off part of its power.
    const int64_t occupied = carrier.OccupiedBandwidthHz();
    const int64_t filter = m_pTuner->FilterBandwidthHz();
    if (occupied > filter)
        mer -= 10.0 * std::log10(static_cast<double>(occupied) / static_cast<double>(filter)) * 4.0;
    return mer;
}

void SimTda10024::AccumulateBadPackets(unsigned int now)
{
    const unsigned int elapsedMs = now - m_BadPacketsMs;
    m_BadPacketsMs = now;
    const SimCarrier* pCarrier = MatchingCarrier();
    if (pCarrier == nullptr || !FecLocked(now))
        return;
    const double mer = MerDb(*pCarrier);
    const double per = SimRf::PerFromBer(SimRf::BerFromMer(mer, pCarrier->m_Constellation));
    const double packetsPerSecond =
        static_cast<double>(pCarrier->m_SymbolRateBd) * std::log2(static_cast<double>(pCarrier->m_Constellation)) /
        PACKET_BITS;
    m_BadPacketFraction += per * packetsPerSecond * (elapsedMs / 1000.0);
    const double whole = std::floor(m_BadPacketFraction);
    m_BadPacketFraction -= whole;
    m_BadPackets += static_cast<uint32_t>(std::min(whole, 4294967295.0)); // wraps like the chip's counter
}

void SimTda10024::PutU32(uint8_t reg, uint32_t value)
{
    m_Regs[reg] = static_cast<uint8_t>(value >> 24);
    m_Regs[reg + 1] = static_cast<uint8_t>(value >> 16);
    m_Regs[reg + 2] = static_cast<uint8_t>(value >> 8);
    m_Regs[reg + 3] = static_cast<uint8_t>(value);
}

bool SimTda10024::Write(const unsigned char* pData, int length)
{
    if (pData == nullptr || length < 1)
        return false;
    m_Pointer = pData[0];
    const unsigned int now = XpUtil::GetTickCount();
    for (int i = 1; i < length; i++) {
        const uint8_t reg = m_Pointer++;
        const uint8_t value = pData[i];
        if (ReadOnly(reg))
            continue;
        if (reg != Regs::REG_CONTROL) {
            m_Regs[reg] = value;
            continue;
        }
        if ((value & Regs::CTRL_INIT) != 0) {
            m_Acquiring = false;
            m_Regs[Regs::REG_TUNER_GATE] = 0;
        }
        if ((value & Regs::CTRL_ACQUIRE) != 0) {
            m_Acquiring = true;
            m_AcquireMs = now;
        }
        if ((value & Regs::CTRL_RESET_BAD_PACKETS) != 0) {
            m_BadPackets = 0;
            m_BadPacketFraction = 0.0;
            m_BadPacketsMs = now;
        }
    }
    return true;
}

void SimTda10024::RefreshRegister(uint8_t reg, unsigned int now)
{
    const SimCarrier* pCarrier = MatchingCarrier();
    const bool carrierLock = CarrierLocked(now);
    const bool fecLock = FecLocked(now);
    switch (reg) {
    case Regs::REG_STATUS: {
        // The acquisition gives up after its AGC settled on no carrier at all.
        const bool noSignal = m_Acquiring && MsSinceAcquire(now) >= NO_SIGNAL_MS &&
                              (m_pTuner == nullptr || m_pTuner->Carrier() == nullptr);
        m_Regs[reg] = static_cast<uint8_t>(Regs::STATUS_INIT_DONE | (carrierLock ? Regs::STATUS_CARRIER_LOCK : 0) |
                                           (fecLock ? Regs::STATUS_FEC_LOCK : 0) |
                                           (noSignal ? Regs::STATUS_NO_SIGNAL : 0));
        break;
    }
    case Regs::REG_SYMBOL_RATE:
        // The rate in use: the carrier's once locked, else what was set (0 while searching).
        if (carrierLock)
            PutU32(reg, static_cast<uint32_t>(pCarrier->m_SymbolRateBd));
        else if (m_Regs[Regs::REG_SR_AUTO] != 0)
            PutU32(reg, 0);
        break;
    case Regs::REG_INTERLEAVING:
        m_Regs[reg] = static_cast<uint8_t>(fecLock && m_Regs[Regs::REG_ANNEX_B] != 0 ? pCarrier->m_ModCod & 15 : 0);
        break;
    case Regs::REG_FREQ_OFFSET:
        PutU32(reg, carrierLock ? static_cast<uint32_t>(static_cast<int32_t>(
                                      SimRf::CarrierOffsetHz(*pCarrier, m_pTuner->TunedHz())))
                                : 0u);
        break;
    case Regs::REG_BER_COUNT: {
        double ber = 0.5;
        if (carrierLock)
            ber = SimRf::BerFromMer(MerDb(*pCarrier), pCarrier->m_Constellation);
        PutU32(reg, static_cast<uint32_t>(std::lround(std::clamp(ber, 0.0, 0.5) * 1e8)));
        break;
    }
    case Regs::REG_MSE: {
        // Without a carrier lock the equaliser has nothing to converge on.
        double mse = 255.0;
        if (carrierLock)
            mse = MseScale(pCarrier->m_Constellation) * std::pow(10.0, -MerDb(*pCarrier) / 20.0);
        m_Regs[reg] = static_cast<uint8_t>(std::clamp(std::lround(mse), 1l, 255l));
        break;
    }
    case Regs::REG_AGC:
        m_Regs[reg] = static_cast<uint8_t>(std::clamp(m_pTuner != nullptr ? m_pTuner->Readings().m_DemodAgc : 0, 0, 255));
        break;
    case Regs::REG_BAD_PACKETS:
        AccumulateBadPackets(now);
        PutU32(reg, m_BadPackets);
        break;
    case Regs::REG_SPECTRUM_INV:
        m_Regs[reg] = carrierLock && (pCarrier->m_SpectrumInverted != m_IfInverts) ? 1 : 0;
        break;
    default:
        break;
    }
}

bool SimTda10024::Read(unsigned char* pData, int length)
{
    if (pData == nullptr || length < 0)
        return false;
    const unsigned int now = XpUtil::GetTickCount();
    if (m_Pointer == Regs::REG_IQ_FIFO) {
        // The FIFO delivers pairs of signed bytes: noise around zero without a lock.
        const SimCarrier* pCarrier = MatchingCarrier();
        const int pairs = length / 2;
        if (pCarrier != nullptr && CarrierLocked(now)) {
            const std::vector<SimIqSample> points =
                SimRf::ConstellationPoints(*pCarrier, MerDb(*pCarrier), pairs, m_Card.Random());
            for (int k = 0; k < pairs; k++) {
                pData[2 * k] = static_cast<unsigned char>(SaturateByte(points[k].m_I / 64));
                pData[2 * k + 1] = static_cast<unsigned char>(SaturateByte(points[k].m_Q / 64));
            }
        } else {
            for (int k = 0; k < 2 * pairs; k++)
                pData[k] = static_cast<unsigned char>(SaturateByte(static_cast<int>(std::lround(40.0 * m_Card.Random().Gaussian()))));
        }
        if (length % 2 != 0)
            pData[length - 1] = 0;
        return true;
    }
    bool refreshed[Regs::NUM_REGISTERS] = {};
    for (int i = 0; i < length; i++) {
        const uint8_t reg = m_Pointer++;
        if (!refreshed[reg]) {
            RefreshRegister(reg, now);
            refreshed[reg] = true;
        }
        pData[i] = m_Regs[reg];
    }
    return true;
}
