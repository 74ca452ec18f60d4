#include "RecordingNode.h"

#include <algorithm>
#include <thread>

#include "KxapiResult.h"

namespace {

std::string NameAt(const unsigned char* record)
{
    return std::string(reinterpret_cast<const char*>(record + KX_NAMEREC_NAME_OFFSET),
                       strnlen(reinterpret_cast<const char*>(record + KX_NAMEREC_NAME_OFFSET), KX_NAMEREC_NAME_SIZE));
}

int NotFound()
{
    return -static_cast<int>(KX_DRV_STATUS_NOT_FOUND);
}

void PutInfo(const TestCard& card, unsigned char* out)
{
    KxPutU32(out, 0, card.m_TypeNumber);
    KxPutU32(out, 4, card.m_SubType);
    KxPutI64(out, 8, card.m_Serial);
    KxPutU32(out, 16, 0x20);
    KxPutU32(out, 20, card.m_FirmwareStatus);
    for (int i = 0; i < 4; i++)
        KxPutI32(out, 24 + 4 * i, card.m_DriverVersion[i]);
}

int AnswerProperty(const TestCard& card, const unsigned char* record, unsigned char* out)
{
    std::string name = NameAt(record);
    auto integer = card.m_IntProperties.find(name);
    if (integer != card.m_IntProperties.end()) {
        KxPutU32(out, 0, KX_PROPERTY_TYPE_INT);
        KxPutI64(out, 8, integer->second);
        return 0;
    }
    auto text = card.m_StringProperties.find(name);
    if (text == card.m_StringProperties.end())
        return NotFound();
    KxPutU32(out, 0, KX_PROPERTY_TYPE_STRING);
    KxPutU32(out, 4, static_cast<uint32_t>(text->second.size() + 1));
    memcpy(out + 8, text->second.c_str(), text->second.size() + 1);
    return 0;
}

int AnswerTable(const TestCard& card, const unsigned char* record, unsigned char* out)
{
    auto table = card.m_Tables.find(NameAt(record));
    if (table == card.m_Tables.end())
        return NotFound();
    uint32_t capacity = KxGetU32(record, KX_NAMEREC_CAPACITY_OFFSET);
    KxPutU32(out, 0, static_cast<uint32_t>(table->second.size()));
    KxPutU32(out, 4, 0);
    if (table->second.size() > capacity)
        return 0;
    for (size_t i = 0; i < table->second.size(); i++) {
        KxPutI64(out, static_cast<unsigned int>(8 + 16 * i), table->second[i].first);
        KxPutI64(out, static_cast<unsigned int>(16 + 16 * i), table->second[i].second);
    }
    return 0;
}

int AnswerVpd(const TestCard& card, const unsigned char* record, unsigned char* out)
{
    std::string keyword(reinterpret_cast<const char*>(record + 4), strnlen(reinterpret_cast<const char*>(record + 4), 4));
    auto item = card.m_Vpd.find(keyword);
    if (item == card.m_Vpd.end())
        return NotFound();
    KxPutU32(out, 0, static_cast<uint32_t>(item->second.size()));
    memcpy(out + 4, item->second.data(), item->second.size());
    return 0;
}

} // namespace

int RecordingNode::IoCtl(uint32_t request, void* buffer, uint32_t size)
{
    m_Factory.Record(request, buffer, size);
    std::lock_guard<std::mutex> guard(m_Factory.m_Mutex);
    auto* bytes = static_cast<unsigned char*>(buffer);
    unsigned char* in = bytes + 8; // families with the size header
    if (m_Card.m_FailStatus != 0 && request != KXA_REQ_DEVICE_INFO && request != KXU_REQ_DEVICE_INFO &&
        request != KXP_REQ_DEVICE_INFO)
        return m_Card.m_FailStatus;
    std::vector<unsigned char> input(bytes, bytes + size);
    switch (request) {
    case KXA_REQ_DEVICE_INFO:
    case KXU_REQ_DEVICE_INFO:
    case KXP_REQ_DEVICE_INFO:
        PutInfo(m_Card, bytes);
        return 0;
    case KXA_REQ_PROPERTY:
        return AnswerProperty(m_Card, input.data(), bytes);
    case KXU_REQ_PROPERTY:
        return AnswerProperty(m_Card, input.data() + 8, bytes);
    case KXA_REQ_TABLE:
    case KXU_REQ_TABLE:
        return AnswerTable(m_Card, input.data() + 8, bytes);
    case KXA_REQ_VPD_READ:
    case KXU_REQ_VPD_READ:
        return AnswerVpd(m_Card, input.data() + 8, bytes);
    case KXP_REQ_PROPS: {
        const unsigned char* record = input.data() + 8 + KX_BLOCK_HEADER_SIZE;
        uint32_t command = KxGetU32(input.data(), 8 + 8);
        if (command == KXP_PROPS_CMD_GET)
            return AnswerProperty(m_Card, record, bytes);
        if (command == KXP_PROPS_CMD_TABLE)
            return AnswerTable(m_Card, record, bytes);
        return AnswerVpd(m_Card, record, bytes);
    }
    case KXA_REQ_I2C:
    case KXU_REQ_I2C: {
        uint32_t command = KxGetU32(bytes, 0);
        if (command == KX_I2C_CMD_READ || command == KX_I2C_CMD_WRITE_READ) {
            uint32_t length = KxGetU32(bytes, command == KX_I2C_CMD_READ ? 12 : 20);
            KxPutU32(bytes, 0, length);
            for (uint32_t i = 0; i < length && i < m_Card.m_I2CRead.size(); i++)
                bytes[4 + i] = m_Card.m_I2CRead[i];
        }
        return 0;
    }
    case KXU_REQ_REG_READ:
        KxPutU32(bytes, 0, m_Card.m_Registers[KxGetU32(bytes, 0)]);
        return 0;
    case KXU_REQ_REG_WRITE:
        m_Card.m_Registers[KxGetU32(bytes, 0)] = KxGetU32(bytes, 4);
        return 0;
    case KXA_REQ_EVENT_WAIT:
    case KXU_REQ_EVENT_WAIT:
    case KXP_REQ_EVENT_WAIT: {
        if (m_Card.m_Events.empty())
            return -1;
        std::vector<uint32_t> event = m_Card.m_Events.front();
        m_Card.m_Events.pop_front();
        for (int i = 0; i < 3; i++)
            KxPutU32(bytes, 4 * i, event[i]);
        return 0;
    }
    case KXP_REQ_EXCL_ACCESS: {
        uint32_t instance = KxGetU32(bytes, 8);
        bool busy = std::find(m_Card.m_BusyInstances.begin(), m_Card.m_BusyInstances.end(), instance) !=
                    m_Card.m_BusyInstances.end();
        return busy && KxGetU32(bytes, 16) == 0 ? -static_cast<int>(KX_DRV_STATUS_IN_USE) : 0;
    }
    default: {
        uint32_t command = size >= 20 ? KxGetU32(input.data(), 16) : 0xFFFFFFFFu;
        auto byCommand = m_Card.m_CommandAnswers.find({request, command});
        if (byCommand != m_Card.m_CommandAnswers.end()) {
            for (size_t i = 0; i < byCommand->second.size() && 4 * i + 4 <= size; i++)
                KxPutU32(bytes, static_cast<unsigned int>(4 * i), byCommand->second[i]);
            return 0;
        }
        auto answer = m_Card.m_BlockAnswers.find(request);
        if (answer != m_Card.m_BlockAnswers.end()) {
            for (size_t i = 0; i < answer->second.size() && 4 * i + 4 <= size; i++)
                KxPutU32(bytes, static_cast<unsigned int>(4 * i), answer->second[i]);
        }
        (void)in;
        return 0;
    }
    }
}

namespace {

// Waits on the factory's condition until `ready` holds, at most `timeoutMs` (XP_INFINITE: no
// limit); the lock is held.
template <typename Ready>
bool WaitChanged(std::condition_variable& changed, std::unique_lock<std::mutex>& lock, unsigned int timeoutMs,
                 Ready ready)
{
    if (timeoutMs == XP_INFINITE) {
        changed.wait(lock, ready);
        return true;
    }
    return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
}

} // namespace

bool RecordingNode::WaitReadable(unsigned int timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_Factory.m_Mutex);
    WaitChanged(m_Factory.m_Changed, lock, timeoutMs, [&] { return m_Woken || !m_Card.m_Events.empty(); });
    return !m_Woken && !m_Card.m_Events.empty();
}

void RecordingNode::WakeWaiters()
{
    std::lock_guard<std::mutex> guard(m_Factory.m_Mutex);
    m_Woken = true;
    m_Factory.m_Changed.notify_all();
}

bool RecordingFactory::WaitHotplug(unsigned int timeoutMs, const std::atomic<bool>& stop, uint64_t& cursor,
                                   int& event, int64_t& serial)
{
    std::unique_lock<std::mutex> lock(m_Mutex);
    WaitChanged(m_Changed, lock, timeoutMs, [&] { return stop.load() || cursor < m_Hotplug.size(); });
    if (stop.load() || cursor >= m_Hotplug.size())
        return false;
    event = m_Hotplug[cursor].first;
    serial = m_Hotplug[cursor].second;
    cursor++;
    return true;
}
