#include "KxBlockRequest.h"

#include "KxDriverRequests.h"
#include "KxWire.h"

KxBlockRequest::KxBlockRequest(uint32_t instanceId, int port, uint32_t command)
{
    m_Bytes.reserve(64);
    PutU32(instanceId);
    PutI32(port);
    PutU32(command);
    PutU32(0xFFFFFFFFu);
}

void KxBlockRequest::PutU32(uint32_t value)
{
    size_t at = m_Bytes.size();
    m_Bytes.resize(at + 4);
    KxPutU32(m_Bytes.data(), static_cast<unsigned int>(at), value);
}

void KxBlockRequest::PutU64(uint64_t value)
{
    PutU32(static_cast<uint32_t>(value));
    PutU32(static_cast<uint32_t>(value >> 32));
}

void KxBlockRequest::PutBytes(const void* data, unsigned int length)
{
    const auto* bytes = static_cast<const unsigned char*>(data);
    m_Bytes.insert(m_Bytes.end(), bytes, bytes + length);
}

KXAPI_RESULT KxBlockRequest::Send(XpDriver& driver, uint32_t request, std::vector<unsigned char>& answer,
                                  uint32_t answerSize) const
{
    answer.assign(answerSize < 4 ? 4 : answerSize, 0);
    uint32_t size = static_cast<uint32_t>(answer.size());
    return driver.IoCtl(request, m_Bytes.data(), static_cast<uint32_t>(m_Bytes.size()), answer.data(), &size);
}

KXAPI_RESULT KxBlockRequest::Send(XpDriver& driver, uint32_t request) const
{
    std::vector<unsigned char> answer;
    return Send(driver, request, answer, 4);
}
