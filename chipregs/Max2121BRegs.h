// Register set of the MAX2121B zero-IF satellite tuner as the service's driver programs it.
// Maxim's register-level programming of the real silicon is not part of this code base; this
// is the smallest set that carries what the 3470 receiver needs (frequency, baseband gain,
// low-pass corner, PLL lock), implemented on one side by the driver
// (service/chips/Max2121B.cpp) and on the other by the tuner model of the virtual cards
// (sim/chips/SimMax2121B.cpp).
//
// Bus protocol (through the card's I2C master block): a write transfer starts with the
// register index, the following bytes go to consecutive registers; a read transfer returns
// bytes from the last index written on, the index advancing with every byte. Multi-byte
// registers are big-endian. A multi-byte register takes effect when its last byte is written.
//
// Identification: registers 0xF0..0xF3 read "KXVM" on the virtual tuner only. Real silicon
// answers something else there, so the driver refuses a real chip with KXAPI_E_NOT_SUPPORTED.
#pragma once

#include <cstdint>

namespace VirtualMax2121B {

constexpr uint8_t REG_STATUS = 0x00;     // read: STATUS_* bits
constexpr uint8_t REG_BB_GAIN = 0x01;    // 1 byte: baseband gain step 0..MAX_BB_GAIN
constexpr uint8_t REG_FREQ_HZ = 0x04;    // 4 bytes, unsigned, Hz: LO frequency (zero IF)
constexpr uint8_t REG_LPF_HZ = 0x08;     // 4 bytes, unsigned, Hz: one-sided low-pass corner
constexpr uint8_t REG_ID = 0xF0;         // 4 bytes: ID_BYTES on the virtual tuner
constexpr int NUM_REGISTERS = 256;

// REG_STATUS.
constexpr uint8_t STATUS_PLL_LOCKED = 0x01; // the synthesiser runs on the programmed frequency

// Ranges the tuner accepts; a write outside them is not acknowledged.
constexpr int MAX_BB_GAIN = 15;
constexpr uint32_t MIN_FREQ_HZ = 925000000;
constexpr uint32_t MAX_FREQ_HZ = 2175000000u;
// The low-pass goes down to the half band of the smallest symbol rate the receiver takes
// (85 kBd with 35 % roll-off: 57 kHz).
constexpr uint32_t MIN_LPF_HZ = 50000;
constexpr uint32_t MAX_LPF_HZ = 130000000;

constexpr uint8_t ID_BYTES[4] = {'K', 'X', 'V', 'M'};

} // namespace VirtualMax2121B
