// A client polling the same statistics again and again costs the service no allocation: the
// handler answers a request byte for byte equal to its last one from the request decoded
// before, writes the reply from the cache into a buffer it keeps, and the transport reads the
// next message into a buffer it keeps. This program replaces operator new and delete to count
// the allocations of the calling thread (the port's worker allocates on its own thread while
// it polls, and is not counted).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

#include "../demod/PortTestSupport.h"
#include "../demod/TestDemodHal.h"
#include "DemodPortController.h"
#include "DemodRequestReuse.h"
#include "DemodSvcClient.h"
#include "DemodSvcGeneric.h"
#include "DemodSvcProtocol.h"
#include "PipeMessenger.h"

namespace {
thread_local long long t_Allocations = 0;
}

void* operator new(std::size_t size)
{
    t_Allocations++;
    if (void* p = std::malloc(size > 0 ? size : 1))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size)
{
    return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    t_Allocations++;
    return std::malloc(size > 0 ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    return operator new(size, std::nothrow);
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete[](void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept
{
    std::free(p);
}

using namespace Kxapi;
using kxtest::TestDemodHal;
using kxtest::WaitUntil;

namespace {

constexpr long long FREQ_HZ = 474000000;
constexpr int REPEATS = 50;

// Keeps the last reply in a buffer reserved up front, so that taking a reply allocates nothing.
class KeepingClient : public IDemodPortClient {
public:
    KeepingClient() { m_Last.reserve(65536); }
    unsigned int ClientFifoOwner() const override { return getuid(); }
    void DemodCmdProcessedCB(const void* msg, unsigned short size) override
    {
        m_Last.resize(size);
        std::memcpy(m_Last.data(), msg, size);
        m_Count++;
    }
    const DemodMsg& Last() const { return m_Last; }
    int Count() const { return m_Count; }

private:
    DemodMsg m_Last;
    int m_Count = 0;
};

DemodMsg StatsXmlReq(std::initializer_list<int32_t> ids)
{
    std::vector<KxStatistic> stats;
    for (int32_t id : ids)
        stats.emplace_back(id);
    std::wstring xml;
    KxStatistic::ToXml(stats.data(), static_cast<int>(stats.size()), xml);
    return DemodBuildGenericReq(DEMOD_CMD_GET_STATISTICS, xml);
}

// The requests of the three steady reads, and a request of the same size that differs from
// the first in one statistic id.
struct SteadyRead {
    const char* m_pName;
    DemodMsg m_Request;
    DemodMsg m_OneIdChanged;
};

std::vector<SteadyRead> SteadyReads()
{
    return {
        {"fixed-layout statistics (30)", DemodBuildStatsOldReq({KX_STAT_LOCK, KX_STAT_MER, KX_STAT_RF_LVL_CHAN_QS}),
         DemodBuildStatsOldReq({KX_STAT_LOCK, KX_STAT_MER, KX_STAT_TEMP_ENCODER})},
        {"fixed-layout supported list (31)", DemodBuildSupportedOldReq(8), DemodBuildSupportedOldReq(3)},
        {"generic statistics (38)", StatsXmlReq({KX_STAT_LOCK, KX_STAT_MER, KX_STAT_RF_LVL_CHAN_QS}),
         StatsXmlReq({KX_STAT_LOCK, KX_STAT_MER, KX_STAT_TEMP_ENCODER})},
    };
}

class SteadyReadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_Hal.AddCarrier(FREQ_HZ);
        ASSERT_TRUE(m_Port.Init(1, &m_Hal));
        ASSERT_TRUE(m_Port.Attach());
        KeepingClient tuner;
        DemodMsg tune = kxtest::GenericReq(DEMOD_CMD_TUNE, kxtest::TuneXml(FREQ_HZ));
        m_Port.ProcessDemodMsg(tune.data(), static_cast<int>(tune.size()), &tuner);
        ASSERT_EQ(KxGetU32(tuner.Last().data(), 4), KXAPI_OK);
        // Locked, and the averages' windows full, so that the cache's answers stay the same.
        ASSERT_TRUE(WaitUntil([&] { return m_Port.State() == 3; }, 3000));
        XpUtil::Sleep(1200);
    }
    void TearDown() override { m_Port.CleanUp(); }

    // The reply through the handler's path (kept request and reply buffer).
    const DemodMsg& Read(const DemodMsg& request)
    {
        m_Port.ProcessDemodMsg(request.data(), static_cast<int>(request.size()), &m_Client, &m_Reuse);
        return m_Client.Last();
    }
    // The reply of a fresh decode and the general encoders.
    DemodMsg ReadPlain(const DemodMsg& request)
    {
        KeepingClient client;
        m_Port.ProcessDemodMsg(request.data(), static_cast<int>(request.size()), &client);
        return client.Last();
    }

    kxtest::ScopedIpcDirectory m_Ipc;
    TestDemodHal m_Hal;
    DemodPortController m_Port;
    KeepingClient m_Client;
    DemodRequestReuse m_Reuse;
};

} // namespace

TEST_F(SteadyReadTest, ARepeatedReadAllocatesNothingAndAnswersAsAFreshlyDecodedOne)
{
    for (const SteadyRead& read : SteadyReads()) {
        SCOPED_TRACE(read.m_pName);
        const DemodMsg expected = ReadPlain(read.m_Request);
        ASSERT_GE(expected.size(), 8u);
        ASSERT_EQ(KxGetU32(expected.data(), 4), KXAPI_OK);
        Read(read.m_Request); // decodes and keeps it, grows the buffers
        const int before = m_Client.Count();
        const long long allocations = t_Allocations;
        for (int i = 0; i < REPEATS; i++)
            Read(read.m_Request);
        EXPECT_EQ(t_Allocations - allocations, 0);
        EXPECT_EQ(m_Client.Count() - before, REPEATS);
        EXPECT_EQ(m_Client.Last(), expected);
    }
}

TEST_F(SteadyReadTest, ARequestThatDiffersInOneByteIsDecodedAgain)
{
    for (const SteadyRead& read : SteadyReads()) {
        SCOPED_TRACE(read.m_pName);
        ASSERT_EQ(read.m_Request.size(), read.m_OneIdChanged.size());
        const DemodMsg expectedFirst = ReadPlain(read.m_Request);
        const DemodMsg expectedChanged = ReadPlain(read.m_OneIdChanged);
        ASSERT_NE(expectedFirst, expectedChanged);
        for (int i = 0; i < 3; i++)
            EXPECT_EQ(Read(read.m_Request), expectedFirst);
        EXPECT_EQ(Read(read.m_OneIdChanged), expectedChanged);
        EXPECT_EQ(Read(read.m_Request), expectedFirst);
    }
}

TEST_F(SteadyReadTest, ARepeatedReadFollowsEveryChangeOfTheCache)
{
    // The reply built for a repeated request is sent again only while the cache stays as it
    // was: once the port's polls store other values, the same request gets them.
    const std::vector<SteadyRead> reads = SteadyReads();
    for (const SteadyRead* read : {&reads[0], &reads[2]}) { // the statistics, not the supported list
        SCOPED_TRACE(read->m_pName);
        ASSERT_TRUE(WaitUntil([&] { return m_Port.State() == 3; }, 3000));
        XpUtil::Sleep(1200); // the averages' windows full again
        const DemodMsg locked = Read(read->m_Request);
        EXPECT_EQ(Read(read->m_Request), locked);
        m_Hal.m_Locked = false; // lock and MER go, as the next polls see
        EXPECT_TRUE(WaitUntil(
            [&] {
                const DemodMsg& kept = Read(read->m_Request);
                return kept != locked && kept == ReadPlain(read->m_Request);
            },
            3000));
        m_Hal.m_Locked = true;
    }
}

TEST_F(SteadyReadTest, ARepeatedMalformedRequestIsRefusedByTheParserEachTime)
{
    DemodMsg good = StatsXmlReq({KX_STAT_LOCK, KX_STAT_MER});
    Read(good);
    // The same size as the kept request, but text that is not well-formed.
    DemodMsg broken = good;
    KxPutU32(broken.data(), 8, '<');
    KxPutU32(broken.data(), 12, '<');
    for (int i = 0; i < 3; i++) {
        const DemodMsg& reply = Read(broken);
        ASSERT_GE(reply.size(), 8u);
        EXPECT_EQ(KxGetU32(reply.data(), 4), KXAPI_E_INTERNAL);
        EXPECT_EQ(reply.size(), 8u);
    }
    EXPECT_EQ(KxGetU32(Read(good).data(), 4), KXAPI_OK);
}

TEST_F(SteadyReadTest, AStructuredValueIsWrittenByTheGeneralEncoder)
{
    // The HAL has no structured statistic: a request naming one answers "not supported",
    // in the same text as the general encoder gives, also when repeated.
    DemodMsg request = StatsXmlReq({KX_STAT_LOCK, KX_STAT_DVBS2_ISI});
    const DemodMsg expected = ReadPlain(request);
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(Read(request), expected);
}

TEST_F(SteadyReadTest, AStatisticsReadNeverWaitsForAnotherClientsCommand)
{
    const DemodMsg read = StatsXmlReq({KX_STAT_LOCK, KX_STAT_MER});
    const DemodMsg expected = ReadPlain(read);
    // Another client's LNB command waits for the worker, which the HAL holds up for a while,
    // with the port's command lock held all that time.
    m_Hal.m_LnbDelayMs = 1500;
    KeepingClient other;
    std::atomic<bool> answered{false};
    std::thread slow([&] {
        const DemodMsg lnb = DemodBuildWordReq(DEMOD_CMD_LNB_VOLTAGE_SET, 1);
        m_Port.ProcessDemodMsg(lnb.data(), static_cast<int>(lnb.size()), &other);
        answered = true;
    });
    XpUtil::Sleep(300); // taken by the worker (within a tick), and far from done
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(Read(read), expected);
    // All three were answered while the LNB command still ran (it is recorded when it ends,
    // before its client's thread lets go of the command lock).
    EXPECT_TRUE(m_Hal.Executed("LnbSetVoltage").empty());
    EXPECT_FALSE(answered.load());
    slow.join();
    EXPECT_EQ(m_Hal.Executed("LnbSetVoltage").size(), 1u);
    EXPECT_EQ(KxGetU32(other.Last().data(), 4), KXAPI_OK);
}

TEST(SteadyMessageReadTest, MessagesOfASteadySizeAreReadIntoTheKeptBufferWithoutAllocating)
{
    kxtest::ScopedIpcDirectory ipc;
    XpPipeListenerPtr listener = Xp::Instance()->MakePipeListener("SteadyPipe");
    ASSERT_NE(listener, nullptr);
    IXpPipeConnection* accepted = nullptr;
    std::thread acceptor([&] { listener->WaitConnection(accepted); });
    PipeMessenger client;
    ASSERT_TRUE(client.Init() && client.Connect("SteadyPipe"));
    acceptor.join();
    ASSERT_NE(accepted, nullptr);
    PipeMessenger server(accepted);

    const DemodMsg request = StatsXmlReq({KX_STAT_LOCK, KX_STAT_MER, KX_STAT_RF_LVL_CHAN_QS});
    std::vector<uint8_t> buffer;
    size_t size = 0;
    ASSERT_TRUE(client.WriteMsg(reinterpret_cast<const char*>(request.data()), static_cast<int>(request.size())));
    ASSERT_TRUE(server.ReadMsg(buffer, size, 1000));
    const long long allocations = t_Allocations;
    for (int i = 0; i < REPEATS; i++) {
        ASSERT_TRUE(client.WriteMsg(reinterpret_cast<const char*>(request.data()), static_cast<int>(request.size())));
        ASSERT_TRUE(server.ReadMsg(buffer, size, 1000));
    }
    EXPECT_EQ(t_Allocations - allocations, 0);
    ASSERT_EQ(size, request.size());
    EXPECT_EQ(std::memcmp(buffer.data(), request.data(), size), 0);
}

namespace {

// Answers each request with the next of its replies, copied into the client's buffer as a
// connection reads a message into it.
class RotatingTransport : public IDemodSvcTransport {
public:
    explicit RotatingTransport(std::vector<DemodMsg> replies) : m_Replies(std::move(replies)) {}
    KXAPI_RESULT Transfer(const DemodMsg&, DemodMsg& reply) override
    {
        const DemodMsg& next = m_Replies[m_Next++ % m_Replies.size()];
        reply.resize(next.size());
        std::memcpy(reply.data(), next.data(), next.size());
        return KXAPI_OK;
    }

private:
    std::vector<DemodMsg> m_Replies;
    size_t m_Next = 0;
};

} // namespace

TEST(SteadyClientReadTest, APollOfChangingValuesAllocatesNothingInTheClient)
{
    // Replies whose values change from one to the next (and so their lengths): each is parsed
    // into the document and statistics the client keeps, and the poll reuses its array. (The
    // XML parser takes one page for each document with malloc, not counted here, and gives it
    // back at the next parse.)
    const int32_t IDS[] = {KX_STAT_LOCK, KX_STAT_RF_LVL_UNCALIB, KX_STAT_TEMP_TUNER, KX_STAT_BER_POST_LDPC};
    std::vector<DemodMsg> replies;
    for (int32_t step = 0; step < 3; step++) {
        std::vector<KxStatistic> answer;
        for (int32_t id : IDS) {
            KxStatistic& stat = answer.emplace_back(id);
            if (stat.m_ValueType == KX_STAT_VT_BOOL)
                stat.SetValue(step % 2 == 0);
            else if (stat.m_ValueType == KX_STAT_VT_DOUBLE)
                stat.SetValue(1.5e-7 * (step + 1));
            else
                stat.SetValue(int32_t{-120 - 1000 * step});
        }
        std::wstring xml;
        ASSERT_EQ(KxStatistic::ToXml(answer.data(), static_cast<int>(answer.size()), xml), KXAPI_OK);
        replies.push_back(DemodBuildGenericReply(DEMOD_CMD_GET_STATISTICS, KXAPI_OK, xml));
    }
    RotatingTransport transport(replies);
    DemodSvcClient client(&transport);
    std::vector<KxStatistic> stats;
    for (int32_t id : IDS)
        stats.emplace_back(id);
    for (size_t i = 0; i < replies.size(); i++) // the kept buffers grow to the longest reply
        ASSERT_EQ(client.GetStatistics(stats.data(), static_cast<int>(stats.size())), KXAPI_OK);

    const long long allocations = t_Allocations;
    int32_t levels[REPEATS] = {};
    for (int i = 0; i < REPEATS; i++) {
        ASSERT_EQ(client.GetStatistics(stats.data(), static_cast<int>(stats.size())), KXAPI_OK);
        ASSERT_EQ(stats[1].GetValue(levels[i]), KXAPI_OK);
    }
    EXPECT_EQ(t_Allocations - allocations, 0);
    // The values did follow the replies.
    for (int i = 0; i < REPEATS; i++)
        EXPECT_EQ(levels[i], -120 - 1000 * ((i + static_cast<int>(replies.size())) % 3)) << i;
}
