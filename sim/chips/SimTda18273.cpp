#include "SimTda18273.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "ChipRegisterBus.h"
#include "SimCard.h"
#include "SimRfScene.h"
#include "XpUtil.h"

namespace Regs = VirtualTda18273;

namespace {

constexpr double DBMV_PER_DBM_OFFSET = 48.8; // 75-ohm input: dBmV = dBm + 48.8
constexpr double LEVEL_NOISE_DB = 0.2;
constexpr double TEMP_MEAN_C = 42.5;
constexpr double TEMP_NOISE_C = 0.8;
constexpr int TEMP_MIN_C = 40;
constexpr int TEMP_MAX_C = 45;

bool ReadOnly(uint8_t reg)
{
    return reg == Regs::REG_STATUS || reg == Regs::REG_TEMPERATURE || reg == Regs::REG_RF_LEVEL ||
           reg == Regs::REG_RF_LEVEL + 1 || (reg >= Regs::REG_ID && reg < Regs::REG_ID + 4);
}

} // namespace

SimTda18273::SimTda18273(SimCard& card, int input) : m_Card(card), m_Input(input)
{
    for (int i = 0; i < 4; i++)
        m_Regs[Regs::REG_ID + i] = Regs::ID_BYTES[i];
}

bool SimTda18273::InitDone(unsigned int now) const
{
    return m_InitStarted && now - m_InitStartMs >= m_InitDelayMs;
}

bool SimTda18273::Locked(unsigned int now) const
{
    if (!InitDone(now) || !m_Tuned || now - m_TuneStartMs < ACQUISITION_MS)
        return false;
    const SimCarrier* pCarrier = m_Card.Scene().CarrierAt(m_Input, m_TunedHz);
    return pCarrier != nullptr && pCarrier->m_LevelDbm >= SENSITIVITY_DBM;
}

bool SimTda18273::Write(const unsigned char* pData, int length)
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
        if ((value & Regs::CTRL_START_INIT) != 0) {
            bool isString = false;
            int64_t delay = 0;
            std::string text;
            m_InitDelayMs = DEFAULT_INIT_MS;
            if (m_Card.GetProperty(-1, "SIM_INIT_DELAY_MS", isString, delay, text) && !isString && delay >= 0)
                m_InitDelayMs = static_cast<unsigned int>(std::min<int64_t>(delay, 600000));
            m_InitStarted = true;
            m_InitStartMs = now;
            m_Tuned = false;
        }
        if ((value & Regs::CTRL_APPLY) != 0) {
            // A tuner still in its power-on sequence does not acknowledge a tune.
            if (!InitDone(now))
                return false;
            m_TunedHz = ChipGetU32(m_Regs + Regs::REG_FREQ_HZ);
            m_Tuned = true;
            m_TuneStartMs = now;
        }
    }
    return true;
}

void SimTda18273::RefreshRegister(uint8_t reg, unsigned int now)
{
    switch (reg) {
    case Regs::REG_STATUS:
        m_Regs[reg] = static_cast<uint8_t>((InitDone(now) ? Regs::STATUS_INIT_DONE : 0) |
                                           (Locked(now) ? Regs::STATUS_LOCKED : 0));
        break;
    case Regs::REG_TEMPERATURE: {
        const double reading = TEMP_MEAN_C + TEMP_NOISE_C * m_Card.Random().Gaussian();
        m_Regs[reg] = static_cast<uint8_t>(std::clamp(static_cast<int>(std::lround(reading)), TEMP_MIN_C, TEMP_MAX_C));
        break;
    }
    case Regs::REG_RF_LEVEL: {
        const SimCarrier* pCarrier = m_Tuned ? m_Card.Scene().CarrierAt(m_Input, m_TunedHz) : nullptr;
        const double levelDbm = pCarrier != nullptr ? pCarrier->m_LevelDbm : NOISE_FLOOR_DBM;
        const double reading = levelDbm + DBMV_PER_DBM_OFFSET + LEVEL_NOISE_DB * m_Card.Random().Gaussian();
        const auto tenths = static_cast<int16_t>(std::clamp(std::lround(reading * 10.0), -32768l, 32767l));
        m_Regs[reg] = static_cast<uint8_t>(static_cast<uint16_t>(tenths) >> 8);
        m_Regs[reg + 1] = static_cast<uint8_t>(static_cast<uint16_t>(tenths) & 0xFF);
        break;
    }
    default:
        break;
    }
}

bool SimTda18273::Read(unsigned char* pData, int length)
{
    if (pData == nullptr || length < 0)
        return false;
    const unsigned int now = XpUtil::GetTickCount();
    // Measurements are taken when the read covers them, once per transfer.
    bool refreshed[Regs::NUM_REGISTERS] = {};
    for (int i = 0; i < length; i++) {
        const uint8_t reg = m_Pointer++;
        if (!refreshed[reg]) {
            RefreshRegister(reg, now);
            refreshed[reg] = true;
            if (reg == Regs::REG_RF_LEVEL)
                refreshed[Regs::REG_RF_LEVEL + 1] = true;
        }
        pData[i] = m_Regs[reg];
    }
    return true;
}
