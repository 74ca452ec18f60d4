// Fixed-layout bodies of the demod protocol, checked byte by byte at the offsets the
// protocol defines, and the service-side bounds on client-supplied counts.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "DemodSvcLayouts.h"
#include "DemodSvcProtocol.h"

using namespace Kxapi;

namespace {

using Bytes = std::vector<uint8_t>;

// Little-endian reads written independently of the production helpers.
uint32_t U32At(const Bytes& b, size_t at)
{
    return uint32_t(b.at(at)) | uint32_t(b.at(at + 1)) << 8 | uint32_t(b.at(at + 2)) << 16 | uint32_t(b.at(at + 3)) << 24;
}
int32_t I32At(const Bytes& b, size_t at) { return int32_t(U32At(b, at)); }
int64_t I64At(const Bytes& b, size_t at) { return int64_t(uint64_t(U32At(b, at)) | uint64_t(U32At(b, at + 4)) << 32); }

} // namespace

TEST(DemodLayouts, AttachRequestIsExactly24BytesWithSerialAt8AndPortAt16)
{
    Bytes m = DemodBuildAttach(0x0102030405060708LL, 2, 0xAABBCCDDu);
    const Bytes expected = {1, 0, 0, 0, 0, 0, 0, 0, 8, 7, 6, 5, 4, 3, 2, 1, 2, 0, 0, 0, 0xDD, 0xCC, 0xBB, 0xAA};
    EXPECT_EQ(m, expected);

    int64_t serial = 0;
    int32_t port = 0;
    uint32_t xtra = 0;
    EXPECT_EQ(DemodParseAttach(m.data(), m.size(), serial, port, xtra), KXAPI_OK);
    EXPECT_EQ(serial, 0x0102030405060708LL);
    EXPECT_EQ(port, 2);
    EXPECT_EQ(xtra, 0xAABBCCDDu);

    // 23 and 25 bytes are refused.
    m.push_back(0);
    EXPECT_EQ(DemodParseAttach(m.data(), m.size(), serial, port, xtra), KXAPI_E_INVALID_PARS);
    EXPECT_EQ(DemodParseAttach(m.data(), 23, serial, port, xtra), KXAPI_E_INVALID_PARS);
    EXPECT_EQ(DemodParseDetach(m.data(), 4), KXAPI_OK);
    EXPECT_EQ(DemodParseDetach(m.data(), 8), KXAPI_E_INVALID_PARS);
}

TEST(DemodLayouts, VersionReplyCarriesFourWordsAfterCodeAndResult)
{
    Bytes m = DemodBuildVersionReply(3, 8, 7, 96);
    const Bytes expected = {0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 8, 0, 0, 0, 7, 0, 0, 0, 96, 0, 0, 0};
    EXPECT_EQ(m, expected);
    uint32_t v[4] = {};
    EXPECT_EQ(DemodParseVersionReply(m.data(), m.size(), v), KXAPI_OK);
    EXPECT_EQ(v[3], 96u);
    EXPECT_EQ(DemodParseVersionReply(m.data(), 20, v), KXAPI_E_INTERNAL);
}

TEST(DemodLayouts, ReplyCheckAcceptsExactLengthOrAShortFailureOnly)
{
    Bytes ok = DemodBuildFreqGetReply(KXAPI_OK, 474000000);
    EXPECT_EQ(DemodCheckReply(ok.data(), ok.size(), DEMOD_CMD_TUNER_FREQ_GET_OLD, 16), KXAPI_OK);
    // Wrong command, truncated, too long.
    EXPECT_EQ(DemodCheckReply(ok.data(), ok.size(), DEMOD_CMD_TUNE_PARS_GET, 16), KXAPI_E_INTERNAL);
    EXPECT_EQ(DemodCheckReply(ok.data(), 12, DEMOD_CMD_TUNER_FREQ_GET_OLD, 16), KXAPI_E_INTERNAL);
    ok.push_back(0);
    EXPECT_EQ(DemodCheckReply(ok.data(), ok.size(), DEMOD_CMD_TUNER_FREQ_GET_OLD, 16), KXAPI_E_INTERNAL);
    // An 8-byte reply is accepted only when it reports a failure.
    Bytes oom = DemodBuildReply(DEMOD_CMD_TUNER_FREQ_GET_OLD, KXAPI_E_OUT_OF_MEM);
    EXPECT_EQ(DemodCheckReply(oom.data(), oom.size(), DEMOD_CMD_TUNER_FREQ_GET_OLD, 16), KXAPI_E_OUT_OF_MEM);
    Bytes shortOk = DemodBuildReply(DEMOD_CMD_TUNER_FREQ_GET_OLD, KXAPI_OK);
    EXPECT_EQ(DemodCheckReply(shortOk.data(), shortOk.size(), DEMOD_CMD_TUNER_FREQ_GET_OLD, 16), KXAPI_E_INTERNAL);
    EXPECT_EQ(DemodCheckReply(nullptr, 0, 0, 8), KXAPI_E_INTERNAL);
}

TEST(DemodLayouts, FrequencyCommandsPlaceTheI64AtOffset8)
{
    Bytes set = DemodBuildFreqSetReq(-2);
    const Bytes expectedSet = {14, 0, 0, 0, 0, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(set, expectedSet);
    int64_t f = 0;
    EXPECT_EQ(DemodParseFreqSetReq(set.data(), set.size(), f), KXAPI_OK);
    EXPECT_EQ(f, -2);
    EXPECT_EQ(DemodParseFreqSetReq(set.data(), 15, f), KXAPI_E_INVALID_HEADER);

    Bytes get = DemodBuildFreqGetReply(KXAPI_OK, 11725000000LL);
    ASSERT_EQ(get.size(), 16u);
    EXPECT_EQ(U32At(get, 0), 13u);
    EXPECT_EQ(I64At(get, 8), 11725000000LL);
    EXPECT_EQ(DemodParseFreqGetReply(get.data(), get.size(), f), KXAPI_OK);
    EXPECT_EQ(f, 11725000000LL);
}

TEST(DemodLayouts, FourIntegerCommandsUseTheirOwnOffsets)
{
    const OldStyleParsWire pars{9, 1, 0x54321, -1};
    Bytes set = DemodBuildControlSetOldReq(pars);
    ASSERT_EQ(set.size(), 20u);
    EXPECT_EQ(U32At(set, 0), 15u);
    EXPECT_EQ(I32At(set, 4), 9);
    EXPECT_EQ(I32At(set, 8), 1);
    EXPECT_EQ(I32At(set, 12), 0x54321);
    EXPECT_EQ(I32At(set, 16), -1);
    OldStyleParsWire back;
    EXPECT_EQ(DemodParseControlSetOldReq(set.data(), set.size(), back), KXAPI_OK);
    EXPECT_EQ(back, pars);

    Bytes get = DemodBuildControlGetOldReply(KXAPI_OK, pars);
    ASSERT_EQ(get.size(), 24u);
    EXPECT_EQ(I32At(get, 8), 9);
    EXPECT_EQ(I32At(get, 20), -1);
    back = {};
    EXPECT_EQ(DemodParseControlGetOldReply(get.data(), get.size(), back), KXAPI_OK);
    EXPECT_EQ(back, pars);

    // Tune: reserved word at 4, frequency at 8, the four integers at 16..28.
    Bytes tune = DemodBuildTuneOldReq(474000000, pars);
    ASSERT_EQ(tune.size(), 32u);
    EXPECT_EQ(U32At(tune, 0), 27u);
    EXPECT_EQ(U32At(tune, 4), 0u);
    EXPECT_EQ(I64At(tune, 8), 474000000);
    EXPECT_EQ(I32At(tune, 16), 9);
    EXPECT_EQ(I32At(tune, 28), -1);
    int64_t f = 0;
    back = {};
    EXPECT_EQ(DemodParseTuneOldReq(tune.data(), tune.size(), f, back), KXAPI_OK);
    EXPECT_EQ(f, 474000000);
    EXPECT_EQ(back, pars);
    EXPECT_EQ(DemodParseTuneOldReq(tune.data(), 31, f, back), KXAPI_E_INVALID_HEADER);
}

TEST(DemodLayouts, LockMerAndUnsupportedReplies)
{
    Bytes m = DemodBuildLockMerReply(KXAPI_OK, true, 287);
    const Bytes expected = {7, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0x1F, 1, 0, 0};
    EXPECT_EQ(m, expected);
    bool locked = false;
    int32_t mer = 0;
    EXPECT_EQ(DemodParseLockMerReply(m.data(), m.size(), locked, mer), KXAPI_OK);
    EXPECT_TRUE(locked);
    EXPECT_EQ(mer, 287);

    for (uint32_t cmd : {8u, 9u, 10u}) {
        Bytes r = DemodBuildNotSupportedReply(cmd);
        EXPECT_EQ(r.size(), cmd == 10 ? 16u : 12u) << cmd;
        EXPECT_EQ(U32At(r, 0), cmd);
        EXPECT_EQ(U32At(r, 4), KXAPI_E_NOT_SUPPORTED);
        EXPECT_EQ(U32At(r, 8), 0u);
    }
}

TEST(DemodLayouts, TuneParsAreNineWordsAfterCodeOrHeader)
{
    KxTunePars p;
    for (int i = 0; i < 9; i++)
        p.m_Words[i] = 100 + i;
    Bytes req = DemodBuildTuneParsSetReq(p);
    ASSERT_EQ(req.size(), 40u);
    EXPECT_EQ(U32At(req, 0), 12u);
    EXPECT_EQ(I32At(req, 4), 100);
    EXPECT_EQ(I32At(req, 36), 108);
    KxTunePars back;
    EXPECT_EQ(DemodParseTuneParsSetReq(req.data(), req.size(), back), KXAPI_OK);
    EXPECT_EQ(back, p);

    Bytes reply = DemodBuildTuneParsReply(DEMOD_CMD_TUNE_PARS_GET, KXAPI_OK, p);
    ASSERT_EQ(reply.size(), 44u);
    EXPECT_EQ(I32At(reply, 8), 100);
    EXPECT_EQ(I32At(reply, 40), 108);
    back = {};
    EXPECT_EQ(DemodParseTuneParsReply(reply.data(), reply.size(), DEMOD_CMD_TUNE_PARS_GET, back), KXAPI_OK);
    EXPECT_EQ(back, p);
    EXPECT_EQ(DemodParseTuneParsReply(reply.data(), reply.size(), DEMOD_CMD_TUNE_PARS_SET, back), KXAPI_E_INTERNAL);
}

TEST(DemodLayouts, WordAndBoolRequests)
{
    Bytes m = DemodBuildWordReq(DEMOD_CMD_LNB_VOLTAGE_SET, 18);
    const Bytes expected = {17, 0, 0, 0, 18, 0, 0, 0};
    EXPECT_EQ(m, expected);
    uint32_t v = 0;
    EXPECT_EQ(DemodParseWordReq(m.data(), m.size(), v), KXAPI_OK);
    EXPECT_EQ(v, 18u);
    // A bool is byte 4 only: the other bytes do not matter.
    Bytes b = {16, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF};
    bool on = true;
    EXPECT_EQ(DemodParseBoolReq(b.data(), b.size(), on), KXAPI_OK);
    EXPECT_FALSE(on);
    b[4] = 1;
    EXPECT_EQ(DemodParseBoolReq(b.data(), b.size(), on), KXAPI_OK);
    EXPECT_TRUE(on);
    EXPECT_EQ(DemodParseBoolReq(b.data(), 7, on), KXAPI_E_INVALID_HEADER);

    Bytes mode = DemodBuildStatsModeReq(1, -3);
    ASSERT_EQ(mode.size(), 12u);
    EXPECT_EQ(I32At(mode, 8), -3);
    int32_t a = 0, c = 0;
    EXPECT_EQ(DemodParseStatsModeReq(mode.data(), mode.size(), a, c), KXAPI_OK);
    EXPECT_EQ(a, 1);
    EXPECT_EQ(c, -3);
}

TEST(DemodLayouts, DiseqcLengthsAreCheckedAgainstTheMessage)
{
    const std::vector<uint8_t> msg = {0xE0, 0x10, 0x38, 0xF0};
    Bytes req = DemodBuildDiseqcReq(4, msg);
    const Bytes expected = {20, 0, 0, 0, 4, 0, 0, 0, 4, 0, 0, 0, 0xE0, 0x10, 0x38, 0xF0};
    EXPECT_EQ(req, expected);
    int32_t cap = 0;
    std::vector<uint8_t> back;
    EXPECT_EQ(DemodParseDiseqcReq(req.data(), req.size(), cap, back), KXAPI_OK);
    EXPECT_EQ(back, msg);
    EXPECT_EQ(cap, 4);

    // Length beyond the request, negative length, negative or huge capacity.
    Bytes bad = req;
    bad[8] = 5;
    EXPECT_EQ(DemodParseDiseqcReq(bad.data(), bad.size(), cap, back), KXAPI_E_INVALID_PARS);
    bad = req;
    bad[11] = 0x80;
    EXPECT_EQ(DemodParseDiseqcReq(bad.data(), bad.size(), cap, back), KXAPI_E_INVALID_PARS);
    bad = DemodBuildDiseqcReq(-1, msg);
    EXPECT_EQ(DemodParseDiseqcReq(bad.data(), bad.size(), cap, back), KXAPI_E_INVALID_PARS);
    bad = DemodBuildDiseqcReq(0x7FFFFFFF, msg);
    EXPECT_EQ(DemodParseDiseqcReq(bad.data(), bad.size(), cap, back), KXAPI_E_INVALID_PARS);

    // Capacity 0: a 12-byte reply whose length is what the receiver reports.
    Bytes r0 = DemodBuildDiseqcReply(KXAPI_OK, {});
    ASSERT_EQ(r0.size(), 12u);
    EXPECT_EQ(I32At(r0, 8), 0);
    EXPECT_EQ(DemodParseDiseqcReply(r0.data(), r0.size(), 0, back), KXAPI_OK);
    EXPECT_TRUE(back.empty());

    Bytes r = DemodBuildDiseqcReply(KXAPI_OK, {0xE4, 0x01});
    ASSERT_EQ(r.size(), 14u);
    EXPECT_EQ(I32At(r, 8), 2);
    EXPECT_EQ(r[12], 0xE4);
    EXPECT_EQ(DemodParseDiseqcReply(r.data(), r.size(), 4, back), KXAPI_OK);
    EXPECT_EQ(back, (std::vector<uint8_t>{0xE4, 0x01}));
    // More reply bytes than the client has room for.
    EXPECT_EQ(DemodParseDiseqcReply(r.data(), r.size(), 1, back), KXAPI_E_INTERNAL);
    EXPECT_EQ(DemodParseDiseqcReply(r.data(), 13, 4, back), KXAPI_E_INTERNAL);
}

TEST(DemodLayouts, BlindScanRequestAlignsItsI64sAndTheReplyHasRoomForTheMaximum)
{
    BlindScanOldReq q{3, 2000000, 950000000, 2150000000};
    Bytes req = DemodBuildBlindScanOldReq(q);
    ASSERT_EQ(req.size(), 32u);
    EXPECT_EQ(U32At(req, 0), 24u);
    EXPECT_EQ(I32At(req, 4), 3);
    EXPECT_EQ(I64At(req, 8), 2000000);
    EXPECT_EQ(I64At(req, 16), 950000000);
    EXPECT_EQ(I64At(req, 24), 2150000000);
    BlindScanOldReq back;
    EXPECT_EQ(DemodParseBlindScanOldReq(req.data(), req.size(), back), KXAPI_OK);
    EXPECT_EQ(back.m_EndFreqHz, 2150000000);
    for (int32_t bad : {-1, DEMOD_MAX_TRANSMITTERS + 1}) {
        q.m_MaxTransmitters = bad;
        Bytes b = DemodBuildBlindScanOldReq(q);
        EXPECT_EQ(DemodParseBlindScanOldReq(b.data(), b.size(), back), KXAPI_E_INVALID_PARS) << bad;
    }

    const std::vector<KxTransmitter> found = {{1000000000, 32, 27500000}, {1200000000, 0, 22000000}};
    Bytes reply = DemodBuildBlindScanOldReply(KXAPI_OK, 3, found);
    ASSERT_EQ(reply.size(), 16u + 16u * 3);
    EXPECT_EQ(I32At(reply, 8), 2);
    EXPECT_EQ(U32At(reply, 12), 0u);
    EXPECT_EQ(I64At(reply, 16), 1000000000);
    EXPECT_EQ(I32At(reply, 24), 32);
    EXPECT_EQ(I32At(reply, 28), 27500000);
    EXPECT_EQ(I64At(reply, 32), 1200000000);
    std::vector<KxTransmitter> got;
    int32_t numFound = -1;
    EXPECT_EQ(DemodParseBlindScanOldReply(reply.data(), reply.size(), 3, got, numFound), KXAPI_OK);
    EXPECT_EQ(got, found);
    EXPECT_EQ(2, numFound);
    EXPECT_EQ(DemodParseBlindScanOldReply(reply.data(), reply.size(), 2, got, numFound), KXAPI_E_INTERNAL);
    // A found count beyond the room comes only with KXAPI_E_BUF_TOO_SMALL; otherwise the reply
    // is broken.
    reply[8] = 4;
    EXPECT_EQ(DemodParseBlindScanOldReply(reply.data(), reply.size(), 3, got, numFound), KXAPI_E_INTERNAL);
    EXPECT_TRUE(got.empty());
    EXPECT_EQ(0, numFound);
    Bytes tooSmall = DemodBuildBlindScanOldReply(KXAPI_E_BUF_TOO_SMALL, 3, found);
    tooSmall[8] = 0xFF;
    tooSmall[9] = tooSmall[10] = tooSmall[11] = 0xFF;
    EXPECT_EQ(DemodParseBlindScanOldReply(tooSmall.data(), tooSmall.size(), 3, got, numFound), KXAPI_E_INTERNAL);
    // The service found five with room for two: the full count and the first two records.
    const std::vector<KxTransmitter> five = {{950000000, 32, 1000000},  {1000000000, 32, 27500000},
                                             {1100000000, 33, 2000000}, {1200000000, 0, 22000000},
                                             {1300000000, 34, 30000000}};
    tooSmall = DemodBuildBlindScanOldReply(KXAPI_E_BUF_TOO_SMALL, 2, five);
    tooSmall[8] = 5;
    EXPECT_EQ(DemodParseBlindScanOldReply(tooSmall.data(), tooSmall.size(), 2, got, numFound), KXAPI_E_BUF_TOO_SMALL);
    EXPECT_EQ(5, numFound);
    EXPECT_EQ(got, std::vector<KxTransmitter>(five.begin(), five.begin() + 2));
}

TEST(DemodLayouts, EventRegistrationHoldsSixtyFourWideCharactersAndTheMaskAt264)
{
    Bytes m;
    ASSERT_EQ(DemodBuildEventRegisterReq(L"KxapiDemodSvc_EvPipe_1_1_2_3", 3, m), KXAPI_OK);
    ASSERT_EQ(m.size(), 272u);
    EXPECT_EQ(U32At(m, 0), 26u);
    EXPECT_EQ(U32At(m, 4), uint32_t('K'));
    EXPECT_EQ(U32At(m, 4 + 4 * 27), uint32_t('3'));
    EXPECT_EQ(U32At(m, 4 + 4 * 28), 0u);
    EXPECT_EQ(U32At(m, 260), 0u);
    EXPECT_EQ(I64At(m, 264), 3);
    std::wstring name;
    uint64_t mask = 0;
    EXPECT_EQ(DemodParseEventRegisterReq(m.data(), m.size(), name, mask), KXAPI_OK);
    EXPECT_EQ(name, L"KxapiDemodSvc_EvPipe_1_1_2_3");
    EXPECT_EQ(mask, 3u);

    EXPECT_EQ(DemodBuildEventRegisterReq(std::wstring(64, L'a'), 0, m), KXAPI_E_INVALID_ARG);
    ASSERT_EQ(DemodBuildEventRegisterReq(std::wstring(63, L'a'), 0, m), KXAPI_OK);
    // A name field without any NUL is refused rather than read past.
    std::memset(m.data() + 4 + 4 * 63, 'a', 4);
    EXPECT_EQ(DemodParseEventRegisterReq(m.data(), m.size(), name, mask), KXAPI_E_INVALID_PARS);
    EXPECT_EQ(DemodParseEventRegisterReq(m.data(), 271, name, mask), KXAPI_E_INVALID_HEADER);
}

TEST(DemodLayouts, StatisticsReadCountMustMatchTheRequest)
{
    Bytes req = DemodBuildStatsOldReq({512, 262});
    const Bytes expected = {30, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, 0, 6, 1, 0, 0};
    EXPECT_EQ(req, expected);
    std::vector<int32_t> ids;
    EXPECT_EQ(DemodParseStatsOldReq(req.data(), req.size(), ids), KXAPI_OK);
    EXPECT_EQ(ids, (std::vector<int32_t>{512, 262}));
    // Count larger than the ids present, negative, or huge.
    Bytes bad = req;
    bad[4] = 3;
    EXPECT_EQ(DemodParseStatsOldReq(bad.data(), bad.size(), ids), KXAPI_E_INVALID_PARS);
    bad[4] = 0xFF, bad[5] = 0xFF, bad[6] = 0xFF, bad[7] = 0xFF;
    EXPECT_EQ(DemodParseStatsOldReq(bad.data(), bad.size(), ids), KXAPI_E_INVALID_PARS);
    bad[7] = 0x7F;
    EXPECT_EQ(DemodParseStatsOldReq(bad.data(), bad.size(), ids), KXAPI_E_INVALID_PARS);
    EXPECT_TRUE(ids.empty());

    TStatPars lock;
    lock.m_Value[0] = 1;
    lock.m_StatisticId = 512;
    TStatPars mer;
    mer.m_Value[0] = 0x1F;
    mer.m_Value[1] = 0x01;
    mer.m_StatisticId = 262;
    mer.m_Result = KXAPI_E_NOT_LOCKED;
    Bytes reply = DemodBuildStatsOldReply(KXAPI_OK, {lock, mer});
    ASSERT_EQ(reply.size(), 8u + 32u);
    EXPECT_EQ(reply[8], 1);
    EXPECT_EQ(I32At(reply, 16), 512);
    EXPECT_EQ(I32At(reply, 20), 0);
    EXPECT_EQ(I32At(reply, 24), 0x11F);
    EXPECT_EQ(I32At(reply, 32), 262);
    EXPECT_EQ(U32At(reply, 36), KXAPI_E_NOT_LOCKED);
    std::vector<TStatPars> back;
    EXPECT_EQ(DemodParseStatsOldReply(reply.data(), reply.size(), 2, back), KXAPI_OK);
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[1].m_StatisticId, 262);
    EXPECT_EQ(back[1].m_Result, KXAPI_E_NOT_LOCKED);
    EXPECT_EQ(back[1].m_Value[1], 0x01);
    EXPECT_EQ(back[0].m_Value[0], 1);
    EXPECT_EQ(DemodParseStatsOldReply(reply.data(), reply.size(), 3, back), KXAPI_E_INTERNAL);
}

TEST(DemodLayouts, SupportedStatisticsReplyHasRoomForTheCapacity)
{
    Bytes req = DemodBuildSupportedOldReq(4);
    int32_t cap = 0;
    EXPECT_EQ(DemodParseSupportedOldReq(req.data(), req.size(), cap), KXAPI_OK);
    EXPECT_EQ(cap, 4);
    Bytes neg = DemodBuildSupportedOldReq(-5);
    EXPECT_EQ(DemodParseSupportedOldReq(neg.data(), neg.size(), cap), KXAPI_E_INVALID_PARS);

    // Three supported, capacity 4: count 3 and room for 4.
    Bytes reply = DemodBuildSupportedOldReply(KXAPI_OK, 4, {512, 262, 256});
    ASSERT_EQ(reply.size(), 12u + 16u);
    EXPECT_EQ(I32At(reply, 8), 3);
    EXPECT_EQ(I32At(reply, 12), 512);
    EXPECT_EQ(I32At(reply, 20), 256);
    EXPECT_EQ(I32At(reply, 24), 0);
    std::vector<int32_t> ids;
    EXPECT_EQ(DemodParseSupportedOldReply(reply.data(), reply.size(), 4, ids), KXAPI_OK);
    EXPECT_EQ(ids, (std::vector<int32_t>{512, 262, 256}));
    // More supported than the capacity: only the capacity is sent.
    Bytes clipped = DemodBuildSupportedOldReply(KXAPI_OK, 1, {512, 262});
    ASSERT_EQ(clipped.size(), 16u);
    EXPECT_EQ(I32At(clipped, 8), 1);
}

TEST(DemodLayouts, ConstellationCountIsBoundedAndTheReplyExact)
{
    Bytes req = DemodBuildConstelReq(2);
    const Bytes expected = {5, 0, 0, 0, 2, 0, 0, 0};
    EXPECT_EQ(req, expected);
    int32_t n = 0;
    EXPECT_EQ(DemodParseConstelReq(req.data(), req.size(), n), KXAPI_OK);
    EXPECT_EQ(n, 2);
    for (int32_t bad : {-1, DEMOD_MAX_CONSTEL_POINTS + 1, 0x7FFFFFFF}) {
        Bytes b = DemodBuildConstelReq(bad);
        EXPECT_EQ(DemodParseConstelReq(b.data(), b.size(), n), KXAPI_E_INVALID_PARS) << bad;
    }
    const std::vector<KxConstelPoint> pts = {{-100, 200}, {300, -400}};
    Bytes reply = DemodBuildConstelReply(KXAPI_OK, pts);
    ASSERT_EQ(reply.size(), 24u);
    EXPECT_EQ(I32At(reply, 8), -100);
    EXPECT_EQ(I32At(reply, 12), 200);
    EXPECT_EQ(I32At(reply, 16), 300);
    EXPECT_EQ(I32At(reply, 20), -400);
    std::vector<KxConstelPoint> back;
    EXPECT_EQ(DemodParseConstelReply(reply.data(), reply.size(), 2, back), KXAPI_OK);
    EXPECT_EQ(back, pts);
    EXPECT_EQ(DemodParseConstelReply(reply.data(), reply.size(), 3, back), KXAPI_E_INTERNAL);
    EXPECT_TRUE(back.empty());
}
