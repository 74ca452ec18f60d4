// What every register set of the virtual chips has in common on the bus, shared by the chip
// drivers (service/chips) and the chip models (sim/chips): multi-byte registers are big-endian,
// and a write transfer is the first register's index followed by the bytes for it and the
// registers after it.
#pragma once

#include <cstdint>
#include <cstring>

#include "KxapiResult.h"

inline uint32_t ChipGetU32(const uint8_t* p)
{
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

inline void ChipPutU32(uint8_t* p, uint32_t value)
{
    p[0] = static_cast<uint8_t>(value >> 24);
    p[1] = static_cast<uint8_t>(value >> 16);
    p[2] = static_cast<uint8_t>(value >> 8);
    p[3] = static_cast<uint8_t>(value);
}

// One register write transfer of at most CAPACITY bytes, index included.
template <int CAPACITY> class ChipRegisterWrite {
public:
    // KXAPI_E_INVALID_SIZE (and nothing to send) when length is negative or the data does not
    // fit beside the index.
    KXAPI_RESULT Fill(uint8_t reg, const unsigned char* data, int length)
    {
        m_Length = 0;
        if (length < 0 || length > CAPACITY - 1)
            return KXAPI_E_INVALID_SIZE;
        m_Bytes[0] = reg;
        if (length > 0)
            memcpy(m_Bytes + 1, data, static_cast<size_t>(length));
        m_Length = length + 1;
        return KXAPI_OK;
    }
    const unsigned char* Bytes() const { return m_Bytes; }
    int Length() const { return m_Length; }

private:
    unsigned char m_Bytes[CAPACITY] = {};
    int m_Length = 0;
};
