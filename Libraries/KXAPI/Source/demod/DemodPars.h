// KxDemodPars: the demodulation parameter set of a receiver port, a modulation type code and
// the record of that standard. Crosses the demod protocol as XML ("KxDemodPars") and, for the
// fixed-layout commands, as the legacy four-integer form.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "DemodParsVariants.h"
#include "KxapiResult.h"
#include "Markup.h"

namespace Kxapi {

// Modulation type codes.
enum KxModType : int32_t {
    KX_MOD_NONE = -1, KX_MOD_DVBS = 0, KX_MOD_QAM4 = 3, KX_MOD_QAM16 = 4, KX_MOD_QAM32 = 5,
    KX_MOD_QAM64 = 6, KX_MOD_QAM128 = 7, KX_MOD_QAM256 = 8, KX_MOD_DVBT = 9, KX_MOD_ATSC = 10,
    KX_MOD_DVBT2 = 11, KX_MOD_ISDBT = 12, KX_MOD_IQ = 15, KX_MOD_IQ3460 = 16, KX_MOD_DVBS2_QPSK = 32,
    KX_MOD_DVBS2_8PSK = 33, KX_MOD_DVBS2_16APSK = 34, KX_MOD_DVBS2_32APSK = 35, KX_MOD_DVBS2 = 37,
    KX_MOD_DVBC2 = 52, KX_MOD_DAB = 53, KX_MOD_QAMAUTO = 54, KX_MOD_DVBS2X_8APSK_L = 60,
    KX_MOD_DVBS2X_256APSK = 67, KX_MOD_ATSC3 = 69, KX_MOD_IQ_ALT = 78126315,
};

// Printable name of a modulation type ("DVB-T", "QAM64", "DVB-S2X 16APSK-L"); "?" when unknown.
const char* KxModTypeName(int32_t modType);

// DVB-S2 fields that leave the choice to the receiver, and the spectrum taken as it comes.
constexpr int32_t KX_S2_CODE_RATE_AUTO = 15;
constexpr int32_t KX_S2_PILOTS_AUTO = 3;
constexpr int32_t KX_S2_FEC_FRAME_AUTO = 12;
constexpr int32_t KX_S2_SPEC_INV_NONE = 48;

class KxDemodPars {
public:
    using Variant = std::variant<std::monostate, KxDemodParsDvbS, KxDemodParsQam, KxDemodParsDvbT, KxDemodParsAtsc,
                                 KxDemodParsDvbT2, KxDemodParsIsdbt, KxDemodParsIq, KxDemodParsIq3460,
                                 KxDemodParsDvbS2Adv, KxDemodParsDvbC2, KxDemodParsDab, KxDemodParsAtsc3>;

    KxDemodPars() = default;
    explicit KxDemodPars(int32_t modType) { SetModType(modType); }

    int32_t ModType() const { return m_ModType; }
    // Selects a modulation type: a new type replaces the record by a zero-filled one, the same
    // type keeps it. KXAPI_E_INVALID_MODTYPE for a code that is not a modulation type
    // (the object is unchanged).
    KXAPI_RESULT SetModType(int32_t modType);
    // True for every code SetModType accepts (and -1).
    static bool IsModType(int32_t modType);
    // DVB-S2 parameters that leave code rate, pilots and frame size to the receiver and take
    // the spectrum as it comes (KX_S2_*), at the given symbol rate (-1: the receiver finds it).
    static KxDemodPars DvbS2Automatic(int32_t symbolRateBd);

#define KX_DEMOD_PARS_ACCESSOR(Name, Type)                                                                          \
    Type* Name() { return std::get_if<Type>(&m_Variant); }                                                         \
    const Type* Name() const { return std::get_if<Type>(&m_Variant); }                                             \
    bool Is##Name() const { return std::holds_alternative<Type>(m_Variant); }
    KX_DEMOD_PARS_ACCESSOR(DvbS, KxDemodParsDvbS)
    KX_DEMOD_PARS_ACCESSOR(Qam, KxDemodParsQam)
    KX_DEMOD_PARS_ACCESSOR(DvbT, KxDemodParsDvbT)
    KX_DEMOD_PARS_ACCESSOR(Atsc, KxDemodParsAtsc)
    KX_DEMOD_PARS_ACCESSOR(DvbT2, KxDemodParsDvbT2)
    KX_DEMOD_PARS_ACCESSOR(Isdbt, KxDemodParsIsdbt)
    KX_DEMOD_PARS_ACCESSOR(Iq, KxDemodParsIq)
    KX_DEMOD_PARS_ACCESSOR(Iq3460, KxDemodParsIq3460)
    KX_DEMOD_PARS_ACCESSOR(DvbS2, KxDemodParsDvbS2Adv)
    KX_DEMOD_PARS_ACCESSOR(DvbC2, KxDemodParsDvbC2)
    KX_DEMOD_PARS_ACCESSOR(Dab, KxDemodParsDab)
    KX_DEMOD_PARS_ACCESSOR(Atsc3, KxDemodParsAtsc3)
#undef KX_DEMOD_PARS_ACCESSOR
    // QAM annex A or C (annex 1 or 2) and annex B (annex 3).
    bool IsQamAC() const { return IsQam() && (Qam()->m_Annex == 1 || Qam()->m_Annex == 2); }
    bool IsQamB() const { return IsQam() && Qam()->m_Annex == 3; }

    // KXAPI_OK when the record of the current type holds acceptable codes, else the code of
    // the first failing rule; KXAPI_E_INVALID_MODTYPE when no type is set.
    KXAPI_RESULT CheckValidity() const;

    // The legacy four-integer form of the fixed-layout commands. KXAPI_E_NOT_SUPPORTED for
    // DVB-T2, ISDB-T, DVB-C2 and 3460 I/Q, KXAPI_E_INVALID_MODTYPE for the other types
    // without the form (the object is unchanged).
    KXAPI_RESULT FromOldStyle(int32_t modType, int32_t parXtra0, int32_t parXtra1, int32_t parXtra2);
    KXAPI_RESULT ToOldStyle(int32_t& modType, int32_t& parXtra0, int32_t& parXtra1, int32_t& parXtra2) const;

    // Element "KxDemodPars": ToXml replaces text; FromXml reads the first "KxDemodPars"
    // element of a fragment (KXAPI_E_XML_ELEM when absent). The object is unchanged on failure.
    KXAPI_RESULT ToXml(std::wstring& text) const;
    KXAPI_RESULT FromXml(const std::wstring& text);
    // Element-level forms for documents that embed the parameters.
    void ToXmlElem(MarkupElem parent) const;
    KXAPI_RESULT FromXmlElem(MarkupElem elem);

    bool operator==(const KxDemodPars& other) const = default;

private:
    int32_t m_ModType = KX_MOD_NONE;
    Variant m_Variant;
};

} // namespace Kxapi
