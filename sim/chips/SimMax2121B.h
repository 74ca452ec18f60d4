// The MAX2121B tuner of a virtual 3470: answers the register set of Max2121BRegs.h, keeps the
// baseband gain, and records the frequency and low-pass corner the driver programs on the card
// (SimCard::SetTunedHz, SetLowPassHz), where the card's block models read what the receiver is
// tuned to.
#pragma once

#include <cstdint>

#include "Max2121BRegs.h"
#include "SimI2cDevice.h"

class SimCard;

class SimMax2121B : public ISimI2cDevice {
public:
    // card owns this model; input is the RF input of the card's scene the tuner sits on.
    SimMax2121B(SimCard& card, int input);

    // Called by the card's I2C master block with the card lock held.
    bool Write(const unsigned char* pData, int length) override;
    bool Read(unsigned char* pData, int length) override;

    // What the driver programmed (0 before the first write).
    int64_t FrequencyHz() const { return m_FreqHz; }
    int64_t LpfHz() const { return m_LpfHz; }
    int BasebandGain() const { return m_Regs[VirtualMax2121B::REG_BB_GAIN]; }

private:
    // Checks and applies the registers a write transfer changed; false (nothing kept) when a
    // value is outside the chip's range.
    bool Apply(const uint8_t* regs);

    SimCard& m_Card;
    int m_Input;
    uint8_t m_Regs[VirtualMax2121B::NUM_REGISTERS] = {};
    uint8_t m_Pointer = 0;
    int64_t m_FreqHz = 0;
    int64_t m_LpfHz = 0;
};
