#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <syslog.h>
#include <vector>

#include "ClientAcceptor.h"
#include "CrossPlatform.h"
#include "EventLogController.h"
#include "KxGlobalSvcClient.h"
#include "KxWire.h"
#include "PipeMessenger.h"
#include "TestSupport.h"
#include "XpPipeConnectionLinux.h"
#include "XpUtil.h"
#include "global/KxGlobalManager.h"

namespace {

using kxtest::RecordingLog;
using kxtest::ScopedIpcDirectory;

// A raw client of the global FIFO: sends bodies and returns reply bodies.
class RawClient {
public:
    bool Connect() { return m_Messenger.Init() && m_Messenger.Connect("KxGlobalRecvPipe"); }
    bool Send(const std::vector<char>& body)
    {
        return m_Messenger.WriteMsg(const_cast<char*>(body.data()), static_cast<int>(body.size()));
    }
    // The next reply, or nullopt-like empty result with ok=false.
    bool Receive(std::vector<uint32_t>& words, unsigned int timeoutMs = 2000)
    {
        char* body = nullptr;
        int size = 0;
        if (!m_Messenger.ReadMsg(body, size, timeoutMs))
            return false;
        words.clear();
        for (int offset = 0; offset + 4 <= size; offset += 4)
            words.push_back(KxGetU32(body, static_cast<unsigned int>(offset)));
        m_LastSize = size;
        free(body);
        return true;
    }
    int LastSize() const { return m_LastSize; }
    KXAPI_RESULT LastResult() const { return m_Messenger.LastResult(); }

private:
    PipeMessenger m_Messenger;
    int m_LastSize = 0;
};

std::vector<char> Command(uint32_t command, size_t size = 4)
{
    std::vector<char> body(size, 0);
    KxPutU32(body.data(), 0, command);
    return body;
}

class GlobalManagerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_pManager = new KxGlobalManager();
        ASSERT_TRUE(m_pManager->Init());
        ASSERT_TRUE(m_pManager->Start());
        m_Log.EventLogOpen("KxapiService", &g_EventLogger);
    }
    void TearDown() override { delete m_pManager; }

    ScopedIpcDirectory m_Dir;
    RecordingLog m_Log;
    KxGlobalManager* m_pManager = nullptr;
};

TEST_F(GlobalManagerTest, AnswersVersionAndDeviceStateRequestsWithTheirExactReplies)
{
    RawClient client;
    ASSERT_TRUE(client.Connect());
    std::vector<uint32_t> reply;

    ASSERT_TRUE(client.Send(Command(0)));
    ASSERT_TRUE(client.Receive(reply));
    EXPECT_EQ(client.LastSize(), 24);
    EXPECT_EQ(reply, (std::vector<uint32_t>{0, KXAPI_OK, 3, 8, 7, 96}));

    std::vector<char> setState = Command(1, 268);
    strcpy(&setState[4], "SomeDevice");
    KxPutU32(setState.data(), 264, 1);
    ASSERT_TRUE(client.Send(setState));
    ASSERT_TRUE(client.Receive(reply));
    EXPECT_EQ(client.LastSize(), 8);
    EXPECT_EQ(reply, (std::vector<uint32_t>{1, KXAPI_E_NOT_IMPLEMENTED}));

    // A name that fills its 260 bytes without terminator is read no further.
    std::vector<char> unterminated = Command(1, 268);
    memset(&unterminated[4], 'N', 260);
    ASSERT_TRUE(client.Send(unterminated));
    ASSERT_TRUE(client.Receive(reply));
    EXPECT_EQ(reply, (std::vector<uint32_t>{1, KXAPI_E_NOT_IMPLEMENTED}));

    for (size_t wrongSize : {264u, 269u, 4u}) {
        ASSERT_TRUE(client.Send(Command(1, wrongSize)));
        ASSERT_TRUE(client.Receive(reply));
        EXPECT_EQ(reply, (std::vector<uint32_t>{1, KXAPI_E_INVALID_PARS})) << wrongSize;
    }
    EXPECT_TRUE(m_Log.Events().empty());
}

TEST_F(GlobalManagerTest, UnknownCommandsAreRefusedAndLoggedShortMessagesIgnored)
{
    RawClient client;
    ASSERT_TRUE(client.Connect());
    std::vector<uint32_t> reply;
    ASSERT_TRUE(client.Send(Command(5)));
    ASSERT_TRUE(client.Receive(reply));
    EXPECT_EQ(reply, (std::vector<uint32_t>{5, KXAPI_E_INVALID_PARS}));

    ASSERT_TRUE(client.Send(Command(7, 12)));
    ASSERT_TRUE(client.Receive(reply));
    EXPECT_EQ(reply, (std::vector<uint32_t>{7, KXAPI_E_INVALID_PARS}));

    std::vector<kxtest::LoggedEvent> events = m_Log.Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].m_Id, 2);
    EXPECT_EQ(events[0].m_Severity, LOG_WARNING);
    EXPECT_EQ(events[0].m_Text, "Received an unknown command ID (5).");
    EXPECT_EQ(events[1].m_Text, "Received an unknown command ID (7).");

    // Two bytes carry no command: no answer, and the connection stays usable.
    ASSERT_TRUE(client.Send(std::vector<char>{1, 2}));
    EXPECT_FALSE(client.Receive(reply, 300));
    EXPECT_EQ(client.LastResult(), KXAPI_E_TIMEOUT);
    ASSERT_TRUE(client.Send(Command(0)));
    ASSERT_TRUE(client.Receive(reply));
    EXPECT_EQ(reply[0], 0u);
    EXPECT_EQ(m_Log.Events().size(), 2u);
}

TEST_F(GlobalManagerTest, CloseEndsTheHandlerWhichIsPrunedWhenTheNextClientArrives)
{
    RawClient first;
    ASSERT_TRUE(first.Connect());
    ASSERT_TRUE(kxtest::WaitUntil([&] { return m_pManager->ClientCount() == 1; }, 2000));
    ASSERT_TRUE(first.Send(Command(0xFFFFFFFF)));
    std::vector<uint32_t> reply;
    EXPECT_FALSE(first.Receive(reply));
    EXPECT_EQ(first.LastResult(), KXAPI_E_COMMUNICATION); // closed, no reply
    EXPECT_TRUE(m_Log.Events().empty());
    EXPECT_EQ(m_pManager->ClientCount(), 1u); // finished but not yet pruned

    RawClient second;
    ASSERT_TRUE(second.Connect());
    ASSERT_TRUE(second.Send(Command(0)));
    ASSERT_TRUE(second.Receive(reply));
    EXPECT_EQ(m_pManager->ClientCount(), 1u); // only the second remains
}

TEST_F(GlobalManagerTest, StopKeepsConnectedClientsServedUntilTheManagerIsDestroyed)
{
    RawClient client;
    ASSERT_TRUE(client.Connect());
    m_pManager->Stop();
    m_pManager->Stop(); // twice is harmless
    std::vector<uint32_t> reply;
    ASSERT_TRUE(client.Send(Command(0)));
    ASSERT_TRUE(client.Receive(reply));
    EXPECT_EQ(reply.size(), 6u);

    IXpPipeConnection* late = Xp::Instance()->NewPipeConnection();
    EXPECT_EQ(late->Connect("KxGlobalRecvPipe"), KXAPI_E_TIMEOUT); // nobody accepts any more
    delete late;

    delete m_pManager;
    m_pManager = nullptr;
    EXPECT_FALSE(client.Receive(reply));
    EXPECT_EQ(client.LastResult(), KXAPI_E_COMMUNICATION);
    EXPECT_TRUE(kxtest::ListDir(m_Dir.Path()).empty()); // listener FIFO removed
}

TEST_F(GlobalManagerTest, ADestroyedManagerEndsItsOwnThreadsWithoutStop)
{
    RawClient client;
    ASSERT_TRUE(client.Connect());
    ASSERT_TRUE(kxtest::WaitUntil([&] { return m_pManager->ClientCount() == 1; }, 2000));
    unsigned int start = XpUtil::GetTickCount();
    delete m_pManager; // accept thread and handler thread are both blocked in reads
    m_pManager = nullptr;
    EXPECT_LT(XpUtil::GetTickCount() - start, 1000u);
}

TEST(GlobalManagerLifecycle, InitAndStartFollowTheManagerContract)
{
    ScopedIpcDirectory dir;
    KxGlobalManager neverInitialised;
    neverInitialised.Stop(); // harmless
    EXPECT_FALSE(neverInitialised.Start());

    {
        KxGlobalManager manager;
        ASSERT_TRUE(manager.Init());
        EXPECT_FALSE(manager.Init());
        EXPECT_TRUE(manager.Start());
        manager.Stop();
    }

    // A listener FIFO that cannot be made (its path would not fit) makes Init fail with
    // nothing held.
    std::string prefix = kxtest::MakeLongDirectory(dir.Path(), 84) + "/";
    XpPipeBaseLinux::m_pFifoPrefix = prefix.c_str();
    KxGlobalManager blocked;
    EXPECT_FALSE(blocked.Init());
}

TEST_F(GlobalManagerTest, LibraryClientReadsTheVersionAndReconnectsAfterAFailure)
{
    KxGlobalSvcClient client;
    KxServiceVersion version;
    ASSERT_EQ(client.GetServiceVersion(version), KXAPI_OK);
    EXPECT_EQ(version.m_Major, 3u);
    EXPECT_EQ(version.m_Minor, 8u);
    EXPECT_EQ(version.m_Revision, 7u);
    EXPECT_EQ(version.m_Build, 96u);
    EXPECT_EQ(client.SetDeviceState("Device", true), KXAPI_E_NOT_IMPLEMENTED);
    EXPECT_EQ(client.SetDeviceState(std::string(260, 'x').c_str(), true), KXAPI_E_INVALID_ARG);
    EXPECT_EQ(client.SetDeviceState(std::string(259, 'x').c_str(), false), KXAPI_E_NOT_IMPLEMENTED);

    delete m_pManager; // the service goes away under the client
    m_pManager = nullptr;
    EXPECT_EQ(client.GetServiceVersion(version), KXAPI_E_CONNECT_TO_SERVICE);
    EXPECT_EQ(client.GetServiceVersion(version), KXAPI_E_CONNECT_TO_SERVICE);

    m_pManager = new KxGlobalManager();
    ASSERT_TRUE(m_pManager->Init());
    ASSERT_TRUE(m_pManager->Start());
    EXPECT_EQ(client.Open(), KXAPI_OK);
    client.Close();
    EXPECT_TRUE(kxtest::WaitUntil([&] {
        m_pManager->CleanKxGlobalClientList();
        return m_pManager->ClientCount() == 0;
    }, 2000)); // the close command ended the handler
}

// A stand-in service that answers the version command with chosen words.
class FakeVersionService : public PipeServerImpl {
public:
    FakeVersionService(IXpPipeConnection* connection, std::vector<uint32_t> words)
        : PipeServerImpl(connection), m_Words(std::move(words))
    {
    }
    bool ServeRequest(const char*, int) override
    {
        std::vector<char> reply(m_Words.size() * 4);
        for (size_t i = 0; i < m_Words.size(); i++)
            KxPutU32(reply.data(), static_cast<unsigned int>(i * 4), m_Words[i]);
        return WriteMsg(reply.data(), static_cast<int>(reply.size()));
    }

private:
    std::vector<uint32_t> m_Words;
};

TEST(GlobalClient, RefusesOldServicesAndRepliesOfTheWrongSize)
{
    ScopedIpcDirectory dir;
    struct Case {
        std::vector<uint32_t> m_Words;
        KXAPI_RESULT m_Expected;
    };
    for (const Case& c : {Case{{0, 0, 3, 1, 0, 0}, KXAPI_E_SERVICE_INCOMP}, Case{{0, 0, 2, 9, 0, 0}, KXAPI_E_SERVICE_INCOMP},
                          Case{{0, 0, 3, 2, 0, 0}, KXAPI_OK}, Case{{0, 0, 4, 0, 0, 0}, KXAPI_OK},
                          Case{{0, 0, 3, 8, 7}, KXAPI_E_INTERNAL}, Case{{0, 0, 3, 8, 7, 96, 0}, KXAPI_E_INTERNAL},
                          Case{{0, KXAPI_E_BUSY, 3, 8, 7, 96}, KXAPI_E_BUSY}}) {
        std::vector<uint32_t> words = c.m_Words;
        ClientAcceptor fake([words](IXpPipeConnection* connection) -> PipeServerImpl* {
            return new FakeVersionService(connection, words);
        });
        ASSERT_TRUE(fake.Init(L"KxGlobalRecvPipe"));
        ASSERT_TRUE(fake.Start());
        KxGlobalSvcClient client;
        EXPECT_EQ(client.Open(), c.m_Expected) << c.m_Words.size() << " words, major " << c.m_Words[2];
    }
}

} // namespace
