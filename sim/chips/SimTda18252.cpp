#include "SimTda18252.h"

#include <algorithm>
#include <cmath>

#include "ChipRegisterBus.h"
#include "SimCard.h"
#include "SimTda10024.h"
#include "XpUtil.h"

namespace Regs = VirtualTda18252;

namespace {

constexpr double TEMP_MEAN_C = 44.0;
constexpr double TEMP_NOISE_C = 0.7;
constexpr int64_t FILTER_BANDWIDTH_HZ[3] = {8000000, 7000000, 6000000};

bool ReadOnly(uint8_t reg)
{
    return reg == Regs::REG_STATUS || (reg >= Regs::REG_RF_BAND && reg <= Regs::REG_TEMPERATURE) ||
           (reg >= Regs::REG_ID && reg < Regs::REG_ID + 4);
}

} // namespace

SimTda18252::SimTda18252(SimCard& card, int input, const SimTda10024* pGate, SimGainPlan plan)
    : m_Card(card), m_Input(input), m_pGate(pGate), m_Plan(plan)
{
    for (int i = 0; i < 4; i++)
        m_Regs[Regs::REG_ID + i] = Regs::ID_BYTES[i];
    m_Regs[Regs::REG_AGC1_RUN] = 1;
}

void SimTda18252::SetFeed(const SimTda18252* pFeeder, SimTunerFeed kind, const SimTda10024* pSwitch)
{
    m_pFeeder = pFeeder;
    m_FeedKind = kind;
    m_pSwitch = pSwitch;
}

int SimTda18252::LnaStep(double inputDbm)
{
    if (inputDbm < -55.0)
        return 4;
    if (inputDbm < -45.0)
        return 3;
    if (inputDbm < -35.0)
        return 2;
    return inputDbm < -25.0 ? 1 : 0;
}

const SimTda18252* SimTda18252::Feeder() const
{
    if (m_pFeeder == nullptr || (m_pSwitch != nullptr && m_pSwitch->ControlOutput() != 0))
        return nullptr;
    return m_pFeeder;
}

int SimTda18252::SignalInput() const
{
    const SimTda18252* pFeeder = Feeder();
    return pFeeder != nullptr ? pFeeder->SignalInput() : m_Input;
}

bool SimTda18252::SignalReaches() const
{
    const SimTda18252* pFeeder = Feeder();
    if (pFeeder == nullptr)
        return true;
    // Nothing arrives while the feeder's output is off.
    const bool on = m_FeedKind == SimTunerFeed::MASTER_OUTPUT ? pFeeder->MasterOutput() : pFeeder->LoopThrough();
    return on && pFeeder->SignalReaches();
}

int SimTda18252::FeederAgc1() const
{
    const SimTda18252* pFeeder = Feeder();
    return pFeeder != nullptr ? pFeeder->Agc1Step() : -1;
}

const SimCarrier* SimTda18252::Carrier() const
{
    if (!m_Tuned || !SignalReaches())
        return nullptr;
    return m_Card.Scene().CarrierAt(SignalInput(), m_TunedHz);
}

int64_t SimTda18252::FilterBandwidthHz() const
{
    const int code = m_Regs[Regs::REG_BANDWIDTH];
    return FILTER_BANDWIDTH_HZ[code <= 2 ? code : 0];
}

int SimTda18252::Band() const
{
    int band = 0;
    while (band < 7 && m_TunedHz > Regs::BAND_UPPER_EDGES_HZ[band])
        band++;
    return band;
}

int SimTda18252::Agc1Step() const
{
    if (m_FrozenAgc1 >= 0)
        return m_FrozenAgc1;
    const SimCarrier* pCarrier = Carrier();
    const double level = pCarrier != nullptr ? pCarrier->m_LevelDbm : NOISE_FLOOR_DBM;
    return m_Plan(level, Band(), m_TunedHz, FeederAgc1(), -1).m_Agc1;
}

SimGainReadings SimTda18252::Readings()
{
    const SimCarrier* pCarrier = Carrier();
    const double level = (pCarrier != nullptr ? pCarrier->m_LevelDbm : NOISE_FLOOR_DBM) +
                         LEVEL_NOISE_DB * m_Card.Random().Gaussian();
    // The LNA steps on the input, not on the measurement noise.
    return m_Plan(level, Band(), m_TunedHz, FeederAgc1(), Agc1Step());
}

bool SimTda18252::Write(const unsigned char* pData, int length)
{
    if (pData == nullptr || length < 1 || (m_pGate != nullptr && !m_pGate->TunerGateOpen()))
        return false;
    m_Pointer = pData[0];
    for (int i = 1; i < length; i++) {
        const uint8_t reg = m_Pointer++;
        const uint8_t value = pData[i];
        if (ReadOnly(reg))
            continue;
        if (reg == Regs::REG_AGC1_RUN) {
            // Freezing keeps the LNA where it is now.
            m_FrozenAgc1 = value != 0 ? -1 : Agc1Step();
            m_Regs[reg] = value != 0 ? 1 : 0;
            continue;
        }
        if (reg != Regs::REG_CONTROL) {
            m_Regs[reg] = value;
            continue;
        }
        if ((value & Regs::CTRL_INIT) != 0) {
            m_InitDone = true;
            m_Tuned = false;
        }
        if ((value & Regs::CTRL_APPLY) != 0) {
            if (!m_InitDone)
                return false;
            m_TunedHz = ChipGetU32(m_Regs + Regs::REG_FREQ_HZ);
            m_Tuned = true;
            m_TuneStartMs = XpUtil::GetTickCount();
            // What the card's other models read of the input's tuner.
            m_Card.SetTunedHz(m_Input, m_TunedHz);
            m_Card.SetLowPassHz(m_Input, FilterBandwidthHz() / 2);
        }
    }
    return true;
}

void SimTda18252::RefreshRegister(uint8_t reg)
{
    switch (reg) {
    case Regs::REG_STATUS:
        m_Regs[reg] = static_cast<uint8_t>((m_InitDone ? Regs::STATUS_INIT_DONE : 0) |
                                           (m_Tuned ? Regs::STATUS_PLL_LOCKED : 0));
        break;
    case Regs::REG_RF_BAND:
        m_Regs[reg] = static_cast<uint8_t>(Band());
        break;
    case Regs::REG_AGC1:
        m_Regs[reg] = static_cast<uint8_t>(Agc1Step());
        break;
    case Regs::REG_AGC2:
        m_Regs[reg] = static_cast<uint8_t>(std::clamp(Readings().m_Agc2, 0, 255));
        break;
    case Regs::REG_TEMPERATURE: {
        const double reading = TEMP_MEAN_C + TEMP_NOISE_C * m_Card.Random().Gaussian();
        m_Regs[reg] = static_cast<uint8_t>(static_cast<int8_t>(std::lround(reading)));
        break;
    }
    default:
        break;
    }
}

bool SimTda18252::Read(unsigned char* pData, int length)
{
    if (pData == nullptr || length < 0 || (m_pGate != nullptr && !m_pGate->TunerGateOpen()))
        return false;
    bool refreshed[Regs::NUM_REGISTERS] = {};
    for (int i = 0; i < length; i++) {
        const uint8_t reg = m_Pointer++;
        if (!refreshed[reg]) {
            RefreshRegister(reg);
            refreshed[reg] = true;
        }
        pData[i] = m_Regs[reg];
    }
    return true;
}
