// The client's message layer against a scripted transport: requests as built, replies whose
// length does not match the layout rejected.
#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "DemodPars.h"
#include "DemodSvcClient.h"
#include "DemodSvcGeneric.h"
#include "DemodSvcProtocol.h"

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

} // namespace

TEST(DemodClient, AttachSendsTheOneBasedPortAndMapsBrokenRepliesToConnectFailure)
{
    ScriptedTransport t;
    DemodSvcClient client(&t);
    t.m_Replies.push_back(DemodBuildReply(DEMOD_CMD_ATTACH, KXAPI_OK));
    EXPECT_EQ(client.Attach(99, 0, 7), KXAPI_OK);
    ASSERT_EQ(t.m_Requests.size(), 1u);
    EXPECT_EQ(t.m_Requests[0], DemodBuildAttach(99, 1, 7));

    t.m_Replies.push_back(DemodBuildReply(DEMOD_CMD_ATTACH, KXAPI_E_NO_SUCH_DEVICE));
    EXPECT_EQ(client.Attach(99, 0, 0), KXAPI_E_NO_SUCH_DEVICE);
    DemodMsg tooLong = DemodBuildReply(DEMOD_CMD_INIT_DEMODULATOR, KXAPI_OK, 4);
    t.m_Replies.push_back(tooLong);
    EXPECT_EQ(client.InitDemodulator(), KXAPI_E_CONNECT_TO_SERVICE);
    EXPECT_EQ(client.InitDemodulator(), KXAPI_E_CONNECT_TO_SERVICE); // transfer fails
    EXPECT_EQ(client.Detach(), KXAPI_E_INTERNAL);
}

TEST(DemodClient, VersionCheckRefusesServicesOlderThanThreeTwo)
{
    ScriptedTransport t;
    DemodSvcClient client(&t);
    uint32_t v[4] = {};
    t.m_Replies.push_back(DemodBuildVersionReply(3, 8, 7, 96));
    EXPECT_EQ(client.ServiceVersion(v), KXAPI_OK);
    EXPECT_EQ(v[1], 8u);
    t.m_Replies.push_back(DemodBuildVersionReply(3, 1, 0, 0));
    EXPECT_EQ(client.ServiceVersion(v), KXAPI_E_SERVICE_INCOMP);
}

TEST(DemodClient, FixedLayoutRepliesMustHaveTheExactLength)
{
    ScriptedTransport t;
    DemodSvcClient client(&t);
    DemodMsg stats = DemodBuildStatsOldReply(KXAPI_OK, {TStatPars{}, TStatPars{}});
    t.m_Replies.push_back(stats);
    std::vector<TStatPars> out;
    EXPECT_EQ(client.StatisticsGetOld({512, 262}, out), KXAPI_OK);
    EXPECT_EQ(out.size(), 2u);
    EXPECT_EQ(t.m_Requests.back(), DemodBuildStatsOldReq({512, 262}));
    // The service answered one statistic for three asked.
    t.m_Replies.push_back(DemodBuildStatsOldReply(KXAPI_OK, {TStatPars{}}));
    EXPECT_EQ(client.StatisticsGetOld({512, 262, 1}, out), KXAPI_E_INTERNAL);

    KxTunePars tp;
    tp.m_Words[8] = 5;
    t.m_Replies.push_back(DemodBuildTuneParsReply(DEMOD_CMD_TUNE_PARS_SET, KXAPI_OK, tp));
    KxTunePars mine;
    EXPECT_EQ(client.TuneParsSet(mine), KXAPI_OK);
    EXPECT_EQ(mine.m_Words[8], 5);

    // An 8-byte failure reply passes its code through.
    t.m_Replies.push_back(DemodBuildReply(DEMOD_CMD_TUNER_FREQ_GET_OLD, KXAPI_E_OUT_OF_MEM));
    int64_t f = 0;
    EXPECT_EQ(client.TunerFreqGetOld(f), KXAPI_E_OUT_OF_MEM);
    // Negative counts are refused before anything is sent.
    const size_t sent = t.m_Requests.size();
    std::vector<KxConstelPoint> pts;
    EXPECT_EQ(client.ConstelGetOld(-1, pts), KXAPI_E_INVALID_ARG);
    EXPECT_EQ(t.m_Requests.size(), sent);
}

TEST(DemodClient, GenericTuneCarriesFrequencyAndParameters)
{
    ScriptedTransport t;
    DemodSvcClient client(&t);
    KxDemodPars pars;
    ASSERT_EQ(pars.SetModType(KX_MOD_DVBT2), KXAPI_OK);
    t.m_Replies.push_back(DemodBuildReply(DEMOD_CMD_TUNE, KXAPI_OK));
    EXPECT_EQ(client.Tune(474000000, pars), KXAPI_OK);
    std::wstring text;
    ASSERT_EQ(DemodParseGenericReq(t.m_Requests[0].data(), t.m_Requests[0].size(), text), KXAPI_OK);
    std::wstring parsXml;
    ASSERT_EQ(pars.ToXml(parsXml), KXAPI_OK);
    EXPECT_EQ(text, L"<FreqHz>474000000</FreqHz>" + parsXml);

    // ControlGet needs a parameter element in the reply.
    t.m_Replies.push_back(DemodBuildGenericReply(DEMOD_CMD_CONTROL_GET, KXAPI_OK, parsXml));
    KxDemodPars got;
    EXPECT_EQ(client.ControlGet(got), KXAPI_OK);
    EXPECT_EQ(got, pars);
    EXPECT_EQ(t.m_Requests.back().size(), 4u);
    t.m_Replies.push_back(DemodBuildGenericReply(DEMOD_CMD_CONTROL_GET, KXAPI_OK, L""));
    EXPECT_EQ(client.ControlGet(got), KXAPI_E_INTERNAL);
}

TEST(DemodClient, StatisticsListsMustKeepTheirCount)
{
    ScriptedTransport t;
    DemodSvcClient client(&t);
    const std::wstring request = L"<kxstat sid=\"512\"/><kxstat sid=\"262\"/>";
    std::wstring reply;
    t.m_Replies.push_back(DemodBuildGenericReply(DEMOD_CMD_GET_STATISTICS, KXAPI_OK,
                                                 L"<kxstat sid=\"512\" vt=\"1\" bl=\"1\"/><kxstat sid=\"262\" vt=\"3\" int=\"287\"/>"));
    EXPECT_EQ(client.GetStatisticsXml(request, reply), KXAPI_OK);
    t.m_Replies.push_back(DemodBuildGenericReply(DEMOD_CMD_GET_STATISTICS, KXAPI_OK, L"<kxstat sid=\"512\"/>"));
    EXPECT_EQ(client.GetStatisticsXml(request, reply), KXAPI_E_INTERNAL);

    t.m_Replies.push_back(DemodBuildGenericReply(DEMOD_CMD_TUNER_FREQ_GET, KXAPI_OK, L"<FreqHz>1550000000</FreqHz>"));
    int64_t f = 0;
    EXPECT_EQ(client.TunerFrequencyGet(1, f), KXAPI_OK);
    EXPECT_EQ(f, 1550000000);
    t.m_Replies.push_back(DemodBuildGenericReply(DEMOD_CMD_TUNER_FREQ_GET, KXAPI_OK, L"<Other>1</Other>"));
    EXPECT_EQ(client.TunerFrequencyGet(1, f), KXAPI_E_INTERNAL);
}
