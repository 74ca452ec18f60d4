// The network device manager as client processes see it: KxapiServiceSim runs in a private
// network namespace joined by a veth pair to a namespace of simulated devices (KxNetDevSim);
// the test process is the client (FIFOs and the shared list live in a private directory).
#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "KxeListDefs.h"
#include "KxeManagerFixture.h"
#include "KxeNetns.h"
#include "KxeSvcClient.h"
#include "TestSupport.h"
#include "XpUtil.h"

namespace {

using kxtest::CountLines;
using kxtest::NetnsLab;
using kxtest::NetnsPairTest;
using kxtest::ReadFileText;
using kxtest::WaitUntil;

constexpr int SUBNET = 70;
const uint8_t DEVICE_IP[4] = {10, SUBNET, 0, 2};
constexpr const char* DEVICE_IP_TEXT = "10.70.0.2";
constexpr int64_t FIRST_SERIAL = 5910000001;
constexpr uint64_t FIRST_MAC = 0x14F4000001ull;

// The entry a simulated device publishes (KxNetDevSim defaults: type 5910, firmware 3.1, mode 0).
KxeListEntry Expected(int64_t serial, uint64_t mac, int port)
{
    KxeListEntry entry;
    memset(&entry, 0, sizeof(entry));
    entry.m_Serial = serial;
    entry.m_TypeNumber = 5910;
    entry.m_FirmwareVersion = 3;
    entry.m_FirmwareVariant = 1;
    memcpy(entry.m_IpAddr, DEVICE_IP, 4);
    for (int i = 0; i < 6; ++i)
        entry.m_MacAddr[i] = static_cast<uint8_t>(mac >> (8 * (5 - i)));
    entry.m_OpMode = 0;
    entry.m_Port = port;
    return entry;
}

std::vector<int64_t> SortedSerials(const KxeListSnapshot& list)
{
    std::vector<int64_t> serials;
    for (const KxeListEntry& entry : list.m_Entries)
        serials.push_back(entry.m_Serial);
    std::sort(serials.begin(), serials.end());
    return serials;
}

class KxeNetnsService : public NetnsPairTest<SUBNET> {
protected:
    void TearDown() override
    {
        for (pid_t device : std::vector<pid_t>(m_Devices))
            StopDevice(device);
        // A clean stop, so that the service removes its shared list and named mutex; a
        // failing exit status also carries the sanitizers' findings in the service.
        if (m_ServicePid > 0) {
            kxtest::ProcessResult result = m_Lab.Kill(m_ServicePid, SIGTERM, 20000);
            EXPECT_TRUE(result.m_Exited && result.m_Status == 0)
                << "service status " << result.m_Status << " signal " << result.m_Signal << "\n"
                << Logs();
        }
    }

    // Stops a simulated device; it must end cleanly.
    void StopDevice(pid_t device)
    {
        m_Devices.erase(std::remove(m_Devices.begin(), m_Devices.end(), device), m_Devices.end());
        kxtest::ProcessResult result = m_Lab.Kill(device, SIGTERM, 10000);
        EXPECT_TRUE(result.m_Exited && result.m_Status == 0)
            << "simulated device status " << result.m_Status << " signal " << result.m_Signal;
    }

    // A simulated device process in the device namespace; its log is `name`.log.
    pid_t StartDevice(const std::string& name, const std::vector<std::string>& extra, int httpPort = 0)
    {
        const std::string log = DeviceLog(name);
        std::vector<std::string> argv = {kxtest::NetDevBinary(), "--log", log,  "--if", DEVICE_IP_TEXT,
                                         "--advertise", DEVICE_IP_TEXT, "--http-port", std::to_string(httpPort)};
        argv.insert(argv.end(), extra.begin(), extra.end());
        pid_t pid = m_Lab.Spawn(m_Dev, argv, m_Logs.File(name + ".out"));
        if (pid > 0)
            m_Devices.push_back(pid);
        const int ready = httpPort > 0 ? 2 : 1;
        EXPECT_TRUE(WaitUntil([&] { return CountLines(ReadFileText(log), "READY") >= ready; }, 10000))
            << ReadFileText(log) << ReadFileText(m_Logs.File(name + ".out"));
        return pid;
    }
    std::string DeviceLog(const std::string& name) const { return m_Logs.File(name + ".log"); }

    // KxapiServiceSim in the service namespace, FIFOs and key files in the private directory.
    bool StartService()
    {
        m_ServicePid = m_Lab.Spawn(m_Svc, {KX_SIM_BINARY, "--fifo-dir", m_Ipc.Path(), "--no-daemon"},
                                   m_Logs.File("service.log"));
        return m_ServicePid > 0 && kxtest::WaitForPath(m_Ipc.File("KxeRecvPipe"), 20000);
    }

    bool OpenClient(KxeSvcClient& client)
    {
        client.SetReplyTimeout(30000);
        return client.Open() == KXAPI_OK;
    }

    // Waits until the published list holds `count` entries.
    bool WaitForCount(KxeSvcClient& client, uint32_t count, KxeListSnapshot& list)
    {
        return WaitUntil(
            [&] { return client.ReadDeviceList(list) == KXAPI_OK && list.m_Count == count; }, 20000);
    }

    // Starts the service, opens `client` and waits until the list it reads holds `count` entries.
    void StartServing(KxeSvcClient& client, uint32_t count, KxeListSnapshot& list)
    {
        ASSERT_TRUE(StartService()) << Logs();
        ASSERT_TRUE(OpenClient(client));
        ASSERT_TRUE(WaitForCount(client, count, list)) << "count " << list.m_Count << "\n" << Logs();
    }

    // kxctl against the service, run from the test's own namespace.
    kxtest::ProcessResult Kxctl(const std::vector<std::string>& args)
    {
        std::vector<std::string> argv = {KX_KXCTL_BINARY, "--fifo-dir", m_Ipc.Path()};
        argv.insert(argv.end(), args.begin(), args.end());
        return kxtest::RunProgram(argv, 30000);
    }

    std::string Logs() { return ReadFileText(m_Logs.File("service.log")); }

    kxtest::ScopedIpcDirectory m_Ipc;
    kxtest::TempDir m_Logs;
    pid_t m_ServicePid = 0;
    std::vector<pid_t> m_Devices;
};

TEST_F(KxeNetnsService, DiscoveryPublishesTheDevicesInTheSharedList)
{
    StartDevice("dev", {"--serial", std::to_string(FIRST_SERIAL), "--count", "3", "--mac", "14F4000001"}, 8000);
    KxeSvcClient reader;
    KxeListSnapshot list;
    ASSERT_NO_FATAL_FAILURE(StartServing(reader, 3, list));
    EXPECT_EQ(1u, list.m_Version);
    EXPECT_EQ(512u, list.m_Capacity);
    EXPECT_NE(0u, list.m_TimeS);
    std::vector<KxeListEntry> entries = list.m_Entries;
    ASSERT_EQ(3u, entries.size());
    std::sort(entries.begin(), entries.end(),
              [](const KxeListEntry& a, const KxeListEntry& b) { return a.m_Serial < b.m_Serial; });
    for (int i = 0; i < 3; ++i) {
        const KxeListEntry expected = Expected(FIRST_SERIAL + i, FIRST_MAC + static_cast<uint64_t>(i), 8000);
        EXPECT_EQ(0, memcmp(&expected, &entries[static_cast<size_t>(i)], sizeof(KxeListEntry)))
            << "entry of serial " << FIRST_SERIAL + i << " differs from the 40-byte layout";
    }

    // The same list through the command-line client, another reader process.
    kxtest::ProcessResult listed = Kxctl({"net", "list"});
    EXPECT_EQ(0, listed.m_Status) << listed.m_Output;
    EXPECT_NE(std::string::npos, listed.m_Output.find("version 1 capacity 512 count 3")) << listed.m_Output;
    EXPECT_NE(std::string::npos,
              listed.m_Output.find("serial 5910000002 type 5910 fw 3.1 ip 10.70.0.2:8000 mac 00:14:f4:00:00:02"))
        << listed.m_Output;
}

TEST_F(KxeNetnsService, RegisteredClientsHearDevicesComeAndGo)
{
    ASSERT_TRUE(StartService()) << Logs();
    KxeSvcClient client;
    ASSERT_TRUE(OpenClient(client));
    kxtest::EventSink events;
    ASSERT_EQ(KXAPI_OK, client.RegisterEvents(KXE_EVENT_DEVICE_ADDED | KXE_EVENT_DEVICE_REMOVED, events.Callback()));
    // A complete cycle before the devices exist, so the next one sees them from its start.
    ASSERT_EQ(KXAPI_OK, client.ForceDiscovery());

    pid_t device = StartDevice("dev", {"--serial", "7001", "--count", "2"});
    ASSERT_EQ(KXAPI_OK, client.ForceDiscovery());
    KxeListSnapshot list;
    ASSERT_TRUE(WaitForCount(client, 2, list)) << Logs();
    ASSERT_TRUE(WaitUntil([&] { return events.Size() >= 2; }, 10000));
    std::vector<std::pair<int64_t, uint32_t>> added = events.Take();
    std::sort(added.begin(), added.end());
    EXPECT_EQ((std::vector<std::pair<int64_t, uint32_t>>{{7001, KXE_EVENT_DEVICE_ADDED}, {7002, KXE_EVENT_DEVICE_ADDED}}),
              added);

    // The devices vanish: the next cycle publishes an empty list and reports each as removed.
    StopDevice(device);
    ASSERT_EQ(KXAPI_OK, client.ForceDiscovery());
    ASSERT_EQ(KXAPI_OK, client.ReadDeviceList(list));
    EXPECT_EQ(0u, list.m_Count);
    ASSERT_TRUE(WaitUntil([&] { return events.Size() >= 2; }, 10000));
    std::vector<std::pair<int64_t, uint32_t>> removed = events.Take();
    std::sort(removed.begin(), removed.end());
    EXPECT_EQ(
        (std::vector<std::pair<int64_t, uint32_t>>{{7001, KXE_EVENT_DEVICE_REMOVED}, {7002, KXE_EVENT_DEVICE_REMOVED}}),
        removed);
    client.UnregisterEvents();
}

TEST_F(KxeNetnsService, ACycleThatFindsTheSameDevicesRewritesNothing)
{
    pid_t device = StartDevice("dev", {"--serial", "8001"});
    KxeSvcClient client;
    KxeListSnapshot before;
    ASSERT_NO_FATAL_FAILURE(StartServing(client, 1, before));
    kxtest::EventSink events;
    ASSERT_EQ(KXAPI_OK, client.RegisterEvents(KXE_EVENT_DEVICE_ADDED | KXE_EVENT_DEVICE_REMOVED, events.Callback()));
    // Let the clock pass a second, so that a rewrite would show in the time stamp.
    XpUtil::Sleep(1100);
    ASSERT_EQ(KXAPI_OK, client.ForceDiscovery());
    KxeListSnapshot after;
    ASSERT_EQ(KXAPI_OK, client.ReadDeviceList(after));
    EXPECT_EQ(before.m_TimeS, after.m_TimeS) << "an unchanged cycle does not touch the time stamp";
    ASSERT_EQ(1u, after.m_Count);
    EXPECT_EQ(0, memcmp(before.m_Entries.data(), after.m_Entries.data(), sizeof(KxeListEntry)));

    // A change is written and reported; no event came from the unchanged cycle before it.
    StopDevice(device);
    ASSERT_EQ(KXAPI_OK, client.ForceDiscovery());
    ASSERT_EQ(KXAPI_OK, client.ReadDeviceList(after));
    EXPECT_EQ(0u, after.m_Count);
    EXPECT_GT(after.m_TimeS, before.m_TimeS);
    ASSERT_TRUE(WaitUntil([&] { return events.Size() >= 1; }, 10000));
    EXPECT_EQ((std::vector<std::pair<int64_t, uint32_t>>{{8001, KXE_EVENT_DEVICE_REMOVED}}), events.Take());
    client.UnregisterEvents();
}

TEST_F(KxeNetnsService, ClientsOfOnePortShareOneChannelAndTheDeviceSeesOneDetach)
{
    StartDevice("dev", {"--serial", "9001"}, 8000);
    KxeSvcClient first;
    KxeSvcClient second;
    KxeListSnapshot list;
    ASSERT_NO_FATAL_FAILURE(StartServing(first, 1, list));
    ASSERT_TRUE(OpenClient(second));
    const std::string log = DeviceLog("dev");

    int channelA = -1, channelB = -1;
    uint32_t idA = 0, idB = 0;
    ASSERT_EQ(KXAPI_OK, first.Attach(DEVICE_IP, 9001, 1, channelA, idA)) << ReadFileText(log);
    XpUtil::Sleep(2); // attach ids are tick counts
    ASSERT_EQ(KXAPI_OK, second.Attach(DEVICE_IP, 9001, 1, channelB, idB));
    EXPECT_NE(-1, channelA);
    EXPECT_EQ(channelA, channelB) << "both clients use the one channel of the port";
    EXPECT_EQ(1, CountLines(ReadFileText(log), "ATTACH port=1"));

    ASSERT_EQ(KXAPI_OK, first.Detach(9001, 1, idA));
    EXPECT_EQ(0, CountLines(ReadFileText(log), "DETACH")) << "the other client still uses the channel";
    ASSERT_EQ(KXAPI_OK, second.Detach(9001, 1, idB));
    EXPECT_EQ(1, CountLines(ReadFileText(log), "DETACH channel=" + std::to_string(channelA) + " result=0"))
        << ReadFileText(log);
    EXPECT_EQ(KXAPI_E_NOT_ATTACHED, second.Detach(9001, 1, idB));

    // kxctl holds an attachment for a second and detaches it again.
    kxtest::ProcessResult held = Kxctl({"net", "attach", DEVICE_IP_TEXT, "9001", "2", "--hold", "1"});
    EXPECT_EQ(0, held.m_Status) << held.m_Output;
    EXPECT_NE(std::string::npos, held.m_Output.find("channel ")) << held.m_Output;
    EXPECT_NE(std::string::npos, held.m_Output.find("detached")) << held.m_Output;
    EXPECT_EQ(1, CountLines(ReadFileText(log), "ATTACH port=2"));
    EXPECT_EQ(2, CountLines(ReadFileText(log), "DETACH"));
}

TEST_F(KxeNetnsService, ExclusiveAccessAndProbeAskTheDevice)
{
    StartDevice("dev", {"--serial", "9101", "--held-port", "3"}, 8000);
    KxeSvcClient owner;
    KxeSvcClient other;
    KxeListSnapshot list;
    ASSERT_NO_FATAL_FAILURE(StartServing(owner, 1, list));
    ASSERT_TRUE(OpenClient(other));
    const std::string log = DeviceLog("dev");

    int channel = -1;
    uint32_t id = 0;
    ASSERT_EQ(KXAPI_OK, owner.Attach(DEVICE_IP, 9101, 1, channel, id));
    ASSERT_EQ(KXAPI_OK, owner.ExclusiveAccess(9101, 1, id, KXE_EXCL_ACQUIRE));
    EXPECT_EQ(KXAPI_E_IN_USE, other.ExclusiveAccess(9101, 1, 77, KXE_EXCL_PROBE));
    EXPECT_EQ(KXAPI_E_IN_USE, other.ExclusiveAccess(9101, 1, 77, KXE_EXCL_ACQUIRE));
    EXPECT_EQ(KXAPI_E_IN_USE, other.ExclusiveAccess(9101, 1, 77, KXE_EXCL_RELEASE));
    ASSERT_EQ(KXAPI_OK, owner.ExclusiveAccess(9101, 1, id, KXE_EXCL_RELEASE));
    EXPECT_EQ(KXAPI_OK, other.ExclusiveAccess(9101, 1, 77, KXE_EXCL_PROBE));

    // A port without a record is probed at the device: attached and detached again.
    EXPECT_EQ(KXAPI_OK, other.ExclusiveAccess(9101, 2, 77, KXE_EXCL_PROBE));
    EXPECT_EQ(1, CountLines(ReadFileText(log), "ATTACH port=2")) << ReadFileText(log);
    EXPECT_EQ(1, CountLines(ReadFileText(log), "DETACH"));
    // A port another host holds: the device's refusal, and no record is left behind (a
    // later attach asks the device again and is refused again).
    EXPECT_EQ(KXAPI_E_IN_USE, other.ExclusiveAccess(9101, 3, 77, KXE_EXCL_PROBE));
    EXPECT_EQ(KXAPI_E_IN_USE, other.Attach(DEVICE_IP, 9101, 3, channel, id));
    EXPECT_EQ(2, CountLines(ReadFileText(log), "ATTACH port=3 host=10.70.0.1 refused"));
    // A device that is not listed.
    EXPECT_EQ(KXAPI_E_NOT_FOUND, other.ExclusiveAccess(4242, 1, 77, KXE_EXCL_PROBE));
}

TEST_F(KxeNetnsService, ADeviceWithoutItsInputServiceIsACommunicationError)
{
    StartDevice("dev", {"--serial", "9301"}); // discovery only, nothing listens on port 8000
    KxeSvcClient client;
    KxeListSnapshot list;
    ASSERT_NO_FATAL_FAILURE(StartServing(client, 1, list));
    int channel = -1;
    uint32_t id = 0;
    EXPECT_EQ(KXAPI_E_COMMUNICATION, client.Attach(DEVICE_IP, 9301, 1, channel, id));
    EXPECT_EQ(KXAPI_E_COMMUNICATION, client.ExclusiveAccess(9301, 1, 5, KXE_EXCL_PROBE))
        << "the probe's attach fails the same way";
    EXPECT_EQ(KXAPI_E_NOT_FOUND, client.ExclusiveAccess(9301, 1, 5, KXE_EXCL_ACQUIRE)) << "no record was kept";
    KxServiceVersion version;
    EXPECT_EQ(KXAPI_OK, client.GetServiceVersion(version));
}

TEST_F(KxeNetnsService, AKilledClientLosesItsExclusiveAccessAndItsAttachmentAtOnce)
{
    StartDevice("dev", {"--serial", "9201"}, 8000);
    KxeSvcClient watcher;
    KxeListSnapshot list;
    ASSERT_NO_FATAL_FAILURE(StartServing(watcher, 1, list));
    const std::string log = DeviceLog("dev");

    const std::string output = m_Logs.File("kxctl.out");
    pid_t holder = m_Lab.Spawn("",
                               {KX_KXCTL_BINARY, "--fifo-dir", m_Ipc.Path(), "net", "attach", DEVICE_IP_TEXT, "9201",
                                "1", "--exclusive", "--hold", "0"},
                               output);
    ASSERT_TRUE(WaitUntil([&] { return ReadFileText(output).find("exclusive") != std::string::npos; }, 20000))
        << ReadFileText(output);
    EXPECT_EQ(KXAPI_E_IN_USE, watcher.ExclusiveAccess(9201, 1, 5, KXE_EXCL_PROBE));

    m_Lab.Kill(holder, SIGKILL);
    // Both go with the client, while another client is still connected: the device sees
    // the channel detached and no record is left.
    EXPECT_TRUE(WaitUntil([&] { return CountLines(ReadFileText(log), "DETACH") >= 1; }, 10000)) << ReadFileText(log);
    EXPECT_EQ(KXAPI_E_NOT_FOUND, watcher.ExclusiveAccess(9201, 1, 5, KXE_EXCL_ACQUIRE)) << "no record is left";
    EXPECT_EQ(KXAPI_OK, watcher.ExclusiveAccess(9201, 1, 5, KXE_EXCL_PROBE)) << "the port is free at the device";
}

TEST_F(KxeNetnsService, MisbehavingAnswersCostOnlyThemselves)
{
    StartDevice("good", {"--serial", "1001", "--count", "2", "--mac", "14F4000001"}, 8000);
    StartDevice("garbage", {"--serial", "2001", "--mac", "14F4000100", "--reply", "garbage"});
    StartDevice("truncated", {"--serial", "2101", "--mac", "14F4000200", "--reply", "truncated"});
    StartDevice("noext", {"--serial", "3001", "--mac", "14F4000300", "--reply", "noext"});
    StartDevice("badxaddrs", {"--serial", "4001", "--mac", "14F4000400", "--reply", "badxaddrs"});
    KxeSvcClient client;
    KxeListSnapshot list;
    ASSERT_NO_FATAL_FAILURE(StartServing(client, 4, list));
    // The match without extension has no identity (serial 0); XAddrs that are not
    // "http://a.b.c.d:port" give address 0.0.0.0 and port 0 but keep the identity.
    EXPECT_EQ((std::vector<int64_t>{0, 1001, 1002, 4001}), SortedSerials(list));
    for (const KxeListEntry& entry : list.m_Entries) {
        if (entry.m_Serial == 4001) {
            const uint8_t zero[4] = {};
            EXPECT_EQ(0, memcmp(zero, entry.m_IpAddr, 4));
            EXPECT_EQ(0, entry.m_Port);
            EXPECT_EQ(5910, entry.m_TypeNumber);
        }
        if (entry.m_Serial == 1002) {
            const KxeListEntry expected = Expected(1002, FIRST_MAC + 1, 8000);
            EXPECT_EQ(0, memcmp(&expected, &entry, sizeof(entry)));
        }
    }
    EXPECT_EQ(1, CountLines(ReadFileText(DeviceLog("garbage")), "PROBE")) << "the bad devices were asked";
    KxServiceVersion version;
    EXPECT_EQ(KXAPI_OK, client.GetServiceVersion(version));
}

TEST_F(KxeNetnsService, SurplusAnswersStopAtTheCapacityAndTheServiceKeepsServing)
{
    pid_t device = StartDevice("many", {"--serial", "100000", "--count", "600"});
    KxeSvcClient client;
    KxeListSnapshot list;
    ASSERT_NO_FATAL_FAILURE(StartServing(client, KXE_LIST_CAPACITY, list));
    EXPECT_EQ(static_cast<size_t>(KXE_LIST_CAPACITY), list.m_Entries.size());
    std::vector<int64_t> serials = SortedSerials(list);
    EXPECT_EQ(serials.end(), std::adjacent_find(serials.begin(), serials.end())) << "each device once";
    EXPECT_GE(serials.front(), 100000);
    EXPECT_LT(serials.back(), 100600);

    StopDevice(device);
    ASSERT_EQ(KXAPI_OK, client.ForceDiscovery());
    ASSERT_EQ(KXAPI_OK, client.ReadDeviceList(list));
    EXPECT_EQ(0u, list.m_Count);
    KxServiceVersion version;
    EXPECT_EQ(KXAPI_OK, client.GetServiceVersion(version));
}

} // namespace
