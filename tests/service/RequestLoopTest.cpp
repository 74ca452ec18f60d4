// The request loop every FIFO server's per-client handler runs (PipeServerImpl), behind a
// ClientAcceptor: which messages reach the handler, what ends a connection.
#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>
#include <vector>

#include "ClientAcceptor.h"
#include "KxServiceDefs.h"
#include "KxWire.h"
#include "PipeMessenger.h"
#include "TestSupport.h"

namespace {

constexpr uint32_t CMD_ECHO = 1;
constexpr uint32_t CMD_HUGE_REPLY = 7; // a reply far larger than a FIFO holds
constexpr uint32_t CMD_REFUSE = 9;     // the handler ends the connection
constexpr unsigned int HUGE_REPLY_SIZE = 4u * 1024u * 1024u;

// What the handlers of one acceptor were handed.
struct Served {
    std::mutex m_Mutex;
    std::vector<uint32_t> m_Commands;
    std::vector<int> m_Sizes;
    int m_Ends = 0;
};

class RecordingHandler : public PipeServerImpl {
public:
    RecordingHandler(IXpPipeConnection* connection, Served& served) : PipeServerImpl(connection), m_Served(served) {}

private:
    bool ServeRequest(const char* body, int size) override
    {
        const uint32_t command = KxGetU32(body, 0);
        {
            std::lock_guard<std::mutex> lock(m_Served.m_Mutex);
            m_Served.m_Commands.push_back(command);
            m_Served.m_Sizes.push_back(size);
        }
        if (command == CMD_REFUSE)
            return false;
        std::vector<char> reply(command == CMD_HUGE_REPLY ? HUGE_REPLY_SIZE : 8, 0);
        KxPutU32(reply.data(), 0, command);
        WriteMsg(reply.data(), static_cast<int>(reply.size()));
        return true;
    }
    void OnServeEnd() override
    {
        std::lock_guard<std::mutex> lock(m_Served.m_Mutex);
        m_Served.m_Ends++;
    }

    Served& m_Served;
};

class RequestLoopTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_Acceptor.Init(L"LoopPipe"));
        ASSERT_TRUE(m_Acceptor.Start());
        ASSERT_TRUE(m_Client.Init() && m_Client.Connect("LoopPipe"));
        ASSERT_TRUE(kxtest::WaitUntil([&] { return m_Acceptor.ClientCount() == 1; }, 2000));
    }

    bool Send(uint32_t command, int size = 4)
    {
        std::vector<char> body(static_cast<size_t>(size), 0);
        if (size >= 4)
            KxPutU32(body.data(), 0, command);
        return m_Client.WriteMsg(body.data(), size);
    }
    // The command word of the next reply, or 0 when none came within timeoutMs.
    uint32_t Reply(unsigned int timeoutMs = 2000)
    {
        char* body = nullptr;
        int size = 0;
        if (!m_Client.ReadMsg(body, size, timeoutMs))
            return 0;
        uint32_t command = size >= 4 ? KxGetU32(body, 0) : 0;
        free(body);
        return command;
    }
    // The handler ended and the acceptor pruned it.
    bool HandlerGone()
    {
        return kxtest::WaitUntil([&] {
            m_Acceptor.CleanClientList();
            return m_Acceptor.ClientCount() == 0;
        }, 5000);
    }
    std::vector<uint32_t> Commands()
    {
        std::lock_guard<std::mutex> lock(m_Served.m_Mutex);
        return m_Served.m_Commands;
    }
    int Ends()
    {
        std::lock_guard<std::mutex> lock(m_Served.m_Mutex);
        return m_Served.m_Ends;
    }

    kxtest::ScopedIpcDirectory m_Dir;
    Served m_Served;
    ClientAcceptor m_Acceptor{[this](IXpPipeConnection* connection) -> PipeServerImpl* {
        return new RecordingHandler(connection, m_Served);
    }};
    PipeMessenger m_Client;
};

TEST_F(RequestLoopTest, OnlyMessagesWithACommandWordReachTheHandlerAndEachGetsItsReply)
{
    for (int size : {0, 1, 3})
        ASSERT_TRUE(Send(0, size));
    ASSERT_TRUE(Send(CMD_ECHO, 4));
    ASSERT_TRUE(Send(CMD_ECHO + 1, 40));
    EXPECT_EQ(Reply(), CMD_ECHO); // the short messages were answered by nothing
    EXPECT_EQ(Reply(), CMD_ECHO + 1);
    EXPECT_EQ(Commands(), (std::vector<uint32_t>{CMD_ECHO, CMD_ECHO + 1}));
    {
        std::lock_guard<std::mutex> lock(m_Served.m_Mutex);
        EXPECT_EQ(m_Served.m_Sizes, (std::vector<int>{4, 40}));
    }
    EXPECT_EQ(m_Acceptor.ClientCount(), 1u);
    EXPECT_EQ(Ends(), 0);
}

TEST_F(RequestLoopTest, TheCloseCommandAndAHandlersRefusalEndTheConnection)
{
    struct Row {
        uint32_t m_Command;
        std::vector<uint32_t> m_Served;
    };
    for (const Row& row : {Row{KXAPI_SVC_CMD_CLOSE, {}}, Row{CMD_REFUSE, {CMD_REFUSE}}}) {
        SCOPED_TRACE(row.m_Command);
        {
            std::lock_guard<std::mutex> lock(m_Served.m_Mutex);
            m_Served.m_Commands.clear();
            m_Served.m_Ends = 0;
        }
        ASSERT_TRUE(Send(row.m_Command));
        ASSERT_TRUE(HandlerGone());
        EXPECT_EQ(Commands(), row.m_Served);
        EXPECT_EQ(Ends(), 1);
        EXPECT_EQ(Reply(500), 0u); // the connection is closed without a reply
        // A new connection is served as before.
        m_Client.Disconnect();
        ASSERT_TRUE(m_Client.Connect("LoopPipe"));
        ASSERT_TRUE(Send(CMD_ECHO));
        EXPECT_EQ(Reply(), CMD_ECHO);
    }
}

TEST_F(RequestLoopTest, AClientThatDoesNotTakeItsRepliesIsNotServedAnyFurther)
{
    ASSERT_TRUE(Send(CMD_HUGE_REPLY)); // never read: the reply cannot be written
    ASSERT_TRUE(HandlerGone());
    EXPECT_EQ(Ends(), 1);
    Send(CMD_ECHO); // may still fit into the FIFO; nobody serves it
    EXPECT_EQ(Commands(), (std::vector<uint32_t>{CMD_HUGE_REPLY}));
}

TEST_F(RequestLoopTest, StopEndsAHandlerWaitingForItsClientAndRunsItsEnd)
{
    m_Acceptor.Stop();
    m_Acceptor.CloseClients(); // the client stays connected and silent
    EXPECT_EQ(m_Acceptor.ClientCount(), 0u);
    EXPECT_EQ(Ends(), 1);
    EXPECT_TRUE(Commands().empty());
}

TEST(ReaperTest, AFinishedHandlerIsPrunedAtOnceThoughTheReapersCadenceIsSlow)
{
    kxtest::ScopedIpcDirectory dir;
    Served served;
    ClientAcceptor acceptor(
        [&](IXpPipeConnection* connection) -> PipeServerImpl* { return new RecordingHandler(connection, served); });
    acceptor.SetReapPeriod(60000);
    acceptor.SetPruneOnConnect(false);
    ASSERT_TRUE(acceptor.Init(L"ReapPipe"));
    ASSERT_TRUE(acceptor.Start());
    for (int i = 0; i < 3; i++) {
        PipeMessenger client;
        ASSERT_TRUE(client.Init() && client.Connect("ReapPipe"));
        ASSERT_TRUE(kxtest::WaitUntil([&] { return acceptor.ClientCount() == 1; }, 2000));
        client.Disconnect(); // the handler's read fails and it ends
        EXPECT_TRUE(kxtest::WaitUntil([&] { return acceptor.ClientCount() == 0; }, 1000));
    }
    acceptor.Close();
    std::lock_guard<std::mutex> lock(served.m_Mutex);
    EXPECT_EQ(served.m_Ends, 3);
}

} // namespace
