// Little-endian field access for FIFO message bodies. Callers check sizes first.
#pragma once

#include <cstdint>
#include <cstring>

inline uint32_t KxGetU32(const void* body, unsigned int offset)
{
    const auto* p = static_cast<const unsigned char*>(body) + offset;
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

inline int32_t KxGetI32(const void* body, unsigned int offset)
{
    return static_cast<int32_t>(KxGetU32(body, offset));
}

inline uint64_t KxGetU64(const void* body, unsigned int offset)
{
    return static_cast<uint64_t>(KxGetU32(body, offset)) | (static_cast<uint64_t>(KxGetU32(body, offset + 4)) << 32);
}

inline int64_t KxGetI64(const void* body, unsigned int offset)
{
    return static_cast<int64_t>(KxGetU64(body, offset));
}

inline void KxPutU32(void* body, unsigned int offset, uint32_t value)
{
    auto* p = static_cast<unsigned char*>(body) + offset;
    for (int i = 0; i < 4; i++)
        p[i] = static_cast<unsigned char>(value >> (8 * i));
}

inline void KxPutI32(void* body, unsigned int offset, int32_t value)
{
    KxPutU32(body, offset, static_cast<uint32_t>(value));
}

inline void KxPutU64(void* body, unsigned int offset, uint64_t value)
{
    KxPutU32(body, offset, static_cast<uint32_t>(value));
    KxPutU32(body, offset + 4, static_cast<uint32_t>(value >> 32));
}

inline void KxPutI64(void* body, unsigned int offset, int64_t value)
{
    KxPutU64(body, offset, static_cast<uint64_t>(value));
}
