// Packing of block-driver requests: the 16-byte header {instance id, port, command, -1}
// followed by the command's own bytes.
#pragma once

#include <cstdint>
#include <vector>

#include "XpDriver.h"

class KxBlockRequest {
public:
    KxBlockRequest(uint32_t instanceId, int port, uint32_t command);
    void PutU32(uint32_t value);
    void PutI32(int32_t value) { PutU32(static_cast<uint32_t>(value)); }
    void PutU64(uint64_t value);
    void PutBytes(const void* data, unsigned int length);
    const std::vector<unsigned char>& Bytes() const { return m_Bytes; }
    // Sends with `request`; `answer` receives `answerSize` bytes (at least 4 are reserved).
    KXAPI_RESULT Send(XpDriver& driver, uint32_t request, std::vector<unsigned char>& answer,
                      uint32_t answerSize) const;
    KXAPI_RESULT Send(XpDriver& driver, uint32_t request) const;

private:
    std::vector<unsigned char> m_Bytes;
};
