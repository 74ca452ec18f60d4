// The TDA18252 cable tuner of a virtual card: answers the register set of VirtualQamChipRegs.h
// while its demodulator's I2C gate is open, and derives band, gains and temperature from the
// card's RF scene. How the board shares the gain between the tuner's LNA (AGC1), its RF AGC
// (AGC2) and the demodulator's IF AGC is the board's, given by the card model as a gain plan.
#pragma once

#include <cstdint>

#include "SimI2cDevice.h"
#include "SimRfScene.h"
#include "VirtualQamChipRegs.h"

class SimCard;
class SimTda10024;

// The three gain readings for one input level.
struct SimGainReadings {
    int m_Agc1 = 0;     // LNA step
    int m_Agc2 = 0;     // RF AGC word
    int m_DemodAgc = 0; // the demodulator's IF AGC word
};

// levelDbm of the carrier at the RF connector the signal enters the board, the tuner's RF band
// and tuned frequency, the LNA step of the tuner that feeds it (-1 when it takes its own input)
// and the LNA step it is held at (-1: the plan chooses, see SimTda18252::LnaStep).
using SimGainPlan = SimGainReadings (*)(double levelDbm, int band, int64_t tunedHz, int feederAgc1, int heldAgc1);

// How a tuner fed by another one takes its signal: from the feeder's master output (after the
// feeder's LNA and a splitter) or from its RF loop-through.
enum class SimTunerFeed { MASTER_OUTPUT, LOOP_THROUGH };

class SimTda18252 : public ISimI2cDevice {
public:
    static constexpr double NOISE_FLOOR_DBM = -75.0; // total power the tuner sees without a carrier
    static constexpr double LEVEL_NOISE_DB = 0.2;
    static constexpr double MASTER_SPLIT_LOSS_DB = 5.6; // from the master's LNA to a fed tuner's input

    // input: the RF input of the card's scene at the tuner's connector. pGate: the demodulator
    // whose gate connects the tuner's bus.
    SimTda18252(SimCard& card, int input, const SimTda10024* pGate, SimGainPlan plan);
    // Feeds this tuner from pFeeder's output of the given kind (its input and LNA come first).
    // With pSwitch, the feed is taken only while that demodulator's control output is 0 (the
    // board's input switch), else the tuner's own input.
    void SetFeed(const SimTda18252* pFeeder, SimTunerFeed kind, const SimTda10024* pSwitch = nullptr);

    // The LNA step the chip chooses for a signal of inputDbm at its own input.
    static int LnaStep(double inputDbm);

    bool Write(const unsigned char* pData, int length) override;
    bool Read(unsigned char* pData, int length) override;

    // For the demodulator model (card lock held).
    bool Tuned() const { return m_Tuned; }
    int64_t TunedHz() const { return m_TunedHz; }
    unsigned int TuneTimeMs() const { return m_TuneStartMs; }
    // The carrier under the tuned frequency at the tuner's output, null when none.
    const SimCarrier* Carrier() const;
    int64_t FilterBandwidthHz() const;
    int Band() const;
    // The gain readings for the current input (measurement noise drawn from the card).
    SimGainReadings Readings();
    // Current LNA step (what AGC1 reads without noise).
    int Agc1Step() const;
    bool LoopThrough() const { return m_Regs[VirtualTda18252::REG_LOOP_THROUGH] != 0; }
    bool MasterOutput() const { return m_Regs[VirtualTda18252::REG_MASTER_OUT] != 0; }

private:
    void RefreshRegister(uint8_t reg);
    // The tuner whose output this one takes now; null on its own input.
    const SimTda18252* Feeder() const;
    // The RF input whose carriers reach this tuner: its own, or its feeder's.
    int SignalInput() const;
    bool SignalReaches() const;
    int FeederAgc1() const;

    SimCard& m_Card;
    int m_Input;
    const SimTda10024* m_pGate;
    SimGainPlan m_Plan;
    const SimTda18252* m_pFeeder = nullptr;
    SimTunerFeed m_FeedKind = SimTunerFeed::MASTER_OUTPUT;
    const SimTda10024* m_pSwitch = nullptr;
    uint8_t m_Regs[VirtualTda18252::NUM_REGISTERS] = {};
    uint8_t m_Pointer = 0;
    bool m_InitDone = false;
    bool m_Tuned = false;
    int64_t m_TunedHz = 0;
    unsigned int m_TuneStartMs = 0;
    int m_FrozenAgc1 = -1;
};
