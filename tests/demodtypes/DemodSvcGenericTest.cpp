// Generic (XML) command bodies, integer elements and the event messages.
#include <gtest/gtest.h>

#include <vector>

#include "DemodSvcEvents.h"
#include "DemodSvcGeneric.h"
#include "Markup.h"

using namespace Kxapi;

namespace {

using Bytes = std::vector<uint8_t>;

uint32_t U32At(const Bytes& b, size_t at)
{
    return uint32_t(b.at(at)) | uint32_t(b.at(at + 1)) << 8 | uint32_t(b.at(at + 2)) << 16 | uint32_t(b.at(at + 3)) << 24;
}
int64_t I64At(const Bytes& b, size_t at) { return int64_t(uint64_t(U32At(b, at)) | uint64_t(U32At(b, at + 4)) << 32); }

} // namespace

TEST(DemodGeneric, RequestIsCodeWideTextAndWideNul)
{
    Bytes m = DemodBuildGenericReq(45, L"<a>1</a>");
    ASSERT_EQ(m.size(), 4u * (8 + 2));
    EXPECT_EQ(U32At(m, 0), 45u);
    EXPECT_EQ(U32At(m, 4), uint32_t('<'));
    EXPECT_EQ(U32At(m, 32), uint32_t('>'));
    EXPECT_EQ(U32At(m, 36), 0u);
    std::wstring text;
    EXPECT_EQ(DemodParseGenericReq(m.data(), m.size(), text), KXAPI_OK);
    EXPECT_EQ(text, L"<a>1</a>");

    // Non-ASCII characters travel as 4-byte code points.
    m = DemodBuildGenericReq(45, L"\u00e9\U0001F600");
    EXPECT_EQ(U32At(m, 4), 0xE9u);
    EXPECT_EQ(U32At(m, 8), 0x1F600u);

    // Shorter than 8 bytes, no final NUL, a partial character: internal error.
    Bytes bad = DemodBuildGenericReq(37, L"");
    EXPECT_EQ(bad.size(), 8u);
    EXPECT_EQ(DemodParseGenericReq(bad.data(), bad.size(), text), KXAPI_OK);
    EXPECT_TRUE(text.empty());
    EXPECT_EQ(DemodParseGenericReq(bad.data(), 4, text), KXAPI_E_INTERNAL);
    bad = DemodBuildGenericReq(37, L"<x/>");
    bad.back() = 1;
    EXPECT_EQ(DemodParseGenericReq(bad.data(), bad.size(), text), KXAPI_E_INTERNAL);
    bad = DemodBuildGenericReq(37, L"<x/>");
    bad.push_back(0);
    EXPECT_EQ(DemodParseGenericReq(bad.data(), bad.size(), text), KXAPI_E_INTERNAL);
}

TEST(DemodGeneric, ReplyWithoutTextIsThePlainEightBytes)
{
    Bytes empty = DemodBuildGenericReply(36, KXAPI_E_INVALID_MODTYPE, L"");
    ASSERT_EQ(empty.size(), 8u);
    EXPECT_EQ(U32At(empty, 4), KXAPI_E_INVALID_MODTYPE);
    std::wstring text = L"stale";
    EXPECT_EQ(DemodParseGenericReply(empty.data(), empty.size(), 36, text), KXAPI_E_INVALID_MODTYPE);
    EXPECT_TRUE(text.empty());

    Bytes full = DemodBuildGenericReply(45, KXAPI_OK, L"<FreqHz>1</FreqHz>");
    ASSERT_EQ(full.size(), 12u + 4u * 18);
    EXPECT_EQ(U32At(full, 8), uint32_t('<'));
    EXPECT_EQ(U32At(full, full.size() - 4), 0u);
    EXPECT_EQ(DemodParseGenericReply(full.data(), full.size(), 45, text), KXAPI_OK);
    EXPECT_EQ(text, L"<FreqHz>1</FreqHz>");
    EXPECT_EQ(DemodParseGenericReply(full.data(), full.size(), 46, text), KXAPI_E_INTERNAL);
    EXPECT_EQ(DemodParseGenericReply(full.data(), full.size() - 1, 45, text), KXAPI_E_INTERNAL);
    EXPECT_EQ(DemodParseGenericReply(full.data(), 10, 45, text), KXAPI_E_INTERNAL);
}

TEST(DemodGeneric, IntegerElementsAreFoundByNameInAnyOrder)
{
    std::wstring xml;
    DemodAppendIntElem(xml, DEMOD_ELEM_FREQ_HZ, 11725000000LL);
    DemodAppendIntElem(xml, DEMOD_ELEM_TUNER_ID, -1);
    EXPECT_EQ(xml, L"<FreqHz>11725000000</FreqHz><TunerId>-1</TunerId>");

    Markup doc;
    ASSERT_EQ(doc.Parse(L"<Unknown a=\"1\"/><TunerId>2</TunerId><FreqHz>474000000</FreqHz><Empty></Empty>"), KXAPI_OK);
    int64_t freq = 0;
    int32_t tuner = 0;
    EXPECT_EQ(DemodGetIntElem(doc, DEMOD_ELEM_FREQ_HZ, freq), KXAPI_OK);
    EXPECT_EQ(freq, 474000000);
    EXPECT_EQ(DemodGetIntElem(doc, DEMOD_ELEM_TUNER_ID, tuner), KXAPI_OK);
    EXPECT_EQ(tuner, 2);
    // Missing, empty, not a number or out of the 32-bit range: internal error.
    EXPECT_EQ(DemodGetIntElem(doc, "StartFreqHz", freq), KXAPI_E_INTERNAL);
    EXPECT_EQ(DemodGetIntElem(doc, "Empty", freq), KXAPI_E_INTERNAL);
    ASSERT_EQ(doc.Parse(L"<FreqHz>12ab</FreqHz><TunerId>4294967296</TunerId>"), KXAPI_OK);
    EXPECT_EQ(DemodGetIntElem(doc, DEMOD_ELEM_FREQ_HZ, freq), KXAPI_E_INTERNAL);
    EXPECT_EQ(DemodGetIntElem(doc, DEMOD_ELEM_TUNER_ID, tuner), KXAPI_E_INTERNAL);
    EXPECT_EQ(freq, 474000000);
}

TEST(DemodGeneric, ConstellationPointElements)
{
    std::wstring xml;
    DemodAppendConstPointElems(xml, {{-5, 7}, {2147483647, -2147483647 - 1}});
    EXPECT_EQ(xml, L"<KxConstPoint X=\"-5\" Y=\"7\"/><KxConstPoint X=\"2147483647\" Y=\"-2147483648\"/>");
    Markup doc;
    ASSERT_EQ(doc.Parse(xml), KXAPI_OK);
    std::vector<KxConstelPoint> pts;
    EXPECT_EQ(DemodGetConstPointElems(doc, 2, pts), KXAPI_OK);
    ASSERT_EQ(pts.size(), 2u);
    EXPECT_EQ(pts[1].m_Y, INT32_MIN);
    EXPECT_EQ(DemodGetConstPointElems(doc, 3, pts), KXAPI_E_INTERNAL);
    EXPECT_TRUE(pts.empty());
    ASSERT_EQ(doc.Parse(L"<KxConstPoint X=\"1\" Y=\"2147483648\"/>"), KXAPI_OK);
    EXPECT_EQ(DemodGetConstPointElems(doc, 1, pts), KXAPI_E_INTERNAL);
    ASSERT_EQ(doc.Parse(L""), KXAPI_OK);
    EXPECT_EQ(DemodGetConstPointElems(doc, 0, pts), KXAPI_OK);
}

TEST(DemodEvents, FrequencyAndParameterEventsHaveTheirFixedLayouts)
{
    Bytes f = DemodBuildFreqEvent(1234567, 2, 474000000, 482000000);
    ASSERT_EQ(f.size(), 40u);
    EXPECT_EQ(U32At(f, 0), 0u);
    EXPECT_EQ(U32At(f, 4), 0u);
    EXPECT_EQ(I64At(f, 8), 1234567);
    EXPECT_EQ(U32At(f, 16), 2u);
    EXPECT_EQ(U32At(f, 20), 0u);
    EXPECT_EQ(I64At(f, 24), 474000000);
    EXPECT_EQ(I64At(f, 32), 482000000);

    const OldStyleParsWire oldPars{9, 2, 0x21111, 0};
    const OldStyleParsWire newPars{6, 1, 0, 6900000};
    Bytes p = DemodBuildParsEvent(7, 1, 474000000, oldPars, 306000000, newPars);
    ASSERT_EQ(p.size(), 72u);
    EXPECT_EQ(U32At(p, 0), 1u);
    EXPECT_EQ(I64At(p, 24), 474000000);
    EXPECT_EQ(U32At(p, 32), 9u);
    EXPECT_EQ(U32At(p, 40), 0x21111u);
    EXPECT_EQ(I64At(p, 48), 306000000);
    EXPECT_EQ(U32At(p, 56), 6u);
    EXPECT_EQ(U32At(p, 68), 6900000u);

    DemodEvent ev;
    ASSERT_EQ(DemodParseEvent(p.data(), p.size(), ev), KXAPI_OK);
    EXPECT_EQ(ev.m_Kind, 1u);
    EXPECT_EQ(ev.m_Serial, 7);
    EXPECT_EQ(ev.m_OldPars, oldPars);
    EXPECT_EQ(ev.m_NewPars, newPars);
    EXPECT_EQ(ev.m_NewFreqHz, 306000000);
    // Dispatch only at the exact sizes.
    EXPECT_EQ(DemodParseEvent(p.data(), 71, ev), KXAPI_E_INVALID_PARS);
    p.push_back(0);
    EXPECT_EQ(DemodParseEvent(p.data(), p.size(), ev), KXAPI_E_INVALID_PARS);
    ASSERT_EQ(DemodParseEvent(f.data(), f.size(), ev), KXAPI_OK);
    EXPECT_EQ(ev.m_OldFreqHz, 474000000);
    f.push_back(0);
    EXPECT_EQ(DemodParseEvent(f.data(), f.size(), ev), KXAPI_E_INVALID_PARS);
}

TEST(DemodEvents, ScanProgressCarriesWideTextAndIsFramedWithATwoByteLength)
{
    const std::wstring xml = L"<BSprog frq=\"-1\" evnt=\"2\" chf=\"0\" res=\"0\"/>";
    Bytes b = DemodBuildScanEvent(DEMOD_EVENT_BLIND_SCAN, 5, 1, xml);
    ASSERT_EQ(b.size(), 28u + 4u * xml.size());
    EXPECT_EQ(U32At(b, 0), 2u);
    EXPECT_EQ(U32At(b, 24), uint32_t('<'));
    DemodEvent ev;
    ASSERT_EQ(DemodParseEvent(b.data(), b.size(), ev), KXAPI_OK);
    EXPECT_EQ(ev.m_Xml, xml);

    Bytes frame;
    ASSERT_EQ(DemodFrameEvent(b, frame), KXAPI_OK);
    ASSERT_EQ(frame.size(), b.size() + 2);
    EXPECT_EQ(size_t(frame[0]) | size_t(frame[1]) << 8, b.size());
    EXPECT_EQ(Bytes(frame.begin() + 2, frame.end()), b);

    // A bare header of kind 2 or 3 is ignored, as are bodies above 64 KiB and unknown kinds.
    Bytes header = DemodBuildScanEvent(DEMOD_EVENT_SPECTRUM_SCAN, 5, 1, L"");
    EXPECT_EQ(DemodParseEvent(header.data(), 24, ev), KXAPI_E_INVALID_PARS);
    EXPECT_EQ(DemodParseEvent(header.data(), header.size(), ev), KXAPI_OK);
    // Scan reports whose parameters run long: over a kilobyte, and the largest body, which takes
    // the message framing's long header.
    Bytes longer = DemodBuildScanEvent(DEMOD_EVENT_BLIND_SCAN, 5, 1, std::wstring(300, L'a'));
    ASSERT_EQ(DemodParseEvent(longer.data(), longer.size(), ev), KXAPI_OK);
    EXPECT_EQ(ev.m_Xml, std::wstring(300, L'a'));
    const size_t largestText = (DEMOD_EVENT_MAX_BODY - 24) / 4 - 1;
    Bytes largest = DemodBuildScanEvent(DEMOD_EVENT_BLIND_SCAN, 5, 1, std::wstring(largestText, L'b'));
    ASSERT_EQ(largest.size(), DEMOD_EVENT_MAX_BODY);
    ASSERT_EQ(DemodParseEvent(largest.data(), largest.size(), ev), KXAPI_OK);
    EXPECT_EQ(ev.m_Xml.size(), largestText);
    ASSERT_EQ(DemodFrameEvent(largest, frame), KXAPI_OK);
    ASSERT_EQ(frame.size(), largest.size() + 8);
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 4), (Bytes{0xFF, 0xFF, 0, 0}));
    EXPECT_EQ(U32At(frame, 4), DEMOD_EVENT_MAX_BODY);
    Bytes huge = DemodBuildScanEvent(DEMOD_EVENT_SPECTRUM_SCAN, 5, 1, std::wstring(largestText + 1, L'a'));
    EXPECT_EQ(DemodParseEvent(huge.data(), huge.size(), ev), KXAPI_E_INVALID_PARS);
    EXPECT_EQ(DemodFrameEvent(huge, frame), KXAPI_E_TOO_LONG);
    Bytes unknown = DemodBuildFreqEvent(1, 1, 0, 0);
    unknown[0] = 4;
    EXPECT_EQ(DemodParseEvent(unknown.data(), unknown.size(), ev), KXAPI_E_INVALID_PARS);
}

TEST(DemodEvents, EventFifoNameFormatAndLimit)
{
    std::wstring name;
    ASSERT_EQ(DemodMakeEventPipeName(2170001234LL, 1, 4711, 0, name), KXAPI_OK);
    EXPECT_EQ(name, L"KxapiDemodSvc_EvPipe_2170001234_1_4711_0");
    ASSERT_EQ(DemodMakeEventPipeName(-1, -1, -1, -1, name), KXAPI_OK);
    EXPECT_EQ(name, L"KxapiDemodSvc_EvPipe_-1_-1_-1_-1");
    // The largest numbers exceed 63 characters.
    EXPECT_EQ(DemodMakeEventPipeName(INT64_MIN, INT32_MIN, INT32_MIN, INT32_MIN, name), KXAPI_E_TOO_LONG);
}
