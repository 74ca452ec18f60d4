#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <ctime>
#include <fstream>
#include <mutex>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "CrossPlatform.h"
#include "KxeFakes.h"
#include "KxWire.h"
#include "KxeSvcClient.h"
#include "TestSupport.h"
#include "XpUtil.h"
#include "KxeManagerFixture.h"
#include "network/KxeManager.h"

namespace {

using kxtest::Device;
using kxtest::DeviceLog;
using kxtest::EventSink;
using kxtest::ManagerFixture;
using kxtest::RecordingFactory;
using kxtest::ScopedIpcDirectory;
using kxtest::ScriptedEnumerator;

TEST_F(ManagerFixture, PublishesTheHeaderAndEntriesByteExact)
{
    EXPECT_FALSE(m_pManager->Init());
    KxeListSnapshot list = ReadList();
    EXPECT_EQ(1u, list.m_Version);
    EXPECT_EQ(512u, list.m_Capacity);
    EXPECT_EQ(0u, list.m_Count);
    EXPECT_LE(std::abs(static_cast<long>(list.m_TimeS) - static_cast<long>(time(nullptr))), 5);

    std::vector<KxeListEntry> devices = {Device(1001, 11), Device(1002, 12, 8080, 5950)};
    devices[1].m_OpMode = 3;
    m_pEnumerator->SetDevices(devices);
    KxeSvcClient client;
    ASSERT_EQ(KXAPI_OK, client.ForceDiscovery());
    list = ReadList();
    ASSERT_EQ(2u, list.m_Count);
    ASSERT_EQ(2u, list.m_Entries.size());
    EXPECT_EQ(0, memcmp(&devices[0], &list.m_Entries[0], sizeof(KxeListEntry)));
    EXPECT_EQ(0, memcmp(&devices[1], &list.m_Entries[1], sizeof(KxeListEntry)));
    // Field offsets as the clients of other builds read them.
    const char* raw = reinterpret_cast<const char*>(&list.m_Entries[1]);
    EXPECT_EQ(1002, KxGetI64(raw, 0));
    EXPECT_EQ(5950u, KxGetU32(raw, 8));
    EXPECT_EQ(10, raw[20]);
    EXPECT_EQ(12, raw[23]);
    EXPECT_EQ(0x14, raw[25]);
    EXPECT_EQ(3u, KxGetU32(raw, 32));
    EXPECT_EQ(8080u, KxGetU32(raw, 36));
}

TEST_F(ManagerFixture, UnchangedCycleRewritesNothingAndEmptyCycleClearsTheList)
{
    std::vector<KxeListEntry> devices = {Device(1001, 11), Device(1002, 12)};
    ASSERT_TRUE(m_pManager->Update(devices.data(), 2));
    // Mark the time stamp: an unchanged result must not touch it.
    std::string shmKey;
    std::string mutexKey;
    KxeSvcClient client;
    ASSERT_EQ(KXAPI_OK, client.GetListKeys(shmKey, mutexKey));
    IXpSharedMem* shm = Xp::Instance()->NewShMem();
    void* memory = nullptr;
    ASSERT_EQ(KXAPI_OK, shm->OpenExisting(shmKey.c_str(), KXE_LIST_SHMEM_SIZE, memory, false));
    KxPutU32(memory, KXE_LIST_OFFS_TIME, 12345);

    std::vector<KxeListEntry> reordered = {devices[1], devices[0]};
    EXPECT_TRUE(m_pManager->Update(reordered.data(), 2));
    EXPECT_EQ(12345u, KxGetU32(memory, KXE_LIST_OFFS_TIME));

    // Each compared field alone makes a change: the list is rewritten (new time stamp) and
    // the changed entry published; then the same list again is no change.
    using Change = void (*)(KxeListEntry&);
    const std::pair<const char*, Change> changes[] = {
        {"address", [](KxeListEntry& e) { e.m_IpAddr[0] = 11; }},
        {"MAC", [](KxeListEntry& e) { e.m_MacAddr[5] = 0x77; }},
        {"type", [](KxeListEntry& e) { e.m_TypeNumber = 5911; }},
        {"firmware version", [](KxeListEntry& e) { e.m_FirmwareVersion = 4; }},
        {"firmware variant", [](KxeListEntry& e) { e.m_FirmwareVariant = 2; }},
        {"operating mode", [](KxeListEntry& e) { e.m_OpMode = 1; }},
    };
    for (const auto& change : changes) {
        change.second(reordered[0]);
        KxPutU32(memory, KXE_LIST_OFFS_TIME, 12345);
        EXPECT_TRUE(m_pManager->Update(reordered.data(), 2)) << change.first;
        EXPECT_NE(12345u, KxGetU32(memory, KXE_LIST_OFFS_TIME)) << change.first;
        EXPECT_EQ(0, memcmp(&reordered[0], static_cast<char*>(memory) + KXE_LIST_HEADER_SIZE, sizeof(KxeListEntry)))
            << change.first;
        KxPutU32(memory, KXE_LIST_OFFS_TIME, 12345);
        EXPECT_TRUE(m_pManager->Update(reordered.data(), 2)) << change.first;
        EXPECT_EQ(12345u, KxGetU32(memory, KXE_LIST_OFFS_TIME)) << change.first;
    }

    // One device on two ports is two keys: both are listed and reported, and the same two
    // entries again are no change.
    EventSink sink;
    KxeSvcClient listener;
    ASSERT_EQ(KXAPI_OK, listener.RegisterEvents(3, sink.Callback(), "KxapiKxeSvc_EvPipe_1"));
    std::vector<KxeListEntry> twoPorts = {Device(3003, 30, 8000), Device(3003, 30, 8001)};
    ASSERT_TRUE(m_pManager->Update(twoPorts.data(), 2));
    ASSERT_TRUE(kxtest::WaitUntil([&] { return sink.Size() >= 4; }, 3000));
    XpUtil::Sleep(100);
    auto events = sink.Take();
    EXPECT_EQ(2, std::count(events.begin(), events.end(), std::make_pair(int64_t{3003}, KXE_EVENT_DEVICE_ADDED)));
    EXPECT_EQ(2, std::count(events.begin(), events.end(), std::make_pair(int64_t{1002}, KXE_EVENT_DEVICE_REMOVED)) +
                     std::count(events.begin(), events.end(), std::make_pair(int64_t{1001}, KXE_EVENT_DEVICE_REMOVED)));
    EXPECT_EQ(4u, events.size());
    EXPECT_EQ(2u, KxGetU32(memory, KXE_LIST_OFFS_COUNT));
    KxPutU32(memory, KXE_LIST_OFFS_TIME, 12345);
    std::vector<KxeListEntry> swapped = {twoPorts[1], twoPorts[0]};
    EXPECT_TRUE(m_pManager->Update(swapped.data(), 2));
    EXPECT_EQ(12345u, KxGetU32(memory, KXE_LIST_OFFS_TIME));
    XpUtil::Sleep(100);
    EXPECT_EQ(0u, sink.Size());

    KxPutU32(memory, KXE_LIST_OFFS_TIME, 12345);
    EXPECT_TRUE(m_pManager->Update(nullptr, 0));
    EXPECT_EQ(0u, KxGetU32(memory, KXE_LIST_OFFS_COUNT));
    EXPECT_NE(12345u, KxGetU32(memory, KXE_LIST_OFFS_TIME));
    shm->Close();
    delete shm;
}

TEST_F(ManagerFixture, EqualKeysArePublishedButCountedOnceAndCapacityIsKept)
{
    std::vector<KxeListEntry> devices;
    for (int i = 0; i < 600; ++i)
        devices.push_back(Device(5000 + i, static_cast<uint8_t>(i)));
    ASSERT_TRUE(m_pManager->Update(devices.data(), 600));
    KxeListSnapshot full = ReadList();
    EXPECT_EQ(512u, full.m_Count);
    EXPECT_EQ(5511, full.m_Entries.back().m_Serial);
    // Same serial and port twice: both written, one mapped; the next equal-sized list of
    // two distinct devices is therefore a change.
    std::vector<KxeListEntry> twins = {Device(77, 1), Device(77, 2)};
    ASSERT_TRUE(m_pManager->Update(twins.data(), 2));
    KxeListSnapshot list = ReadList();
    ASSERT_EQ(2u, list.m_Count);
    EXPECT_EQ(2, list.m_Entries[1].m_IpAddr[3]);
}

TEST_F(ManagerFixture, AReaderHoldingTheMutexPastTheTimeOutIsOverruled)
{
    std::string shmKey;
    std::string mutexKey;
    KxeSvcClient client;
    ASSERT_EQ(KXAPI_OK, client.GetListKeys(shmKey, mutexKey));
    IXpNamedMutex* reader = Xp::Instance()->NewNamedMutex();
    ASSERT_EQ(KXAPI_OK, reader->OpenExisting(mutexKey.c_str()));
    ASSERT_EQ(KXAPI_OK, reader->Lock(1000));
    std::vector<KxeListEntry> devices = {Device(1001, 11)};
    unsigned int start = XpUtil::GetTickCount();
    // The service waits its 5 s, then sets the mutex free and publishes.
    EXPECT_TRUE(m_pManager->Update(devices.data(), 1));
    EXPECT_GE(XpUtil::GetTickCount() - start, 4900u);
    EXPECT_EQ(1u, ReadList().m_Count);
    // The mutex works as before for readers that follow the protocol.
    ASSERT_EQ(KXAPI_OK, reader->Lock(1000));
    EXPECT_EQ(KXAPI_E_TIMEOUT, reader->Lock(0));
    reader->Unlock();
    reader->Close();
    delete reader;
}

TEST_F(ManagerFixture, RegisteredClientsHearAddedAndRemovedDevicesByMask)
{
    EventSink all;
    EventSink addedOnly;
    KxeSvcClient allClient;
    KxeSvcClient addedClient;
    ASSERT_EQ(KXAPI_OK, allClient.RegisterEvents(3, all.Callback(), "KxapiKxeSvc_EvPipe_1"));
    ASSERT_EQ(KXAPI_OK, addedClient.RegisterEvents(2, addedOnly.Callback(), "KxapiKxeSvc_EvPipe_2"));
    // Registering again only changes the mask (same connection).
    ASSERT_EQ(KXAPI_OK, addedClient.RegisterEvents(1, nullptr, "KxapiKxeSvc_EvPipe_2"));

    m_pEnumerator->SetDevices({Device(1001, 11), Device(1002, 12)});
    ASSERT_EQ(KXAPI_OK, allClient.ForceDiscovery());
    ASSERT_TRUE(kxtest::WaitUntil([&] { return all.Size() == 2 && addedOnly.Size() == 2; }, 3000));
    for (const auto& event : addedOnly.Take())
        EXPECT_EQ(KXE_EVENT_DEVICE_ADDED, event.second);
    all.Take();

    // Unchanged: no events.
    ASSERT_EQ(KXAPI_OK, allClient.ForceDiscovery());
    m_pEnumerator->SetDevices({Device(1002, 12)});
    ASSERT_EQ(KXAPI_OK, allClient.ForceDiscovery());
    ASSERT_TRUE(kxtest::WaitUntil([&] { return all.Size() >= 1; }, 3000));
    XpUtil::Sleep(200);
    auto events = all.Take();
    ASSERT_EQ(1u, events.size());
    EXPECT_EQ(1001, events[0].first);
    EXPECT_EQ(KXE_EVENT_DEVICE_REMOVED, events[0].second);
    EXPECT_EQ(0u, addedOnly.Size());
    // Both names are in the registry once.
    EXPECT_EQ(2u, m_pManager->EventPipeNames().size());
}

TEST_F(ManagerFixture, EventRegistrationRefusesNamesOutsideTheFifoDirectory)
{
    KxeSvcClient client;
    std::vector<char> request(KXE_REQ_EVENT_REGISTER_SIZE, 0);
    KxPutU32(request.data(), 0, KXE_CMD_EVENT_REGISTER);
    const char* name = "../KxapiKxeSvc_EvPipe_1";
    for (size_t i = 0; i < strlen(name); ++i)
        KxPutU32(request.data(), static_cast<unsigned int>(4 + 4 * i), static_cast<unsigned char>(name[i]));
    KxPutU32(request.data(), 260, 3);
    std::vector<char> reply;
    ASSERT_EQ(KXAPI_OK, client.TransferRaw(request, reply));
    ASSERT_EQ(8u, reply.size());
    EXPECT_TRUE(KxapiFailed(KxGetU32(reply.data(), 4)));
    EXPECT_TRUE(m_pManager->EventPipeNames().empty());
}

TEST_F(ManagerFixture, CleaningDropsForeignAndOrphanNamesAndKeepsLiveOnes)
{
    // A process id that certainly does not exist: a child that has been reaped.
    pid_t dead = fork();
    if (dead == 0)
        _exit(0);
    int status = 0;
    waitpid(dead, &status, 0);
    const std::string orphan = "KxapiKxeSvc_EvPipe_" + std::to_string(dead);
    const std::string live = "KxapiKxeSvc_EvPipe_" + std::to_string(getpid());
    std::ofstream(m_Dir.File(orphan)) << "x";
    std::ofstream(m_Dir.File("Other_1")) << "x";
    for (const std::string& name : {orphan, live, std::string("Other_1"), std::string("KxapiKxeSvc_EvPipe_"),
                                    std::string("KxapiKxeSvc_EvPipe_0")}) {
        std::wstring wide(name.begin(), name.end());
        m_pManager->RegisterEventPipe(wide.c_str());
        m_pManager->RegisterEventPipe(wide.c_str());
    }
    // Names the clean-up would drop are not even recorded.
    EXPECT_EQ(2u, m_pManager->EventPipeNames().size());
    IXpPipeConnection* connection = Xp::Instance()->NewPipeConnection();
    m_pManager->CleanEventPipes(connection);
    delete connection;
    auto names = m_pManager->EventPipeNames();
    ASSERT_EQ(1u, names.size());
    EXPECT_EQ(std::wstring(live.begin(), live.end()), names[0]);
    EXPECT_FALSE(access(m_Dir.File(orphan).c_str(), F_OK) == 0);
    EXPECT_TRUE(access(m_Dir.File("Other_1").c_str(), F_OK) == 0);
}

TEST(KxeManagerLifecycle, ForceDiscoveryWithoutADiscoveryThreadTimesOut)
{
    ScopedIpcDirectory dir;
    KxeManager manager(new ScriptedEnumerator(), RecordingFactory(std::make_shared<DeviceLog>()));
    ASSERT_TRUE(manager.Init());
    // Initialised but never started: nobody clears the force flag.
    unsigned int start = XpUtil::GetTickCount();
    EXPECT_EQ(KXAPI_E_TIMEOUT, manager.ForceDiscovery());
    EXPECT_GE(XpUtil::GetTickCount() - start, 9000u);
    manager.Close();
    // Closed: a fresh Init works again and publishes an empty list.
    ASSERT_TRUE(manager.Init());
    char shmKey[KXE_KEY_CHARS];
    char mutexKey[KXE_KEY_CHARS];
    EXPECT_TRUE(manager.GetKxeListKeys(shmKey, mutexKey));
    manager.Close();
    EXPECT_FALSE(manager.GetKxeListKeys(shmKey, mutexKey));
}

const uint8_t IP[4] = {10, 200, 0, 11};

TEST_F(ManagerFixture, TwoClientsShareOneChannelAndTheDeviceSeesOneDetach)
{
    ASSERT_NO_FATAL_FAILURE(Publish({Device(1001, 11)}));
    KxeSvcClient first;
    KxeSvcClient second;
    int channel1 = 0;
    int channel2 = 0;
    uint32_t id1 = 0;
    uint32_t id2 = 0;
    ASSERT_EQ(KXAPI_OK, first.Attach(IP, 1001, 1, channel1, id1));
    ASSERT_EQ(KXAPI_OK, second.Attach(IP, 1001, 1, channel2, id2));
    EXPECT_EQ(channel1, channel2);
    EXPECT_NE(id1, id2);
    EXPECT_EQ(1, m_pLog->m_Attaches);
    ASSERT_EQ(1u, m_pLog->m_Endpoints.size());
    EXPECT_EQ("http://10.200.0.11:8000", m_pLog->m_Endpoints[0]);

    EXPECT_EQ(KXAPI_E_NOT_FOUND, first.Detach(1001, 1, 0));
    EXPECT_EQ(KXAPI_E_NOT_ATTACHED, first.Detach(1001, 2, id1));
    EXPECT_EQ(KXAPI_E_NOT_ATTACHED, first.Detach(1001, 1, 12345));
    EXPECT_EQ(KXAPI_OK, first.Detach(1001, 1, id1));
    EXPECT_EQ(0, m_pLog->m_Detaches);
    EXPECT_EQ(KXAPI_OK, second.Detach(1001, 1, id2));
    EXPECT_EQ(1, m_pLog->m_Detaches);
    EXPECT_EQ(0u, m_pManager->PortRecordCount());
    EXPECT_EQ(KXAPI_E_NOT_ATTACHED, second.Detach(1001, 1, id2));
}

TEST_F(ManagerFixture, RefusedAttachLeavesNoRecord)
{
    ASSERT_NO_FATAL_FAILURE(Publish({Device(1001, 11)}));
    m_pLog->m_AttachResult = KXAPI_E_IN_USE;
    KxeSvcClient client;
    int channel = 0;
    uint32_t id = 0;
    EXPECT_EQ(KXAPI_E_IN_USE, client.Attach(IP, 1001, 1, channel, id));
    EXPECT_EQ(0u, m_pManager->PortRecordCount());
}

TEST_F(ManagerFixture, ExclusiveAccessAndItsProbe)
{
    ASSERT_NO_FATAL_FAILURE(Publish({Device(1001, 11)}));
    KxeSvcClient owner;
    KxeSvcClient other;
    int channel = 0;
    uint32_t id = 0;
    ASSERT_EQ(KXAPI_OK, owner.Attach(IP, 1001, 1, channel, id));
    EXPECT_EQ(KXAPI_E_INVALID_ARG, owner.ExclusiveAccess(1001, 1, 0, KXE_EXCL_ACQUIRE));
    EXPECT_EQ(KXAPI_E_NOT_SUPPORTED, owner.ExclusiveAccess(1001, 1, id, 3));
    EXPECT_EQ(KXAPI_E_NOT_FOUND, owner.ExclusiveAccess(1001, 2, id, KXE_EXCL_ACQUIRE));
    EXPECT_EQ(KXAPI_OK, owner.ExclusiveAccess(1001, 1, id, KXE_EXCL_PROBE));
    ASSERT_EQ(KXAPI_OK, owner.ExclusiveAccess(1001, 1, id, KXE_EXCL_ACQUIRE));
    EXPECT_EQ(KXAPI_E_IN_USE, other.ExclusiveAccess(1001, 1, id + 1, KXE_EXCL_ACQUIRE));
    EXPECT_EQ(KXAPI_E_IN_USE, other.ExclusiveAccess(1001, 1, id + 1, KXE_EXCL_PROBE));
    EXPECT_EQ(KXAPI_E_IN_USE, other.ExclusiveAccess(1001, 1, id + 1, KXE_EXCL_RELEASE));
    EXPECT_EQ(KXAPI_OK, owner.ExclusiveAccess(1001, 1, id, KXE_EXCL_RELEASE));
    EXPECT_EQ(KXAPI_OK, other.ExclusiveAccess(1001, 1, id + 1, KXE_EXCL_PROBE));

    // A client that goes without releasing loses its exclusive access and its attachment at
    // once; a port another client still uses stays attached.
    ASSERT_EQ(KXAPI_OK, other.Attach(IP, 1001, 1, channel, id));
    ASSERT_EQ(KXAPI_OK, owner.ExclusiveAccess(1001, 1, id, KXE_EXCL_ACQUIRE));
    owner.Close();
    ASSERT_TRUE(kxtest::WaitUntil(
        [&] { return other.ExclusiveAccess(1001, 1, 99, KXE_EXCL_PROBE) == KXAPI_OK; }, 3000));
    EXPECT_EQ(1u, m_pManager->PortRecordCount());
    EXPECT_EQ(0, m_pLog->m_Detaches);
    other.Close();
    ASSERT_TRUE(kxtest::WaitUntil([&] { m_pManager->CleanKxeClientList(); return m_pManager->ClientCount() == 0; }, 3000));
    KxeSvcClient next;
    ASSERT_EQ(KXAPI_OK, next.Open());
    EXPECT_EQ(0u, m_pManager->PortRecordCount());
    EXPECT_EQ(1, m_pLog->m_Detaches);
}

TEST_F(ManagerFixture, ProbeOfAPortWithoutRecordAsksTheListedDevice)
{
    KxeSvcClient client;
    // Not in the published list.
    EXPECT_EQ(KXAPI_E_NOT_FOUND, client.ExclusiveAccess(1001, 1, 5, KXE_EXCL_PROBE));
    std::vector<KxeListEntry> devices = {Device(1001, 11)};
    ASSERT_TRUE(m_pManager->Update(devices.data(), 1));
    EXPECT_EQ(KXAPI_OK, client.ExclusiveAccess(1001, 1, 5, KXE_EXCL_PROBE));
    EXPECT_EQ(1, m_pLog->m_Attaches);
    EXPECT_EQ(1, m_pLog->m_Detaches);
    EXPECT_EQ(0u, m_pManager->PortRecordCount());
    // A port held by another host: the device's refusal.
    m_pLog->m_AttachResult = KXAPI_E_IN_USE;
    EXPECT_EQ(KXAPI_E_IN_USE, client.ExclusiveAccess(1001, 1, 5, KXE_EXCL_PROBE));
    EXPECT_EQ(0u, m_pManager->PortRecordCount());
    EXPECT_EQ("http://10.200.0.11:8000", m_pLog->m_Endpoints.back());
}

} // namespace
