// The control FIFO of the virtual cards: plug, unplug, power events and carrier changes reach
// the device access layer's subscribers through the same path as driver events; kxctl drives it.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "KxDevice.h"
#include "KxWire.h"
#include "SimControlProtocol.h"
#include "SimControlServer.h"
#include "SimEnvironment.h"
#include "TestSupport.h"
#include "XpUtil.h"

using namespace Kxapi;
using namespace kxtest;

namespace {

constexpr int64_t SERIAL_3490 = 3490000001;
constexpr int64_t SERIAL_850 = 850000001;

struct EventSink {
    std::mutex m_Mutex;
    std::vector<std::pair<int, KxEventArgs>> m_Events;

    static void Callback(int event, const KxEventArgs* pArgs)
    {
        auto* pSink = static_cast<EventSink*>(pArgs->m_pContext);
        std::lock_guard<std::mutex> lock(pSink->m_Mutex);
        pSink->m_Events.push_back({event, *pArgs});
    }
    bool Has(int event, int64_t serial, uint32_t value, bool checkValue)
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        for (const auto& e : m_Events) {
            if (e.first == event && e.second.m_Serial == serial && (!checkValue || e.second.m_Value == value))
                return true;
        }
        return false;
    }
};

class SimControlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_EQ(KXAPI_OK, m_Environment.Load(nullptr, error)) << error;
        ASSERT_TRUE(m_Server.Start());
    }
    void TearDown() override { m_Server.Stop(); }

    ScopedIpcDirectory m_Ipc;
    SimEnvironment m_Environment;
    SimControlServer m_Server{&m_Environment.Rack(), 1};
};

TEST_F(SimControlTest, AHotplugWaitSleepsUntilTheControlFifoPlugsOrUnplugsOrItsOwnStop)
{
    // The virtual cards' hot-plug source wakes its waiter for an event, as a driver node's
    // wait in the kernel does, and not on a poll; a wait without limit ends at its own stop.
    SimCardRack& rack = m_Environment.Rack();
    uint64_t cursor = rack.HotplugCursor();
    uint64_t stoppedCursor = cursor;
    std::atomic<bool> stop{false};
    std::atomic<bool> otherStop{false};
    std::atomic<pid_t> waiterTid{0};
    std::atomic<bool> got{false};
    std::atomic<bool> otherEnded{false};
    int event = 0;
    int64_t serial = 0;
    std::thread waiter([&] {
        waiterTid = gettid();
        got = rack.WaitHotplug(XP_INFINITE, stop, cursor, event, serial);
    });
    std::thread other([&] {
        int otherEvent = 0;
        int64_t otherSerial = 0;
        EXPECT_FALSE(rack.WaitHotplug(XP_INFINITE, otherStop, stoppedCursor, otherEvent, otherSerial));
        otherEnded = true;
    });
    ASSERT_TRUE(WaitUntil([&] { return waiterTid.load() != 0; }, 2000));
    EXPECT_LE(SwitchesOver(100, 500, [&] { return ThreadContextSwitches(waiterTid.load()); }), 1);
    EXPECT_FALSE(got.load());

    // The source is shared: a stop ends the wait whose flag it raised and no other.
    otherStop = true;
    rack.WakeHotplugWaiters();
    EXPECT_TRUE(WaitUntil([&] { return otherEnded.load(); }, 2000));
    other.join();
    XpUtil::Sleep(100);
    EXPECT_FALSE(got.load());

    SimControlClient client;
    ASSERT_EQ(KXAPI_OK, client.Unplug(SERIAL_3490));
    EXPECT_TRUE(WaitUntil([&] { return got.load(); }, 2000));
    waiter.join();
    EXPECT_EQ(event, 2);
    EXPECT_EQ(serial, SERIAL_3490);
    EXPECT_EQ(cursor, rack.HotplugCursor());
    // A wait that finds nothing new ends after its time-out, and a stopped one at once even
    // with an event waiting.
    EXPECT_FALSE(rack.WaitHotplug(50, stop, cursor, event, serial));
    ASSERT_EQ(KXAPI_OK, client.Plug(R"({"model": 3490, "serial": 3490000001})"));
    EXPECT_FALSE(rack.WaitHotplug(XP_INFINITE, otherStop, cursor, event, serial));
    ASSERT_TRUE(rack.WaitHotplug(2000, stop, cursor, event, serial));
    EXPECT_EQ(event, 1);
}

TEST_F(SimControlTest, UnplugReachesGlobalSubscriberAsDeviceRemoved)
{
    EventSink sink;
    void* id = nullptr;
    ASSERT_EQ(KXAPI_OK, KxapiRegisterCallback(EventSink::Callback, &sink, -1, &id));
    SimControlClient client;
    ASSERT_EQ(KXAPI_OK, client.Unplug(SERIAL_3490));
    EXPECT_TRUE(WaitUntil([&] { return sink.Has(2, SERIAL_3490, 0, false); }, 3000));
    EXPECT_EQ(KXAPI_E_NOT_FOUND, client.Unplug(SERIAL_3490)) << "already gone";
    KxDeviceInt device;
    EXPECT_EQ(KXAPI_E_NO_SUCH_DEVICE, device.AttachToSerial(SERIAL_3490));

    // Plugged again from its JSON description: announced and attachable.
    ASSERT_EQ(KXAPI_OK, client.Plug(R"({"model": 3490, "serial": 3490000001})"));
    EXPECT_TRUE(WaitUntil([&] { return sink.Has(1, SERIAL_3490, 0, false); }, 3000));
    EXPECT_EQ(KXAPI_OK, device.AttachToSerial(SERIAL_3490));
    EXPECT_EQ(KXAPI_E_ATTACHED, client.Plug(R"({"model": 3490, "serial": 3490000001})"));
    EXPECT_EQ(KXAPI_E_INVALID_FORMAT, client.Plug("{not json"));
    ASSERT_EQ(KXAPI_OK, KxapiUnregisterCallback(id));
}

TEST_F(SimControlTest, PowerEventReachesDeviceSubscriberAsEvent4Value1)
{
    KxDeviceInt device;
    ASSERT_EQ(KXAPI_OK, device.AttachToSerial(SERIAL_850));
    EventSink sink;
    void* id = nullptr;
    ASSERT_EQ(KXAPI_OK, device.RegisterCallback(EventSink::Callback, &sink, 4, &id));
    // The watcher sleeps in the virtual node's event wait until the card raises an event.
    EXPECT_LE(SwitchesOver(200, 1000, [&] { return NamedThreadsContextSwitches("DeviceEvents"); }), 1);
    SimControlClient client;
    ASSERT_EQ(KXAPI_OK, client.Power(SERIAL_850, true));
    EXPECT_TRUE(WaitUntil([&] { return sink.Has(4, SERIAL_850, 1, true); }, 3000));
    ASSERT_EQ(KXAPI_OK, client.Power(SERIAL_850, false));
    EXPECT_TRUE(WaitUntil([&] { return sink.Has(4, SERIAL_850, 2, true); }, 3000));
    EXPECT_EQ(KXAPI_E_NOT_FOUND, client.Power(123, true));
    // The stop wakes the wait, which has no time-out; an event would end a wait it missed.
    auto release = [&] { m_Environment.Rack().RaisePowerEvent(SERIAL_850, SIM_DRIVER_POWER_ON); };
    EXPECT_TRUE(EndsWithin(2000, [&] { EXPECT_EQ(KXAPI_OK, device.UnregisterCallback(id)); }, release));
    // Also when it comes before or while the watcher opens its virtual node.
    for (int round = 0; round < 100; round++) {
        ASSERT_EQ(KXAPI_OK, device.RegisterCallback(EventSink::Callback, &sink, 4, &id));
        if (round % 2 == 1)
            std::this_thread::yield();
        ASSERT_TRUE(EndsWithin(2000, [&] { EXPECT_EQ(KXAPI_OK, device.UnregisterCallback(id)); }, release))
            << "round " << round;
    }
}

TEST_F(SimControlTest, CarriersAreAddedMovedAndRemoved)
{
    SimControlClient client;
    auto card = m_Environment.Rack().Find(SERIAL_3490);
    ASSERT_EQ(KXAPI_OK, client.Carrier(SERIAL_3490, 1, SIM_CARRIER_CLEAR, 0, 0, ""));
    EXPECT_EQ(nullptr, card->Scene().CarrierAt(1, 306000000));
    ASSERT_EQ(KXAPI_OK, client.Carrier(SERIAL_3490, 1, SIM_CARRIER_ADD, 0, 0,
                                       R"({"freqHz": 500000000, "symbolRateBd": 6900000, "constellation": 64})"));
    ASSERT_NE(nullptr, card->Scene().CarrierAt(1, 500000000));
    ASSERT_EQ(KXAPI_OK, client.Carrier(SERIAL_3490, 1, SIM_CARRIER_MOVE, 500000000, 600000000, ""));
    EXPECT_EQ(nullptr, card->Scene().CarrierAt(1, 500000000));
    EXPECT_NE(nullptr, card->Scene().CarrierAt(1, 600000000));
    EXPECT_EQ(KXAPI_E_NOT_FOUND, client.Carrier(SERIAL_3490, 1, SIM_CARRIER_REMOVE, 500000000, 0, ""));
    ASSERT_EQ(KXAPI_OK, client.Carrier(SERIAL_3490, 1, SIM_CARRIER_REMOVE, 600000000, 0, ""));
    EXPECT_EQ(nullptr, card->Scene().CarrierAt(1, 600000000));
    EXPECT_EQ(KXAPI_E_INVALID_PARS, client.Carrier(SERIAL_3490, 1, SIM_CARRIER_ADD, 0, 0, R"({"freqHz": 1})"));
    EXPECT_EQ(KXAPI_E_INVALID_ARG, client.Carrier(SERIAL_3490, -1, SIM_CARRIER_CLEAR, 0, 0, ""));
    EXPECT_NE(nullptr, m_Environment.Rack().Find(SERIAL_3490)->Scene().FindInput(0)) << "other input untouched";
}

TEST_F(SimControlTest, TheVirtualCardsTimeIsCountedFromTheFirstUsageRequestOn)
{
    SimControlClient client;
    KxDeviceInt before;
    ASSERT_EQ(KXAPI_OK, before.AttachToSerial(SERIAL_3490)) << "driver requests nobody counts yet";
    uint64_t cpuNs = 1, requests = 1;
    ASSERT_EQ(KXAPI_OK, client.Usage(cpuNs, requests));
    EXPECT_EQ(0u, cpuNs);
    EXPECT_EQ(0u, requests);

    KxDeviceInt device;
    ASSERT_EQ(KXAPI_OK, device.AttachToSerial(SERIAL_3490));
    ASSERT_EQ(KXAPI_OK, client.Usage(cpuNs, requests));
    EXPECT_GT(requests, 0u);
    EXPECT_GT(cpuNs, 0u);
    const uint64_t firstNs = cpuNs, firstRequests = requests;
    ASSERT_EQ(KXAPI_OK, client.Usage(cpuNs, requests));
    EXPECT_GE(cpuNs, firstNs) << "the count only grows";
    EXPECT_GE(requests, firstRequests);

    std::string reply;
    char withFields[8] = {static_cast<char>(SIM_CTRL_USAGE)};
    m_Server.Handle(withFields, sizeof(withFields), reply);
    ASSERT_EQ(8u, reply.size()) << "no answer beside the result";
    EXPECT_EQ(KXAPI_E_INVALID_PARS, KxGetU32(reply.data(), 4));
}

TEST_F(SimControlTest, MalformedRequestsGetAnErrorOrNoReply)
{
    std::string reply;
    m_Server.Handle("\x01\x00", 2, reply);
    EXPECT_TRUE(reply.empty()) << "too short for a command";
    char unplug[11] = {2};
    m_Server.Handle(unplug, sizeof(unplug), reply);
    ASSERT_EQ(8u, reply.size());
    EXPECT_EQ(KXAPI_E_INVALID_PARS, KxGetU32(reply.data(), 4)) << "short serial";
    char unknown[4] = {77};
    m_Server.Handle(unknown, sizeof(unknown), reply);
    EXPECT_EQ(KXAPI_E_NOT_SUPPORTED, KxGetU32(reply.data(), 4));
    std::string carrier(SIM_CTRL_CARRIER_HEADER - 1, '\0');
    KxPutU32(carrier.data(), 0, SIM_CTRL_CARRIER);
    m_Server.Handle(carrier.data(), static_cast<int>(carrier.size()), reply);
    EXPECT_EQ(KXAPI_E_INVALID_PARS, KxGetU32(reply.data(), 4));
}

TEST(SimControlProcess, KxctlListsAndUnplugsCardsOfTheRunningSimulator)
{
    SimService sim;
    ASSERT_TRUE(sim.Start());
    ASSERT_TRUE(WaitForPath(sim.File("KxSimCtrlPipe"), 5000));
    ProcessResult list = RunProgram({KX_KXCTL_BINARY, "--fifo-dir", sim.Dir(), "sim", "list"});
    ASSERT_TRUE(list.m_Exited);
    EXPECT_EQ(0, list.m_Status) << list.m_Output;
    EXPECT_NE(std::string::npos, list.m_Output.find("3470 0 3470000001 pcie-block")) << list.m_Output;
    EXPECT_NE(std::string::npos, list.m_Output.find("830 1 830000002 usb")) << list.m_Output;

    ProcessResult unplug = RunProgram({KX_KXCTL_BINARY, "--fifo-dir", sim.Dir(), "sim", "unplug", "3470000001"});
    EXPECT_EQ(0, unplug.m_Status) << unplug.m_Output;
    ProcessResult again = RunProgram({KX_KXCTL_BINARY, "--fifo-dir", sim.Dir(), "sim", "unplug", "3470000001"});
    EXPECT_EQ(1, again.m_Status);
    EXPECT_NE(std::string::npos, again.m_Output.find("KXAPI_E_NOT_FOUND")) << again.m_Output;
    ProcessResult bad = RunProgram({KX_KXCTL_BINARY, "--fifo-dir", sim.Dir(), "sim", "power", "1", "maybe"});
    EXPECT_EQ(2, bad.m_Status);

    ProcessResult usage = RunProgram({KX_KXCTL_BINARY, "--fifo-dir", sim.Dir(), "--json", "sim", "usage", "1"});
    EXPECT_EQ(0, usage.m_Status) << usage.m_Output;
    EXPECT_NE(std::string::npos, usage.m_Output.find("{\"seconds\":1,")) << usage.m_Output;
    EXPECT_NE(std::string::npos, usage.m_Output.find("\"cpu_percent\":")) << usage.m_Output;
    for (const char* pSeconds : {"0", "3601", "x"})
        EXPECT_EQ(2, RunProgram({KX_KXCTL_BINARY, "--fifo-dir", sim.Dir(), "sim", "usage", pSeconds}).m_Status)
            << pSeconds;
    ProcessResult exit = sim.Stop();
    EXPECT_TRUE(exit.m_Exited);
    EXPECT_EQ(0, exit.m_Status);
}

TEST(SimControlProcess, BadScenarioFileStopsTheSimulatorWithAReason)
{
    TempDir dir;
    FILE* file = fopen(dir.File("bad.json").c_str(), "w");
    ASSERT_NE(nullptr, file);
    fputs("{\"cards\": [{\"model\": 1}]}", file);
    fclose(file);
    ProcessResult result = RunProgram({KX_SIM_BINARY, "--no-daemon", "--fifo-dir", dir.Path(), "--scenario",
                                       dir.File("bad.json")});
    ASSERT_TRUE(result.m_Exited);
    EXPECT_EQ(2, result.m_Status);
    EXPECT_NE(std::string::npos, result.m_Output.find("KXAPI_E_INVALID_FORMAT")) << result.m_Output;
}

} // namespace
