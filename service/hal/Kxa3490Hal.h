// Kxa3490Hal: the two-port J.83 QAM card. Each port has a TDA10024 demodulator and a TDA18252
// tuner, all on the card's device-level I2C bus. Port 2 takes its own RF input or, as the
// card's I/O configuration says, port 1's input through port 1's tuner loop-through. The tuner
// is detuned by 250 kHz on every second acquisition; the RF level comes from the gain readings
// on fixed-point slopes with per-port band offsets and frequency responses.
#pragma once

#include <memory>

#include "DemodHalRegistry.h"
#include "QamReceiverHal.h"

class Kxa3490Hal : public QamReceiverHal {
public:
    // The model table's row this HAL serves and its factory.
    static const DemodHalDescriptor DESCRIPTOR;

    static constexpr int NUM_PORTS = 2;
    // Board wiring: 8-bit addresses on the device-level bus, by port.
    static constexpr int DEMOD_I2C_ADDRESSES[NUM_PORTS] = {0x18, 0x1A};
    static constexpr int TUNER_I2C_ADDRESSES[NUM_PORTS] = {192, 198};
    static constexpr int TUNER_MODE = 0;
    static constexpr long long DETUNE_HZ = 250000;
    // The I/O configuration of port 2's group: the card publishes it as two properties of
    // port 2; these two values share port 1's input.
    static constexpr const char* IO_CONFIG_PROPERTY = "IO_CONFIG";
    static constexpr const char* IO_CONFIG_SUB_PROPERTY = "IO_CONFIG_SUB";
    static constexpr int IO_CONFIG_RF_INPUT = 20;
    static constexpr int IO_CONFIG_RF_INPUT_LOOP = 25;

    Kxa3490Hal(long long serial, Kxapi::KxDeviceInt& device);
    ~Kxa3490Hal() override;

    // RF level (tenths of a dBmV) of a port from its tuner's band, AGC1 (port 1's added for a
    // shared input) and AGC2 readings, the demodulator's AGC and the tuned frequency.
    static int CalcRfLevel(int port, int band, int agc1, int agc2, int demodAgc, long long freqHz, bool shared);
    // The frequency response of the port's path at freqHz (tenths of a dB), interpolated
    // between the 25 MHz points; 0 for another port.
    static int GetRfLevelFrequencyOffset(int port, long long freqHz, bool shared);

    KXAPI_RESULT Init() override;
    KXAPI_RESULT OnFirstUsage(int port) override;
    KXAPI_RESULT InitPort(int port) override;
    KXAPI_RESULT Tune(int port, bool blindScan) override;
    KXAPI_RESULT GetStatistics(int port, int count, Kxapi::KxStatistic* stats) override;
    using QamReceiverHal::Tune;

    KXAPI_RESULT InitPortDevice(int port);
    // The carrier's spectral inversion (the board's IF inverts, so the chip's flag negated).
    KXAPI_RESULT GetSpectrumInversion(int port, bool& inverted);
    // Whether port 2 takes port 1's input (set when port 2's first client attaches).
    bool SharedInput() const { return m_Ports[1].m_Shared; }

private:
    struct Port : QamPort {
        bool m_Shared = false;
    };
    Port& PortOf(int port) { return m_Ports[port - 1]; }
    QamPort& QamPortOf(int port) override { return PortOf(port); }

    Port m_Ports[NUM_PORTS];
    // Inverted before each acquisition: true tunes DETUNE_HZ below the frequency.
    bool m_Detune = false;
};
