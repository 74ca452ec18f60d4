// Device and global event subscriptions: watcher threads deliver driver and hot-plug events.
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "KxDevice.h"
#include "RecordingNode.h"
#include "TestSupport.h"

using Kxapi::KxDeviceInt;
using kxtest::EndsWithin;
using kxtest::NamedThreadsContextSwitches;
using kxtest::SwitchesOver;
using kxtest::WaitUntil;

namespace {

struct Received {
    std::mutex m_Mutex;
    std::vector<std::pair<int, KxEventArgs>> m_Events;
    size_t Count()
    {
        std::lock_guard<std::mutex> guard(m_Mutex);
        return m_Events.size();
    }
    std::pair<int, KxEventArgs> At(size_t i)
    {
        std::lock_guard<std::mutex> guard(m_Mutex);
        return m_Events.at(i);
    }
};

void Record(int event, const KxEventArgs* args)
{
    auto* received = static_cast<Received*>(args->m_pContext);
    std::lock_guard<std::mutex> guard(received->m_Mutex);
    received->m_Events.push_back({event, *args});
}

// A recording driver with the cards a test adds, and one device of the test.
class DeviceEvents : public ::testing::Test {
protected:
    // Adds a card and attaches the device to it.
    KXAPI_RESULT Attach(KxDriverFamily family, int index, int64_t serial, int model)
    {
        m_Factory.AddCard(family, index, serial, model);
        return m_Device.AttachToSerial(serial);
    }

    RecordingFactory m_Factory;
    KxDeviceInt m_Device;
};

TEST_F(DeviceEvents, PowerEventReachesDeviceSubscriberAsFourWithValueOne)
{
    ASSERT_EQ(KXAPI_OK, Attach(KX_FAMILY_PCIE, 1, 3470009, 3470));
    Received power, other;
    void* powerId = nullptr;
    void* otherId = nullptr;
    ASSERT_EQ(KXAPI_OK, m_Device.RegisterCallback(Record, &power, KX_DEVICE_EVENT_POWER, &powerId));
    ASSERT_EQ(KXAPI_OK, m_Device.RegisterCallback(Record, &other, 8, &otherId));
    m_Factory.RaiseDeviceEvent(KX_FAMILY_PCIE, 1, 1, 2, 0);
    ASSERT_TRUE(WaitUntil([&] { return power.Count() == 1; }, 3000));
    EXPECT_EQ(4, power.At(0).first);
    EXPECT_EQ(1u, power.At(0).second.m_Value);
    EXPECT_EQ(3470009, power.At(0).second.m_Serial);
    EXPECT_EQ(0u, other.Count());
    EXPECT_EQ(KXAPI_OK, m_Device.UnregisterCallback(powerId));
    EXPECT_EQ(KXAPI_E_NOT_FOUND, m_Device.UnregisterCallback(powerId));
    // Detach cancels the remaining subscription and ends the watcher.
    EXPECT_EQ(KXAPI_OK, m_Device.Detach());
}

struct DetachOnPower {
    KxDeviceInt* m_pDevice;
    std::atomic<KXAPI_RESULT> m_DetachResult{KXAPI_E_INTERNAL};
    std::atomic<bool> m_Done{false};
};

void DetachFromCallback(int, const KxEventArgs* args)
{
    auto* state = static_cast<DetachOnPower*>(args->m_pContext);
    state->m_DetachResult = state->m_pDevice->Detach();
    state->m_Done = true;
}

TEST_F(DeviceEvents, DetachFromInsideACallbackDoesNotHang)
{
    ASSERT_EQ(KXAPI_OK, Attach(KX_FAMILY_KXU, 3, 830003, 830));
    DetachOnPower state{&m_Device};
    void* id = nullptr;
    ASSERT_EQ(KXAPI_OK, m_Device.RegisterCallback(DetachFromCallback, &state, -1, &id));
    m_Factory.RaiseDeviceEvent(KX_FAMILY_KXU, 3, 1, 1, 0);
    ASSERT_TRUE(WaitUntil([&] { return state.m_Done.load(); }, 3000));
    EXPECT_EQ(KXAPI_OK, state.m_DetachResult.load());
    EXPECT_FALSE(m_Device.IsAttached());
    // The retired watcher is joined by the next registry call from an ordinary thread.
    ASSERT_EQ(KXAPI_OK, m_Device.AttachToSerial(830003));
    Received again;
    ASSERT_EQ(KXAPI_OK, m_Device.RegisterCallback(Record, &again, 4, &id));
    m_Factory.RaiseDeviceEvent(KX_FAMILY_KXU, 3, 1, 2, 0);
    ASSERT_TRUE(WaitUntil([&] { return again.Count() == 1; }, 3000));
    EXPECT_EQ(1u, again.At(0).second.m_Value); // driver value 2 is reported as 1
}

TEST_F(DeviceEvents, AWatcherAtRestSleepsUntilAnEventAndItsStopEndsItAtOnce)
{
    ASSERT_EQ(KXAPI_OK, Attach(KX_FAMILY_PCIE, 4, 3470014, 3470));
    Received received;
    void* id = nullptr;
    ASSERT_EQ(KXAPI_OK, m_Device.RegisterCallback(Record, &received, -1, &id));
    // After 200 ms the watcher waits for the driver.
    EXPECT_LE(SwitchesOver(200, 1000, [&] { return NamedThreadsContextSwitches("DeviceEvents"); }), 1)
        << "the wait is not cut into slices";

    m_Factory.RaiseDeviceEvent(KX_FAMILY_PCIE, 4, 1, 2, 0);
    ASSERT_TRUE(WaitUntil([&] { return received.Count() == 1; }, 2000));
    EXPECT_EQ(4, received.At(0).first);
    // Its wait has no time-out: only the stop's wake-up ends it.
    EXPECT_TRUE(EndsWithin(2000, [&] { EXPECT_EQ(KXAPI_OK, m_Device.UnregisterCallback(id)); },
                           [&] { m_Factory.RaiseDeviceEvent(KX_FAMILY_PCIE, 4, 1, 2, 0); }));
}

TEST_F(DeviceEvents, AStopBeforeOrWhileTheWatcherOpensItsNodeEndsIt)
{
    // Subscribed and unsubscribed at once, the stop comes before, while or after the watcher
    // opens its node; it must end the watcher every time.
    ASSERT_EQ(KXAPI_OK, Attach(KX_FAMILY_KXU, 5, 830015, 830));
    Received received;
    for (int round = 0; round < 300; round++) {
        void* id = nullptr;
        ASSERT_EQ(KXAPI_OK, m_Device.RegisterCallback(Record, &received, 4, &id));
        if (round % 3 == 1)
            std::this_thread::yield();
        else if (round % 3 == 2)
            std::this_thread::sleep_for(std::chrono::microseconds(200 + round));
        ASSERT_TRUE(EndsWithin(2000, [&] { EXPECT_EQ(KXAPI_OK, m_Device.UnregisterCallback(id)); },
                               [&] { m_Factory.RaiseDeviceEvent(KX_FAMILY_KXU, 5, 1, 1, 0); }))
            << "round " << round;
    }
    // A watcher started after all of them still delivers.
    const size_t earlier = received.Count();
    void* id = nullptr;
    ASSERT_EQ(KXAPI_OK, m_Device.RegisterCallback(Record, &received, 4, &id));
    m_Factory.RaiseDeviceEvent(KX_FAMILY_KXU, 5, 1, 2, 0);
    ASSERT_TRUE(WaitUntil([&] { return received.Count() > earlier; }, 2000));
    EXPECT_EQ(1u, received.At(received.Count() - 1).second.m_Value);
    EXPECT_EQ(KXAPI_OK, m_Device.UnregisterCallback(id));
}

TEST_F(DeviceEvents, MaskRules)
{
    m_Factory.AddCard(KX_FAMILY_KXU, 0, 1, 830);
    void* id = nullptr;
    EXPECT_EQ(KXAPI_E_NOT_ATTACHED, m_Device.RegisterCallback(Record, nullptr, -1, &id));
    ASSERT_EQ(KXAPI_OK, m_Device.AttachToSerial(1));
    EXPECT_EQ(KXAPI_E_INVALID_TYPE, m_Device.RegisterCallback(Record, nullptr, 0, &id));
    EXPECT_EQ(KXAPI_E_INVALID_TYPE, m_Device.RegisterCallback(Record, nullptr, 2, &id));
    EXPECT_EQ(KXAPI_E_INVALID_ARG, m_Device.RegisterCallback(Record, nullptr, 4, nullptr));
    EXPECT_EQ(KXAPI_E_INVALID_TYPE, KxapiRegisterCallback(Record, nullptr, 4, &id));
    EXPECT_EQ(KXAPI_E_INVALID_TYPE, KxapiRegisterCallback(Record, nullptr, 0, &id));
    EXPECT_EQ(KXAPI_E_INVALID_ARG, KxapiRegisterCallback(Record, nullptr, 3, nullptr));
}

TEST(GlobalEvents, HotplugReachesSubscriberWithSerial)
{
    kxtest::ScopedIpcDirectory ipc; // no network-device manager here: hot-plug source only
    RecordingFactory factory;
    Received removed, all;
    void* removedId = nullptr;
    void* allId = nullptr;
    ASSERT_EQ(KXAPI_OK, KxapiRegisterCallback(Record, &removed, KX_GLOBAL_EVENT_REMOVED, &removedId));
    ASSERT_EQ(KXAPI_OK, KxapiRegisterCallback(Record, &all, -1, &allId));
    factory.RaiseHotplug(KX_GLOBAL_EVENT_ADDED, 8100001);
    factory.RaiseHotplug(KX_GLOBAL_EVENT_REMOVED, 8100001);
    ASSERT_TRUE(WaitUntil([&] { return all.Count() == 2 && removed.Count() == 1; }, 3000));
    EXPECT_EQ(2, removed.At(0).first);
    EXPECT_EQ(8100001, removed.At(0).second.m_Serial);
    EXPECT_EQ(1, all.At(0).first);
    EXPECT_EQ(KXAPI_OK, KxapiUnregisterCallback(removedId));
    EXPECT_EQ(KXAPI_OK, KxapiUnregisterCallback(allId));
    EXPECT_EQ(KXAPI_E_NOT_FOUND, KxapiUnregisterCallback(allId));
}

TEST(GlobalEvents, TheHotplugWatcherSleepsOnEverySourceAndItsStopEndsItAtOnce)
{
    // The platform's own source (inert) and an installed one: asleep until an event or the
    // stop, started and stopped over and over.
    kxtest::ScopedIpcDirectory ipc;
    for (bool installed : {false, true}) {
        SCOPED_TRACE(installed ? "installed source" : "platform source");
        std::unique_ptr<RecordingFactory> factory;
        if (installed)
            factory = std::make_unique<RecordingFactory>();
        Received received;
        void* id = nullptr;
        ASSERT_EQ(KXAPI_OK, KxapiRegisterCallback(Record, &received, -1, &id));
        EXPECT_LE(SwitchesOver(200, 1000, [&] { return NamedThreadsContextSwitches("DeviceHotplug"); }), 1);
        if (factory) {
            factory->RaiseHotplug(KX_GLOBAL_EVENT_ADDED, 8100002);
            EXPECT_TRUE(WaitUntil([&] { return received.Count() == 1; }, 2000));
        }
        auto release = [&] {
            if (factory)
                factory->RaiseHotplug(KX_GLOBAL_EVENT_ADDED, 8100003);
        };
        EXPECT_TRUE(EndsWithin(2000, [&] { EXPECT_EQ(KXAPI_OK, KxapiUnregisterCallback(id)); }, release));
        for (int round = 0; round < 100; round++) {
            ASSERT_EQ(KXAPI_OK, KxapiRegisterCallback(Record, &received, -1, &id));
            ASSERT_TRUE(EndsWithin(2000, [&] { EXPECT_EQ(KXAPI_OK, KxapiUnregisterCallback(id)); }, release))
                << "round " << round;
        }
    }
}

} // namespace
