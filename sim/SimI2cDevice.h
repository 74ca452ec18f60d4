// Device models behind the I2C addresses of a virtual card's buses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "IInterface.h"

class ISimI2cDevice : public IInterface {
public:
    // A write transfer of the given bytes; false makes the transfer fail (no acknowledge).
    virtual bool Write(const unsigned char* pData, int length) = 0;
    // A read transfer of length bytes into pData; false makes the transfer fail.
    virtual bool Read(unsigned char* pData, int length) = 0;
};

// The common register-file device (EEPROMs, sensors, simple chips): the first byte written
// sets the address pointer, further bytes are stored there; reads return bytes from the
// pointer on, which advances and wraps.
class SimI2cRegisterFile : public ISimI2cDevice {
public:
    explicit SimI2cRegisterFile(int size = 256) : m_Memory(static_cast<size_t>(size > 0 ? size : 1), 0) {}
    bool Write(const unsigned char* pData, int length) override;
    bool Read(unsigned char* pData, int length) override;
    std::vector<unsigned char>& Memory() { return m_Memory; }

private:
    std::vector<unsigned char> m_Memory;
    size_t m_Pointer = 0;
};
