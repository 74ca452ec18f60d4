// The TDA10024 QAM demodulator of a virtual card: answers the register set of
// VirtualQamChipRegs.h and derives lock, MSE, BER, bad packets, AGC, carrier offset, spectral
// inversion and constellation points from the carrier its tuner is on. It locks when the
// settings fit the carrier (constellation, annex, symbol rate unless searched) and the C/N is
// above the constellation's threshold, after the carrier's acquisition time (longer when the
// symbol rate is searched).
#pragma once

#include <cstdint>

#include "SimI2cDevice.h"
#include "SimRfScene.h"
#include "VirtualQamChipRegs.h"

class SimCard;
class SimTda18252;

class SimTda10024 : public ISimI2cDevice {
public:
    // Extra acquisition time of a symbol-rate search.
    static constexpr unsigned int SYMBOL_RATE_SEARCH_MS = 200;
    // A manual symbol rate locks within this relative distance of the carrier's.
    static constexpr double SYMBOL_RATE_TOLERANCE = 0.002;
    // Time after which an acquisition with no carrier under the tuner reports no signal.
    static constexpr unsigned int NO_SIGNAL_MS = 30;

    // ifInverts: the board's IF stage inverts the spectrum (the chip then sees a carrier inverted
    // when it is not, and the other way round).
    explicit SimTda10024(SimCard& card, bool ifInverts = false);
    // The tuner the demodulator takes its IF from (set once by the card model).
    void SetTuner(SimTda18252* pTuner) { m_pTuner = pTuner; }

    bool Write(const unsigned char* pData, int length) override;
    bool Read(unsigned char* pData, int length) override;

    bool TunerGateOpen() const { return m_Regs[VirtualTda10024::REG_TUNER_GATE] != 0; }
    int ControlOutput() const { return m_Regs[VirtualTda10024::REG_CONTROL_OUT]; }

    // Constellation of a modulation code, 0 for an unknown code.
    static int Constellation(int code);

private:
    // The carrier when the settings fit it, else null.
    const SimCarrier* MatchingCarrier() const;
    unsigned int MsSinceAcquire(unsigned int now) const;
    bool CarrierLocked(unsigned int now) const;
    bool FecLocked(unsigned int now) const;
    double MerDb(const SimCarrier& carrier);
    void AccumulateBadPackets(unsigned int now);
    void RefreshRegister(uint8_t reg, unsigned int now);
    void PutU32(uint8_t reg, uint32_t value);

    SimCard& m_Card;
    bool m_IfInverts;
    SimTda18252* m_pTuner = nullptr;
    uint8_t m_Regs[VirtualTda10024::NUM_REGISTERS] = {};
    uint8_t m_Pointer = 0;
    bool m_Acquiring = false;
    unsigned int m_AcquireMs = 0;
    uint32_t m_BadPackets = 0;
    double m_BadPacketFraction = 0.0;
    unsigned int m_BadPacketsMs = 0;
};
