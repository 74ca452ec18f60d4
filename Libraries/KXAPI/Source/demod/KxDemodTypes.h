// Small fixed-layout value types of the demod protocol: tuner parameter block, constellation
// point and blind-scan result, with their little-endian wire forms.
#pragma once

#include <cstdint>

namespace Kxapi {

// Nine words passed unchanged between client and receiver HAL; each HAL gives them meaning.
struct KxTunePars {
    static constexpr int NUM_WORDS = 9;
    int32_t m_Words[NUM_WORDS] = {};
    void Encode(void* body, unsigned int offset) const;
    static KxTunePars Decode(const void* body, unsigned int offset);
    bool operator==(const KxTunePars&) const = default;
};
constexpr unsigned int KXTUNEPARS_SIZE = 36;

// One constellation point: X then Y.
struct KxConstelPoint {
    int32_t m_X = 0;
    int32_t m_Y = 0;
    void Encode(void* body, unsigned int offset) const;
    static KxConstelPoint Decode(const void* body, unsigned int offset);
    bool operator==(const KxConstelPoint&) const = default;
};
constexpr unsigned int KXCONSTELPOINT_SIZE = 8;

// One blind-scan result: frequency, modulation type and symbol rate (the fourth integer of
// the legacy four-integer parameter form).
struct KxTransmitter {
    int64_t m_FreqHz = 0;
    int32_t m_ModType = 0;
    int32_t m_SymRateBd = 0;
    void Encode(void* body, unsigned int offset) const;
    static KxTransmitter Decode(const void* body, unsigned int offset);
    bool operator==(const KxTransmitter&) const = default;
};
constexpr unsigned int KXTRANSMITTER_SIZE = 16;

} // namespace Kxapi
