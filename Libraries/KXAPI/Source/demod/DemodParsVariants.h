// The modulation-specific records of KxDemodPars, one per standard. Fields hold the device
// API's code values (code rates, bandwidth codes, ...); the service passes them through and
// only the receiver HALs interpret them. Comments name each field's XML attribute.
#pragma once

#include <cstdint>
#include <vector>

namespace Kxapi {

// DVB-S (type 0), element "S".
struct KxDemodParsDvbS {
    int32_t m_CodeRate = 0;     // "cr"
    int32_t m_SpecInv = 0;      // "inv": 0, 16 or 48
    int32_t m_SymRateBd = 0;    // "symb", -1 for automatic
    bool operator==(const KxDemodParsDvbS&) const = default;
};

// ITU-T J.83 QAM (types 3 to 8 and 54), element "Qam".
struct KxDemodParsQam {
    int32_t m_Annex = 0;        // "anx": 1 annex A, 2 annex C, 3 annex B
    int32_t m_Interleaving = 0; // "il", annex B only
    int32_t m_SymRateBd = 0;    // "symb"
    bool operator==(const KxDemodParsQam&) const = default;
};

// DVB-T (type 9), element "T". The codes occupy the nibbles of the legacy second word.
struct KxDemodParsDvbT {
    int32_t m_CodeRate = 0;      // "cr"
    int32_t m_Bandwidth = 0;     // "bw": 1..4 (bits 0-3)
    int32_t m_Constellation = 0; // "co": bits 4-7
    int32_t m_Guard = 0;         // "gu": bits 8-11
    int32_t m_Interleaving = 0;  // "il": bits 12-15
    int32_t m_Mode = 0;          // "mode": bits 16-19
    bool operator==(const KxDemodParsDvbT&) const = default;
};

// ATSC 8-VSB (type 10), element "Atsc".
struct KxDemodParsAtsc {
    int32_t m_Constellation = 0; // "co"
    bool operator==(const KxDemodParsAtsc&) const = default;
};

// DVB-T2 (type 11), element "T2".
struct KxDemodParsDvbT2 {
    int32_t m_Bandwidth = 0; // "bw"
    int32_t m_Profile = 0;   // "prof": 0 base, 1 lite
    bool operator==(const KxDemodParsDvbT2&) const = default;
};

// ISDB-T (type 12), element "Isdbt". The sub-channel word is not part of the XML form.
struct KxDemodParsIsdbt {
    int32_t m_Bandwidth = 0;    // "bw"
    int32_t m_SubChannel = 22;  // not serialised; at most 41
    int32_t m_NumSegments = 0;  // "nbseg": 1, 3 or 13
    bool operator==(const KxDemodParsIsdbt&) const = default;
};

// I/Q sampling (types 15 and 78126315), element "Iq".
struct KxDemodParsIq {
    int32_t m_BandwidthHz = 0;  // "bw"
    int32_t m_IqDataType = 0;   // "iqdt": 0 or 1
    int32_t m_SampleRateHz = 0; // "samp"
    bool operator==(const KxDemodParsIq&) const = default;
};

// One coefficient of the 3460 I/Q channel filter ("Fc").
struct KxIq3460FilterCoef {
    int32_t m_Index = 0; // "idx"
    double m_Coef = 0.0; // "coef", in [-1, 1]
    bool operator==(const KxIq3460FilterCoef&) const = default;
};

// Tuner settings of the 3460 family ("Tu3460").
struct KxIq3460Tuner {
    int32_t m_Standard = 0;      // "std": 1..5
    int32_t m_BandwidthHz = 0;   // "bw"
    int32_t m_IfFreqHz = 0;      // "if"
    int32_t m_LpfCutoff = 0;     // "lpfcu": selector -1..3
    int32_t m_LpfOffset = 0;     // "lpfof": selector -1..4
    int32_t m_HighPass = 0;      // "hp": selector -1..3
    int32_t m_DcNotch = 0;       // "dcn": selector -1..1
    int32_t m_IfNotch = 0;       // "ifn": selector -1..1
    int32_t m_IfNotchToRf = 0;   // "ifn2r": selector -1..1
    bool operator==(const KxIq3460Tuner&) const = default;
};

// Largest filter the 3460 I/Q form carries.
constexpr size_t KX_IQ3460_MAX_FILTER_COEFS = 1024;

// I/Q sampling of the 3460 family (type 16), element "Iq3460" with child "Flt" and sibling
// "Tu3460".
struct KxDemodParsIq3460 {
    int32_t m_IqFreqHz = 0;      // "iqfr"
    double m_ScaleFactor = 0.0;  // "sf": fraction in [0, 1]
    int32_t m_SampleRateHz = 0;  // "samp"
    std::vector<KxIq3460FilterCoef> m_Filter; // "Flt"/"Fc"
    KxIq3460Tuner m_Tuner;       // "Tu3460"
    bool operator==(const KxDemodParsIq3460&) const = default;
};

// One entry of the DVB-S2 mod-cod table ("Mcp"): settings per modulation and code rate.
struct KxDvbS2ModCodPars {
    int32_t m_ModType = 0;          // "mod": a DVB-S2 modulation type (32..35, 60..67)
    int32_t m_CodeRate = 0;         // "cr"
    bool m_Enable = false;          // "ena"
    int32_t m_MerThreshTenthsDb = 0; // "snr": auto-mute threshold
    bool operator==(const KxDvbS2ModCodPars&) const = default;
};

// Largest mod-cod table accepted from XML.
constexpr size_t KX_DVBS2_MAX_MODCODS = 256;

// DVB-S2 / S2X (types 32 to 35, 37, 60 to 67), element "S2" with child "Mcs".
struct KxDemodParsDvbS2Adv {
    int32_t m_CodeRate = 0;          // "cr"
    int32_t m_Pilots = 0;            // "plt": bits 0-1
    int32_t m_SpecInv = 0;           // "inv": bits 4-5
    int32_t m_FecFrame = 0;          // "fec": bits 2-3
    int32_t m_SymRateBd = 0;         // "symb"
    int32_t m_AutoMute = 0;          // "am": port-wide auto-mute switch
    int32_t m_HystTenthsDb = 0;      // "hm": auto-mute hysteresis
    std::vector<KxDvbS2ModCodPars> m_ModCods; // "Mcs"/"Mcp"
    bool operator==(const KxDemodParsDvbS2Adv&) const = default;
};

// DVB-C2 (type 52), element "C2".
struct KxDemodParsDvbC2 {
    int32_t m_BandwidthMhz = 0;  // "bw": 6 or 8
    bool m_SeekL1Part2 = false;  // "sl1p2"
    bool operator==(const KxDemodParsDvbC2&) const = default;
};

// DAB (type 53): no fields, no XML child.
struct KxDemodParsDab {
    bool operator==(const KxDemodParsDab&) const = default;
};

// ATSC 3.0 (type 69), element "Atsc3".
struct KxDemodParsAtsc3 {
    int32_t m_Bandwidth = 0;        // "bw": 0, 1 or 2
    bool m_AutoInitChanAcq = false; // "ainca"
    bool operator==(const KxDemodParsAtsc3&) const = default;
};

} // namespace Kxapi
