// KxStatistic: the id table, typed access, the "kxstat" form and the legacy record.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "KxStatistic.h"

using namespace Kxapi;

TEST(StatisticTable, RowsAndNames)
{
    EXPECT_EQ(3, KxStatisticRow(0).m_Id) << "id 3 is the first row";
    std::set<int32_t> ids;
    for (size_t i = 0; i < KxStatisticCount(); i++) {
        const KxStatisticInfo& row = KxStatisticRow(i);
        EXPECT_TRUE(ids.insert(row.m_Id).second) << "duplicate id " << row.m_Id;
        EXPECT_GE(row.m_ValueType, 1);
        EXPECT_LE(row.m_ValueType, 21);
    }
    EXPECT_EQ(78u, KxStatisticCount());
    KxStatistic mer(262);
    std::string name, description;
    ASSERT_EQ(KXAPI_OK, mer.GetName(name, description));
    EXPECT_EQ("MER", name);
    EXPECT_EQ("Modulation error ratio", description);
    std::wstring wname, wdescription;
    ASSERT_EQ(KXAPI_OK, KxStatistic(277).GetName(wname, wdescription));
    EXPECT_EQ(L"OverflowErrCnt", wname);
    EXPECT_EQ(L"SDI kernel<>api overflow count", wdescription);
    ASSERT_EQ(KXAPI_OK, KxStatistic(780).GetName(name, description));
    EXPECT_EQ("DAB transmitter identifiation information", description);
    EXPECT_EQ(KXAPI_E_NOT_FOUND, KxStatistic().GetName(name, description));
}

// The named ids are written by hand beside the table: each must name the row it claims, and every
// row must have a name, so code that says KX_STAT_MER gets MER and not its neighbour CNR.
TEST(StatisticTable, NamedIdsMatchTheTable)
{
    struct Named {
        int32_t m_Id;
        const char* m_pName;
    };
    const Named named[] = {
#define KX_STAT_NAMED_ROW(enumerator, id, tableName) {enumerator, tableName},
        KX_STATISTIC_IDS(KX_STAT_NAMED_ROW)
#undef KX_STAT_NAMED_ROW
    };
    std::set<int32_t> namedIds;
    for (const Named& n : named) {
        const KxStatisticInfo* row = KxFindStatistic(n.m_Id);
        ASSERT_NE(nullptr, row) << n.m_pName << " (" << n.m_Id << ") is not in the table";
        EXPECT_STREQ(row->m_pName, n.m_pName) << "id " << n.m_Id;
        EXPECT_TRUE(namedIds.insert(n.m_Id).second) << "id " << n.m_Id << " named twice";
    }
    for (size_t i = 0; i < KxStatisticCount(); i++)
        EXPECT_EQ(1u, namedIds.count(KxStatisticRow(i).m_Id)) << "row " << KxStatisticRow(i).m_pName << " has no name";
}

TEST(StatisticValue, TypedAccess)
{
    KxStatistic lock(512);
    EXPECT_EQ(KX_STAT_VT_BOOL, lock.m_ValueType);
    bool locked = true;
    EXPECT_EQ(KXAPI_OK, lock.GetValue(locked));
    EXPECT_FALSE(locked);
    int32_t asInt = 0;
    EXPECT_EQ(KXAPI_E_INVALID_TYPE, lock.GetValue(asInt));
    EXPECT_EQ(0, lock.m_Result) << "a failed GetValue leaves the result";
    EXPECT_EQ(KXAPI_E_INVALID_TYPE, lock.SetValue(1.5));
    EXPECT_EQ(static_cast<int32_t>(KXAPI_E_INVALID_TYPE), lock.m_Result);

    KxStatistic ber(256);
    ber.m_Result = static_cast<int32_t>(KXAPI_E_STAT_NOTAVAIL);
    ASSERT_EQ(KXAPI_OK, ber.SetValue(1.25e-7));
    double value = 0;
    EXPECT_EQ(KXAPI_E_STAT_NOTAVAIL, ber.GetValue(value)) << "GetValue answers the statistic's result";
    EXPECT_EQ(1.25e-7, value);

    EXPECT_EQ(KXAPI_E_NOT_FOUND, ber.SetId(4));
    EXPECT_EQ(256, ber.m_StatisticId);
    ASSERT_EQ(KXAPI_OK, ber.SetId(770));
    KxDvbT2L1Data l1;
    l1.m_CellId = 7;
    ASSERT_EQ(KXAPI_OK, ber.SetValue(l1));
    KxStatistic copy = ber;
    l1.m_CellId = 0;
    ASSERT_EQ(KXAPI_OK, ber.SetValue(l1));
    KxDvbT2L1Data fromCopy;
    copy.GetValue(fromCopy);
    EXPECT_EQ(7, fromCopy.m_CellId) << "copies are deep";
}

TEST(StatisticXml, HandWrittenForms)
{
    KxStatistic lock(512);
    lock.SetValue(true);
    std::wstring text;
    ASSERT_EQ(KXAPI_OK, lock.ToXml(text));
    EXPECT_EQ(L"<kxstat res=\"0\" sid=\"512\" xid0=\"-1\" xid1=\"-1\" xid2=\"-1\" xid3=\"-1\" vt=\"1\" bl=\"1\"/>", text);
    KxStatistic mer(262);
    mer.SetValue(int32_t{215});
    mer.m_XtraId[0] = 3;
    KxStatistic ber(270);
    ber.SetValue(0.00125);
    KxStatistic none;
    KxStatistic list[] = {mer, ber, none};
    ASSERT_EQ(KXAPI_OK, KxStatistic::ToXml(list, 3, text));
    EXPECT_EQ(L"<kxstat res=\"0\" sid=\"262\" xid0=\"3\" xid1=\"-1\" xid2=\"-1\" xid3=\"-1\" vt=\"3\" int=\"215\"/>"
              L"<kxstat res=\"0\" sid=\"270\" xid0=\"-1\" xid1=\"-1\" xid2=\"-1\" xid3=\"-1\" vt=\"2\" dbl=\"0.00125\"/>"
              L"<kxstat res=\"0\" sid=\"0\" xid0=\"-1\" xid1=\"-1\" xid2=\"-1\" xid3=\"-1\" vt=\"0\"/>",
              text);
    KxStatistic isi(784);
    KxDvbS2IsiList isis;
    isis.m_Isis = {{1}, {17}};
    isi.SetValue(isis);
    ASSERT_EQ(KXAPI_OK, isi.ToXml(text));
    EXPECT_EQ(L"<kxstat res=\"0\" sid=\"784\" xid0=\"-1\" xid1=\"-1\" xid2=\"-1\" xid3=\"-1\" vt=\"20\">"
              L"<s2Isi><isi id=\"1\"/><isi id=\"17\"/></s2Isi></kxstat>",
              text);
}

TEST(StatisticXml, RoundTripOfEveryCarriedValueType)
{
    std::vector<KxStatistic> stats;
    auto add = [&](int32_t id, auto value) {
        KxStatistic s(id);
        EXPECT_EQ(KXAPI_OK, s.SetValue(value)) << id;
        s.m_Result = static_cast<int32_t>(stats.size());
        s.m_XtraId[1] = id;
        stats.push_back(s);
    };
    add(513, true);
    add(267, -1234.5678);
    add(266, int32_t{-612});
    KxDvbC2L1Part2 c2;
    c2.m_NetworkId = 0x3001;
    c2.m_DataSlices = {{1, 200, -3, 4, 8, 1, 0, 5, 0, 2}, {2, 3600, 0, 0, 4, 2, 1, 3, 1, 1}};
    c2.m_Notches = {{100, 12}};
    add(768, c2);
    KxDvbC2PlpSigData psd;
    psd.m_PlpId = 5;
    psd.m_TsId = 1000;
    add(769, psd);
    KxDvbT2L1Data t2;
    t2.m_CellId = 0x1234;
    t2.m_NumT2Frames = 2;
    t2.m_Plps = {{0, 1, 3, 0, 2, 3, 1, 1, 200, 1, 3, 0, 0}, {1, 2, 3, 1, 4, 2, 0, 0, 100, 2, 1, 1, 1}};
    add(770, t2);
    KxIsdbtPars isdbt;
    isdbt.m_Mode = 3;
    isdbt.m_Layers = {{1, 0, 1, 2}, {12, 3, 2, 2}};
    add(771, isdbt);
    KxT2C2MaData ma;
    ma.m_Isi = 4;
    ma.m_DataFieldLengthBits = 53840;
    add(773, ma);
    add(775, KxPlpNumBlocks{3, 120, 202});
    KxDvbTTps tps;
    tps.m_CellId = 77;
    tps.m_Mode = 2;
    add(779, tps);
    KxAtsc3L1Data a3;
    a3.m_NumSubframes = 1;
    a3.m_Plps = {{0, 0, 0, 5000, 1, 2, 4, 9, 1, 0}};
    add(781, a3);
    KxDvbS2IsiList isis;
    isis.m_Isis = {{0}, {255}};
    add(784, isis);
    add(785, KxDvbS2IsiSigData{7, 0x72, 0x4C, 34, 2, 0, 1, 20, 1, 3});

    std::wstring text;
    ASSERT_EQ(KXAPI_OK, KxStatistic::ToXml(stats.data(), static_cast<int>(stats.size()), text));
    std::vector<KxStatistic> parsed;
    ASSERT_EQ(KXAPI_OK, KxStatistic::FromXml(text, parsed));
    ASSERT_EQ(stats.size(), parsed.size());
    for (size_t i = 0; i < stats.size(); i++)
        EXPECT_EQ(stats[i], parsed[i]) << stats[i].m_StatisticId;
}

TEST(StatisticXml, RefusedValueTypesAndBadInput)
{
    std::wstring text = L"unchanged";
    for (int32_t id : {772, 774, 783})
        EXPECT_EQ(KXAPI_E_NOT_SUPPORTED, KxStatistic(id).ToXml(text)) << id;
    for (int32_t id : {777, 776, 778, 780, 782})
        EXPECT_EQ(KXAPI_E_INVALID_TYPE, KxStatistic(id).ToXml(text)) << id;
    KxStatistic stat(512);
    EXPECT_EQ(KXAPI_E_NOT_SUPPORTED, stat.FromXml(L"<kxstat sid=\"772\" vt=\"8\"/>"));
    EXPECT_EQ(KXAPI_E_INVALID_TYPE, stat.FromXml(L"<kxstat sid=\"777\" vt=\"12\"/>"));
    EXPECT_EQ(KXAPI_E_INVALID_TYPE, stat.FromXml(L"<kxstat vt=\"22\"/>"));
    EXPECT_EQ(KXAPI_E_INVALID_TYPE, stat.FromXml(L"<kxstat vt=\"-3\"/>"));
    EXPECT_EQ(KXAPI_E_XML_SYNTAX, stat.FromXml(L"<kxstat vt=\"3\" int=\"x\"/>"));
    EXPECT_EQ(KXAPI_E_XML_ELEM, stat.FromXml(L"<other/>"));
    EXPECT_EQ(512, stat.m_StatisticId) << "a failed parse leaves the statistic";

    // A request naming statistics: id and extra ids, no value.
    std::vector<KxStatistic> parsed;
    ASSERT_EQ(KXAPI_OK, KxStatistic::FromXml(L"<kxstat sid=\"262\" xid0=\"1\" vt=\"3\"/><x/><kxstat sid=\"9999\"/>", parsed));
    ASSERT_EQ(2u, parsed.size());
    EXPECT_EQ(1, parsed[0].m_XtraId[0]);
    EXPECT_EQ(9999, parsed[1].m_StatisticId);
    std::wstring many;
    for (int i = 0; i < 5; i++)
        many += L"<kxstat/>";
    EXPECT_EQ(KXAPI_E_TOO_LONG, KxStatistic::FromXml(many, parsed, 4));
    EXPECT_TRUE(parsed.empty());
    EXPECT_EQ(KXAPI_E_XML_SYNTAX, KxStatistic::FromXml(L"<kxstat", parsed));
}

TEST(StatisticLegacy, TStatParsLayout)
{
    unsigned char body[32];
    std::memset(body, 0xAA, sizeof(body));
    KxStatistic mer(262);
    mer.SetValue(int32_t{-2});
    mer.m_Result = static_cast<int32_t>(KXAPI_E_NOT_LOCKED);
    TStatPars::FromStatistic(mer).Encode(body, 16);
    const unsigned char expected[16] = {0xFE, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0x06, 0x01, 0, 0,
                                        static_cast<unsigned char>(KXAPI_E_NOT_LOCKED & 0xFF),
                                        static_cast<unsigned char>(KXAPI_E_NOT_LOCKED >> 8), 0, 0};
    EXPECT_EQ(0, std::memcmp(expected, body + 16, 16));
    EXPECT_EQ(0xAA, body[15]);
    KxStatistic lock(512);
    lock.SetValue(true);
    TStatPars lockPars = TStatPars::FromStatistic(lock);
    EXPECT_EQ(1, lockPars.m_Value[0]);
    EXPECT_EQ(0, lockPars.m_Value[1]);
    KxStatistic ber(256);
    ber.SetValue(0.5);
    TStatPars::FromStatistic(ber).Encode(body, 0);
    TStatPars decoded = TStatPars::Decode(body, 0);
    double value = 0;
    std::memcpy(&value, decoded.m_Value, 8);
    EXPECT_EQ(0.5, value);
    EXPECT_EQ(256, decoded.m_StatisticId);
}

// A structured statistic has no content until a value is set: requests, failed statistics and
// supported lists carry no sub-element, and a set value (even an all-zero one) keeps its exact form.
TEST(StatisticValue, StructuredValuesHaveNoContentUntilSet)
{
    const struct {
        int32_t m_Id;
        int32_t m_ValueType;
        const wchar_t* m_pElem;
    } rows[] = {{768, 4, L"<c2l1p2"},     {769, 5, L"<c2psd"},     {770, 6, L"<t2datal1"},
                {771, 7, L"<isdbtpars"},  {773, 9, L"<t2c2madata"}, {775, 11, L"<t2plpblocks"},
                {779, 15, L"<ttpsinfo"},  {781, 17, L"<atsc3l1"},  {784, 20, L"<s2Isi"},
                {785, 21, L"<s2isidata"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.m_Id);
        KxStatistic stat(row.m_Id);
        EXPECT_EQ(row.m_ValueType, stat.m_ValueType);
        EXPECT_FALSE(stat.HasValue());
        std::wstring text;
        ASSERT_EQ(KXAPI_OK, stat.ToXml(text));
        EXPECT_EQ(std::wstring::npos, text.find(row.m_pElem)) << std::string(text.begin(), text.end());
        stat.m_Result = KXAPI_E_NOT_LOCKED;
        ASSERT_EQ(KXAPI_OK, stat.ToXml(text));
        EXPECT_EQ(std::wstring::npos, text.find(row.m_pElem));
        // Read back: still without content.
        KxStatistic parsed;
        ASSERT_EQ(KXAPI_OK, parsed.FromXml(text));
        EXPECT_FALSE(parsed.HasValue());
        EXPECT_EQ(stat, parsed);
    }

    // Typed access to a value not yet set: the type's default, the statistic's result.
    KxStatistic isi(784);
    isi.m_Result = KXAPI_E_NOT_LOCKED;
    KxDvbS2IsiList list;
    list.m_Isis = {{9}};
    EXPECT_EQ(KXAPI_E_NOT_LOCKED, isi.GetValue(list));
    EXPECT_TRUE(list.m_Isis.empty());
    int32_t wrong = 0;
    EXPECT_EQ(KXAPI_E_INVALID_TYPE, isi.GetValue(wrong));
    KxDvbS2IsiSigData otherStruct;
    EXPECT_EQ(KXAPI_E_INVALID_TYPE, isi.GetValue(otherStruct));
    EXPECT_EQ(KXAPI_E_INVALID_TYPE, isi.SetValue(otherStruct));
    EXPECT_FALSE(isi.HasValue());

    // A set value, even an empty list, is carried and read back; SetId clears it again.
    KxStatistic set(784);
    ASSERT_EQ(KXAPI_OK, set.SetValue(KxDvbS2IsiList()));
    EXPECT_TRUE(set.HasValue());
    std::wstring text;
    ASSERT_EQ(KXAPI_OK, set.ToXml(text));
    EXPECT_EQ(L"<kxstat res=\"0\" sid=\"784\" xid0=\"-1\" xid1=\"-1\" xid2=\"-1\" xid3=\"-1\" vt=\"20\"><s2Isi/></kxstat>",
              text);
    KxStatistic parsed;
    ASSERT_EQ(KXAPI_OK, parsed.FromXml(text));
    EXPECT_TRUE(parsed.HasValue());
    EXPECT_EQ(set, parsed);
    ASSERT_EQ(KXAPI_OK, set.SetValue(KxDvbS2IsiList{{{3}}}));
    ASSERT_EQ(KXAPI_OK, set.SetValue(KxDvbS2IsiList{{{4}}}));
    ASSERT_EQ(KXAPI_OK, set.GetValue(list));
    ASSERT_EQ(1u, list.m_Isis.size());
    EXPECT_EQ(4, list.m_Isis[0].m_Isi);
    ASSERT_EQ(KXAPI_OK, set.SetId(785));
    EXPECT_FALSE(set.HasValue());
    ASSERT_EQ(KXAPI_OK, set.SetId(784));
    EXPECT_FALSE(set.HasValue());
}
