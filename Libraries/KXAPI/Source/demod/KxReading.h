// Statistics as people read them: the value in its unit (from the statistic table's unit and
// scale), level unit conversion, and a quality grade from MER or C/N against the C/N the
// tuned modulation and code rate need.
#pragma once

#include <string>

#include "DemodPars.h"
#include "KxStatistic.h"

namespace Kxapi {

struct KxReading {
    enum Kind { KX_READING_NONE, KX_READING_FLAG, KX_READING_NUMBER, KX_READING_STRUCTURED };
    Kind m_Kind = KX_READING_NONE; // NONE: the statistic failed or has no value
    KXAPI_RESULT m_Result = KXAPI_OK;
    bool m_Flag = false;
    double m_Value = 0.0;          // in m_pUnit
    double m_Raw = 0.0;            // the value as the statistic carries it
    double m_Scale = 1.0;          // m_Value = m_Raw * m_Scale
    const char* m_pUnit = "";
};

// The reading of `stat`: a result of 4096 or more (an error) gives KX_READING_NONE.
KxReading KxReadStatistic(const KxStatistic& stat);

// "-1.4 dBmV", "12.5 dB", "2.31e-05" (ratios), "17" (counts), "true"; the result's name when
// the statistic failed; "" for a structured value.
std::string KxFormatReading(const KxReading& reading);

// Converts a level between "dBm", "dBmV" and "dBuV" (75 ohm: 0 dBm = 48.75 dBmV, 0 dBmV =
// 60 dBuV); false when either unit is not one of them.
bool KxConvertLevel(double value, const char* pFrom, const char* pTo, double& converted);

// C/N (dB) a receiver needs for quasi-error-free reception of what `pars` describe (DVB-S and
// DVB-S2 by modulation and code rate, cable QAM by order, ATSC 8-VSB); NaN when the parameters
// do not tell (automatic modulation or code rate, a standard without a threshold here).
double KxRequiredCnDb(const KxDemodPars& pars);

enum KxQualityGrade { KX_QUALITY_UNKNOWN, KX_QUALITY_POOR, KX_QUALITY_OK, KX_QUALITY_GOOD };
// Margins of KX_QUALITY_OK and KX_QUALITY_GOOD above the required C/N.
constexpr double KX_QUALITY_OK_MARGIN_DB = 1.0;
constexpr double KX_QUALITY_GOOD_MARGIN_DB = 4.0;
// The grade of a measured MER or C/N against the required C/N; UNKNOWN when either is NaN.
KxQualityGrade KxGradeQuality(double measuredDb, double requiredDb);
const char* KxQualityGradeName(KxQualityGrade grade); // "poor", "ok", "good", "unknown"

} // namespace Kxapi
