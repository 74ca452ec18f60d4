// Register set of the TDA18273 tuner as the service's driver programs it. NXP's register-level
// programming of the real silicon is not part of this code base; this is the smallest set that
// carries what the receiver needs (initialisation, frequency, tune parameters, lock status,
// temperature and RF level), implemented on one side by the driver (service/chips/Tda18273.cpp) and on the
// other by the tuner model of the virtual cards (sim/chips/SimTda18273.cpp).
//
// Bus protocol: a write transfer starts with the register index, the following bytes go to
// consecutive registers; a read transfer returns bytes from the last index written on, the
// index advancing with every byte. Multi-byte registers are big-endian.
//
// Identification: registers 0xF0..0xF3 read "KXVT" on the virtual tuner only. Real silicon
// answers something else there, so the driver refuses a real chip with KXAPI_E_NOT_SUPPORTED.
#pragma once

#include <cstdint>

namespace VirtualTda18273 {

constexpr uint8_t REG_CONTROL = 0x01;     // write: command bits below
constexpr uint8_t REG_STATUS = 0x02;      // read: status bits below
constexpr uint8_t REG_FREQ_HZ = 0x04;     // 4 bytes, unsigned, Hz; takes effect with CTRL_APPLY
constexpr uint8_t REG_TEMPERATURE = 0x08; // 1 byte, unsigned, degrees Celsius
constexpr uint8_t REG_RF_LEVEL = 0x09;    // 2 bytes, signed, tenths of a dBmV at the RF input
constexpr uint8_t REG_TUNE_PARS = 0x10;   // 9 x 4 bytes, signed: the client's tune parameter words
constexpr uint8_t REG_ID = 0xF0;          // 4 bytes: ID_BYTES on the virtual tuner
constexpr int NUM_REGISTERS = 256;
constexpr int NUM_TUNE_PAR_WORDS = 9;

// REG_CONTROL.
constexpr uint8_t CTRL_START_INIT = 0x01; // power-on initialisation; STATUS_INIT_DONE when finished
constexpr uint8_t CTRL_APPLY = 0x02;      // tune to REG_FREQ_HZ with REG_TUNE_PARS (refused before init)

// REG_STATUS.
constexpr uint8_t STATUS_INIT_DONE = 0x01;
constexpr uint8_t STATUS_LOCKED = 0x02; // PLL and AGC settled on a signal at the tuned frequency

constexpr uint8_t ID_BYTES[4] = {'K', 'X', 'V', 'T'};

// Tune parameter words the tuner itself interprets (the others are stored as given).
constexpr int TUNE_PAR_STANDARD = 0;     // receiver standard code
constexpr int TUNE_PAR_BANDWIDTH_HZ = 1; // IF filter bandwidth, -1 for the standard's default

} // namespace VirtualTda18273
