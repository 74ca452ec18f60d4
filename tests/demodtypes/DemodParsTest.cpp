// KxDemodPars: type registry, XML form, legacy four-integer form and validity rules.
#include <gtest/gtest.h>

#include "DemodPars.h"
#include "DvbS2ModCod.h"

using namespace Kxapi;

namespace {

std::wstring Xml(const KxDemodPars& pars)
{
    std::wstring text;
    EXPECT_EQ(KXAPI_OK, pars.ToXml(text));
    return text;
}

KxDemodPars RoundTrip(const KxDemodPars& pars)
{
    KxDemodPars parsed;
    EXPECT_EQ(KXAPI_OK, parsed.FromXml(Xml(pars)));
    return parsed;
}

} // namespace

TEST(DemodParsTypes, DefaultIsUnsetAndSerialisesWithoutChild)
{
    KxDemodPars pars;
    EXPECT_EQ(-1, pars.ModType());
    EXPECT_EQ(L"<KxDemodPars mod=\"-1\"/>", Xml(pars));
    EXPECT_EQ(KXAPI_E_INVALID_MODTYPE, pars.CheckValidity());
}

TEST(DemodParsTypes, SetModTypeKeepsSameTypeAndReplacesOther)
{
    KxDemodPars pars;
    EXPECT_EQ(KXAPI_E_INVALID_MODTYPE, pars.SetModType(1));
    EXPECT_EQ(KXAPI_E_INVALID_MODTYPE, pars.SetModType(36));
    EXPECT_EQ(-1, pars.ModType());
    ASSERT_EQ(KXAPI_OK, pars.SetModType(KX_MOD_DVBS));
    pars.DvbS()->m_SymRateBd = 27500000;
    ASSERT_EQ(KXAPI_OK, pars.SetModType(KX_MOD_DVBS));
    EXPECT_EQ(27500000, pars.DvbS()->m_SymRateBd);
    ASSERT_EQ(KXAPI_OK, pars.SetModType(KX_MOD_DVBT));
    EXPECT_FALSE(pars.IsDvbS());
    EXPECT_EQ(nullptr, pars.DvbS());
    EXPECT_EQ(0, pars.DvbT()->m_Bandwidth);
    ASSERT_EQ(KXAPI_OK, pars.SetModType(KX_MOD_ISDBT));
    EXPECT_EQ(22, pars.Isdbt()->m_SubChannel);
}

TEST(DemodParsTypes, EveryCodeSelectsItsRecord)
{
    struct {
        int32_t m_Code;
        bool (KxDemodPars::*m_Is)() const;
    } rows[] = {{0, &KxDemodPars::IsDvbS},     {3, &KxDemodPars::IsQam},      {8, &KxDemodPars::IsQam},
                {54, &KxDemodPars::IsQam},     {9, &KxDemodPars::IsDvbT},     {10, &KxDemodPars::IsAtsc},
                {11, &KxDemodPars::IsDvbT2},   {12, &KxDemodPars::IsIsdbt},   {15, &KxDemodPars::IsIq},
                {78126315, &KxDemodPars::IsIq}, {16, &KxDemodPars::IsIq3460}, {32, &KxDemodPars::IsDvbS2},
                {35, &KxDemodPars::IsDvbS2},   {37, &KxDemodPars::IsDvbS2},   {60, &KxDemodPars::IsDvbS2},
                {67, &KxDemodPars::IsDvbS2},   {52, &KxDemodPars::IsDvbC2},   {53, &KxDemodPars::IsDab},
                {69, &KxDemodPars::IsAtsc3}};
    for (const auto& row : rows) {
        KxDemodPars pars;
        ASSERT_EQ(KXAPI_OK, pars.SetModType(row.m_Code)) << row.m_Code;
        EXPECT_TRUE((pars.*row.m_Is)()) << row.m_Code;
    }
    for (int32_t bad : {1, 2, 13, 14, 17, 31, 36, 38, 51, 55, 59, 68, 70, -2}) {
        EXPECT_EQ(KXAPI_E_INVALID_MODTYPE, KxDemodPars().SetModType(bad)) << bad;
        EXPECT_STREQ("?", KxModTypeName(bad));
    }
    // Every type has a printable name.
    for (const auto& row : rows)
        EXPECT_STRNE("?", KxModTypeName(row.m_Code)) << row.m_Code;
    EXPECT_STREQ("DVB-S2X 16APSK-L", KxModTypeName(61));
}

TEST(DemodParsTypes, CopyIsDeep)
{
    KxDemodPars a(KX_MOD_DVBS2_8PSK);
    a.DvbS2()->m_ModCods.push_back({KX_S2_8PSK, KX_CR_3_4, true, 70});
    KxDemodPars b = a;
    b.DvbS2()->m_ModCods[0].m_Enable = false;
    EXPECT_TRUE(a.DvbS2()->m_ModCods[0].m_Enable);
    EXPECT_FALSE(a == b);
}

TEST(DemodParsTypes, QamAnnexTests)
{
    KxDemodPars pars(KX_MOD_QAM64);
    pars.Qam()->m_Annex = 1;
    EXPECT_TRUE(pars.IsQamAC());
    EXPECT_FALSE(pars.IsQamB());
    pars.Qam()->m_Annex = 3;
    EXPECT_TRUE(pars.IsQamB());
    EXPECT_FALSE(pars.IsQamAC());
}

TEST(DemodParsXml, HandWrittenForms)
{
    KxDemodPars t(KX_MOD_DVBT);
    *t.DvbT() = {};
    t.DvbT()->m_CodeRate = 2;
    t.DvbT()->m_Bandwidth = 3;
    t.DvbT()->m_Constellation = 48;
    t.DvbT()->m_Guard = 256;
    t.DvbT()->m_Interleaving = 4096;
    t.DvbT()->m_Mode = 0x20000;
    EXPECT_EQ(L"<KxDemodPars mod=\"9\"><T cr=\"2\" bw=\"3\" co=\"48\" gu=\"256\" il=\"4096\" mode=\"131072\"/>"
              L"</KxDemodPars>",
              Xml(t));

    KxDemodPars qam(KX_MOD_QAM256);
    qam.Qam()->m_Annex = 1;
    qam.Qam()->m_Interleaving = 5;
    qam.Qam()->m_SymRateBd = 6900000;
    EXPECT_EQ(L"<KxDemodPars mod=\"8\"><Qam anx=\"1\" symb=\"6900000\"/></KxDemodPars>", Xml(qam));
    qam.Qam()->m_Annex = 3;
    EXPECT_EQ(L"<KxDemodPars mod=\"8\"><Qam anx=\"3\" il=\"5\" symb=\"6900000\"/></KxDemodPars>", Xml(qam));

    KxDemodPars s2(KX_MOD_DVBS2);
    *s2.DvbS2() = {};
    s2.DvbS2()->m_CodeRate = 15;
    s2.DvbS2()->m_Pilots = 3;
    s2.DvbS2()->m_SpecInv = 48;
    s2.DvbS2()->m_FecFrame = 12;
    s2.DvbS2()->m_SymRateBd = 27500000;
    s2.DvbS2()->m_ModCods.push_back({32, 2, true, 45});
    EXPECT_EQ(L"<KxDemodPars mod=\"37\"><S2 cr=\"15\" plt=\"3\" inv=\"48\" fec=\"12\" symb=\"27500000\" am=\"0\" "
              L"hm=\"0\"><Mcs><Mcp mod=\"32\" cr=\"2\" ena=\"1\" snr=\"45\"/></Mcs></S2></KxDemodPars>",
              Xml(s2));

    KxDemodPars isdbt(KX_MOD_ISDBT);
    isdbt.Isdbt()->m_Bandwidth = 48;
    isdbt.Isdbt()->m_NumSegments = 13;
    EXPECT_EQ(L"<KxDemodPars mod=\"12\"><Isdbt bw=\"48\" nbseg=\"13\"/></KxDemodPars>", Xml(isdbt));
    EXPECT_EQ(L"<KxDemodPars mod=\"53\"/>", Xml(KxDemodPars(KX_MOD_DAB)));
    KxDemodPars c2(KX_MOD_DVBC2);
    c2.DvbC2()->m_BandwidthMhz = 8;
    c2.DvbC2()->m_SeekL1Part2 = true;
    EXPECT_EQ(L"<KxDemodPars mod=\"52\"><C2 bw=\"8\" sl1p2=\"1\"/></KxDemodPars>", Xml(c2));
}

TEST(DemodParsXml, RoundTripOfEveryType)
{
    KxDemodPars s(KX_MOD_DVBS);
    *s.DvbS() = {};
    s.DvbS()->m_CodeRate = 4;
    s.DvbS()->m_SpecInv = 16;
    s.DvbS()->m_SymRateBd = -1;
    KxDemodPars qam(KX_MOD_QAM64);
    qam.Qam()->m_Annex = 3;
    qam.Qam()->m_Interleaving = 14;
    qam.Qam()->m_SymRateBd = 5056941;
    KxDemodPars t(KX_MOD_DVBT);
    t.DvbT()->m_Mode = 0xF0000;
    t.DvbT()->m_Guard = 3840;
    KxDemodPars atsc(KX_MOD_ATSC);
    atsc.Atsc()->m_Constellation = 3;
    KxDemodPars t2(KX_MOD_DVBT2);
    t2.DvbT2()->m_Bandwidth = 5;
    t2.DvbT2()->m_Profile = 1;
    KxDemodPars isdbt(KX_MOD_ISDBT);
    isdbt.Isdbt()->m_Bandwidth = 64;
    isdbt.Isdbt()->m_NumSegments = 3;
    KxDemodPars iq(KX_MOD_IQ_ALT);
    iq.Iq()->m_BandwidthHz = 100000000;
    iq.Iq()->m_IqDataType = 1;
    iq.Iq()->m_SampleRateHz = 125000000;
    KxDemodPars iq3460(KX_MOD_IQ3460);
    iq3460.Iq3460()->m_IqFreqHz = 36000000;
    iq3460.Iq3460()->m_ScaleFactor = 0.1;
    iq3460.Iq3460()->m_SampleRateHz = 13500000;
    iq3460.Iq3460()->m_Filter = {{0, -0.25}, {1, 0.3333333333333333}, {2, 1.0}};
    iq3460.Iq3460()->m_Tuner = {4, 7000000, 5000000, 3, 4, -1, 1, 0, 1};
    KxDemodPars s2(KX_MOD_DVBS2X_256APSK);
    s2.DvbS2()->m_CodeRate = 30;
    s2.DvbS2()->m_AutoMute = 1;
    s2.DvbS2()->m_HystTenthsDb = 5;
    s2.DvbS2()->m_ModCods = {{32, 7, true, -20}, {67, 2, false, 190}};
    KxDemodPars c2(KX_MOD_DVBC2);
    c2.DvbC2()->m_BandwidthMhz = 6;
    c2.DvbC2()->m_SeekL1Part2 = true;
    KxDemodPars a3(KX_MOD_ATSC3);
    a3.Atsc3()->m_Bandwidth = 2;
    a3.Atsc3()->m_AutoInitChanAcq = true;
    for (const KxDemodPars* pars : {&s, &qam, &t, &atsc, &t2, &iq, &iq3460, &s2, &c2, &a3})
        EXPECT_EQ(*pars, RoundTrip(*pars)) << pars->ModType();
    // The ISDB-T sub-channel is not part of the form: a parsed record carries the new-record 22.
    isdbt.Isdbt()->m_SubChannel = 7;
    KxDemodPars parsed = RoundTrip(isdbt);
    EXPECT_EQ(22, parsed.Isdbt()->m_SubChannel);
    EXPECT_EQ(64, parsed.Isdbt()->m_Bandwidth);
    EXPECT_EQ(3, parsed.Isdbt()->m_NumSegments);
    EXPECT_EQ(KxDemodPars(KX_MOD_DAB), RoundTrip(KxDemodPars(KX_MOD_DAB)));
    EXPECT_EQ(KxDemodPars(), RoundTrip(KxDemodPars()));
}

TEST(DemodParsXml, ParsingIsTolerantOfOrderAndUnknownsButNotOfBadInput)
{
    KxDemodPars pars;
    ASSERT_EQ(KXAPI_OK, pars.FromXml(L"<FreqHz>1</FreqHz><KxDemodPars mod=\"0\" x=\"1\"><Other/>"
                                     L"<S symb=\"27500000\" cr=\"1\" zz=\"4\"/></KxDemodPars>"));
    ASSERT_TRUE(pars.IsDvbS());
    EXPECT_EQ(1, pars.DvbS()->m_CodeRate);
    EXPECT_EQ(27500000, pars.DvbS()->m_SymRateBd);

    KxDemodPars kept(KX_MOD_ATSC);
    EXPECT_EQ(KXAPI_E_XML_ELEM, kept.FromXml(L"<Tune/>"));
    EXPECT_EQ(KXAPI_E_XML_ELEM, kept.FromXml(L"<KxDemodPars/>"));
    EXPECT_EQ(KXAPI_E_INVALID_MODTYPE, kept.FromXml(L"<KxDemodPars mod=\"2\"/>"));
    EXPECT_EQ(KXAPI_E_XML_SYNTAX, kept.FromXml(L"<KxDemodPars mod=\"nine\"/>"));
    EXPECT_EQ(KXAPI_E_XML_SYNTAX, kept.FromXml(L"<KxDemodPars mod=\"9\"><T bw=\"99999999999\"/></KxDemodPars>"));
    EXPECT_EQ(KXAPI_E_XML_SYNTAX, kept.FromXml(L"<KxDemodPars mod=\"9\"><T bw=\"1\"></KxDemodPars>"));
    EXPECT_TRUE(kept.IsAtsc()) << "a failed parse leaves the object unchanged";

    std::wstring many = L"<KxDemodPars mod=\"32\"><S2><Mcs>";
    for (size_t i = 0; i <= KX_DVBS2_MAX_MODCODS; i++)
        many += L"<Mcp mod=\"32\" cr=\"1\"/>";
    many += L"</Mcs></S2></KxDemodPars>";
    EXPECT_EQ(KXAPI_E_TOO_LONG, kept.FromXml(many));
}

TEST(DemodParsLegacy, DvbTNibblesAndMasks)
{
    KxDemodPars pars;
    ASSERT_EQ(KXAPI_OK, pars.FromOldStyle(9, 2, 0x54321, 0));
    EXPECT_EQ(2, pars.DvbT()->m_CodeRate);
    EXPECT_EQ(1, pars.DvbT()->m_Bandwidth);
    EXPECT_EQ(0x20, pars.DvbT()->m_Constellation);
    EXPECT_EQ(0x300, pars.DvbT()->m_Guard);
    EXPECT_EQ(0x4000, pars.DvbT()->m_Interleaving);
    EXPECT_EQ(0x50000, pars.DvbT()->m_Mode);

    ASSERT_EQ(KXAPI_OK, pars.FromOldStyle(0, 4, 0x7F, 27500000));
    EXPECT_EQ(0x30, pars.DvbS()->m_SpecInv);
    ASSERT_EQ(KXAPI_OK, pars.FromOldStyle(6, 0x13, 0x25, 6900000));
    EXPECT_EQ(3, pars.Qam()->m_Annex);
    EXPECT_EQ(5, pars.Qam()->m_Interleaving);
    ASSERT_EQ(KXAPI_OK, pars.FromOldStyle(10, 7, 9, 9));
    EXPECT_EQ(3, pars.Atsc()->m_Constellation);
    ASSERT_EQ(KXAPI_OK, pars.FromOldStyle(33, 11, 0x3F, 30000000));
    EXPECT_EQ(3, pars.DvbS2()->m_Pilots);
    EXPECT_EQ(0xC, pars.DvbS2()->m_FecFrame);
    EXPECT_EQ(0x30, pars.DvbS2()->m_SpecInv);
    EXPECT_EQ(11, pars.DvbS2()->m_CodeRate);
    ASSERT_EQ(KXAPI_OK, pars.FromOldStyle(15, 1, 2, 3));
    EXPECT_EQ(8000000, pars.Iq()->m_BandwidthHz);
    EXPECT_EQ(0, pars.Iq()->m_IqDataType);
}

TEST(DemodParsLegacy, RoundTripAndRefusals)
{
    struct {
        int32_t m_Mod, m_X0, m_X1, m_X2;
    } forms[] = {{0, 2, 0x30, 27500000}, {8, 1, 0, 6875000}, {6, 3, 12, 5056941}, {9, 4, 0xF1F30, 0},
                 {10, 1, 0, 0},          {37, 15, 0x3F, -1}, {61, 21, 0x19, 1000000}};
    for (const auto& f : forms) {
        KxDemodPars pars;
        ASSERT_EQ(KXAPI_OK, pars.FromOldStyle(f.m_Mod, f.m_X0, f.m_X1, f.m_X2)) << f.m_Mod;
        int32_t mod = 0, x0 = 0, x1 = 0, x2 = 0;
        ASSERT_EQ(KXAPI_OK, pars.ToOldStyle(mod, x0, x1, x2));
        EXPECT_EQ(f.m_Mod, mod);
        EXPECT_EQ(f.m_X0, x0) << f.m_Mod;
        EXPECT_EQ(f.m_X1, x1) << f.m_Mod;
        EXPECT_EQ(f.m_X2, x2) << f.m_Mod;
    }
    KxDemodPars pars(KX_MOD_DVBS);
    for (int32_t mod : {11, 12, 52, 16})
        EXPECT_EQ(KXAPI_E_NOT_SUPPORTED, pars.FromOldStyle(mod, 0, 0, 0)) << mod;
    for (int32_t mod : {-1, 1, 53, 69, 100})
        EXPECT_EQ(KXAPI_E_INVALID_MODTYPE, pars.FromOldStyle(mod, 0, 0, 0)) << mod;
    EXPECT_TRUE(pars.IsDvbS());
    int32_t mod, x0, x1, x2;
    EXPECT_EQ(KXAPI_E_NOT_SUPPORTED, KxDemodPars(KX_MOD_DVBT2).ToOldStyle(mod, x0, x1, x2));
    EXPECT_EQ(KXAPI_E_INVALID_MODTYPE, KxDemodPars().ToOldStyle(mod, x0, x1, x2));

    // The same type keeps the record's other fields (here the mod-cod table).
    KxDemodPars s2(KX_MOD_DVBS2_QPSK);
    s2.DvbS2()->m_ModCods.push_back({32, 0, true, 10});
    ASSERT_EQ(KXAPI_OK, s2.FromOldStyle(32, 2, 0, 1000000));
    EXPECT_EQ(1u, s2.DvbS2()->m_ModCods.size());
}

TEST(DemodParsValidity, RulesPerStandard)
{
    KxDemodPars s(KX_MOD_DVBS);
    for (int cr : {0, 1, 2, 4, 6, 15}) {
        *s.DvbS() = {};
        s.DvbS()->m_CodeRate = cr;
        EXPECT_EQ(KXAPI_OK, s.CheckValidity()) << cr;
    }
    s.DvbS()->m_CodeRate = 3;
    EXPECT_EQ(KXAPI_E_INVALID_RATE, s.CheckValidity());
    s.DvbS()->m_CodeRate = 0;
    s.DvbS()->m_SpecInv = 32;
    EXPECT_EQ(KXAPI_E_INVALID_MODPARS, s.CheckValidity());
    s.DvbS()->m_SpecInv = 48;
    s.DvbS()->m_SymRateBd = -2;
    EXPECT_EQ(KXAPI_E_INVALID_SYMRATE, s.CheckValidity());

    KxDemodPars q(KX_MOD_QAM16);
    EXPECT_EQ(KXAPI_E_INVALID_J83ANNEX, q.CheckValidity());
    q.Qam()->m_Annex = 3;
    EXPECT_EQ(KXAPI_E_INVALID_J83ANNEX, q.CheckValidity()) << "annex B only with 64 and 256";
    q.SetModType(KX_MOD_QAM256);
    q.Qam()->m_Annex = 3;
    q.Qam()->m_Interleaving = 11;
    EXPECT_EQ(KXAPI_E_INVALID_INTERLVNG, q.CheckValidity());
    q.Qam()->m_Interleaving = 15;
    EXPECT_EQ(KXAPI_OK, q.CheckValidity());
    q.Qam()->m_SymRateBd = -5;
    EXPECT_EQ(KXAPI_E_INVALID_SYMRATE, q.CheckValidity());

    KxDemodPars t;
    ASSERT_EQ(KXAPI_OK, t.FromOldStyle(9, 0, 0x12311, 0));
    EXPECT_EQ(KXAPI_OK, t.CheckValidity());
    struct {
        int32_t m_X1;
        KXAPI_RESULT m_Expected;
    } tCases[] = {{0x12315, KXAPI_E_INVALID_BANDWIDTH}, {0x12301, KXAPI_E_INVALID_CONSTEL},
                  {0x12611, KXAPI_E_INVALID_GUARD},     {0x13311, KXAPI_E_INVALID_INTERLVNG},
                  {0x42311, KXAPI_E_INVALID_TRANSMODE}, {0xFF3F1, KXAPI_OK}};
    for (const auto& c : tCases) {
        ASSERT_EQ(KXAPI_OK, t.FromOldStyle(9, 0, c.m_X1, 0));
        EXPECT_EQ(c.m_Expected, t.CheckValidity()) << std::hex << c.m_X1;
    }

    KxDemodPars atsc(KX_MOD_ATSC);
    atsc.Atsc()->m_Constellation = 2;
    EXPECT_EQ(KXAPI_E_INVALID_CONSTEL, atsc.CheckValidity());
    KxDemodPars t2(KX_MOD_DVBT2);
    t2.DvbT2()->m_Bandwidth = 6;
    EXPECT_EQ(KXAPI_E_INVALID_BANDWIDTH, t2.CheckValidity());
    t2.DvbT2()->m_Bandwidth = 5;
    t2.DvbT2()->m_Profile = 2;
    EXPECT_EQ(KXAPI_E_INVALID_T2PROFILE, t2.CheckValidity());
    KxDemodPars isdbt(KX_MOD_ISDBT);
    isdbt.Isdbt()->m_Bandwidth = 32;
    isdbt.Isdbt()->m_NumSegments = 13;
    EXPECT_EQ(KXAPI_OK, isdbt.CheckValidity());
    isdbt.Isdbt()->m_SubChannel = 42;
    EXPECT_EQ(KXAPI_E_INVALID_SUBCH, isdbt.CheckValidity());
    isdbt.Isdbt()->m_SubChannel = 41;
    isdbt.Isdbt()->m_NumSegments = 2;
    EXPECT_EQ(KXAPI_E_INVALID_NUMSEGM, isdbt.CheckValidity());
    KxDemodPars c2(KX_MOD_DVBC2);
    c2.DvbC2()->m_BandwidthMhz = 7;
    EXPECT_EQ(KXAPI_E_INVALID_BANDWIDTH, c2.CheckValidity());
    KxDemodPars a3(KX_MOD_ATSC3);
    a3.Atsc3()->m_Bandwidth = 3;
    EXPECT_EQ(KXAPI_E_INVALID_BANDWIDTH, a3.CheckValidity());
    EXPECT_EQ(KXAPI_OK, KxDemodPars(KX_MOD_DAB).CheckValidity());

    KxDemodPars iq(KX_MOD_IQ);
    for (int32_t bw : {1700000, 10000000, 80000000, 248000000}) {
        iq.Iq()->m_BandwidthHz = bw;
        EXPECT_EQ(KXAPI_OK, iq.CheckValidity()) << bw;
    }
    for (int32_t bw : {0, 9000000, 79999999, 248000001}) {
        iq.Iq()->m_BandwidthHz = bw;
        EXPECT_EQ(KXAPI_E_INVALID_BANDWIDTH, iq.CheckValidity()) << bw;
    }
    iq.Iq()->m_IqDataType = 2;
    EXPECT_EQ(KXAPI_E_INVALID_ARG, iq.CheckValidity());
}

TEST(DemodParsValidity, Iq3460Tuner)
{
    KxDemodPars p(KX_MOD_IQ3460);
    p.Iq3460()->m_Tuner = {4, 1700000, 0, -1, 4, 3, 1, 1, 1};
    p.Iq3460()->m_ScaleFactor = 1.0;
    p.Iq3460()->m_Filter = {{0, -1.0}, {1, 1.0}};
    EXPECT_EQ(KXAPI_OK, p.CheckValidity());
    p.Iq3460()->m_Tuner.m_LpfOffset = 5;
    EXPECT_EQ(KXAPI_E_INVALID_ARG, p.CheckValidity());
    p.Iq3460()->m_Tuner.m_LpfOffset = 0;
    p.Iq3460()->m_Tuner.m_DcNotch = -2;
    EXPECT_EQ(KXAPI_E_INVALID_ARG, p.CheckValidity());
    p.Iq3460()->m_Tuner.m_DcNotch = 0;
    p.Iq3460()->m_Tuner.m_Standard = 6;
    EXPECT_EQ(KXAPI_E_INVALID_MODE, p.CheckValidity());
    p.Iq3460()->m_Tuner.m_Standard = 2;
    EXPECT_EQ(KXAPI_E_INVALID_BANDWIDTH, p.CheckValidity());
    p.Iq3460()->m_Tuner.m_BandwidthHz = 6000000;
    EXPECT_EQ(KXAPI_OK, p.CheckValidity());
    p.Iq3460()->m_Filter[1].m_Coef = 1.5;
    EXPECT_EQ(KXAPI_E_INVALID_ARG, p.CheckValidity());
    p.Iq3460()->m_Filter[1].m_Coef = 0.5;
    p.Iq3460()->m_ScaleFactor = -0.1;
    EXPECT_EQ(KXAPI_E_INVALID_ARG, p.CheckValidity());
}

TEST(DemodParsValidity, DvbS2AndModCodTable)
{
    KxDemodPars p(KX_MOD_DVBS2);
    EXPECT_EQ(KXAPI_E_INVALID_RATE, p.CheckValidity()) << "type 37 needs automatic everything";
    ASSERT_EQ(KXAPI_OK, p.FromOldStyle(37, 15, 0x0F, -1));
    EXPECT_EQ(KXAPI_OK, p.CheckValidity());
    p.DvbS2()->m_Pilots = 1;
    EXPECT_EQ(KXAPI_E_INVALID_PILOTS, p.CheckValidity());

    KxDemodPars q(KX_MOD_DVBS2_QPSK);
    for (int32_t cr : {13, 14, 16, 17, 38, -1}) {
        q.DvbS2()->m_CodeRate = cr;
        EXPECT_EQ(KXAPI_E_INVALID_RATE, q.CheckValidity()) << cr;
    }
    q.DvbS2()->m_CodeRate = 37;
    EXPECT_EQ(KXAPI_OK, q.CheckValidity());
    q.DvbS2()->m_Pilots = 2;
    EXPECT_EQ(KXAPI_E_INVALID_PILOTS, q.CheckValidity());
    q.DvbS2()->m_Pilots = 0;
    q.DvbS2()->m_FecFrame = 4;
    EXPECT_EQ(KXAPI_E_INVALID_MODPARS, q.CheckValidity());
    q.DvbS2()->m_FecFrame = 8;
    q.DvbS2()->m_SpecInv = 16;
    EXPECT_EQ(KXAPI_OK, q.CheckValidity());
    q.DvbS2()->m_SymRateBd = -2;
    EXPECT_EQ(KXAPI_E_INVALID_SYMRATE, q.CheckValidity());
    q.DvbS2()->m_SymRateBd = 0;

    // Pairs the standards define, and pairs they do not.
    q.DvbS2()->m_ModCods = {{KX_S2_QPSK, KX_CR_1_4, true, 0}, {KX_S2_8PSK, KX_CR_3_5, true, 0},
                            {KX_S2_16APSK, KX_CR_2_3, true, 0}, {KX_S2_32APSK, KX_CR_3_4, true, 0},
                            {KX_S2X_64APSK, KX_CR_5_6, true, 0}, {KX_S2X_256APSK, KX_CR_32_45, true, 0}};
    EXPECT_EQ(KXAPI_OK, q.CheckValidity());
    for (auto bad : {KxDvbS2ModCodPars{KX_S2_8PSK, KX_CR_1_2, true, 0}, KxDvbS2ModCodPars{KX_S2_16APSK, KX_CR_1_2, true, 0},
                     KxDvbS2ModCodPars{KX_S2_32APSK, KX_CR_2_5, true, 0}, KxDvbS2ModCodPars{KX_S2_QPSK, KX_CR_7_8, true, 0}}) {
        KxDemodPars withBad = q;
        withBad.DvbS2()->m_ModCods.push_back(bad);
        EXPECT_EQ(KXAPI_E_INVALID_RATE, withBad.CheckValidity()) << bad.m_ModType << "/" << bad.m_CodeRate;
    }
    q.DvbS2()->m_ModCods.push_back({KX_MOD_DVBS, KX_CR_1_2, true, 0});
    EXPECT_EQ(KXAPI_E_INVALID_MODTYPE, q.CheckValidity());
}

TEST(DemodParsValidity, ModCodTableMatchesTheStandardCounts)
{
    // EN 302 307-1 defines 11 QPSK, 6 8PSK, 6 16APSK and 5 32APSK rates.
    auto count = [](int32_t mod, std::initializer_list<int32_t> rates) {
        int n = 0;
        for (int32_t cr : rates)
            n += KxIsDvbS2ModCod(mod, cr) ? 1 : 0;
        return n;
    };
    std::initializer_list<int32_t> s2Rates = {0, 1, 2, 3, 4, 7, 8, 9, 10, 11, 12};
    EXPECT_EQ(11, count(KX_S2_QPSK, s2Rates));
    EXPECT_EQ(6, count(KX_S2_8PSK, s2Rates));
    EXPECT_EQ(6, count(KX_S2_16APSK, s2Rates) - (KxIsDvbS2ModCod(KX_S2_16APSK, KX_CR_3_5) ? 1 : 0));
    EXPECT_EQ(5, count(KX_S2_32APSK, {2, 3, 4, 11, 12}));
    EXPECT_FALSE(KxIsDvbS2ModCod(KX_S2_AUTO, KX_CR_AUTO));
    EXPECT_STREQ("13/45", KxCodeRateName(KX_CR_13_45));
    EXPECT_STREQ("?", KxCodeRateName(14));
}
