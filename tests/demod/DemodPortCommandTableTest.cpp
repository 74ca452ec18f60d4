// Every command of the property table through a live port: a well-formed request is decoded
// and answered in the form it came in (a fixed layout of its own size, or generic text), and a
// body too short for its command is refused with the code the decoder stands for.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "PortFixture.h"

using namespace Kxapi;
using kxtest::RecordingPortClient;
using kxtest::TestDemodHal;
using kxtest::WaitUntil;

namespace {

constexpr long long FREQ_HZ = 474000000;
constexpr int32_t POINTS = 4;
constexpr int32_t SUPPORTED_ROOM = 64;
constexpr int32_t TRANSMITTER_ROOM = 3;

struct CommandCase {
    uint32_t m_Code = 0;
    bool m_Generic = false;
    DemodMsg m_Request;
    // Fixed layout: the reply size when it carries data (8: the result alone).
    size_t m_ReplySize = DEMOD_REPLY_HEADER_SIZE;
    // Fixed layout: the data comes also with a failure result.
    bool m_ReplyOnFailure = false;
    // Generic: a successful reply carries text.
    bool m_RepliesText = false;
    // A body the command must refuse (none for a command without parameters), and the result.
    DemodMsg m_Short;
    KXAPI_RESULT m_ShortResult = KXAPI_E_INVALID_HEADER;
};

DemodMsg Truncated(DemodMsg msg)
{
    msg.pop_back();
    return msg;
}

// A fixed-layout request; by default a request one byte short is refused as a bad header.
CommandCase Fixed(DemodMsg request, size_t replySize = DEMOD_REPLY_HEADER_SIZE)
{
    CommandCase c;
    c.m_Code = KxGetU32(request.data(), 0);
    c.m_ReplySize = replySize;
    if (request.size() > DEMOD_REQUEST_HEADER_SIZE)
        c.m_Short = Truncated(request);
    c.m_Request = std::move(request);
    return c;
}

// A generic request with text; the code alone is refused as text it cannot open.
CommandCase Text(uint32_t code, const std::wstring& xml, bool repliesText = false)
{
    CommandCase c;
    c.m_Code = code;
    c.m_Generic = true;
    c.m_Request = DemodBuildGenericReq(code, xml);
    c.m_RepliesText = repliesText;
    c.m_Short = DemodBuildCodeOnly(code);
    c.m_ShortResult = KXAPI_E_INTERNAL;
    return c;
}

// A generic request without parameters.
CommandCase TextReply(uint32_t code)
{
    CommandCase c;
    c.m_Code = code;
    c.m_Generic = true;
    c.m_Request = DemodBuildCodeOnly(code);
    c.m_RepliesText = true;
    return c;
}

std::wstring Elem(const char* name, int64_t value)
{
    std::wstring xml;
    DemodAppendIntElem(xml, name, value);
    return xml;
}

std::wstring ScanRangeXml()
{
    return Elem(DEMOD_ELEM_FREQ_HZ_STEPS, 8000000) + Elem(DEMOD_ELEM_START_FREQ_HZ, 474000000) +
           Elem(DEMOD_ELEM_END_FREQ_HZ, 490000000);
}

template <class Sel> std::wstring SelectionXml()
{
    std::wstring xml;
    Sel().ToXml(xml);
    return xml;
}

std::vector<CommandCase> AllCommands(const std::wstring& eventFifo)
{
    const std::wstring pars = L"<KxDemodPars mod=\"9\"><T bw=\"4\"/></KxDemodPars>";
    const OldStyleParsWire dvbt{KX_MOD_DVBT, 4, 0, 0};
    std::wstring statsXml;
    const KxStatistic stats[2] = {KxStatistic(KX_STAT_LOCK), KxStatistic(KX_STAT_MER)};
    KxStatistic::ToXml(stats, 2, statsXml);
    DemodMsg eventRegister;
    DemodBuildEventRegisterReq(eventFifo, DEMOD_EVENT_MASK_FREQ, eventRegister);
    DemodMsg unsupported9 = DemodBuildReply(DEMOD_CMD_UNSUPPORTED_9, KXAPI_OK, 4);
    unsupported9.resize(12);
    KxPutU32(unsupported9.data(), 0, DEMOD_CMD_UNSUPPORTED_9);
    DemodMsg unsupported10 = unsupported9;
    KxPutU32(unsupported10.data(), 0, DEMOD_CMD_UNSUPPORTED_10);

    std::vector<CommandCase> cases = {
        Fixed(DemodBuildCodeOnly(DEMOD_CMD_INIT_DEMODULATOR)),
        Fixed(eventRegister),
        Fixed(DemodBuildTuneOldReq(FREQ_HZ, dvbt)),
        Text(DEMOD_CMD_TUNE, kxtest::TuneXml(FREQ_HZ)),
        TextReply(DEMOD_CMD_STREAM_SEL_GET_C2),
        TextReply(DEMOD_CMD_STREAM_SEL_GET_T2),
        Fixed(DemodBuildConstelReq(POINTS), 8 + KXCONSTELPOINT_SIZE * POINTS),
        Fixed(DemodBuildCodeOnly(DEMOD_CMD_CONTROL_GET_OLD), DEMOD_CONTROL_GET_OLD_REPLY_SIZE),
        TextReply(DEMOD_CMD_CONTROL_GET),
        Fixed(DemodBuildCodeOnly(DEMOD_CMD_TUNE_PARS_GET), DEMOD_TUNE_PARS_REPLY_SIZE),
        Fixed(DemodBuildCodeOnly(DEMOD_CMD_TUNER_FREQ_GET_OLD), DEMOD_FREQ_GET_REPLY_SIZE),
        Text(DEMOD_CMD_TUNER_FREQ_GET, Elem(DEMOD_ELEM_TUNER_ID, 0), true),
        Fixed(DemodBuildWordReq(DEMOD_CMD_ANT_POWER_SET, 1)),
        Fixed(DemodBuildStatsModeReq(0, 0)),
        Fixed(DemodBuildTuneParsSetReq(KxTunePars()), DEMOD_TUNE_PARS_REPLY_SIZE),
        Fixed(DemodBuildFreqSetReq(FREQ_HZ)),
        Text(DEMOD_CMD_TUNER_FREQ_SET, Elem(DEMOD_ELEM_FREQ_HZ, FREQ_HZ) + Elem(DEMOD_ELEM_TUNER_ID, 0)),
        Fixed(DemodBuildWordReq(DEMOD_CMD_TUNING_MODE_SET, 0)),
        Fixed(DemodBuildControlSetOldReq(dvbt)),
        Text(DEMOD_CMD_CONTROL_SET, pars),
        Text(DEMOD_CMD_STREAM_SEL_SET_C2, SelectionXml<KxDvbC2StreamSelPars>()),
        Text(DEMOD_CMD_STREAM_SEL_SET_T2, SelectionXml<KxDvbT2StreamSelPars>()),
        Fixed(DemodBuildWordReq(DEMOD_CMD_LNB_ENABLE, 1)),
        Fixed(DemodBuildWordReq(DEMOD_CMD_LNB_VOLTAGE_SET, 13)),
        Fixed(DemodBuildWordReq(DEMOD_CMD_LNB_TONE_ENABLE, 0)),
        Fixed(DemodBuildBlindScanOldReq({TRANSMITTER_ROOM, 8000000, 474000000, 490000000}),
              16 + KXTRANSMITTER_SIZE * TRANSMITTER_ROOM),
        Text(DEMOD_CMD_BLIND_SCAN, pars + ScanRangeXml()),
        Fixed(DemodBuildCodeOnly(DEMOD_CMD_BLIND_SCAN_CANCEL)),
        Text(DEMOD_CMD_SPECTRUM_SCAN, Elem(DEMOD_ELEM_SCAN_TYPE, 5) + ScanRangeXml()),
        Fixed(DemodBuildCodeOnly(DEMOD_CMD_SPECTRUM_SCAN_CANCEL)),
        Fixed(DemodBuildWordReq(DEMOD_CMD_LNB_BURST_SEND, 0)),
        Fixed(DemodBuildDiseqcReq(0, {0xE0, 0x10, 0x38, 0xF0}), 12),
        Text(DEMOD_CMD_GET_STATISTICS, statsXml, true),
        Text(DEMOD_CMD_STATS_POLLING_ENABLE, Elem(DEMOD_ELEM_ENABLE, 1)),
        Fixed(DemodBuildSupportedOldReq(SUPPORTED_ROOM), 12 + 4 * SUPPORTED_ROOM),
        Fixed(DemodBuildWordReq(DEMOD_CMD_AGC_RESET, 0)),
        Text(DEMOD_CMD_EQUALISE, Elem(DEMOD_ELEM_EQUALISER_SETTING, 0)),
        Text(DEMOD_CMD_OPEN_STREAM, L"<strselpar id=\"7\" tp=\"1\"><Atsc3sel pid=\"1\"/></strselpar>"),
        Text(DEMOD_CMD_CLOSE_STREAM, Elem(DEMOD_ELEM_STREAM_ID, 7)),
        TextReply(DEMOD_CMD_STREAM_SEL_GET_LIST),
        Fixed(DemodBuildCodeOnly(DEMOD_CMD_LOCK_MER_GET_OLD), DEMOD_LOCK_MER_REPLY_SIZE),
        Fixed(DemodBuildWordReq(DEMOD_CMD_UNSUPPORTED_8, 0), 12),
        Fixed(unsupported9, 12),
        Fixed(unsupported10, 16),
        Fixed(DemodBuildStatsOldReq({KX_STAT_LOCK, KX_STAT_MER}), 8 + TSTATPARS_SIZE * 2),
        Text(DEMOD_CMD_GET_SUPPORTED_STATS, Elem(DEMOD_ELEM_COUNT, SUPPORTED_ROOM), true),
        Text(DEMOD_CMD_GET_ATTRIBUTE, Elem(DEMOD_ELEM_ATTRIBUTE_ID, 0), true),
        Text(DEMOD_CMD_CONSTEL_POINTS_GET, Elem(DEMOD_ELEM_NUM_POINTS, POINTS) + Elem(DEMOD_ELEM_STREAM_ID, -1), true),
    };
    // The data of these replies comes also with a failure result.
    for (CommandCase& c : cases)
        c.m_ReplyOnFailure = c.m_Code == DEMOD_CMD_LOCK_MER_GET_OLD || c.m_Code == DEMOD_CMD_TUNE_PARS_SET ||
                             c.m_Code == DEMOD_CMD_BLIND_SCAN_OLD || (c.m_Code >= 8 && c.m_Code <= 10);
    // Variable-length bodies: a count beyond the body is refused as bad parameters.
    for (CommandCase& c : cases)
        if (c.m_Code == DEMOD_CMD_STATISTICS_GET_OLD || c.m_Code == DEMOD_CMD_LNB_DISEQC_SEND)
            c.m_ShortResult = KXAPI_E_INVALID_PARS;
    return cases;
}

class CommandTableTest : public kxtest::PortFixture {
protected:
    void SetUp() override
    {
        InitPort({FREQ_HZ});
        ASSERT_TRUE(m_Port.Attach());
    }
    void TearDown() override
    {
        m_Port.Detach(&m_Client);
        PortFixture::TearDown();
    }
    DemodMsg Request(const DemodMsg& msg)
    {
        const size_t before = m_Client.Count();
        const DemodMsg reply = PortFixture::Request(m_Client, msg);
        EXPECT_EQ(m_Client.Count(), before + 1) << KxGetU32(msg.data(), 0);
        return reply;
    }

    RecordingPortClient m_Client;
};

} // namespace

TEST_F(CommandTableTest, EveryCommandDecodesRefusesAShortBodyAndAnswersInItsOwnForm)
{
    kxtest::EventSink sink("kxcmdtable_events");
    ASSERT_TRUE(sink.Ready());
    const std::vector<CommandCase> cases = AllCommands(sink.WideName());
    // Every row of the table has its case, and nothing else.
    std::set<uint32_t> rows;
    for (size_t i = 0; i < CommandPropertiesCount; i++)
        rows.insert(CommandProperties[i].m_Cmd);
    std::set<uint32_t> covered;
    for (const CommandCase& c : cases)
        covered.insert(c.m_Code);
    EXPECT_EQ(covered, rows);

    for (const CommandCase& c : cases) {
        SCOPED_TRACE(c.m_Code);
        const DemodMsg reply = Request(c.m_Request);
        ASSERT_GE(reply.size(), DEMOD_REPLY_HEADER_SIZE);
        ASSERT_EQ(KxGetU32(reply.data(), 0), c.m_Code);
        const KXAPI_RESULT result = KxGetU32(reply.data(), 4);
        // The decoder took the body: no refusal of text or layout.
        EXPECT_NE(result, KXAPI_E_INTERNAL);
        EXPECT_NE(result, KXAPI_E_INVALID_HEADER);
        EXPECT_NE(result, KXAPI_E_INVALID_PARS);
        if (c.m_Generic) {
            std::wstring xml;
            EXPECT_EQ(DemodParseGenericReply(reply.data(), reply.size(), c.m_Code, xml), result);
            if (result == KXAPI_OK) {
                EXPECT_EQ(!xml.empty(), c.m_RepliesText);
            } else {
                EXPECT_EQ(reply.size(), DEMOD_REPLY_HEADER_SIZE);
            }
        } else {
            const bool withData = result == KXAPI_OK || c.m_ReplyOnFailure;
            EXPECT_EQ(reply.size(), withData ? c.m_ReplySize : DEMOD_REPLY_HEADER_SIZE);
        }
        if (c.m_Short.empty())
            continue;
        const DemodMsg refused = Request(c.m_Short);
        ASSERT_EQ(refused.size(), DEMOD_REPLY_HEADER_SIZE);
        EXPECT_EQ(KxGetU32(refused.data(), 0), c.m_Code);
        EXPECT_EQ(KxGetU32(refused.data(), 4), c.m_ShortResult);
    }
}

// The operations asked for in both forms give the same answer in either.
TEST_F(CommandTableTest, BothFormsOfAnOperationAnswerAlike)
{
    DemodMsg reply = Request(kxtest::GenericReq(DEMOD_CMD_TUNE, kxtest::TuneXml(FREQ_HZ)));
    ASSERT_EQ(KxGetU32(reply.data(), 4), KXAPI_OK);
    ASSERT_TRUE(WaitUntil(
        [&] {
            DemodMsg r = Request(DemodBuildCodeOnly(DEMOD_CMD_TUNER_FREQ_GET_OLD));
            int64_t freqHz = 0;
            return DemodParseFreqGetReply(r.data(), r.size(), freqHz) == KXAPI_OK && freqHz == FREQ_HZ;
        },
        3000));

    std::wstring xml;
    reply = Request(kxtest::GenericReq(DEMOD_CMD_TUNER_FREQ_GET, Elem(DEMOD_ELEM_TUNER_ID, 0)));
    ASSERT_EQ(DemodParseGenericReply(reply.data(), reply.size(), DEMOD_CMD_TUNER_FREQ_GET, xml), KXAPI_OK);
    EXPECT_EQ(xml, Elem(DEMOD_ELEM_FREQ_HZ, FREQ_HZ));

    // Supported statistics: the ids of the fixed layout are those of the text, in order.
    reply = Request(DemodBuildSupportedOldReq(SUPPORTED_ROOM));
    std::vector<int32_t> ids;
    ASSERT_EQ(DemodParseSupportedOldReply(reply.data(), reply.size(), SUPPORTED_ROOM, ids), KXAPI_OK);
    reply = Request(kxtest::GenericReq(DEMOD_CMD_GET_SUPPORTED_STATS, Elem(DEMOD_ELEM_COUNT, SUPPORTED_ROOM)));
    ASSERT_EQ(DemodParseGenericReply(reply.data(), reply.size(), DEMOD_CMD_GET_SUPPORTED_STATS, xml), KXAPI_OK);
    std::vector<KxStatistic> list;
    ASSERT_EQ(KxStatistic::FromXml(xml, list), KXAPI_OK);
    std::vector<int32_t> textIds;
    for (const KxStatistic& stat : list)
        textIds.push_back(stat.m_StatisticId);
    EXPECT_FALSE(ids.empty());
    EXPECT_EQ(ids, textIds);

    // Statistics: each record of the fixed layout carries the id and result of the same
    // statistic in the text.
    const std::vector<int32_t> asked = {KX_STAT_LOCK, KX_STAT_MER};
    reply = Request(DemodBuildStatsOldReq(asked));
    std::vector<TStatPars> records;
    ASSERT_EQ(DemodParseStatsOldReply(reply.data(), reply.size(), 2, records), KXAPI_OK);
    std::vector<KxStatistic> stats(asked.begin(), asked.end());
    std::wstring statsXml;
    KxStatistic::ToXml(stats.data(), 2, statsXml);
    reply = Request(kxtest::GenericReq(DEMOD_CMD_GET_STATISTICS, statsXml));
    ASSERT_EQ(DemodParseGenericReply(reply.data(), reply.size(), DEMOD_CMD_GET_STATISTICS, xml), KXAPI_OK);
    ASSERT_EQ(KxStatistic::FromXml(xml, stats), KXAPI_OK);
    ASSERT_EQ(stats.size(), records.size());
    for (size_t i = 0; i < stats.size(); i++) {
        EXPECT_EQ(records[i].m_StatisticId, stats[i].m_StatisticId) << i;
        EXPECT_EQ(records[i].m_Result, static_cast<uint32_t>(stats[i].m_Result)) << i;
    }
}

// Count limits of the fixed-layout reads, decided before anything is read: a statistics read
// of no statistic, and counts whose reply would not fit one message.
TEST_F(CommandTableTest, FixedReadsRefuseCountsTheirReplyCannotCarry)
{
    const struct {
        DemodMsg m_Request;
        KXAPI_RESULT m_Result;
    } cases[] = {
        {DemodBuildStatsOldReq({}), KXAPI_E_INVALID_ARG},
        {DemodBuildStatsOldReq(std::vector<int32_t>(DEMOD_MAX_STATISTICS, KX_STAT_LOCK)), KXAPI_OK},
        {DemodBuildStatsOldReq(std::vector<int32_t>(DEMOD_MAX_STATISTICS + 1, KX_STAT_LOCK)),
         KXAPI_E_INVALID_PARS},
        {DemodBuildConstelReq((DEMOD_MAX_REPLY_SIZE - 8) / KXCONSTELPOINT_SIZE + 1), KXAPI_E_INVALID_PARS},
        {DemodBuildBlindScanOldReq({(DEMOD_MAX_REPLY_SIZE - 16) / KXTRANSMITTER_SIZE + 1, 8000000, 474000000, 490000000}),
         KXAPI_E_INVALID_PARS},
        {DemodBuildSupportedOldReq(DEMOD_MAX_STATISTICS + 1), KXAPI_E_INVALID_PARS},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(KxGetU32(c.m_Request.data(), 0));
        const DemodMsg reply = Request(c.m_Request);
        ASSERT_GE(reply.size(), DEMOD_REPLY_HEADER_SIZE);
        EXPECT_EQ(KxGetU32(reply.data(), 4), c.m_Result);
        if (c.m_Result != KXAPI_OK) {
            EXPECT_EQ(reply.size(), DEMOD_REPLY_HEADER_SIZE);
        }
    }
}
