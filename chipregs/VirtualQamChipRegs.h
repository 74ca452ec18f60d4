// Register sets of the cable receivers' TDA10024 QAM demodulator and TDA18252 tuner as the
// service's drivers program them (3530 and 3490 cards). NXP's register-level programming of the
// real silicon is not part of this code base; these are the smallest sets that carry what the
// receivers need, implemented on one side by the drivers (service/chips/Tda10024.cpp,
// Tda18252.cpp) and on the other by the chip models of the virtual cards
// (sim/chips/SimTda10024.cpp, SimTda18252.cpp).
//
// Bus protocol (both chips): a write transfer starts with the register index, the following
// bytes go to consecutive registers; a read transfer returns bytes from the last index written
// on, the index advancing with every byte (except on a FIFO register, see REG_IQ_FIFO).
// Multi-byte registers are big-endian.
//
// The tuner sits behind the demodulator's I2C gate: it answers only while the demodulator's
// REG_TUNER_GATE is 1.
//
// Identification: registers 0xF0..0xF3 read ID_BYTES on the virtual chips only; the drivers
// refuse anything else with KXAPI_E_NOT_SUPPORTED.
#pragma once

#include <cstdint>

namespace VirtualTda10024 {

constexpr uint8_t REG_CONTROL = 0x01;       // write: command bits below
constexpr uint8_t REG_STATUS = 0x02;        // read: status bits below
constexpr uint8_t REG_TUNER_GATE = 0x03;    // 1: the tuner's bus is connected through the demodulator
constexpr uint8_t REG_MODULATION = 0x04;    // modulation code 0..5 (0 QAM64, 1 QAM256, 2 QAM16, 3 QAM32, 4 QAM128, 5 QAM4)
constexpr uint8_t REG_ANNEX_B = 0x05;       // 1: annex-B (J.83 B) framing
constexpr uint8_t REG_SPECTRUM_A = 0x06;    // first spectrum setting: 3 annex A, 2 annex C, 4 annex B
constexpr uint8_t REG_SPECTRUM_B = 0x07;    // second spectrum setting (roll-off filter: 0 wide, 2 narrow)
constexpr uint8_t REG_SR_AUTO = 0x08;       // 1: symbol rate searched, 0: REG_SYMBOL_RATE as set
constexpr uint8_t REG_SYMBOL_RATE = 0x09;   // 4 bytes, Bd: write the manual rate, read the rate in use
constexpr uint8_t REG_INTERLEAVING = 0x0D;  // read: interleaving code found (annex B)
constexpr uint8_t REG_CONTROL_OUT = 0x0E;   // control output pin (input switch of two-input boards)
constexpr uint8_t REG_CLOCK_OUT = 0x0F;     // 1: the demodulator drives its crystal's clock to the board
constexpr uint8_t REG_FREQ_OFFSET = 0x10;   // 4 bytes, signed Hz: carrier minus tuned frequency
constexpr uint8_t REG_BER_COUNT = 0x14;     // 4 bytes: bit errors before RS in the last 10^8 bits
constexpr uint8_t REG_MSE = 0x18;           // 1 byte: equaliser mean squared error (register 24)
constexpr uint8_t REG_AGC = 0x19;           // 1 byte: IF AGC gain, 0.3 dB per step
constexpr uint8_t REG_BAD_PACKETS = 0x1A;   // 4 bytes: uncorrectable packets since the last reset (wraps)
constexpr uint8_t REG_SPECTRUM_INV = 0x1E;  // 1 byte: 1 when the carrier was found spectrally inverted
constexpr uint8_t REG_IQ_FIFO = 0x20;       // read: I/Q pairs of signed bytes; the index does not advance
constexpr uint8_t REG_ID = 0xF0;            // 4 bytes: ID_BYTES on the virtual demodulator
constexpr int NUM_REGISTERS = 256;

// REG_CONTROL.
constexpr uint8_t CTRL_INIT = 0x01;              // power-on initialisation (STATUS_INIT_DONE at once)
constexpr uint8_t CTRL_ACQUIRE = 0x02;           // restart acquisition with the current settings
constexpr uint8_t CTRL_RESET_BAD_PACKETS = 0x04; // REG_BAD_PACKETS to 0

// REG_STATUS.
constexpr uint8_t STATUS_INIT_DONE = 0x01;
constexpr uint8_t STATUS_CARRIER_LOCK = 0x02; // carrier and timing recovered
constexpr uint8_t STATUS_FEC_LOCK = 0x04;     // frames found and the outer code decoding
constexpr uint8_t STATUS_NO_SIGNAL = 0x08;    // the acquisition found no carrier at all (it gives up)

// Largest I/Q FIFO read in one transfer (pairs).
constexpr int MAX_IQ_PAIRS_PER_READ = 128;

constexpr uint8_t ID_BYTES[4] = {'K', 'X', 'V', 'Q'};

} // namespace VirtualTda10024

namespace VirtualTda18252 {

constexpr uint8_t REG_CONTROL = 0x01;        // write: command bits below
constexpr uint8_t REG_STATUS = 0x02;         // read: status bits below
constexpr uint8_t REG_FREQ_HZ = 0x04;        // 4 bytes, Hz; takes effect with CTRL_APPLY
constexpr uint8_t REG_TUNE_MODE = 0x08;      // mode word of the tune (board specific, stored)
constexpr uint8_t REG_BANDWIDTH = 0x09;      // IF filter code: 0 8 MHz, 1 7 MHz, 2 6 MHz
constexpr uint8_t REG_INIT_MODE = 0x0A;      // mode word given at initialisation (stored)
constexpr uint8_t REG_LOOP_THROUGH = 0x0B;   // 1: the RF input is passed on to the loop-through output
constexpr uint8_t REG_MASTER_OUT = 0x0C;     // 1: the IF/RF output feeding the group's other tuners is on
constexpr uint8_t REG_AGC1_RUN = 0x0D;       // 1: the LNA gain (AGC1) follows the input, 0: frozen
constexpr uint8_t REG_RF_BAND = 0x10;        // read: RF band 0..7 of the tuned frequency
constexpr uint8_t REG_AGC1 = 0x11;           // read: LNA gain step 0..4 (3 dB + 3 dB per step)
constexpr uint8_t REG_AGC2 = 0x12;           // read: RF AGC gain, 0.2 dB per step
constexpr uint8_t REG_TEMPERATURE = 0x13;    // read: signed degrees Celsius
constexpr uint8_t REG_ID = 0xF0;             // 4 bytes: ID_BYTES on the virtual tuner
constexpr int NUM_REGISTERS = 256;

// REG_CONTROL.
constexpr uint8_t CTRL_INIT = 0x01;  // power-on initialisation
constexpr uint8_t CTRL_APPLY = 0x02; // tune to REG_FREQ_HZ with REG_BANDWIDTH (refused before init)

// REG_STATUS.
constexpr uint8_t STATUS_INIT_DONE = 0x01;
constexpr uint8_t STATUS_PLL_LOCKED = 0x02;

// Upper edges of RF bands 0..6 (band 7 above the last).
constexpr int64_t BAND_UPPER_EDGES_HZ[7] = {100000000, 174000000, 300000000, 470000000,
                                            600000000, 750000000, 900000000};

constexpr uint8_t ID_BYTES[4] = {'K', 'X', 'V', 'R'};

} // namespace VirtualTda18252
