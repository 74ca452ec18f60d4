// The RF scene of a virtual card: carriers per RF input, and the helpers the chip models use to
// derive what a receiver tuned somewhere in that scene would read. All results are
// deterministic for a given random generator state.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "SimRandom.h"

struct SimCarrier {
    int64_t m_FreqHz = 0;           // centre frequency
    std::string m_Standard;         // "DVB-S2", "DVB-T", "QAM", "ATSC", "IQ", ...
    int m_Constellation = 4;        // points of the constellation (4 = QPSK, 64 = 64-QAM, ...)
    int64_t m_SymbolRateBd = 0;     // single-carrier standards
    int64_t m_BandwidthHz = 0;      // OFDM standards (occupied bandwidth)
    int m_RollOffPercent = 20;      // single-carrier roll-off
    double m_LevelDbm = -40.0;      // input level
    double m_CnDb = 20.0;           // carrier-to-noise ratio
    std::vector<int> m_StreamIds;   // ISI or PLP ids
    int m_ModCod = 0;               // MODCOD / PLS where the standard has one; the interleaving code of J.83 B
    bool m_SpectrumInverted = false; // the carrier arrives with its spectrum inverted
    // DVB-S2 coding of the streams: "CCM" (every frame of every stream with m_ModCod), "VCM"
    // (each stream with its own MODCOD of m_StreamModCods) or "ACM" (a stream's frames change
    // between its MODCOD and the carrier's m_ModCod).
    std::string m_Coding = "CCM";
    std::vector<int> m_StreamModCods; // one per stream id (VCM and ACM); empty: m_ModCod for all

    // Occupied bandwidth: symbol rate × (1 + roll-off) or the OFDM bandwidth.
    int64_t OccupiedBandwidthHz() const;
};

struct SimIqSample {
    int16_t m_I;
    int16_t m_Q;
};

class SimRfScene {
public:
    std::vector<SimCarrier>& Carriers(int input);
    const std::vector<SimCarrier>* FindInput(int input) const;
    int NumInputs() const { return static_cast<int>(m_Inputs.size()); }
    void SetNumInputs(int count) { m_Inputs.resize(count < 0 ? 0 : static_cast<size_t>(count)); }

    // The carrier whose occupied band contains tunedHz on input (the strongest when several do);
    // null when none does.
    const SimCarrier* CarrierAt(int input, int64_t tunedHz) const;

private:
    std::vector<std::vector<SimCarrier>> m_Inputs;
};

namespace SimRf {

// Capture range of a demodulator's carrier recovery around the carrier.
int64_t CaptureRangeHz(const SimCarrier& carrier);
// Time a demodulator needs to lock on carrier (longer for low symbol rates and OFDM).
unsigned int LockTimeMs(const SimCarrier& carrier);
// Whether a receiver tuned to tunedHz msSinceTune ago has locked: needs a carrier within its
// capture range, a C/N above the standard's threshold and the lock time elapsed.
bool IsLocked(const SimCarrier* pCarrier, int64_t tunedHz, unsigned int msSinceTune);
// C/N needed for a lock (threshold of a quasi-error-free reception) of carrier.
double RequiredCnDb(const SimCarrier& carrier);
// Measured carrier offset in Hz (tuned minus actual, as a demodulator reports it).
int64_t CarrierOffsetHz(const SimCarrier& carrier, int64_t tunedHz);
// MER (dB): C/N less 0.5 dB implementation loss, with 0.1 dB rms measurement noise.
double MerDb(const SimCarrier& carrier, SimRandom& random);
// Bit error rate of an ideal M-point QAM/PSK at merDb (before error correction).
double BerFromMer(double merDb, int constellation);
// Packet error rate of 188-byte packets after error correction, from the raw BER.
double PerFromBer(double ber);
// AGC word (0..65535, higher for weaker inputs) and the level reading in tenths of dBm
// with 0.2 dB rms noise.
int AgcWord(double levelDbm);
int LevelTenthsDbm(double levelDbm, SimRandom& random);
// n constellation points (scaled to ±8192 full scale) of carrier at merDb.
std::vector<SimIqSample> ConstellationPoints(const SimCarrier& carrier, double merDb, int n, SimRandom& random);
// n complex samples at sampleRateHz of carrier seen by a receiver tuned to tunedHz: random
// symbols shaped by the transmitter's root-raised-cosine pulse (so the power spectrum has the
// raised-cosine shape of the carrier's roll-off, -3 dB at +- symbol rate / 2), shifted by the
// offset, plus white noise at the C/N over the whole sampled band; 4096 is the unit amplitude
// of the signal.
std::vector<SimIqSample> IqBlock(const SimCarrier& carrier, int64_t tunedHz, int64_t sampleRateHz, int n,
                                 SimRandom& random);

} // namespace SimRf

// The noise-free waveform of a carrier at baseband (no offset, no noise): SAMPLES samples of its
// root-raised-cosine shaped symbols at a sample rate, unit amplitude 4096 as in SimIqStream.
// Shaping is what costs in a stream of samples; a capture that plays this waveform cyclically
// (SAMPLES is 256 blocks of 16384 pairs) and adds its own offset and fresh noise costs little.
class SimIqWaveform {
public:
    static constexpr size_t SAMPLES = size_t(1) << 22;
    SimIqWaveform(const SimCarrier& carrier, int64_t sampleRateHz, uint64_t seed);
    const SimIqSample* Samples() const { return m_Samples.data(); }

private:
    std::vector<SimIqSample> m_Samples;
};

// An endless stream of I/Q samples of one carrier seen by a receiver tuned to tunedHz (the
// samples IqBlock makes, continued block after block): fresh symbols and noise all along, so
// long captures average like a real signal's. Deterministic for a seed.
class SimIqStream {
public:
    SimIqStream(const SimCarrier& carrier, int64_t tunedHz, int64_t sampleRateHz, uint64_t seed);
    // The carrier's cached waveform (made for the same carrier and sample rate) played from its
    // start, shifted by the carrier's offset from tunedHz, with fresh noise at the carrier's C/N.
    SimIqStream(std::shared_ptr<const SimIqWaveform> pWaveform, const SimCarrier& carrier, int64_t tunedHz,
                int64_t sampleRateHz, uint64_t seed);
    // White noise alone, noiseLsb rms per component (what a receiver sees with no carrier).
    SimIqStream(double noiseLsb, uint64_t seed);
    // The next n samples.
    void Produce(SimIqSample* pOut, int n);

private:
    static constexpr int SPAN = 6; // symbols each side of the pulse
    static constexpr int TAPS = 2 * SPAN + 1;
    static constexpr int PHASES = 256; // fractions of a symbol the pulse is tabulated at
    static constexpr int64_t HISTORY = 32; // symbols kept (each twice)
    static constexpr size_t NOISE_TABLE = 1 << 16;

    SimRandom m_Random;
    int m_Constellation;
    double m_SymbolsPerSample = 1.0;
    std::vector<double> m_Taps;  // PHASES rows of TAPS
    std::vector<double> m_Noise; // standard normal values, picked at random
    std::vector<int16_t> m_NoiseSamples; // m_Noise as samples (noise alone), made on first use
    double m_Omega = 0.0;        // carrier offset, radians per sample
    double m_SignalLsb = 4096.0; // unit amplitude of the signal
    double m_NoiseLsb = 0.0;     // rms per component
    double m_StepI = 1.0, m_StepQ = 0.0; // rotation per sample
    double m_RotI = 1.0, m_RotQ = 0.0;   // rotation of the current sample
    double m_SymbolI[2 * HISTORY] = {};
    double m_SymbolQ[2 * HISTORY] = {};
    int64_t m_NextSymbol = 0;
    uint64_t m_Sample = 0;
    std::shared_ptr<const SimIqWaveform> m_pWaveform; // null: shaped here, sample by sample

    void InitOffsetAndNoise(const SimCarrier& carrier, int64_t tunedHz, double rate);
    void ProduceNoise(SimIqSample* pOut, int n);
    void ProduceFromWaveform(SimIqSample* pOut, int n);
    void NextRotation(double& rotI, double& rotQ);
};
