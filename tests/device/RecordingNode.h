// A driver-node factory for byte-level tests: every request a node receives is recorded as it
// crossed the seam, and a small card model per node answers the records of KxDriverRequests.h.
#pragma once

#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "KxDriverRequests.h"
#include "KxWire.h"
#include "XpDriverNode.h"

struct RecordedRequest {
    uint32_t m_Request;
    std::vector<unsigned char> m_Bytes; // the whole buffer as the node received it
};

struct TestCard {
    uint32_t m_TypeNumber = 3470;
    uint32_t m_SubType = 0;
    int64_t m_Serial = 0;
    uint32_t m_FirmwareStatus = 0;
    int m_DriverVersion[4] = {4, 2, 0, 0};
    std::map<std::string, int64_t> m_IntProperties;
    std::map<std::string, std::string> m_StringProperties;
    std::map<std::string, std::vector<std::pair<int64_t, int64_t>>> m_Tables;
    std::map<std::string, std::vector<unsigned char>> m_Vpd;
    std::vector<unsigned char> m_I2CRead;      // bytes answered to a read
    int m_FailStatus = 0;                      // answered instead of success when non-zero
    std::map<uint32_t, uint32_t> m_Registers;
    std::vector<uint32_t> m_Window = std::vector<uint32_t>(KXA_REGISTER_WINDOW_SIZE / 4);
    std::deque<std::vector<uint32_t>> m_Events; // {kind, value, value2}
    std::map<uint32_t, std::vector<uint32_t>> m_BlockAnswers; // by request word: answer words
    std::map<std::pair<uint32_t, uint32_t>, std::vector<uint32_t>> m_CommandAnswers; // by request and command
    std::vector<uint32_t> m_BusyInstances; // exclusive-access acquire answers "in use"
};

class RecordingFactory;

class RecordingNode : public IXpDriverNode {
public:
    RecordingNode(RecordingFactory& factory, TestCard& card, KxDriverFamily family)
        : m_Factory(factory), m_Card(card), m_Family(family)
    {
    }
    int IoCtl(uint32_t request, void* buffer, uint32_t size) override;
    void* MapMemory(uint32_t) override { return m_Card.m_Window.data(); }
    void UnmapMemory(void*, uint32_t) override {}
    bool WaitReadable(unsigned int timeoutMs) override;
    void WakeWaiters() override;

private:
    RecordingFactory& m_Factory;
    TestCard& m_Card;
    KxDriverFamily m_Family;
    bool m_Woken = false; // under the factory's mutex
};

class RecordingFactory : public IXpDriverNodeFactory {
public:
    RecordingFactory() { m_pPrevious = XpDriverNodes::InstallFactory(this); }
    ~RecordingFactory() override { XpDriverNodes::InstallFactory(m_pPrevious); }

    TestCard& AddCard(KxDriverFamily family, int index, int64_t serial, uint32_t type)
    {
        TestCard& card = m_Cards[{family, index}];
        card.m_Serial = serial;
        card.m_TypeNumber = type;
        return card;
    }
    IXpDriverNode* Open(KxDriverFamily family, int index) override
    {
        std::lock_guard<std::mutex> guard(m_Mutex);
        auto it = m_Cards.find({family, index});
        return it == m_Cards.end() ? nullptr : new RecordingNode(*this, it->second, family);
    }
    bool WaitHotplug(unsigned int timeoutMs, const std::atomic<bool>& stop, uint64_t& cursor, int& event,
                     int64_t& serial) override;
    void WakeHotplugWaiters() override
    {
        std::lock_guard<std::mutex> guard(m_Mutex);
        m_Changed.notify_all();
    }
    uint64_t HotplugCursor() override
    {
        std::lock_guard<std::mutex> guard(m_Mutex);
        return m_Hotplug.size();
    }
    void RaiseHotplug(int event, int64_t serial)
    {
        std::lock_guard<std::mutex> guard(m_Mutex);
        m_Hotplug.push_back({event, serial});
        m_Changed.notify_all();
    }
    void RaiseDeviceEvent(KxDriverFamily family, int index, uint32_t kind, uint32_t value, uint32_t value2)
    {
        std::lock_guard<std::mutex> guard(m_Mutex);
        m_Cards[{family, index}].m_Events.push_back({kind, value, value2});
        m_Changed.notify_all();
    }
    void Record(uint32_t request, const void* buffer, uint32_t size)
    {
        std::lock_guard<std::mutex> guard(m_Mutex);
        const auto* bytes = static_cast<const unsigned char*>(buffer);
        m_Requests.push_back({request, std::vector<unsigned char>(bytes, bytes + size)});
    }
    std::vector<RecordedRequest> Requests(uint32_t request)
    {
        std::lock_guard<std::mutex> guard(m_Mutex);
        std::vector<RecordedRequest> matching;
        for (const RecordedRequest& r : m_Requests)
            if (r.m_Request == request)
                matching.push_back(r);
        return matching;
    }
    void ClearRequests()
    {
        std::lock_guard<std::mutex> guard(m_Mutex);
        m_Requests.clear();
    }
    std::mutex m_Mutex;
    // Notified under m_Mutex when an event is raised or a wait is woken; the node and hot-plug
    // waits sleep on it as the drivers' waits sleep in the kernel.
    std::condition_variable m_Changed;

private:
    IXpDriverNodeFactory* m_pPrevious;
    std::map<std::pair<int, int>, TestCard> m_Cards;
    std::vector<RecordedRequest> m_Requests;
    std::vector<std::pair<int, int64_t>> m_Hotplug;
};
