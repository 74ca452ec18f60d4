// The statistics read's short cuts: plain-valued "kxstat" lists written straight as text, and
// request text parsed straight from the message's 4-byte characters. Each must give exactly
// what the general path (document writer, wide text parse) gives.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "DemodSvcGeneric.h"
#include "DemodSvcValidation.h"
#include "KxStatistic.h"
#include "Markup.h"

using namespace Kxapi;

namespace {

// The list as the document writer gives it, one element at a time.
std::wstring ThroughDocument(const std::vector<KxStatistic>& stats)
{
    Markup doc;
    for (const KxStatistic& stat : stats)
        EXPECT_EQ(KXAPI_OK, stat.ToXmlElem(doc.Top()));
    std::wstring text;
    doc.AppendTo(text);
    return text;
}

KxStatistic Plain(int32_t id, int32_t result, int32_t xid)
{
    KxStatistic stat(id);
    stat.m_Result = result;
    stat.m_XtraId[0] = xid;
    stat.m_XtraId[3] = ~xid;
    return stat;
}

// A wire body of a generic request with any characters (NUL included) after the command.
DemodMsg WireRequest(const std::vector<uint32_t>& chars)
{
    DemodMsg body(4 * (chars.size() + 1), 0);
    body[0] = DEMOD_CMD_GET_STATISTICS;
    for (size_t i = 0; i < chars.size(); i++)
        for (int b = 0; b < 4; b++)
            body[4 + 4 * i + static_cast<size_t>(b)] = static_cast<uint8_t>(chars[i] >> (8 * b));
    return body;
}

std::vector<uint32_t> Chars(const std::wstring& text, bool finalNul = true)
{
    std::vector<uint32_t> chars(text.begin(), text.end());
    if (finalNul)
        chars.push_back(0);
    return chars;
}

} // namespace

TEST(StatisticWireText, PlainListsMatchTheDocumentWriter)
{
    const double doubles[] = {0.0, -0.0, 1.234567e-7, -1234.5678, 0.1, 1e308, 5e-324,
                              std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                              std::numeric_limits<double>::quiet_NaN()};
    const int32_t ints[] = {0, -1, 412, INT32_MIN, INT32_MAX};
    std::vector<KxStatistic> stats;
    for (double d : doubles) {
        stats.push_back(Plain(267, 0, 3));
        ASSERT_EQ(KXAPI_OK, stats.back().SetValue(d));
    }
    for (int32_t n : ints) {
        stats.push_back(Plain(266, n, n));
        ASSERT_EQ(KXAPI_OK, stats.back().SetValue(n));
    }
    for (bool b : {false, true}) {
        stats.push_back(Plain(512, static_cast<int32_t>(KXAPI_E_STAT_NOTAVAIL), 1));
        ASSERT_EQ(KXAPI_OK, stats.back().SetValue(b));
    }
    stats.emplace_back();          // no id, no value
    stats.push_back(KxStatistic(9999)); // unknown id: value type 0
    stats.back().m_StatisticId = 9999;

    std::wstring text;
    ASSERT_EQ(KXAPI_OK, KxStatistic::ToXml(stats.data(), static_cast<int>(stats.size()), text));
    EXPECT_EQ(ThroughDocument(stats), text);
    EXPECT_NE(std::wstring::npos, text.find(L"<kxstat res=\"0\" sid=\"267\" xid0=\"3\" xid1=\"-1\" xid2=\"-1\" "
                                            L"xid3=\"-4\" vt=\"2\" dbl=\"1.234567e-07\"/>"));

    // A single statistic and the empty list take the same way.
    ASSERT_EQ(KXAPI_OK, stats[12].ToXml(text));
    EXPECT_EQ(ThroughDocument({stats[12]}), text);
    ASSERT_EQ(KXAPI_OK, KxStatistic::ToXml(stats.data(), 0, text));
    EXPECT_TRUE(text.empty());
}

TEST(StatisticWireText, ListsWithAStructureAndOddValueTypesMatchTheDocumentWriter)
{
    std::vector<KxStatistic> stats{Plain(512, 0, 2), KxStatistic(775), Plain(7, 5, 6)};
    ASSERT_EQ(KXAPI_OK, stats[0].SetValue(true));
    ASSERT_EQ(KXAPI_OK, stats[1].SetValue(KxPlpNumBlocks{3, 120, 202}));
    ASSERT_EQ(KXAPI_OK, stats[2].SetValue(int32_t{-77}));
    std::wstring text;
    ASSERT_EQ(KXAPI_OK, KxStatistic::ToXml(stats.data(), 3, text));
    EXPECT_EQ(ThroughDocument(stats), text);

    // A value type that disagrees with the stored value: the stored value is written.
    KxStatistic odd(7);
    ASSERT_EQ(KXAPI_OK, odd.SetValue(int32_t{12}));
    odd.m_ValueType = KX_STAT_VT_DOUBLE;
    ASSERT_EQ(KXAPI_OK, KxStatistic::ToXml(&odd, 1, text));
    EXPECT_EQ(ThroughDocument({odd}), text);
    EXPECT_NE(std::wstring::npos, text.find(L"vt=\"2\" int=\"12\"/>"));

    // Refused value types refuse the whole list, plain elements before them or not.
    std::vector<KxStatistic> refused{Plain(512, 0, 0), KxStatistic(772)};
    text = L"unchanged";
    EXPECT_EQ(KXAPI_E_NOT_SUPPORTED, KxStatistic::ToXml(refused.data(), 2, text));
    EXPECT_TRUE(text.empty());
    KxStatistic badType(7);
    badType.m_ValueType = 40;
    EXPECT_EQ(KXAPI_E_INVALID_TYPE, KxStatistic::ToXml(&badType, 1, text));
}

TEST(StatisticWireText, WireTextParsesAsTheWideText)
{
    std::vector<KxStatistic> stats{Plain(512, 0, 2), Plain(9, 0, -1), KxStatistic(775)};
    std::wstring xml;
    ASSERT_EQ(KXAPI_OK, KxStatistic::ToXml(stats.data(), 3, xml));
    xml += L"<note text=\"\u00e9\u4e2d\U0001F600\"/>";
    const DemodMsg body = WireRequest(Chars(xml));

    Markup fromWire;
    ASSERT_EQ(KXAPI_OK, DemodParseGenericReq(body.data(), body.size(), fromWire));
    Markup fromWide;
    ASSERT_EQ(KXAPI_OK, fromWide.Parse(xml));
    EXPECT_EQ(fromWide.ToUtf8(), fromWire.ToUtf8());
    EXPECT_NE(std::string::npos, fromWire.ToUtf8().find("\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80"));

    std::vector<KxStatistic> parsed;
    ASSERT_EQ(KXAPI_OK, KxStatistic::FromXml(fromWire, parsed));
    EXPECT_EQ(stats, parsed);
    EXPECT_EQ(KXAPI_E_TOO_LONG, KxStatistic::FromXml(fromWire, parsed, 2));
    EXPECT_TRUE(parsed.empty());
}

TEST(StatisticWireText, WireTextEndsAtItsFirstNulAndRefusesWhatTheWideParseRefuses)
{
    // Text after an inner NUL is not part of the request.
    std::vector<uint32_t> chars = Chars(L"<Count>4</Count>", false);
    chars.push_back(0);
    for (uint32_t c : Chars(L"<broken"))
        chars.push_back(c);
    DemodMsg body = WireRequest(chars);
    Markup doc;
    ASSERT_EQ(KXAPI_OK, DemodParseGenericReq(body.data(), body.size(), doc));
    int64_t count = 0;
    EXPECT_EQ(KXAPI_OK, DemodGetIntElem(doc, DEMOD_ELEM_COUNT, count));
    EXPECT_EQ(4, count);

    // Characters that are not Unicode scalar values, and malformed XML.
    for (uint32_t bad : {0xD800u, 0xDFFFu, 0x110000u, 0xFFFFFFFFu}) {
        std::vector<uint32_t> text = Chars(L"<a>", false);
        text.push_back(bad);
        for (uint32_t c : Chars(L"</a>"))
            text.push_back(c);
        body = WireRequest(text);
        EXPECT_EQ(KXAPI_E_XML_SYNTAX, DemodParseGenericReq(body.data(), body.size(), doc)) << bad;
        EXPECT_FALSE(doc.Top().FindChild("a").Valid());
        EXPECT_EQ(KXAPI_E_INTERNAL, DemodOpenGenericRequest(body.data(), body.size(), doc)) << bad;
    }
    body = WireRequest(Chars(L"<kxstat sid=\"7\">"));
    EXPECT_EQ(KXAPI_E_XML_SYNTAX, DemodParseGenericReq(body.data(), body.size(), doc));

    // Framing: no final wide NUL, a partial character, too short, no body.
    body = WireRequest(Chars(L"<Count>4</Count>", false));
    EXPECT_EQ(KXAPI_E_INTERNAL, DemodParseGenericReq(body.data(), body.size(), doc));
    body = WireRequest(Chars(L"<Count>4</Count>"));
    EXPECT_EQ(KXAPI_E_INTERNAL, DemodParseGenericReq(body.data(), body.size() - 1, doc));
    EXPECT_EQ(KXAPI_E_INTERNAL, DemodParseGenericReq(body.data(), 4, doc));
    EXPECT_EQ(KXAPI_E_INTERNAL, DemodParseGenericReq(nullptr, 16, doc));

    // An empty text is an empty document; a document from an earlier parse is dropped.
    ASSERT_EQ(KXAPI_OK, DemodParseGenericReq(body.data(), body.size(), doc));
    body = WireRequest({0});
    EXPECT_EQ(KXAPI_OK, DemodParseGenericReq(body.data(), body.size(), doc));
    EXPECT_FALSE(doc.Top().FindChild(DEMOD_ELEM_COUNT).Valid());
}

TEST(StatisticWireText, WideConversionsKeepTheirRules)
{
    std::string utf8;
    EXPECT_EQ(KXAPI_OK, WideToUtf8(L"a\u00e9\u4e2d\U0001F600", utf8));
    EXPECT_EQ("a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80", utf8);
    EXPECT_EQ(KXAPI_E_XML_SYNTAX, WideToUtf8(std::wstring(L"a\0b", 3), utf8));
    EXPECT_EQ(KXAPI_E_XML_SYNTAX, WideToUtf8(std::wstring(1, static_cast<wchar_t>(0xD900)), utf8));

    std::wstring wide = L"x";
    Utf8AppendToWide("\xC3\xA9\xF0\x9F\x98\x80" "b\xE4\xB8", 9, wide);
    EXPECT_EQ(std::wstring(L"x\u00e9\U0001F600b\uFFFD\uFFFD"), wide);
    Markup doc;
    EXPECT_EQ(KXAPI_E_XML_SYNTAX, doc.Parse(std::wstring(L"<a>\0</a>", 8)));
}

TEST(StatisticWireText, AttributeRunsReadAsSingleReads)
{
    static const char* const NAMES[] = {"res", "sid", "xid0", "vt"};
    Markup doc;
    // Out of order, duplicated (the first counts), one missing, one unknown.
    ASSERT_EQ(KXAPI_OK, doc.Parse(L"<kxstat vt=\"3\" zz=\"x\" sid=\"7\" res=\" -4 \" sid=\"8\" res=\"oops\"/>"));
    int32_t values[4] = {1, 2, 3, 4};
    int32_t* const pointers[4] = {&values[0], &values[1], &values[2], &values[3]};
    MarkupElem e = doc.Top().FindChild("kxstat");
    ASSERT_EQ(KXAPI_OK, e.GetAttribs(NAMES, pointers, 4));
    EXPECT_EQ(-4, values[0]);
    EXPECT_EQ(7, values[1]);
    EXPECT_EQ(3, values[2]);
    EXPECT_EQ(3, values[3]);

    // The first failure in the order of names, as a run of GetAttrib calls gives it.
    ASSERT_EQ(KXAPI_OK, doc.Parse(L"<kxstat vt=\"9999999999\" sid=\"x1\"/>"));
    e = doc.Top().FindChild("kxstat");
    EXPECT_EQ(KXAPI_E_XML_SYNTAX, e.GetAttribs(NAMES, pointers, 4));
    int32_t single = 0;
    EXPECT_EQ(KXAPI_E_XML_SYNTAX, e.GetAttrib("sid", single));

    // A parsed statistic ignores attribute order.
    ASSERT_EQ(KXAPI_OK, doc.Parse(L"<kxstat int=\"-5\" vt=\"3\" xid3=\"4\" sid=\"7\" res=\"2\"/>"));
    KxStatistic stat;
    ASSERT_EQ(KXAPI_OK, stat.FromXmlElem(doc.Top().FindChild("kxstat")));
    EXPECT_EQ(7, stat.m_StatisticId);
    EXPECT_EQ(2, stat.m_Result);
    EXPECT_EQ(4, stat.m_XtraId[3]);
    EXPECT_EQ(-1, stat.m_XtraId[0]);
    int32_t value = 0;
    EXPECT_EQ(2, stat.GetValue(value));
    EXPECT_EQ(-5, value);
}

TEST(StatisticWireText, CharactersOutsideAsciiAreFoundAtEveryPlaceOfABlock)
{
    // The conversion takes runs of ASCII characters in blocks: a character that ends a run
    // (one of several bytes, a NUL that ends the text, one that is refused) at each place of
    // the first blocks and of the tail parses as the same wide text does.
    const uint32_t SPECIAL[] = {0xE9, 0x4E2D, 0x1F600, 0, 0xD800, 0x110000, 0x80000041u};
    Markup fromWire, fromWide;
    for (size_t at = 0; at < 40; at++) {
        for (uint32_t special : SPECIAL) {
            std::vector<uint32_t> value(40, 'v');
            value[at] = special;
            std::vector<uint32_t> chars = Chars(L"<a b=\"", false);
            chars.insert(chars.end(), value.begin(), value.end());
            for (uint32_t c : Chars(L"\"/>"))
                chars.push_back(c);
            const DemodMsg body = WireRequest(chars);
            // The wide text a request carries up to its first NUL.
            std::wstring wide;
            for (size_t i = 0; i < chars.size() && chars[i] != 0; i++)
                wide.push_back(static_cast<wchar_t>(chars[i]));
            SCOPED_TRACE(testing::Message() << "character " << std::hex << special << " at " << std::dec << at);
            const KXAPI_RESULT expected = fromWide.Parse(wide);
            ASSERT_EQ(expected, DemodParseGenericReq(body.data(), body.size(), fromWire));
            // A NUL cuts the attribute short; surrogates and values above U+10FFFF are refused.
            const bool refused = special == 0 || special == 0xD800 || special >= 0x110000;
            EXPECT_EQ(refused ? KXAPI_E_XML_SYNTAX : KXAPI_OK, expected);
            EXPECT_EQ(fromWide.ToUtf8(), fromWire.ToUtf8());
        }
    }
}

TEST(StatisticWireText, NumbersInAttributesFollowOneRule)
{
    // Blanks around the number and one leading '+' are allowed; anything else, and a value
    // outside the type's range, is a syntax error that leaves the value alone.
    struct Row {
        const char* m_pText;
        bool m_Int32Ok;
        int32_t m_Int32;
        bool m_Int64Ok;
        int64_t m_Int64;
    };
    const Row ROWS[] = {
        {"0", true, 0, true, 0},
        {"-1", true, -1, true, -1},
        {" \t+42\r\n ", true, 42, true, 42},
        {"000017", true, 17, true, 17},
        {"2147483647", true, INT32_MAX, true, INT32_MAX},
        {"2147483648", false, 0, true, 2147483648LL},
        {"-2147483648", true, INT32_MIN, true, INT32_MIN},
        {"-2147483649", false, 0, true, -2147483649LL},
        {"9223372036854775807", false, 0, true, INT64_MAX},
        {"9223372036854775808", false, 0, false, 0},
        {"-9223372036854775808", false, 0, true, INT64_MIN},
        {"99999999999999999999999", false, 0, false, 0},
        {"", false, 0, false, 0},
        {"  ", false, 0, false, 0},
        {"+", false, 0, false, 0},
        {"-", false, 0, false, 0},
        {"++5", false, 0, false, 0},
        {"+-5", true, -5, true, -5}, // the '+' goes, and a sign is left
        {"- 5", false, 0, false, 0},
        {"5 6", false, 0, false, 0},
        {"5x", false, 0, false, 0},
        {"0x10", false, 0, false, 0},
        {"1e3", false, 0, false, 0},
        {"1.0", false, 0, false, 0},
    };
    for (const Row& row : ROWS) {
        SCOPED_TRACE(row.m_pText);
        int32_t i32 = 77;
        EXPECT_EQ(row.m_Int32Ok ? KXAPI_OK : KXAPI_E_XML_SYNTAX, MarkupElem::ParseNumber(row.m_pText, i32));
        EXPECT_EQ(row.m_Int32Ok ? row.m_Int32 : 77, i32);
        int64_t i64 = 77;
        EXPECT_EQ(row.m_Int64Ok ? KXAPI_OK : KXAPI_E_XML_SYNTAX, MarkupElem::ParseNumber(row.m_pText, i64));
        EXPECT_EQ(row.m_Int64Ok ? row.m_Int64 : 77, i64);
    }
    const std::pair<const char*, double> DOUBLES[] = {{" 1.25e-7 ", 1.25e-7}, {"+3", 3.0}, {"-0.5", -0.5}};
    for (const auto& [text, expected] : DOUBLES) {
        double d = 0;
        EXPECT_EQ(KXAPI_OK, MarkupElem::ParseNumber(text, d)) << text;
        EXPECT_EQ(expected, d) << text;
    }
    for (const char* text : {"", "1.5x", "1.5 2", "++1", "- 1"}) {
        double d = 7.0;
        EXPECT_EQ(KXAPI_E_XML_SYNTAX, MarkupElem::ParseNumber(text, d)) << text;
        EXPECT_EQ(7.0, d) << text;
    }
}

TEST(StatisticWireText, AStatisticReadAgainTakesEverythingFromTheNewElementOrNothing)
{
    // One statistic object reads elements of every plain type in turn (as a client's kept
    // statistics read reply after reply): each read gives what a new statistic reads.
    const wchar_t* const GOOD[] = {
        L"<kxstat res=\"0\" sid=\"512\" xid0=\"-1\" xid1=\"-1\" xid2=\"-1\" xid3=\"-1\" vt=\"1\" bl=\"1\"/>",
        L"<kxstat res=\"-3\" sid=\"262\" xid0=\"4\" vt=\"3\" int=\"287\"/>",
        L"<kxstat sid=\"257\" vt=\"2\" dbl=\"1.5e-9\" xid3=\"8\"/>",
        L"<kxstat sid=\"512\" vt=\"1\"/>",
        L"<kxstat sid=\"784\" vt=\"20\"/>",
        L"<kxstat sid=\"262\" vt=\"3\" bl=\"1\" dbl=\"2\"/>",
        L"<kxstat sid=\"7\"/>",
    };
    KxStatistic kept(512);
    for (const wchar_t* text : GOOD) {
        SCOPED_TRACE(testing::Message() << std::wstring(text).size());
        Markup doc;
        ASSERT_EQ(KXAPI_OK, doc.Parse(text));
        KxStatistic fresh;
        ASSERT_EQ(KXAPI_OK, fresh.FromXmlElem(doc.Top().FindChild("kxstat")));
        ASSERT_EQ(KXAPI_OK, kept.FromXmlElem(doc.Top().FindChild("kxstat")));
        EXPECT_EQ(fresh, kept);
    }

    // A broken element changes nothing of the statistic it is read into.
    const wchar_t* const BROKEN[] = {
        L"<kxstat res=\"x\" sid=\"262\" vt=\"3\" int=\"1\"/>",
        L"<kxstat sid=\"262\" xid2=\"99999999999\" vt=\"3\" int=\"1\"/>",
        L"<kxstat sid=\"262\" vt=\"3\" int=\"1.5\"/>",
        L"<kxstat sid=\"512\" vt=\"1\" bl=\"yes\"/>",
        L"<kxstat sid=\"257\" vt=\"2\" dbl=\"--1\"/>",
        L"<kxstat sid=\"262\" vt=\"8\"/>",
        L"<kxstat sid=\"262\" vt=\"12\"/>",
        L"<kxstat sid=\"262\" vt=\"99\"/>",
        L"<kxstat sid=\"262\" vt=\"-1\"/>",
    };
    KxStatistic before(262);
    before.m_Result = 5;
    before.m_XtraId[1] = 3;
    ASSERT_EQ(KXAPI_OK, before.SetValue(int32_t{-77}));
    for (const wchar_t* text : BROKEN) {
        Markup doc;
        ASSERT_EQ(KXAPI_OK, doc.Parse(text));
        KxStatistic stat = before;
        EXPECT_TRUE(KxapiFailed(stat.FromXmlElem(doc.Top().FindChild("kxstat"))));
        EXPECT_EQ(before, stat);
    }
}
