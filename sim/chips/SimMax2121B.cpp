#include "SimMax2121B.h"

#include <cstring>

#include "ChipRegisterBus.h"
#include "SimCard.h"

namespace Regs = VirtualMax2121B;

namespace {

bool ReadOnly(uint8_t reg)
{
    return reg == Regs::REG_STATUS || (reg >= Regs::REG_ID && reg < Regs::REG_ID + 4);
}

} // namespace

SimMax2121B::SimMax2121B(SimCard& card, int input) : m_Card(card), m_Input(input)
{
    for (int i = 0; i < 4; i++)
        m_Regs[Regs::REG_ID + i] = Regs::ID_BYTES[i];
}

bool SimMax2121B::Apply(const uint8_t* regs)
{
    const uint32_t freqHz = ChipGetU32(regs + Regs::REG_FREQ_HZ);
    const uint32_t lpfHz = ChipGetU32(regs + Regs::REG_LPF_HZ);
    const bool freqChanged = memcmp(regs + Regs::REG_FREQ_HZ, m_Regs + Regs::REG_FREQ_HZ, 4) != 0;
    const bool lpfChanged = memcmp(regs + Regs::REG_LPF_HZ, m_Regs + Regs::REG_LPF_HZ, 4) != 0;
    if (regs[Regs::REG_BB_GAIN] > Regs::MAX_BB_GAIN)
        return false;
    if (freqChanged && (freqHz < Regs::MIN_FREQ_HZ || freqHz > Regs::MAX_FREQ_HZ))
        return false;
    if (lpfChanged && (lpfHz < Regs::MIN_LPF_HZ || lpfHz > Regs::MAX_LPF_HZ))
        return false;
    memcpy(m_Regs, regs, sizeof(m_Regs));
    if (freqChanged) {
        m_FreqHz = freqHz;
        m_Card.SetTunedHz(m_Input, m_FreqHz);
    }
    if (lpfChanged) {
        m_LpfHz = lpfHz;
        m_Card.SetLowPassHz(m_Input, m_LpfHz);
    }
    if (m_FreqHz != 0)
        m_Regs[Regs::REG_STATUS] = Regs::STATUS_PLL_LOCKED;
    return true;
}

bool SimMax2121B::Write(const unsigned char* pData, int length)
{
    if (pData == nullptr || length < 1)
        return false;
    m_Pointer = pData[0];
    uint8_t regs[Regs::NUM_REGISTERS];
    memcpy(regs, m_Regs, sizeof(regs));
    uint8_t reg = m_Pointer;
    for (int i = 1; i < length; i++, reg++) {
        if (!ReadOnly(reg))
            regs[reg] = pData[i];
    }
    return Apply(regs);
}

bool SimMax2121B::Read(unsigned char* pData, int length)
{
    if (length < 0 || (length > 0 && pData == nullptr))
        return false;
    for (int i = 0; i < length; i++)
        pData[i] = m_Regs[m_Pointer++];
    return true;
}
