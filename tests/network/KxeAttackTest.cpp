// Hostile clients of the network device manager, in-process with real FIFOs: subscribers that
// never read their events, slow devices, clients that guess other clients' attach ids, and
// floods of event FIFO names. After each, a well-behaved client must be served within a bound.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <set>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "CrossPlatform.h"
#include "KxWire.h"
#include "KxeManagerFixture.h"
#include "PipeMessenger.h"
#include "XpUtil.h"
#include "network/KxeInputRpc.h"
#include "network/KxePortList.h"

namespace {

using kxtest::Device;
using kxtest::EventSink;
using kxtest::ManagerFixture;

// A well-behaved client must be served within this during or after an attack.
constexpr unsigned int SERVED_WITHIN_MS = 2000;
const uint8_t IP_11[4] = {10, 200, 0, 11};
const uint8_t IP_12[4] = {10, 200, 0, 12};

// Sends command 3 (event FIFO register) with `name` and `mask` on `client`'s connection.
KXAPI_RESULT RegisterName(KxeSvcClient& client, const std::string& name, uint32_t mask)
{
    std::vector<char> request(KXE_REQ_EVENT_REGISTER_SIZE, 0);
    KxPutU32(request.data(), 0, KXE_CMD_EVENT_REGISTER);
    for (size_t i = 0; i < name.size() && i < KXE_EVENT_NAME_CHARS; ++i)
        KxPutU32(request.data(), static_cast<unsigned int>(4 + 4 * i), static_cast<unsigned char>(name[i]));
    KxPutU32(request.data(), 260, mask);
    std::vector<char> reply;
    KXAPI_RESULT result = client.TransferRaw(request, reply);
    if (result != KXAPI_OK)
        return result;
    return reply.size() == KXE_REP_SHORT_SIZE ? KxGetU32(reply.data(), 4) : KXAPI_E_INTERNAL;
}

// A new client connects, reads the version and attaches and detaches a port of device 1002;
// failure text, or "" when all of it was served within SERVED_WITHIN_MS.
std::string ServeNewClient()
{
    const unsigned int start = XpUtil::GetTickCount();
    KxeSvcClient client;
    client.SetReplyTimeout(SERVED_WITHIN_MS);
    KXAPI_RESULT result = client.Open();
    int channel = -1;
    uint32_t id = 0;
    if (result == KXAPI_OK)
        result = client.Attach(IP_12, 1002, 1, channel, id);
    if (result == KXAPI_OK)
        result = client.Detach(1002, 1, id);
    if (result != KXAPI_OK)
        return KxapiResult2Str(result);
    const unsigned int took = XpUtil::GetTickCount() - start;
    return took <= SERVED_WITHIN_MS ? "" : "served only after " + std::to_string(took) + " ms";
}

// A subscriber that lets the service connect to its event FIFO and then never reads.
class SilentSubscriber {
public:
    explicit SilentSubscriber(const std::string& name) : m_Name(name)
    {
        m_pListener = Xp::Instance()->NewPipeListener();
        m_Ready = m_pListener != nullptr && m_pListener->Init(name.c_str()) == KXAPI_OK &&
                  m_pListener->WaitPipeCreated() == KXAPI_OK;
        if (m_Ready) {
            m_Accept = std::thread([this] {
                IXpPipeConnection* connection = nullptr;
                if (m_pListener->WaitConnection(connection) == KXAPI_OK && connection != nullptr)
                    m_pMessenger = std::make_unique<PipeMessenger>(connection);
            });
        }
    }
    ~SilentSubscriber()
    {
        if (m_pListener != nullptr)
            m_pListener->StopWaiting();
        if (m_Accept.joinable())
            m_Accept.join();
        m_pMessenger.reset();
        delete m_pListener;
    }
    // Has the service connect (over its own client connection, kept open).
    bool Register()
    {
        if (!m_Ready || RegisterName(m_Client, m_Name, 3) != KXAPI_OK)
            return false;
        m_Accept.join();
        return m_pMessenger != nullptr;
    }
    // Reads what is queued; true when the service closed the FIFO (rather than the read
    // timing out with the FIFO still open).
    bool ClosedByService()
    {
        for (;;) {
            char* body = nullptr;
            int size = 0;
            if (!m_pMessenger->ReadMsg(body, size, 2000))
                return m_pMessenger->LastResult() != KXAPI_E_TIMEOUT;
            free(body);
        }
    }

private:
    std::string m_Name;
    KxeSvcClient m_Client;
    IXpPipeListener* m_pListener = nullptr;
    bool m_Ready = false;
    std::thread m_Accept;
    std::unique_ptr<PipeMessenger> m_pMessenger;
};

// `count` devices of one address, device 1002 (which ServeNewClient attaches) among them.
std::vector<KxeListEntry> ManyDevices(int count)
{
    std::vector<KxeListEntry> devices = {Device(1002, 12)};
    for (int i = 1; i < count; ++i) {
        KxeListEntry entry = Device(500000 + i, 100);
        entry.m_Port = i; // one serial and port each
        devices.push_back(entry);
    }
    return devices;
}

TEST_F(ManagerFixture, SubscribersWhoseFifosStayFullAreDroppedWithoutBlockingAnyoneElse)
{
    const std::vector<KxeListEntry> fewer = {Device(1002, 12)};
    ASSERT_NO_FATAL_FAILURE(Publish(fewer));
    std::vector<std::unique_ptr<SilentSubscriber>> silent;
    for (int i = 0; i < 6; ++i) {
        silent.push_back(std::make_unique<SilentSubscriber>("KxapiKxeSvc_EvPipe_1_s" + std::to_string(i)));
        ASSERT_TRUE(silent.back()->Register()) << i;
    }
    EventSink good;
    KxeSvcClient goodClient;
    ASSERT_EQ(KXAPI_OK, goodClient.RegisterEvents(3, good.Callback(), "KxapiKxeSvc_EvPipe_1_good"));
    // Cycles of 512 devices coming and going fill the silent FIFOs after a few rounds; the
    // attack has worked from then on, for as long as the old delivery blocks.
    const std::vector<KxeListEntry> many = ManyDevices(static_cast<int>(KXE_LIST_CAPACITY));
    const int cycles = 12;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        const std::vector<KxeListEntry>& devices = cycle % 2 == 0 ? many : fewer;
        std::atomic<bool> done{false};
        std::thread discovery([&] {
            EXPECT_TRUE(m_pManager->Update(devices.data(), static_cast<int>(devices.size())));
            done = true;
        });
        // While the cycle delivers its events, others are served.
        do {
            EXPECT_EQ("", ServeNewClient()) << "cycle " << cycle;
        } while (!done.load() && !HasFailure());
        discovery.join();
        if (HasFailure())
            break;
    }
    // The well-behaved subscriber heard every change: 511 devices came or went per cycle.
    const size_t expected = static_cast<size_t>(cycles) * (many.size() - 1);
    EXPECT_TRUE(kxtest::WaitUntil([&] { return good.Size() == expected; }, 10000)) << good.Size();
    for (auto& subscriber : silent)
        EXPECT_TRUE(subscriber->ClosedByService());
}

// A local HTTP peer of one connection: reads the request, then sends `answer`, one byte
// every `byteGapMs` when that is not 0, until it is stopped.
class DevicePeer {
public:
    DevicePeer(std::string answer, unsigned int byteGapMs) : m_Answer(std::move(answer)), m_ByteGapMs(byteGapMs)
    {
        m_Server = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        if (m_Server < 0 || bind(m_Server, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
            getsockname(m_Server, reinterpret_cast<sockaddr*>(&address), &length) != 0 || listen(m_Server, 1) != 0)
            return;
        m_Endpoint = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
        m_Thread = std::thread([this] { Serve(); });
    }
    ~DevicePeer()
    {
        m_Stop = true;
        if (m_Thread.joinable())
            m_Thread.join();
        if (m_Server >= 0)
            close(m_Server);
    }
    const std::string& Endpoint() const { return m_Endpoint; }

private:
    void Serve()
    {
        int client = accept(m_Server, nullptr, nullptr);
        if (client < 0)
            return;
        char request[4096];
        (void)recv(client, request, sizeof(request), 0);
        if (m_ByteGapMs == 0) {
            (void)send(client, m_Answer.data(), m_Answer.size(), MSG_NOSIGNAL);
        } else {
            for (size_t i = 0; i < m_Answer.size() && !m_Stop.load(); ++i) {
                if (send(client, &m_Answer[i], 1, MSG_NOSIGNAL) != 1)
                    break;
                std::this_thread::sleep_for(std::chrono::milliseconds(m_ByteGapMs));
            }
        }
        shutdown(client, SHUT_WR);
        close(client);
    }

    std::string m_Answer;
    unsigned int m_ByteGapMs;
    int m_Server = -1;
    std::string m_Endpoint;
    std::atomic<bool> m_Stop{false};
    std::thread m_Thread;
};

TEST(KxeInputRpc, ADevicePeerThatDribblesIsCutOffAtTheTotalDeadline)
{
    // Answers one byte every 200 ms for up to 20 s: every single receive finishes quickly,
    // only the whole call is too long.
    DevicePeer peer("HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nX-Padding: " + std::string(60, 'x'), 200);
    ASSERT_FALSE(peer.Endpoint().empty());
    std::unique_ptr<IKxeInputRpc> rpc(NewKxeInputRpc(peer.Endpoint().c_str()));
    ASSERT_NE(nullptr, rpc);
    const unsigned int start = XpUtil::GetTickCount();
    int channel = -1;
    EXPECT_EQ(KXAPI_E_COMMUNICATION, rpc->Attach(1, false, channel));
    const unsigned int took = XpUtil::GetTickCount() - start;
    EXPECT_LT(took, KXE_DEVICE_CALL_TOTAL_MS + 2000) << "the call ran for " << took << " ms";
}

TEST(KxeInputRpc, AnAnswerWhoseLengthIsNegativeHugeOrNotANumberFailsTheCall)
{
    // A negative length read as unsigned once sized the toolkit's body buffer near 2^64.
    // The toolkit also reads "Content/Length" as the length header.
    for (const char* header : {"Content-Length: -397", "Content-Length: 18446744073709551000",
                               "Content-Length: 99999999", "Content-Length: 12abc", "Content-Length: ",
                               "Content/Length:-397"}) {
        SCOPED_TRACE(header);
        DevicePeer peer(std::string("HTTP/1.1 579 Internal\r\n") + header + "\r\n\r\n<SOAP-ENV:Envelope/>", 0);
        ASSERT_FALSE(peer.Endpoint().empty());
        std::unique_ptr<IKxeInputRpc> rpc(NewKxeInputRpc(peer.Endpoint().c_str()));
        ASSERT_NE(nullptr, rpc);
        int channel = -1;
        EXPECT_EQ(KXAPI_E_COMMUNICATION, rpc->Attach(1, false, channel));
    }
}

TEST_F(ManagerFixture, ASlowDeviceDelaysOnlyTheRequestsForItsOwnPort)
{
    ASSERT_NO_FATAL_FAILURE(Publish({Device(1001, 11), Device(1002, 12)}));
    {
        std::lock_guard<std::mutex> lock(m_pLog->m_Mutex);
        m_pLog->m_SlowEndpoint = "http://10.200.0.11:8000";
        m_pLog->m_SlowMs = 5000;
    }
    std::atomic<KXAPI_RESULT> slowResult{KXAPI_E_INTERNAL};
    std::thread slow([&] {
        KxeSvcClient client;
        int channel = -1;
        uint32_t id = 0;
        slowResult = client.Attach(IP_11, 1001, 1, channel, id);
    });
    const bool started = kxtest::WaitUntil(
        [&] {
            std::lock_guard<std::mutex> lock(m_pLog->m_Mutex);
            return m_pLog->m_SlowCallsStarted == 1;
        },
        5000);
    if (!started)
        slow.join();
    ASSERT_TRUE(started) << "the slow device was never called";
    // Meanwhile attach, detach, exclusive access and its probe of another device go on.
    EXPECT_EQ("", ServeNewClient());
    KxeSvcClient other;
    other.SetReplyTimeout(SERVED_WITHIN_MS);
    EXPECT_EQ(KXAPI_OK, other.ExclusiveAccess(1002, 1, 7, KXE_EXCL_PROBE));
    EXPECT_EQ(KXAPI_E_NOT_FOUND, other.ExclusiveAccess(1002, 1, 7, KXE_EXCL_ACQUIRE));
    slow.join();
    EXPECT_EQ(KXAPI_OK, slowResult.load());
}

TEST_F(ManagerFixture, AttachesOnlyAtTheAddressDiscoveryPublishedForTheSerial)
{
    ASSERT_NO_FATAL_FAILURE(Publish({Device(1001, 11)}));
    KxeSvcClient client;
    int channel = -1;
    uint32_t id = 0;
    const uint8_t elsewhere[4] = {127, 0, 0, 1};
    EXPECT_EQ(KXAPI_E_NO_SUCH_DEVICE, client.Attach(elsewhere, 1001, 1, channel, id));
    EXPECT_EQ(KXAPI_E_NO_SUCH_DEVICE, client.Attach(IP_11, 1002, 1, channel, id)) << "serial not listed";
    EXPECT_EQ(KXAPI_E_NO_SUCH_DEVICE, client.Attach(IP_12, 1001, 1, channel, id)) << "another device's address";
    EXPECT_TRUE(m_pLog->m_Endpoints.empty()) << "no device was called";
    EXPECT_EQ(KXAPI_OK, client.Attach(IP_11, 1001, 1, channel, id));
}

TEST_F(ManagerFixture, AttachIdsAndExclusiveAccessesBelongToTheConnectionThatMadeThem)
{
    ASSERT_NO_FATAL_FAILURE(Publish({Device(1001, 11), Device(1002, 12)}));
    KxeSvcClient victim;
    KxeSvcClient attacker;
    int channel = -1;
    uint32_t id1 = 0;
    uint32_t id2 = 0;
    ASSERT_EQ(KXAPI_OK, victim.Attach(IP_11, 1001, 1, channel, id1));
    ASSERT_EQ(KXAPI_OK, victim.Attach(IP_11, 1001, 2, channel, id2));
    ASSERT_EQ(KXAPI_OK, victim.ExclusiveAccess(1001, 1, id1, KXE_EXCL_ACQUIRE));
    ASSERT_EQ(KXAPI_OK, victim.ExclusiveAccess(1001, 2, id2, KXE_EXCL_ACQUIRE));

    // Even knowing the ids, another connection can neither detach nor release.
    EXPECT_EQ(KXAPI_E_NOT_ATTACHED, attacker.Detach(1001, 1, id1));
    EXPECT_EQ(KXAPI_E_IN_USE, attacker.ExclusiveAccess(1001, 1, id1, KXE_EXCL_RELEASE));
    EXPECT_EQ(KXAPI_OK, attacker.ExclusiveAccess(-1, -1, id2, KXE_EXCL_RELEASE));
    EXPECT_EQ(2u, m_pManager->PortRecordCount());
    EXPECT_EQ(0, m_pLog->m_Detaches);
    EXPECT_EQ(KXAPI_E_IN_USE, attacker.ExclusiveAccess(1001, 1, 99, KXE_EXCL_PROBE));
    EXPECT_EQ(KXAPI_E_IN_USE, attacker.ExclusiveAccess(1001, 2, 99, KXE_EXCL_PROBE));

    // The victim goes: every attachment and exclusive access it held is released, not only
    // those of its latest attach id.
    victim.Close();
    ASSERT_TRUE(kxtest::WaitUntil([&] { return m_pManager->PortRecordCount() == 0; }, 3000));
    EXPECT_EQ(2, m_pLog->m_Detaches);
    EXPECT_EQ(KXAPI_OK, attacker.ExclusiveAccess(1001, 1, 99, KXE_EXCL_PROBE));
    EXPECT_EQ("", ServeNewClient());
}

TEST_F(ManagerFixture, AttachIdsAreRandomUniqueAndNeverZeroAndAClientsShareIsCapped)
{
    ASSERT_NO_FATAL_FAILURE(Publish({Device(1001, 11), Device(1002, 12)}));
    KxeSvcClient client;
    std::set<uint32_t> ids;
    const uint32_t tick = XpUtil::GetTickCount();
    int nearTick = 0;
    for (size_t i = 0; i < KXE_MAX_ATTACHES_PER_CLIENT; ++i) {
        int channel = -1;
        uint32_t id = 0;
        ASSERT_EQ(KXAPI_OK, client.Attach(IP_11, 1001, 1, channel, id)) << i;
        EXPECT_NE(0u, id);
        ids.insert(id);
        if (id - tick < 600000u || tick - id < 600000u)
            ++nearTick;
    }
    EXPECT_EQ(KXE_MAX_ATTACHES_PER_CLIENT, ids.size());
    // Millisecond ticks would all lie within minutes of the clock; random ids almost never do.
    EXPECT_LT(nearTick, 5);
    int channel = -1;
    uint32_t id = 0;
    EXPECT_EQ(KXAPI_E_OUT_OF_RESOURCES, client.Attach(IP_11, 1001, 1, channel, id));
    EXPECT_EQ("", ServeNewClient()) << "other clients still attach";
}

TEST_F(ManagerFixture, EventNamesGivenWithAMaskChangeAreNotRecordedAndTheRegistryIsCapped)
{
    ASSERT_NO_FATAL_FAILURE(Publish({Device(1002, 12)}));
    EventSink sink;
    KxeSvcClient client;
    ASSERT_EQ(KXAPI_OK, client.RegisterEvents(1, sink.Callback(), "KxapiKxeSvc_EvPipe_1_x"));
    // The attack: ever new names on a connection that already has its event FIFO.
    for (int i = 0; i < 2000; ++i)
        ASSERT_EQ(KXAPI_OK, RegisterName(client, "KxapiKxeSvc_EvPipe_1_n" + std::to_string(i), 1));
    EXPECT_EQ(1u, m_pManager->EventPipeNames().size());
    EXPECT_EQ("", ServeNewClient());

    // Recorded names (of live processes, so never cleaned) stay within the caps: per user,
    // and in all.
    for (int i = 0; i < 1000; ++i) {
        const std::wstring name = L"KxapiKxeSvc_EvPipe_1_u" + std::to_wstring(i);
        m_pManager->RegisterEventPipe(name.c_str(), 1000);
    }
    EXPECT_EQ(1u + KXE_MAX_EVENT_PIPE_NAMES_PER_USER, m_pManager->EventPipeNames().size());
    for (unsigned int user = 0; user < 1000; ++user) {
        const std::wstring name = L"KxapiKxeSvc_EvPipe_1_v" + std::to_wstring(user);
        m_pManager->RegisterEventPipe(name.c_str(), 2000 + user);
    }
    EXPECT_EQ(KXE_MAX_EVENT_PIPE_NAMES, m_pManager->EventPipeNames().size());
    EXPECT_EQ("", ServeNewClient());
}

TEST_F(ManagerFixture, TheClientsEventThreadTakesTheNextConnectionAfterOneBroke)
{
    EventSink sink;
    KxeSvcClient client;
    ASSERT_EQ(KXAPI_OK, client.RegisterEvents(3, sink.Callback(), "KxapiKxeSvc_EvPipe_1_r"));
    // The service drops the subscription (as it does for a subscriber it gave up on): the
    // event connection breaks. Registering again must bring the events back.
    ASSERT_EQ(KXAPI_OK, RegisterName(client, "KxapiKxeSvc_EvPipe_1_r", 0));
    XpUtil::Sleep(300);
    ASSERT_EQ(KXAPI_OK, client.RegisterEvents(3, sink.Callback(), "KxapiKxeSvc_EvPipe_1_r"));
    ASSERT_NO_FATAL_FAILURE(Publish({Device(1001, 11)}));
    EXPECT_TRUE(kxtest::WaitUntil([&] { return sink.Size() == 1; }, 3000));
}

} // namespace
