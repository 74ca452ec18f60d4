// The TDA18273 tuner of a virtual card: answers the register set of VirtualChipRegs.h and
// derives lock, RF level and temperature from the card's RF scene.
#pragma once

#include <cstdint>

#include "SimI2cDevice.h"
#include "VirtualChipRegs.h"

class SimCard;

class SimTda18273 : public ISimI2cDevice {
public:
    // Time the tuner needs to settle on a signal after a tune (three 100 ms ticks).
    static constexpr unsigned int ACQUISITION_MS = 300;
    // Power-on initialisation time unless the card's "SIM_INIT_DELAY_MS" property says otherwise.
    static constexpr unsigned int DEFAULT_INIT_MS = 20;
    // Weakest carrier the tuner settles on, and the level it reads without one.
    static constexpr double SENSITIVITY_DBM = -90.0;
    static constexpr double NOISE_FLOOR_DBM = -100.0;

    // card owns this model; input is the RF input of the card's scene the tuner sits on.
    SimTda18273(SimCard& card, int input);

    // Called by the card's I2C bus with the card lock held.
    bool Write(const unsigned char* pData, int length) override;
    bool Read(unsigned char* pData, int length) override;

private:
    bool InitDone(unsigned int now) const;
    bool Locked(unsigned int now) const;
    void RefreshRegister(uint8_t reg, unsigned int now);

    SimCard& m_Card;
    int m_Input;
    uint8_t m_Regs[VirtualTda18273::NUM_REGISTERS] = {};
    uint8_t m_Pointer = 0;
    bool m_InitStarted = false;
    unsigned int m_InitStartMs = 0;
    unsigned int m_InitDelayMs = DEFAULT_INIT_MS;
    bool m_Tuned = false;
    int64_t m_TunedHz = 0;
    unsigned int m_TuneStartMs = 0;
};
