#include "XpDriver.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "KxDriverRequests.h"
#include "KxWire.h"

namespace {

struct EventDecodeRow {
    int m_Family;       // -1: every family; -2: both PCIe families
    uint32_t m_Kind;
    uint32_t m_Event;
    bool m_PowerValue;  // value 1 -> 2, value 2 -> 1
    int m_ValueAdd;
};

const EventDecodeRow EVENT_DECODE[] = {
    {-1, 1, 4, true, 0},
    {-2, 2, 8, false, 0},
    {-2, 4, 16, false, 1},
    {KX_FAMILY_KXU, 2, 16, false, 1},
    {KX_FAMILY_KXU, 0x80000000u, 0x80000000u, false, 0},
};

bool FamilyMatches(int rowFamily, KxDriverFamily family)
{
    if (rowFamily == -1)
        return true;
    if (rowFamily == -2)
        return family == KX_FAMILY_KXA || family == KX_FAMILY_PCIE;
    return rowFamily == family;
}

} // namespace

KXAPI_RESULT XpDriver::Open(KxDriverFamily family, int index)
{
    if (m_pNode != nullptr)
        return KXAPI_E_IN_USE;
    KXAPI_RESULT result;
    m_pNode = XpDriverNodes::Open(family, index, result);
    if (m_pNode == nullptr)
        return KXAPI_E_NOT_FOUND;
    m_Family = family;
    m_Index = index;
    return KXAPI_OK;
}

void XpDriver::WakeWaiters()
{
    if (m_pNode != nullptr)
        m_pNode->WakeWaiters();
}

void XpDriver::Close()
{
    UnmapMemory();
    delete m_pNode;
    m_pNode = nullptr;
}

bool XpDriver::HasSizeHeader(uint32_t request)
{
    uint32_t type = (request >> 8) & 0xFF;
    return type == 0xAF || type == 0xBC || type == 0xBD || type == 0xCD;
}

KXAPI_RESULT XpDriver::IoCtl(uint32_t request, const void* input, uint32_t inputSize, void* output,
                             uint32_t* outSize, int* errNo)
{
    if (m_pNode == nullptr)
        return KXAPI_E_DEV_DRIVER;
    if (input == nullptr)
        inputSize = 0;
    uint32_t header = HasSizeHeader(request) ? 8 : 0;
    uint32_t capacity = (output != nullptr && outSize != nullptr) ? *outSize : 0;
    uint32_t total = header + inputSize;

    auto fill = [&](unsigned char* buffer) {
        if (inputSize > 0)
            memmove(buffer + header, input, inputSize);
        if (header != 0) {
            KxPutU32(buffer, 0, inputSize);
            KxPutU32(buffer, 4, capacity);
        }
    };

    int status;
    if (output != nullptr && total < capacity) {
        auto* buffer = static_cast<unsigned char*>(output);
        fill(buffer);
        status = m_pNode->IoCtl(request, buffer, capacity);
    } else if (header != 0 || input == nullptr) {
        // A request with neither input nor output still hands the node a buffer.
        uint32_t size = total > capacity ? total : capacity;
        std::vector<unsigned char> temporary(size != 0 ? size : 8);
        fill(temporary.data());
        status = m_pNode->IoCtl(request, temporary.data(), static_cast<uint32_t>(temporary.size()));
        if (status == 0 && capacity > 0)
            memcpy(output, temporary.data(), capacity);
    } else {
        // Without a header the input buffer itself carries the request.
        auto* buffer = static_cast<unsigned char*>(const_cast<void*>(input));
        status = m_pNode->IoCtl(request, buffer, inputSize);
        if (status == 0 && capacity > 0 && output != buffer)
            memcpy(output, buffer, capacity);
    }

    if (status == 0) {
        if (outSize != nullptr)
            *outSize = capacity;
        return KXAPI_OK;
    }
    if (status == -1) {
        if (errNo != nullptr)
            *errNo = errno;
        return KXAPI_E_COMMUNICATION;
    }
    if (errNo != nullptr)
        *errNo = status;
    return KxResultToKxapiResult(static_cast<unsigned int>(-status));
}

KXAPI_RESULT XpDriver::MapMemory(uint32_t length, void*& memory)
{
    memory = nullptr;
    if (m_pNode == nullptr)
        return KXAPI_E_DEV_DRIVER;
    if (m_pMapped != nullptr) {
        memory = m_pMapped;
        return KXAPI_OK;
    }
    m_pMapped = m_pNode->MapMemory(length);
    if (m_pMapped == nullptr)
        return KXAPI_E_OUT_OF_MEM;
    m_MappedLength = length;
    memory = m_pMapped;
    return KXAPI_OK;
}

void XpDriver::UnmapMemory()
{
    if (m_pMapped != nullptr && m_pNode != nullptr)
        m_pNode->UnmapMemory(m_pMapped, m_MappedLength);
    m_pMapped = nullptr;
    m_MappedLength = 0;
}

bool XpDriver::DecodeEvent(KxDriverFamily family, uint32_t kind, uint32_t value, uint32_t value2,
                           KxDriverEvent& event)
{
    for (const EventDecodeRow& row : EVENT_DECODE) {
        if (row.m_Kind != kind || !FamilyMatches(row.m_Family, family))
            continue;
        event.m_Event = row.m_Event;
        event.m_Value = value + static_cast<uint32_t>(row.m_ValueAdd);
        if (row.m_PowerValue)
            event.m_Value = value == 1 ? 2 : value == 2 ? 1 : value;
        event.m_Value2 = value2;
        return true;
    }
    return false;
}

KXAPI_RESULT XpDriver::WaitEvent(uint32_t request, const std::atomic<bool>& cancel, KxDriverEvent& event)
{
    if (request != KXA_REQ_EVENT_WAIT && request != KXU_REQ_EVENT_WAIT && request != KXP_REQ_EVENT_WAIT)
        return KXAPI_E_NOT_SUPPORTED;
    if (m_pNode == nullptr)
        return KXAPI_E_DEV_DRIVER;
    for (;;) {
        // Asleep until the driver has an event or WakeWaiters ends the wait.
        while (!m_pNode->WaitReadable(XP_INFINITE)) {
            if (cancel.load())
                return KXAPI_E_CANCELLED;
        }
        if (cancel.load())
            return KXAPI_E_CANCELLED;
        unsigned char record[KX_BLOCK_HEADER_SIZE] = {};
        uint32_t inputSize = 0;
        if (request == KXP_REQ_EVENT_WAIT) {
            KxPutU32(record, 12, 0xFFFFFFFFu);
            KxPutU32(record, 4, 0xFFFFFFFFu);
            inputSize = KX_BLOCK_HEADER_SIZE;
        }
        unsigned char answer[KX_BLOCK_HEADER_SIZE] = {};
        uint32_t answerSize = KX_EVENT_RECORD_SIZE;
        KXAPI_RESULT result = IoCtl(request, inputSize ? record : nullptr, inputSize, answer, &answerSize);
        if (KxapiFailed(result))
            return result;
        if (answerSize < KX_EVENT_RECORD_SIZE)
            return KXAPI_E_DEV_DRIVER;
        if (DecodeEvent(m_Family, KxGetU32(answer, 0), KxGetU32(answer, 4), KxGetU32(answer, 8), event))
            return KXAPI_OK;
    }
}
