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
    ASSERT_EQ(KXAPI_OK, pars.FromOldStyle(6, 0x1A, 0x3B, 6900000));
    EXPECT_EQ(0xA, pars.Qam()->m_Annex);
    EXPECT_EQ(0xB, pars.Qam()->m_Interleaving);
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

namespace {

enum Field { CR, INV, SYM, ANX, IL, BW, CO, GU, MODE, PROF, SUB, SEG, IQDT, NOTHING };

// A valid parameter set of `mod` with one field changed.
KxDemodPars ValidWith(int32_t mod, Field field, int32_t value)
{
    KxDemodPars p(mod);
    if (auto* v = p.DvbS()) {
        int32_t* f[] = {&v->m_CodeRate, &v->m_SpecInv, &v->m_SymRateBd};
        if (field <= SYM)
            *f[field] = value;
    } else if (auto* v = p.Qam()) {
        v->m_Annex = field == IL ? 3 : 1;
        (field == IL ? v->m_Interleaving : field == SYM ? v->m_SymRateBd : v->m_Annex) = value;
    } else if (auto* v = p.DvbT()) {
        *v = {0, 4, 16, 256, 4096, 0x10000};
        int32_t* f[] = {&v->m_CodeRate, &v->m_Bandwidth, &v->m_Constellation, &v->m_Guard, &v->m_Interleaving,
                        &v->m_Mode};
        const Field order[] = {CR, BW, CO, GU, IL, MODE};
        for (int i = 0; i < 6; i++)
            if (order[i] == field)
                *f[i] = value;
    } else if (auto* v = p.Atsc()) {
        v->m_Constellation = field == CO ? value : 0;
    } else if (auto* v = p.DvbT2()) {
        (field == PROF ? v->m_Profile : v->m_Bandwidth) = value;
    } else if (auto* v = p.Isdbt()) {
        v->m_Bandwidth = 16;
        v->m_SubChannel = 0;
        v->m_NumSegments = 1;
        (field == BW ? v->m_Bandwidth : field == SUB ? v->m_SubChannel : v->m_NumSegments) = value;
    } else if (auto* v = p.DvbC2()) {
        v->m_BandwidthMhz = value;
    } else if (auto* v = p.Atsc3()) {
        v->m_Bandwidth = value;
    } else if (auto* v = p.Iq()) {
        v->m_BandwidthHz = field == BW ? value : 8000000;
        v->m_IqDataType = field == IQDT ? value : 0;
    }
    return p;
}

} // namespace

TEST(DemodParsValidity, EachStandardsCodeSetsOnBothSidesOfEveryBound)
{
    constexpr KXAPI_RESULT OK = KXAPI_OK;
    struct Row {
        int32_t m_Mod;
        Field m_Field;
        int32_t m_Value;
        KXAPI_RESULT m_Expected;
    } rows[] = {
        // DVB-S: code rates 1/2, 2/3, 3/4, 5/6, 7/8 and automatic; inversion 0, 16, 48; rates from -1.
        {0, CR, 0, OK}, {0, CR, 1, OK}, {0, CR, 2, OK}, {0, CR, 4, OK}, {0, CR, 6, OK}, {0, CR, 15, OK},
        {0, CR, 3, KXAPI_E_INVALID_RATE}, {0, CR, 5, KXAPI_E_INVALID_RATE}, {0, CR, 16, KXAPI_E_INVALID_RATE},
        {0, CR, -1, KXAPI_E_INVALID_RATE}, {0, INV, 16, OK}, {0, INV, 48, OK}, {0, INV, 32, KXAPI_E_INVALID_MODPARS},
        {0, INV, 1, KXAPI_E_INVALID_MODPARS}, {0, SYM, -1, OK}, {0, SYM, -2, KXAPI_E_INVALID_SYMRATE},
        // QAM: annex A, C and B; B only for 64 and 256 and then with its interleaving codes.
        {3, ANX, 1, OK}, {4, ANX, 2, OK}, {3, ANX, 0, KXAPI_E_INVALID_J83ANNEX}, {8, ANX, 4, KXAPI_E_INVALID_J83ANNEX},
        {6, ANX, 3, OK}, {8, ANX, 3, OK}, {7, ANX, 3, KXAPI_E_INVALID_J83ANNEX}, {5, ANX, 3, KXAPI_E_INVALID_J83ANNEX},
        {54, ANX, 3, KXAPI_E_INVALID_J83ANNEX}, {8, IL, 0, OK}, {8, IL, 10, OK}, {6, IL, 12, OK}, {6, IL, 14, OK},
        {8, IL, 15, OK}, {8, IL, -1, KXAPI_E_INVALID_INTERLVNG}, {8, IL, 11, KXAPI_E_INVALID_INTERLVNG},
        {8, IL, 13, KXAPI_E_INVALID_INTERLVNG}, {8, IL, 16, KXAPI_E_INVALID_INTERLVNG}, {6, SYM, -1, OK},
        {6, SYM, -2, KXAPI_E_INVALID_SYMRATE},
        // DVB-T: every code of every field, and its neighbours.
        {9, CR, 6, OK}, {9, CR, 3, KXAPI_E_INVALID_RATE}, {9, BW, 1, OK}, {9, BW, 4, OK},
        {9, BW, 0, KXAPI_E_INVALID_BANDWIDTH}, {9, BW, 5, KXAPI_E_INVALID_BANDWIDTH}, {9, CO, 32, OK}, {9, CO, 48, OK},
        {9, CO, 240, OK}, {9, CO, 0, KXAPI_E_INVALID_CONSTEL}, {9, CO, 64, KXAPI_E_INVALID_CONSTEL}, {9, GU, 512, OK},
        {9, GU, 768, OK}, {9, GU, 1024, OK}, {9, GU, 3840, OK}, {9, GU, 0, KXAPI_E_INVALID_GUARD},
        {9, GU, 1280, KXAPI_E_INVALID_GUARD}, {9, IL, 8192, OK}, {9, IL, 61440, OK},
        {9, IL, 0, KXAPI_E_INVALID_INTERLVNG}, {9, IL, 12288, KXAPI_E_INVALID_INTERLVNG}, {9, MODE, 0x20000, OK},
        {9, MODE, 0x30000, OK}, {9, MODE, 0xF0000, OK}, {9, MODE, 0, KXAPI_E_INVALID_TRANSMODE},
        {9, MODE, 0x40000, KXAPI_E_INVALID_TRANSMODE},
        // ATSC, DVB-T2, ISDB-T, DVB-C2, ATSC 3.0.
        {10, CO, 0, OK}, {10, CO, 1, OK}, {10, CO, 3, OK}, {10, CO, 2, KXAPI_E_INVALID_CONSTEL},
        {10, CO, 4, KXAPI_E_INVALID_CONSTEL}, {11, BW, 5, OK}, {11, BW, 6, KXAPI_E_INVALID_BANDWIDTH},
        {11, PROF, 1, OK}, {11, PROF, 2, KXAPI_E_INVALID_T2PROFILE}, {11, PROF, -1, KXAPI_E_INVALID_T2PROFILE},
        {12, BW, 32, OK}, {12, BW, 48, OK}, {12, BW, 64, OK}, {12, BW, 8, KXAPI_E_INVALID_BANDWIDTH},
        {12, BW, 80, KXAPI_E_INVALID_BANDWIDTH}, {12, SUB, 41, OK}, {12, SUB, 42, KXAPI_E_INVALID_SUBCH},
        {12, SEG, 3, OK}, {12, SEG, 13, OK}, {12, SEG, 2, KXAPI_E_INVALID_NUMSEGM},
        {12, SEG, 12, KXAPI_E_INVALID_NUMSEGM}, {52, BW, 6, OK}, {52, BW, 8, OK}, {52, BW, 7, KXAPI_E_INVALID_BANDWIDTH},
        {69, BW, 0, OK}, {69, BW, 2, OK}, {69, BW, 3, KXAPI_E_INVALID_BANDWIDTH}, {69, BW, -1, KXAPI_E_INVALID_BANDWIDTH},
        // I/Q: the listed bandwidths and 80 to 248 MHz; data type 0 or 1.
        {15, BW, 1700000, OK}, {15, BW, 5000000, OK}, {15, BW, 6000000, OK}, {15, BW, 7000000, OK},
        {15, BW, 10000000, OK}, {15, BW, 80000000, OK}, {15, BW, 248000000, OK}, {78126315, BW, 8000000, OK},
        {15, BW, 0, KXAPI_E_INVALID_BANDWIDTH}, {15, BW, 9000000, KXAPI_E_INVALID_BANDWIDTH},
        {15, BW, 79999999, KXAPI_E_INVALID_BANDWIDTH}, {15, BW, 248000001, KXAPI_E_INVALID_BANDWIDTH},
        {15, IQDT, 1, OK}, {15, IQDT, 2, KXAPI_E_INVALID_ARG}, {15, IQDT, -1, KXAPI_E_INVALID_ARG},
        {53, NOTHING, 0, OK},
    };
    for (const Row& row : rows)
        EXPECT_EQ(row.m_Expected, ValidWith(row.m_Mod, row.m_Field, row.m_Value).CheckValidity())
            << "type " << row.m_Mod << " field " << row.m_Field << " value " << row.m_Value;
    EXPECT_EQ(KXAPI_E_INVALID_MODTYPE, KxDemodPars().CheckValidity());
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
    q.DvbS2()->m_SpecInv = 16;
    for (int32_t fec : {0, 8, 12}) {
        q.DvbS2()->m_FecFrame = fec;
        EXPECT_EQ(KXAPI_OK, q.CheckValidity()) << fec;
    }
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
