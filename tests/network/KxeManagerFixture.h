// The network device manager in-process, with scripted devices and recording device clients,
// and the clients' view of it through real FIFOs (KxeSvcClient).
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "KxeFakes.h"
#include "KxeSvcClient.h"
#include "TestSupport.h"
#include "network/KxeManager.h"

namespace kxtest {

// A manager with scripted devices and recording device clients, initialised and started.
class ManagerFixture : public ::testing::Test {
protected:
    // Publishes `devices` as a discovery cycle would; later forced cycles find the same.
    void Publish(std::vector<KxeListEntry> devices)
    {
        m_pEnumerator->SetDevices(devices);
        ASSERT_TRUE(m_pManager->Update(devices.data(), static_cast<int>(devices.size())));
    }

    void SetUp() override
    {
        m_pEnumerator = new ScriptedEnumerator();
        m_pLog = std::make_shared<DeviceLog>();
        m_pManager = std::make_unique<KxeManager>(m_pEnumerator, RecordingFactory(m_pLog));
        ASSERT_TRUE(m_pManager->Init());
        ASSERT_TRUE(m_pManager->Start());
        // The discovery thread's first cycle is over once a forced one has run; no other
        // cycle comes unasked for a minute.
        ASSERT_EQ(KXAPI_OK, m_pManager->ForceDiscovery());
    }
    void TearDown() override
    {
        if (m_pManager) {
            m_pManager->Stop();
            m_pManager->Close();
        }
    }
    // The published list as a separate reader sees it.
    KxeListSnapshot ReadList()
    {
        KxeSvcClient reader;
        KxeListSnapshot list;
        EXPECT_EQ(KXAPI_OK, reader.ReadDeviceList(list));
        return list;
    }

    ScopedIpcDirectory m_Dir;
    ScriptedEnumerator* m_pEnumerator = nullptr;
    std::shared_ptr<DeviceLog> m_pLog;
    std::unique_ptr<KxeManager> m_pManager;
};

struct EventSink {
    std::mutex m_Mutex;
    std::vector<std::pair<int64_t, uint32_t>> m_Events;
    void Add(int64_t serial, uint32_t event)
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Events.emplace_back(serial, event);
    }
    KxeSvcClient::EventCallback Callback()
    {
        return [this](int64_t serial, uint32_t event) { Add(serial, event); };
    }
    size_t Size()
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_Events.size();
    }
    std::vector<std::pair<int64_t, uint32_t>> Take()
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        auto events = m_Events;
        m_Events.clear();
        return events;
    }
};

} // namespace kxtest
