// The client's message layer against a scripted transport: requests as built, replies whose
// length does not match the layout rejected.
#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <deque>
#include <thread>
#include <vector>

#include "DemodPars.h"
#include "DemodSvcClient.h"
#include "DemodSvcGeneric.h"
#include "DemodSvcProtocol.h"
#include "KxStatistic.h"
#include "KxStreamSel.h"

using namespace Kxapi;

namespace {

// Records every request and answers with queued replies; an empty queue fails the transfer.
class ScriptedTransport : public IDemodSvcTransport {
public:
    KXAPI_RESULT Transfer(const DemodMsg& request, DemodMsg& reply) override
    {
        m_Requests.push_back(request);
        if (m_Replies.empty())
            return KXAPI_E_COMMUNICATION;
        reply = m_Replies.front();
        m_Replies.pop_front();
        return KXAPI_OK;
    }
    std::vector<DemodMsg> m_Requests;
    std::deque<DemodMsg> m_Replies;
};

class DemodClient : public ::testing::Test {
protected:
    ScriptedTransport m_Transport;
    DemodSvcClient m_Client{&m_Transport};
};

} // namespace

TEST_F(DemodClient, AttachSendsTheOneBasedPortAndMapsBrokenRepliesToConnectFailure)
{
    m_Transport.m_Replies.push_back(DemodBuildReply(DEMOD_CMD_ATTACH, KXAPI_OK));
    EXPECT_EQ(m_Client.Attach(99, 0, 7), KXAPI_OK);
    ASSERT_EQ(m_Transport.m_Requests.size(), 1u);
    EXPECT_EQ(m_Transport.m_Requests[0], DemodBuildAttach(99, 1, 7));

    m_Transport.m_Replies.push_back(DemodBuildReply(DEMOD_CMD_ATTACH, KXAPI_E_NO_SUCH_DEVICE));
    EXPECT_EQ(m_Client.Attach(99, 0, 0), KXAPI_E_NO_SUCH_DEVICE);
    DemodMsg tooLong = DemodBuildReply(DEMOD_CMD_INIT_DEMODULATOR, KXAPI_OK, 4);
    m_Transport.m_Replies.push_back(tooLong);
    EXPECT_EQ(m_Client.InitDemodulator(), KXAPI_E_CONNECT_TO_SERVICE);
    EXPECT_EQ(m_Client.InitDemodulator(), KXAPI_E_CONNECT_TO_SERVICE); // transfer fails
    EXPECT_EQ(m_Client.Detach(), KXAPI_E_INTERNAL);

    // A port index without a 1-based number is refused before anything is sent.
    const size_t sent = m_Transport.m_Requests.size();
    EXPECT_EQ(m_Client.Attach(99, INT32_MAX, 0), KXAPI_E_INVALID_ARG);
    EXPECT_EQ(m_Transport.m_Requests.size(), sent);
    m_Transport.m_Replies.push_back(DemodBuildReply(DEMOD_CMD_ATTACH, KXAPI_E_NO_SUCH_PORT));
    EXPECT_EQ(m_Client.Attach(99, INT32_MIN, 0), KXAPI_E_NO_SUCH_PORT);
    EXPECT_EQ(m_Transport.m_Requests.back(), DemodBuildAttach(99, INT32_MIN + 1, 0));
}

TEST_F(DemodClient, VersionCheckRefusesServicesOlderThanThreeTwo)
{
    uint32_t v[4] = {};
    m_Transport.m_Replies.push_back(DemodBuildVersionReply(3, 8, 7, 96));
    EXPECT_EQ(m_Client.ServiceVersion(v), KXAPI_OK);
    EXPECT_EQ(v[1], 8u);
    m_Transport.m_Replies.push_back(DemodBuildVersionReply(3, 1, 0, 0));
    EXPECT_EQ(m_Client.ServiceVersion(v), KXAPI_E_SERVICE_INCOMP);
}

TEST_F(DemodClient, FixedLayoutRepliesMustHaveTheExactLength)
{
    DemodMsg stats = DemodBuildStatsOldReply(KXAPI_OK, {TStatPars{}, TStatPars{}});
    m_Transport.m_Replies.push_back(stats);
    std::vector<TStatPars> out;
    EXPECT_EQ(m_Client.StatisticsGetOld({512, 262}, out), KXAPI_OK);
    EXPECT_EQ(out.size(), 2u);
    EXPECT_EQ(m_Transport.m_Requests.back(), DemodBuildStatsOldReq({512, 262}));
    // The service answered one statistic for three asked.
    m_Transport.m_Replies.push_back(DemodBuildStatsOldReply(KXAPI_OK, {TStatPars{}}));
    EXPECT_EQ(m_Client.StatisticsGetOld({512, 262, 1}, out), KXAPI_E_INTERNAL);

    KxTunePars tp;
    tp.m_Words[8] = 5;
    m_Transport.m_Replies.push_back(DemodBuildTuneParsReply(DEMOD_CMD_TUNE_PARS_SET, KXAPI_OK, tp));
    KxTunePars mine;
    EXPECT_EQ(m_Client.TuneParsSet(mine), KXAPI_OK);
    EXPECT_EQ(mine.m_Words[8], 5);

    // An 8-byte failure reply passes its code through.
    m_Transport.m_Replies.push_back(DemodBuildReply(DEMOD_CMD_TUNER_FREQ_GET_OLD, KXAPI_E_OUT_OF_MEM));
    int64_t f = 0;
    EXPECT_EQ(m_Client.TunerFreqGetOld(f), KXAPI_E_OUT_OF_MEM);
    // Negative counts are refused before anything is sent.
    const size_t sent = m_Transport.m_Requests.size();
    std::vector<KxConstelPoint> pts;
    EXPECT_EQ(m_Client.ConstelGetOld(-1, pts), KXAPI_E_INVALID_ARG);
    EXPECT_EQ(m_Transport.m_Requests.size(), sent);
}

TEST_F(DemodClient, GenericTuneCarriesFrequencyAndParameters)
{
    KxDemodPars pars;
    ASSERT_EQ(pars.SetModType(KX_MOD_DVBT2), KXAPI_OK);
    m_Transport.m_Replies.push_back(DemodBuildReply(DEMOD_CMD_TUNE, KXAPI_OK));
    EXPECT_EQ(m_Client.Tune(474000000, pars), KXAPI_OK);
    std::wstring text;
    ASSERT_EQ(DemodParseGenericReq(m_Transport.m_Requests[0].data(), m_Transport.m_Requests[0].size(), text), KXAPI_OK);
    std::wstring parsXml;
    ASSERT_EQ(pars.ToXml(parsXml), KXAPI_OK);
    EXPECT_EQ(text, L"<FreqHz>474000000</FreqHz>" + parsXml);

    // ControlGet needs a parameter element in the reply.
    m_Transport.m_Replies.push_back(DemodBuildGenericReply(DEMOD_CMD_CONTROL_GET, KXAPI_OK, parsXml));
    KxDemodPars got;
    EXPECT_EQ(m_Client.ControlGet(got), KXAPI_OK);
    EXPECT_EQ(got, pars);
    EXPECT_EQ(m_Transport.m_Requests.back().size(), 4u);
    m_Transport.m_Replies.push_back(DemodBuildGenericReply(DEMOD_CMD_CONTROL_GET, KXAPI_OK, L""));
    EXPECT_EQ(m_Client.ControlGet(got), KXAPI_E_INTERNAL);
}

TEST_F(DemodClient, StatisticsListsMustKeepTheirCount)
{
    const std::wstring request = L"<kxstat sid=\"512\"/><kxstat sid=\"262\"/>";
    std::wstring reply;
    m_Transport.m_Replies.push_back(DemodBuildGenericReply(DEMOD_CMD_GET_STATISTICS, KXAPI_OK,
                                                 L"<kxstat sid=\"512\" vt=\"1\" bl=\"1\"/><kxstat sid=\"262\" vt=\"3\" int=\"287\"/>"));
    EXPECT_EQ(m_Client.GetStatisticsXml(request, reply), KXAPI_OK);
    m_Transport.m_Replies.push_back(
        DemodBuildGenericReply(DEMOD_CMD_GET_STATISTICS, KXAPI_OK, L"<kxstat sid=\"512\"/>"));
    EXPECT_EQ(m_Client.GetStatisticsXml(request, reply), KXAPI_E_INTERNAL);
    // An empty list still goes out as text (code and a wide NUL) and comes back empty.
    m_Transport.m_Replies.push_back(DemodBuildReply(DEMOD_CMD_GET_STATISTICS, KXAPI_OK));
    reply = L"stale";
    EXPECT_EQ(m_Client.GetStatisticsXml(L"", reply), KXAPI_OK);
    EXPECT_EQ(m_Transport.m_Requests.back(), DemodBuildGenericReq(DEMOD_CMD_GET_STATISTICS, L""));
    EXPECT_TRUE(reply.empty());

    m_Transport.m_Replies.push_back(
        DemodBuildGenericReply(DEMOD_CMD_TUNER_FREQ_GET, KXAPI_OK, L"<FreqHz>1550000000</FreqHz>"));
    int64_t f = 0;
    EXPECT_EQ(m_Client.TunerFrequencyGet(1, f), KXAPI_OK);
    EXPECT_EQ(f, 1550000000);
    m_Transport.m_Replies.push_back(DemodBuildGenericReply(DEMOD_CMD_TUNER_FREQ_GET, KXAPI_OK, L"<Other>1</Other>"));
    EXPECT_EQ(m_Client.TunerFrequencyGet(1, f), KXAPI_E_INTERNAL);
}

namespace {

// Answers every request; counts exchanges that overlap another one.
class OverlapTransport : public IDemodSvcTransport {
public:
    KXAPI_RESULT Transfer(const DemodMsg& request, DemodMsg& reply) override
    {
        if (m_InFlight.fetch_add(1) != 0)
            m_Overlaps++;
        std::this_thread::yield();
        reply = DemodBuildReply(request[0], KXAPI_OK);
        m_InFlight.fetch_sub(1);
        return KXAPI_OK;
    }
    std::atomic<int> m_InFlight{0};
    std::atomic<int> m_Overlaps{0};
};

} // namespace

TEST_F(DemodClient, RequestsOfOneClientNeverOverlap)
{
    OverlapTransport overlap;
    DemodSvcClient shared(&overlap);
    auto worker = [&shared] {
        for (int i = 0; i < 500; i++)
            EXPECT_EQ(shared.BlindScanCancel(), KXAPI_OK);
    };
    std::thread a(worker), b(worker), c(worker);
    a.join();
    b.join();
    c.join();
    EXPECT_EQ(overlap.m_Overlaps.load(), 0);
}

TEST_F(DemodClient, TypedStatisticsReadFillsResultsInPlace)
{
    KxStatistic stats[2] = {KxStatistic(512), KxStatistic(262)};
    // The service's answer: lock true, MER 28.7 dB.
    KxStatistic answer[2] = {KxStatistic(512), KxStatistic(262)};
    ASSERT_EQ(answer[0].SetValue(true), KXAPI_OK);
    ASSERT_EQ(answer[1].SetValue(int32_t(287)), KXAPI_OK);
    std::wstring answerXml;
    ASSERT_EQ(KxStatistic::ToXml(answer, 2, answerXml), KXAPI_OK);
    m_Transport.m_Replies.push_back(DemodBuildGenericReply(DEMOD_CMD_GET_STATISTICS, KXAPI_OK, answerXml));
    EXPECT_EQ(m_Client.GetStatistics(stats, 2), KXAPI_OK);
    bool locked = false;
    int32_t mer = 0;
    EXPECT_EQ(stats[0].GetValue(locked), KXAPI_OK);
    EXPECT_TRUE(locked);
    EXPECT_EQ(stats[1].GetValue(mer), KXAPI_OK);
    EXPECT_EQ(mer, 287);
    // The request named both statistics in order.
    std::wstring sent;
    ASSERT_EQ(DemodParseGenericReq(m_Transport.m_Requests[0].data(), m_Transport.m_Requests[0].size(), sent), KXAPI_OK);
    std::vector<KxStatistic> asked;
    ASSERT_EQ(KxStatistic::FromXml(sent, asked), KXAPI_OK);
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[1].m_StatisticId, 262);

    EXPECT_EQ(m_Client.GetStatistics(stats, 0), KXAPI_E_INVALID_ARG);
}

TEST_F(DemodClient, ConstellationPointsMustMatchTheRequestedNumber)
{
    std::vector<KxConstelPoint> pts;
    m_Transport.m_Replies.push_back(DemodBuildGenericReply(DEMOD_CMD_CONSTEL_POINTS_GET, KXAPI_OK,
                                                 L"<KxConstPoint X=\"-5\" Y=\"7\"/><KxConstPoint X=\"1\" Y=\"2\"/>"));
    EXPECT_EQ(m_Client.ConstellationPointsGet(2, 0, pts), KXAPI_OK);
    ASSERT_EQ(pts.size(), 2u);
    EXPECT_EQ(pts[0].m_X, -5);
    EXPECT_EQ(pts[1].m_Y, 2);
    std::wstring sent;
    ASSERT_EQ(DemodParseGenericReq(m_Transport.m_Requests[0].data(), m_Transport.m_Requests[0].size(), sent), KXAPI_OK);
    EXPECT_EQ(sent, L"<NumPoints>2</NumPoints><StreamId>0</StreamId>");
    m_Transport.m_Replies.push_back(
        DemodBuildGenericReply(DEMOD_CMD_CONSTEL_POINTS_GET, KXAPI_OK, L"<KxConstPoint X=\"1\"/>"));
    EXPECT_EQ(m_Client.ConstellationPointsGet(1, 0, pts), KXAPI_E_INTERNAL);
    EXPECT_TRUE(pts.empty());
}

TEST_F(DemodClient, StreamSelectionRoundTrips)
{
    KxDvbT2StreamSelPars t2;
    t2.m_PlpId = 3;
    t2.m_CommonPlpId = -1;
    m_Transport.m_Replies.push_back(DemodBuildReply(DEMOD_CMD_STREAM_SEL_SET_T2, KXAPI_OK));
    EXPECT_EQ(m_Client.StreamSelSet(t2), KXAPI_OK);
    std::wstring sent, expected;
    ASSERT_EQ(DemodParseGenericReq(m_Transport.m_Requests[0].data(), m_Transport.m_Requests[0].size(), sent), KXAPI_OK);
    ASSERT_EQ(t2.ToXml(expected), KXAPI_OK);
    EXPECT_EQ(sent, expected);

    m_Transport.m_Replies.push_back(DemodBuildGenericReply(DEMOD_CMD_STREAM_SEL_GET_T2, KXAPI_OK, expected));
    KxDvbT2StreamSelPars got;
    EXPECT_EQ(m_Client.StreamSelGet(got), KXAPI_OK);
    EXPECT_EQ(got, t2);
    EXPECT_EQ(m_Transport.m_Requests.back(), DemodBuildCodeOnly(DEMOD_CMD_STREAM_SEL_GET_T2));
    // A C2 get answered without text is broken.
    m_Transport.m_Replies.push_back(DemodBuildReply(DEMOD_CMD_STREAM_SEL_GET_C2, KXAPI_OK));
    KxDvbC2StreamSelPars c2;
    EXPECT_EQ(m_Client.StreamSelGet(c2), KXAPI_E_INTERNAL);
}

namespace {

// The reply of a statistics read: the service's text for the given statistics.
DemodMsg StatsReply(std::vector<KxStatistic> answer)
{
    std::wstring xml;
    EXPECT_EQ(KxStatistic::ToXml(answer.data(), static_cast<int>(answer.size()), xml), KXAPI_OK);
    return DemodBuildGenericReply(DEMOD_CMD_GET_STATISTICS, KXAPI_OK, xml);
}

KxStatistic WithValue(int32_t id, int32_t value)
{
    KxStatistic stat(id);
    EXPECT_EQ(stat.SetValue(value), KXAPI_OK);
    return stat;
}

} // namespace

TEST_F(DemodClient, ABrokenStatisticsReplyLeavesTheCallersStatisticsAlone)
{
    KxStatistic stats[2] = {KxStatistic(262), KxStatistic(7)};
    m_Transport.m_Replies.push_back(StatsReply({WithValue(262, 287), WithValue(7, -12)}));
    ASSERT_EQ(m_Client.GetStatistics(stats, 2), KXAPI_OK);
    const std::vector<KxStatistic> good(stats, stats + 2);

    const wchar_t* const HEAD = L"<kxstat res=\"0\" sid=\"262\" vt=\"3\" int=\"1\"/>";
    struct Row {
        const char* m_pWhat;
        DemodMsg m_Reply;
    };
    DemodMsg noNul = DemodBuildGenericReply(DEMOD_CMD_GET_STATISTICS, KXAPI_OK, HEAD);
    noNul.resize(noNul.size() - 4);
    DemodMsg partialChar = DemodBuildGenericReply(DEMOD_CMD_GET_STATISTICS, KXAPI_OK, HEAD);
    partialChar.pop_back();
    const std::wstring head = HEAD;
    const std::vector<Row> ROWS = {
        {"one statistic for two", StatsReply({WithValue(262, 1)})},
        {"three for two", StatsReply({WithValue(262, 1), WithValue(7, 2), WithValue(7, 3)})},
        {"no list", DemodBuildGenericReply(DEMOD_CMD_GET_STATISTICS, KXAPI_OK, L"<other/>")},
        {"not well-formed", DemodBuildGenericReply(DEMOD_CMD_GET_STATISTICS, KXAPI_OK, head + L"<kxstat sid=\"7\"")},
        {"second value not a number",
         DemodBuildGenericReply(DEMOD_CMD_GET_STATISTICS, KXAPI_OK, head + L"<kxstat sid=\"7\" vt=\"3\" int=\"7q\"/>")},
        {"value type not carried",
         DemodBuildGenericReply(DEMOD_CMD_GET_STATISTICS, KXAPI_OK, head + L"<kxstat sid=\"7\" vt=\"10\"/>")},
        {"header out of range",
         DemodBuildGenericReply(DEMOD_CMD_GET_STATISTICS, KXAPI_OK, head + L"<kxstat sid=\"4294967296\" vt=\"3\"/>")},
        {"surrogate in the text",
         DemodBuildGenericReply(DEMOD_CMD_GET_STATISTICS, KXAPI_OK,
                                head + L"<kxstat sid=\"7\" vt=\"3\" int=\"" + wchar_t(0xDC00) + L"\"/>")},
        {"another command's reply", DemodBuildGenericReply(DEMOD_CMD_CONTROL_GET, KXAPI_OK, head + head)},
        {"text without its NUL", noNul},
        {"a partial character", partialChar},
        {"too short", DemodMsg(6, 0)},
    };
    for (const Row& row : ROWS) {
        SCOPED_TRACE(row.m_pWhat);
        m_Transport.m_Replies.push_back(row.m_Reply);
        EXPECT_EQ(m_Client.GetStatistics(stats, 2), KXAPI_E_INTERNAL);
        EXPECT_EQ(std::vector<KxStatistic>(stats, stats + 2), good);
    }
    // A read the service refused answers its code and changes nothing either.
    m_Transport.m_Replies.push_back(DemodBuildReply(DEMOD_CMD_GET_STATISTICS, KXAPI_E_NOT_LOCKED));
    EXPECT_EQ(m_Client.GetStatistics(stats, 2), KXAPI_E_NOT_LOCKED);
    EXPECT_EQ(std::vector<KxStatistic>(stats, stats + 2), good);
    // And the next good reply is read whole after all of them.
    m_Transport.m_Replies.push_back(StatsReply({WithValue(262, 301), WithValue(7, -9)}));
    ASSERT_EQ(m_Client.GetStatistics(stats, 2), KXAPI_OK);
    int32_t mer = 0, level = 0;
    EXPECT_EQ(stats[0].GetValue(mer), KXAPI_OK);
    EXPECT_EQ(stats[1].GetValue(level), KXAPI_OK);
    EXPECT_EQ(mer, 301);
    EXPECT_EQ(level, -9);
}

TEST_F(DemodClient, APollOfTheSameStatisticsSendsOneRequestTextUntilTheListChanges)
{
    std::vector<KxStatistic> stats = {KxStatistic(262), KxStatistic(7)};
    // The same array again and again: it holds the last values, which are no part of what is
    // asked for.
    for (int32_t i = 0; i < 3; i++) {
        m_Transport.m_Replies.push_back(StatsReply({WithValue(262, 280 + i), WithValue(7, -i)}));
        ASSERT_EQ(m_Client.GetStatistics(stats.data(), 2), KXAPI_OK);
    }
    ASSERT_EQ(m_Transport.m_Requests.size(), 3u);
    EXPECT_EQ(m_Transport.m_Requests[1], m_Transport.m_Requests[0]);
    EXPECT_EQ(m_Transport.m_Requests[2], m_Transport.m_Requests[0]);

    // Another extra id, another statistic or another count is asked for anew.
    auto asked = [this] {
        std::wstring sent;
        const DemodMsg& last = m_Transport.m_Requests.back();
        EXPECT_EQ(DemodParseGenericReq(last.data(), last.size(), sent), KXAPI_OK);
        std::vector<KxStatistic> list;
        EXPECT_EQ(KxStatistic::FromXml(sent, list), KXAPI_OK);
        return list;
    };
    stats[1].m_XtraId[1] = 2;
    m_Transport.m_Replies.push_back(StatsReply({WithValue(262, 1), WithValue(7, 2)}));
    ASSERT_EQ(m_Client.GetStatistics(stats.data(), 2), KXAPI_OK);
    ASSERT_EQ(asked().size(), 2u);
    EXPECT_EQ(asked()[1].m_XtraId[1], 2);
    stats[0] = KxStatistic(9);
    m_Transport.m_Replies.push_back(StatsReply({WithValue(9, 41), WithValue(7, 2)}));
    ASSERT_EQ(m_Client.GetStatistics(stats.data(), 2), KXAPI_OK);
    EXPECT_EQ(asked()[0].m_StatisticId, 9);
    m_Transport.m_Replies.push_back(StatsReply({WithValue(9, 41)}));
    ASSERT_EQ(m_Client.GetStatistics(stats.data(), 1), KXAPI_OK);
    EXPECT_EQ(asked().size(), 1u);
}
