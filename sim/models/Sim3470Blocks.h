// The virtual 3470's own parts beyond the shared block models: the chips behind its I2C
// masters (MAX2121B tuner, CDCM6208 clock generator, LNBH25 supply) and the FPGA blocks the
// receiver configures (LNB controller with tone, burst and DiSEqC, FIR filter, sample-rate
// converter, gain DAC). Command codes and payloads are those of the proxies (KxProxyBlocks.h).
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "SimCard.h"

class SimMax2121B;

// Bus addresses of the chips on the card's I2C bus (port index 0).
constexpr int SIM3470_TUNER_I2C_ADDRESS = 96;
constexpr int SIM3470_CLOCK_I2C_ADDRESS = 84;
constexpr int SIM3470_LNB_I2C_ADDRESS = 8;

// CDCM6208: write transfers of {register high, register low, value high, value low}; a read
// after a two-byte register write answers the register's 16-bit value.
class SimCdcm6208 : public ISimI2cDevice {
public:
    bool Write(const unsigned char* pData, int length) override;
    bool Read(unsigned char* pData, int length) override;
    // Every register write in order (register, value).
    const std::vector<std::pair<uint16_t, uint16_t>>& Writes() const { return m_Writes; }

private:
    std::map<uint16_t, uint16_t> m_Registers;
    std::vector<std::pair<uint16_t, uint16_t>> m_Writes;
    uint16_t m_Pointer = 0;
};

// LNB controller block: SendBurst 0 {burst}; SendDiseqcMessage 1 {length, bytes}; with reply
// 2 {length, reply capacity, bytes} -> {count, reply}; EnableTone 3 {on}. A message whose
// framing byte asks for a reply (0xE2, 0xE3) is answered with the framing byte 0xE4 ("OK").
class SimLnbControllerModel : public ISimBlockModel {
public:
    uint32_t Command(const SimBlock& block, uint32_t command, const unsigned char* pIn, uint32_t inSize,
                     unsigned char* pOut, uint32_t outCapacity) override;
    bool ToneOn() const { return m_ToneOn; }
    int Bursts() const { return m_Bursts; }
    int LastBurst() const { return m_LastBurst; }
    const std::vector<std::vector<unsigned char>>& Messages() const { return m_Messages; }

private:
    bool m_ToneOn = false;
    int m_Bursts = 0;
    int m_LastBurst = -1;
    std::vector<std::vector<unsigned char>> m_Messages;
};

// Fits the 3470's I2C chips and block models onto a card.
void SimFit3470Parts(SimCard& card);
// The card's tuner and LNB controller models (null when the card has none).
SimMax2121B* Sim3470Tuner(SimCard& card);
SimLnbControllerModel* Sim3470LnbController(SimCard& card);
// Whether the card's demodulator on RF input `input` is locked on the carrier under the tuned
// frequency, and since when (tick count); false when it is not or the card has none.
bool Sim3470DemodLockedSince(SimCard& card, int input, unsigned int& sinceMs);
