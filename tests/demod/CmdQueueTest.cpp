// Port commands: how a request becomes a command, and how the queue lets a newer tuning or
// scan command replace one that has not run yet.
#include <gtest/gtest.h>

#include "CmdQueue.h"
#include "DemodSvcProtocol.h"
#include "EventLogController.h"
#include "PortTestSupport.h"

using namespace Kxapi;
using kxtest::RecordingPortClient;

namespace {

PortCmdType* Make(const DemodMsg& msg, IDemodPortClient* client)
{
    KXAPI_RESULT result = KXAPI_E_INTERNAL;
    PortCmdType* cmd = PortCmdType::Create(msg.data(), static_cast<unsigned int>(msg.size()), client, result);
    EXPECT_EQ(result, KXAPI_OK);
    return cmd;
}

DemodMsg Tune(long long freqHz)
{
    return DemodBuildGenericReq(DEMOD_CMD_TUNE, kxtest::TuneXml(freqHz));
}

std::vector<int32_t> Drain(CmdQueue& queue, std::vector<IDemodPortClient*>* clients = nullptr)
{
    std::vector<int32_t> codes;
    while (PortCmdType* cmd = queue.GetNext()) {
        codes.push_back(cmd->m_Code);
        if (clients != nullptr)
            clients->push_back(cmd->m_pClient);
        delete cmd;
    }
    return codes;
}

} // namespace

TEST(PortCmdTypeCreate, RefusesShortUnknownAndUndersizedRequests)
{
    kxtest::RecordingLog log;
    Xp::Instance()->EventLogOpen("KxapiService", &g_EventLogger);
    KXAPI_RESULT result = KXAPI_OK;
    const uint8_t shortMsg[3] = {3, 0, 0};
    EXPECT_EQ(PortCmdType::Create(shortMsg, 3, nullptr, result), nullptr);
    EXPECT_EQ(result, KXAPI_E_INVALID_HEADER);

    DemodMsg unknown = DemodBuildCodeOnly(44);
    EXPECT_EQ(PortCmdType::Create(unknown.data(), 4, nullptr, result), nullptr);
    EXPECT_EQ(result, KXAPI_E_INVALID_PARS);
    auto events = log.Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].m_Id, KXAPI_EVENT_UNKNOWN_COMMAND);
    EXPECT_NE(events[0].m_Text.find("(44)"), std::string::npos) << events[0].m_Text;
    Xp::Instance()->EventLogClose();

    // Event registration needs its 272 bytes.
    DemodMsg reg(271, 0);
    KxPutU32(reg.data(), 0, DEMOD_CMD_EVENT_PIPE_REGISTER);
    EXPECT_EQ(PortCmdType::Create(reg.data(), 271, nullptr, result), nullptr);
    EXPECT_EQ(result, KXAPI_E_INVALID_HEADER);
}

TEST(PortCmdTypeCreate, TakesTheColumnsOfTheCommandsRowAndCopiesTheRequest)
{
    RecordingPortClient client;
    DemodMsg msg = DemodBuildBlindScanOldReq({4, 1000000, 100000000, 200000000});
    std::unique_ptr<PortCmdType> cmd(Make(msg, &client));
    ASSERT_NE(cmd, nullptr);
    EXPECT_EQ(cmd->m_Code, 24);
    EXPECT_TRUE(cmd->m_Queued);
    EXPECT_TRUE(cmd->m_WaitDone);
    EXPECT_TRUE(cmd->m_SuspendsStats);
    EXPECT_EQ(cmd->m_ScanClass, 1);
    EXPECT_EQ(cmd->m_MinSize, 32);
    EXPECT_EQ(cmd->m_pClient, &client);
    msg[4] = 0x55; // the command holds its own copy
    EXPECT_EQ(std::memcmp(cmd->Msg(), DemodBuildBlindScanOldReq({4, 1000000, 100000000, 200000000}).data(), 32), 0);

    PortCmdType copy(*cmd);
    EXPECT_NE(copy.Msg(), cmd->Msg());
    EXPECT_TRUE(copy == *cmd);
    RecordingPortClient other;
    copy.m_pClient = &other;
    EXPECT_FALSE(copy == *cmd);
}

// A request of `code` long enough for its row; the queue never looks past the code.
static DemodMsg Req(uint32_t code)
{
    DemodMsg msg(32, 0);
    KxPutU32(msg.data(), 0, code);
    return msg;
}

TEST(CmdQueueSupersede, ANewCommandReplacesTheTailByItsClassWhoeverSentIt)
{
    // Blind-scan class: 37, 27, 50, 24. Tuning class: 14, 17, 47, 52. Class 0: 32, 5.
    struct Row {
        uint32_t m_Tail;
        uint32_t m_New;
        bool m_Replaced;
    } rows[] = {
        {37, 37, true},  {27, 37, true},  {14, 37, true},  {17, 50, true},  {32, 37, false}, {5, 50, false},
        {17, 17, true},  {52, 52, true},  {17, 47, false}, {14, 17, false}, {37, 14, false}, {27, 47, false},
        {50, 14, true},  {24, 17, true},  {52, 47, true},  {50, 50, true},  {24, 37, true},  {52, 37, true},
        {50, 32, false}, {52, 5, false},  {37, 32, false}, {32, 32, false}, {17, 5, false},
    };
    RecordingPortClient a, b;
    CmdQueue queue;
    ASSERT_TRUE(queue.Init(1));
    for (const Row& row : rows) {
        for (IDemodPortClient* sender : {static_cast<IDemodPortClient*>(&a), static_cast<IDemodPortClient*>(&b)}) {
            PortCmdType* tail = Make(Req(row.m_Tail), &a);
            ASSERT_NE(tail, nullptr) << row.m_Tail;
            const bool tailSuspends = tail->m_SuspendsStats;
            std::atomic<int> pending{tailSuspends ? 1 : 0};
            queue.Add(tail, &pending);
            queue.Add(Make(Req(row.m_New), sender), &pending);
            std::vector<IDemodPortClient*> clients;
            std::vector<int32_t> expected{int32_t(row.m_Tail), int32_t(row.m_New)};
            if (row.m_Replaced)
                expected.erase(expected.begin());
            EXPECT_EQ(Drain(queue, &clients), expected) << row.m_Tail << " then " << row.m_New;
            EXPECT_EQ(clients.back(), sender);
            EXPECT_EQ(pending.load(), tailSuspends && !row.m_Replaced ? 1 : 0) << row.m_Tail << " then " << row.m_New;
        }
    }
}

TEST(CmdQueueSupersede, OnlyTheTailIsLookedAtAndTheCounterNeverGoesNegative)
{
    RecordingPortClient a;
    CmdQueue queue;
    ASSERT_TRUE(queue.Init(1));
    std::atomic<int> pending{2};
    // A tune behind a class-0 command leaves an earlier tune alone.
    queue.Add(Make(Tune(474000000), &a), &pending);
    queue.Add(Make(DemodBuildStatsModeReq(1, 2), &a), &pending);
    queue.Add(Make(Tune(482000000), &a), &pending);
    EXPECT_EQ(pending.load(), 2);
    EXPECT_EQ(Drain(queue), (std::vector<int32_t>{37, 32, 37}));

    // The replacing command is the one kept, with its own request.
    queue.Add(Make(DemodBuildWordReq(DEMOD_CMD_LNB_VOLTAGE_SET, 13), &a), &pending);
    queue.Add(Make(DemodBuildWordReq(DEMOD_CMD_LNB_VOLTAGE_SET, 18), &a), &pending);
    PortCmdType* only = queue.GetNext();
    ASSERT_NE(only, nullptr);
    EXPECT_EQ(KxGetU32(only->Msg(), 4), 18u);
    delete only;
    EXPECT_TRUE(queue.IsEmpty());

    pending = 0;
    queue.Add(Make(DemodBuildFreqSetReq(474000000), &a), &pending);
    queue.Add(Make(Tune(482000000), &a), &pending);
    EXPECT_EQ(pending.load(), 0);
    EXPECT_EQ(Drain(queue), (std::vector<int32_t>{37}));
}

TEST(CmdQueueClear, DropsOneClientsCommandsAndCountsTheirSuspensions)
{
    RecordingPortClient a, b;
    CmdQueue queue;
    ASSERT_TRUE(queue.Init(1));
    std::atomic<int> pending{2};
    queue.Add(Make(Tune(474000000), &a), &pending);
    queue.Add(Make(DemodBuildStatsModeReq(1, 2), &b), &pending);
    queue.Add(Make(DemodBuildFreqSetReq(474000000), &a), &pending);
    queue.Add(Make(DemodBuildStatsModeReq(3, 4), &b), &pending);
    queue.Clear(&a, &pending);
    EXPECT_EQ(pending.load(), 0);
    std::vector<IDemodPortClient*> clients;
    EXPECT_EQ(Drain(queue, &clients), (std::vector<int32_t>{32, 32}));
    EXPECT_EQ(clients, (std::vector<IDemodPortClient*>{&b, &b}));

    queue.Add(Make(Tune(474000000), &a), &pending);
    PortCmdType* held = Make(DemodBuildStatsModeReq(1, 2), &b);
    queue.Add(held, &pending);
    EXPECT_EQ(queue.Remove(held, &pending), held);
    EXPECT_EQ(queue.Remove(held, &pending), nullptr);
    delete held;
    queue.Clear(nullptr, nullptr);
    EXPECT_TRUE(queue.IsEmpty());
}
