// Fixed-layout value types, scan progress, stream selection and the XML class's edges.
#include <gtest/gtest.h>

#include <cstring>

#include "KxDemodTypes.h"
#include "KxScanProgress.h"
#include "KxStreamSel.h"
#include "Markup.h"

using namespace Kxapi;

TEST(DemodWireTypes, ByteExactLayouts)
{
    unsigned char body[40] = {};
    KxTransmitter tx{0x0000000147AE1480LL, 32, 27500000};
    tx.Encode(body, 8);
    const unsigned char txBytes[16] = {0x80, 0x14, 0xAE, 0x47, 0x01, 0, 0, 0, 32, 0, 0, 0, 0xE0, 0x9D, 0xA3, 0x01};
    EXPECT_EQ(0, std::memcmp(txBytes, body + 8, 16));
    EXPECT_EQ(tx, KxTransmitter::Decode(body, 8));

    KxConstelPoint point{-1, 2};
    point.Encode(body, 0);
    const unsigned char pointBytes[8] = {0xFF, 0xFF, 0xFF, 0xFF, 2, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(pointBytes, body, 8));
    EXPECT_EQ(point, KxConstelPoint::Decode(body, 0));

    KxTunePars tune;
    for (int i = 0; i < KxTunePars::NUM_WORDS; i++)
        tune.m_Words[i] = 0x01020300 + i;
    std::memset(body, 0xEE, sizeof(body));
    tune.Encode(body, 4);
    EXPECT_EQ(0xEE, body[3]);
    EXPECT_EQ(0x00, body[4]);
    EXPECT_EQ(0x08, body[4 + 32]);
    EXPECT_EQ(0x01, body[4 + 35]);
    EXPECT_EQ(tune, KxTunePars::Decode(body, 4));
}

TEST(ScanProgress, FormsAndRoundTrips)
{
    KxBsProgress initial;
    EXPECT_EQ(-1, initial.m_FreqHz);
    EXPECT_TRUE(initial.IsFinal());
    std::wstring text;
    ASSERT_EQ(KXAPI_OK, initial.ToXml(text));
    EXPECT_EQ(L"<BSprog frq=\"-1\" evnt=\"2\" chf=\"0\" res=\"0\"><KxDemodPars mod=\"-1\"/></BSprog>", text);

    KxBsProgress found;
    found.m_FreqHz = 11778000000LL;
    found.m_Event = 0;
    found.m_ChannelFound = true;
    found.m_DemodPars.FromOldStyle(33, 2, 0x10, 27500000);
    ASSERT_EQ(KXAPI_OK, found.ToXml(text));
    KxBsProgress parsed;
    ASSERT_EQ(KXAPI_OK, parsed.FromXml(text));
    EXPECT_EQ(found, parsed);
    EXPECT_FALSE(parsed.IsFinal());
    EXPECT_EQ(KXAPI_E_XML_ELEM, parsed.FromXml(L"<SPSprog/>"));

    KxSpsProgress sps;
    sps.m_FreqHz = 474000000;
    sps.m_Level = -523;
    sps.m_Event = 0;
    ASSERT_EQ(KXAPI_OK, sps.ToXml(text));
    EXPECT_EQ(L"<SPSprog frq=\"474000000\" lvl=\"-523\" evnt=\"0\" res=\"0\"/>", text);
    KxSpsProgress spsParsed;
    ASSERT_EQ(KXAPI_OK, spsParsed.FromXml(text));
    EXPECT_EQ(sps, spsParsed);
}

TEST(StreamSelection, FormsAndRefusals)
{
    std::wstring text;
    KxDvbC2StreamSelPars c2{1, 2, 3};
    ASSERT_EQ(KXAPI_OK, c2.ToXml(text));
    EXPECT_EQ(L"<c2sel did=\"1\" pid=\"2\" cid=\"3\"/>", text);
    KxDvbC2StreamSelPars c2Parsed;
    ASSERT_EQ(KXAPI_OK, c2Parsed.FromXml(text));
    EXPECT_EQ(c2, c2Parsed);
    KxDvbT2StreamSelPars t2{4, 5};
    ASSERT_EQ(KXAPI_OK, t2.ToXml(text));
    EXPECT_EQ(L"<t2sel pid=\"4\" cid=\"5\"/>", text);
    KxDvbT2StreamSelPars t2Parsed;
    ASSERT_EQ(KXAPI_OK, t2Parsed.FromXml(text));
    EXPECT_EQ(t2, t2Parsed);
    EXPECT_EQ(KXAPI_E_XML_ELEM, t2Parsed.FromXml(L"<c2sel/>"));

    std::vector<KxStreamSelPars> list(2);
    list[0] = {7, KX_STREAM_TYPE_ATSC3, {1}};
    list[1] = {8, KX_STREAM_TYPE_ATSC3, {63}};
    ASSERT_EQ(KXAPI_OK, KxStreamSelPars::ToXml(list, text));
    EXPECT_EQ(L"<strselpar id=\"7\" tp=\"1\"><Atsc3sel pid=\"1\"/></strselpar>"
              L"<strselpar id=\"8\" tp=\"1\"><Atsc3sel pid=\"63\"/></strselpar>",
              text);
    std::vector<KxStreamSelPars> parsed;
    ASSERT_EQ(KXAPI_OK, KxStreamSelPars::FromXml(text, parsed));
    EXPECT_EQ(list, parsed);
    KxStreamSelPars other{1, 2, {}};
    EXPECT_EQ(KXAPI_E_NOT_IMPLEMENTED, other.ToXml(text));
    EXPECT_EQ(KXAPI_E_NOT_IMPLEMENTED, other.FromXml(L"<strselpar id=\"1\" tp=\"3\"/>"));
}

TEST(MarkupEdges, WideTextAndHostileInput)
{
    Markup doc;
    // Characters outside ASCII cross the UTF-8 edge both ways.
    ASSERT_EQ(KXAPI_OK, doc.Parse(L"<a n=\"\u00e9\U0001F4E1\"/>"));
    std::wstring out;
    doc.AppendTo(out);
    EXPECT_EQ(L"<a n=\"\u00e9\U0001F4E1\"/>", out);

    EXPECT_EQ(KXAPI_E_XML_SYNTAX, doc.Parse(std::wstring(L"<a/>") + static_cast<wchar_t>(0xD800)));
    EXPECT_EQ(KXAPI_E_XML_SYNTAX, doc.Parse(std::wstring(L"<a/>") + static_cast<wchar_t>(0x110000)));
    EXPECT_EQ(KXAPI_E_XML_SYNTAX, doc.Parse(std::wstring(L"<a/>") + static_cast<wchar_t>(-1)));
    EXPECT_EQ(KXAPI_E_XML_SYNTAX, doc.Parse(L"<a><b></a>"));
    EXPECT_EQ(KXAPI_E_XML_SYNTAX, doc.Parse(L"<a x=\"1"));
    EXPECT_EQ(KXAPI_E_TOO_LONG, doc.Parse(std::wstring(MARKUP_MAX_CHARS + 1, L' ')));
    EXPECT_FALSE(doc.Top().FindChild("a").Valid()) << "a failed parse leaves no content";

    // Deep nesting neither recurses nor crashes; entities are not expanded.
    std::wstring deep;
    for (int i = 0; i < 200000; i++)
        deep += L"<d>";
    EXPECT_EQ(KXAPI_E_XML_SYNTAX, doc.Parse(deep));
    if (doc.Parse(L"<!DOCTYPE a [<!ENTITY e \"xxxx\">]><a>&e;&e;</a>") == KXAPI_OK) {
        EXPECT_EQ(nullptr, std::strstr(doc.Top().FindChild("a").Node().child_value(), "xxxx"));
    }

    ASSERT_EQ(KXAPI_OK, doc.Parse(L"<FreqHz> 474000000 </FreqHz><Empty></Empty><Bad>12x</Bad>"));
    int64_t value = 0;
    EXPECT_EQ(KXAPI_OK, doc.Top().FindChild("FreqHz").GetTextInt(value));
    EXPECT_EQ(474000000, value);
    EXPECT_EQ(KXAPI_E_XML_ELEM, doc.Top().FindChild("Empty").GetTextInt(value));
    EXPECT_EQ(KXAPI_E_XML_SYNTAX, doc.Top().FindChild("Bad").GetTextInt(value));

    std::wstring invalidUtf8;
    Utf8AppendToWide("\xC3\x28\xF0\x9F\x93", 5, invalidUtf8);
    EXPECT_EQ((std::wstring{0xFFFD, L'(', 0xFFFD, 0xFFFD, 0xFFFD}), invalidUtf8);
}
