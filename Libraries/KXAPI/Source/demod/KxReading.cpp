#include "KxReading.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <variant>

#include "DvbS2ModCod.h"

namespace Kxapi {

namespace {

constexpr double NO_THRESHOLD = std::numeric_limits<double>::quiet_NaN();
constexpr double DBMV_PER_DBM = 48.75; // 75 ohm
constexpr double DBUV_PER_DBMV = 60.0;

// Es/N0 (dB) for quasi-error-free reception (packet error rate 1e-7 after BCH, normal frames,
// AWGN) of the DVB-S2 modulations and code rates.
struct ModCodThreshold {
    int32_t m_ModType;
    int32_t m_CodeRate;
    double m_EsN0Db;
};
const ModCodThreshold DVBS2_THRESHOLDS[] = {
    {KX_S2_QPSK, KX_CR_1_4, -2.35},    {KX_S2_QPSK, KX_CR_1_3, -1.24},    {KX_S2_QPSK, KX_CR_2_5, -0.30},
    {KX_S2_QPSK, KX_CR_1_2, 1.00},     {KX_S2_QPSK, KX_CR_3_5, 2.23},     {KX_S2_QPSK, KX_CR_2_3, 3.10},
    {KX_S2_QPSK, KX_CR_3_4, 4.03},     {KX_S2_QPSK, KX_CR_4_5, 4.68},     {KX_S2_QPSK, KX_CR_5_6, 5.18},
    {KX_S2_QPSK, KX_CR_8_9, 6.20},     {KX_S2_QPSK, KX_CR_9_10, 6.42},    {KX_S2_8PSK, KX_CR_3_5, 5.50},
    {KX_S2_8PSK, KX_CR_2_3, 6.62},     {KX_S2_8PSK, KX_CR_3_4, 7.91},     {KX_S2_8PSK, KX_CR_5_6, 9.35},
    {KX_S2_8PSK, KX_CR_8_9, 10.69},    {KX_S2_8PSK, KX_CR_9_10, 10.98},   {KX_S2_16APSK, KX_CR_2_3, 8.97},
    {KX_S2_16APSK, KX_CR_3_4, 10.21},  {KX_S2_16APSK, KX_CR_4_5, 11.03},  {KX_S2_16APSK, KX_CR_5_6, 11.61},
    {KX_S2_16APSK, KX_CR_8_9, 12.89},  {KX_S2_16APSK, KX_CR_9_10, 13.13}, {KX_S2_32APSK, KX_CR_3_4, 12.73},
    {KX_S2_32APSK, KX_CR_4_5, 13.64},  {KX_S2_32APSK, KX_CR_5_6, 14.28},  {KX_S2_32APSK, KX_CR_8_9, 15.69},
    {KX_S2_32APSK, KX_CR_9_10, 16.05},
};

// DVB-S: Es/N0 for a bit error rate of 2e-4 after the Viterbi decoder (quasi error free
// after Reed-Solomon), per inner code rate.
struct CodeRateThreshold {
    int32_t m_CodeRate;
    double m_EsN0Db;
};
const CodeRateThreshold DVBS_THRESHOLDS[] = {
    {KX_CR_1_2, 4.15}, {KX_CR_2_3, 5.89}, {KX_CR_3_4, 6.91}, {KX_CR_5_6, 7.86}, {KX_CR_7_8, 8.48},
};

// Cable QAM: Es/N0 for a bit error rate of 2e-4 before Reed-Solomon, per modulation type.
struct QamThreshold {
    int32_t m_ModType;
    double m_EsN0Db;
};
const QamThreshold QAM_THRESHOLDS[] = {
    {KX_MOD_QAM4, 10.98},  {KX_MOD_QAM16, 17.78},  {KX_MOD_QAM32, 20.84},
    {KX_MOD_QAM64, 23.84}, {KX_MOD_QAM128, 26.80}, {KX_MOD_QAM256, 29.76},
};

constexpr double ATSC_8VSB_THRESHOLD_DB = 15.0;

// Ratios are printed in scientific notation, every other number with the precision its scale
// carries.
std::string FormatNumber(double value, const char* pUnit, double scale)
{
    char text[64];
    if (strcmp(pUnit, "ratio") == 0)
        snprintf(text, sizeof(text), "%.3g", value);
    else if (scale < 1.0)
        snprintf(text, sizeof(text), "%.1f %s", value, pUnit);
    else if (strcmp(pUnit, "count") == 0 || strcmp(pUnit, "steps") == 0)
        snprintf(text, sizeof(text), "%.0f", value);
    else if (value == std::floor(value) && std::fabs(value) < 1e15)
        snprintf(text, sizeof(text), "%.0f %s", value, pUnit);
    else
        snprintf(text, sizeof(text), "%.6g %s", value, pUnit);
    std::string result(text);
    if (!result.empty() && result.back() == ' ')
        result.pop_back(); // a number without unit
    return result;
}

// raw x scale; a fractional scale divides by its inverse, so that -12 tenths give exactly the
// double nearest -1.2.
double Scaled(double raw, double scale)
{
    return scale < 1.0 ? raw / std::round(1.0 / scale) : raw * scale;
}

// Offset of a level unit from dBm; false for other units.
bool LevelOffset(const char* pUnit, double& offset)
{
    if (strcmp(pUnit, "dBm") == 0)
        offset = 0.0;
    else if (strcmp(pUnit, "dBmV") == 0)
        offset = DBMV_PER_DBM;
    else if (strcmp(pUnit, "dBuV") == 0)
        offset = DBMV_PER_DBM + DBUV_PER_DBMV;
    else
        return false;
    return true;
}

} // namespace

KxReading KxReadStatistic(const KxStatistic& stat)
{
    KxReading reading;
    reading.m_Result = static_cast<KXAPI_RESULT>(stat.m_Result);
    const KxStatisticInfo* info = KxFindStatistic(stat.m_StatisticId);
    if (KxapiFailed(reading.m_Result) || info == nullptr)
        return reading;
    reading.m_pUnit = info->m_pUnit;
    reading.m_Scale = info->m_Scale;
    const KxStatistic::Value& value = stat.GetRawValue();
    if (const bool* flag = std::get_if<bool>(&value)) {
        reading.m_Kind = KxReading::KX_READING_FLAG;
        reading.m_Flag = *flag;
        reading.m_Raw = reading.m_Value = *flag ? 1.0 : 0.0;
    } else if (const int32_t* integer = std::get_if<int32_t>(&value)) {
        reading.m_Kind = KxReading::KX_READING_NUMBER;
        reading.m_Raw = *integer;
        reading.m_Value = Scaled(reading.m_Raw, info->m_Scale);
    } else if (const double* real = std::get_if<double>(&value)) {
        reading.m_Kind = KxReading::KX_READING_NUMBER;
        reading.m_Raw = *real;
        reading.m_Value = Scaled(reading.m_Raw, info->m_Scale);
    } else if (!std::holds_alternative<std::monostate>(value)) {
        reading.m_Kind = KxReading::KX_READING_STRUCTURED;
    }
    return reading;
}

std::string KxFormatReading(const KxReading& reading)
{
    switch (reading.m_Kind) {
    case KxReading::KX_READING_FLAG: return reading.m_Flag ? "true" : "false";
    case KxReading::KX_READING_NUMBER: return FormatNumber(reading.m_Value, reading.m_pUnit, reading.m_Scale);
    case KxReading::KX_READING_STRUCTURED: return "";
    case KxReading::KX_READING_NONE: break;
    }
    return KxapiFailed(reading.m_Result) ? KxapiResult2Str(reading.m_Result) : "no value";
}

bool KxConvertLevel(double value, const char* pFrom, const char* pTo, double& converted)
{
    double from = 0.0, to = 0.0;
    if (pFrom == nullptr || pTo == nullptr || !LevelOffset(pFrom, from) || !LevelOffset(pTo, to))
        return false;
    converted = value - from + to;
    return true;
}

double KxRequiredCnDb(const KxDemodPars& pars)
{
    const int32_t modType = pars.ModType();
    if (const KxDemodParsDvbS2Adv* s2 = pars.DvbS2()) {
        for (const ModCodThreshold& row : DVBS2_THRESHOLDS)
            if (row.m_ModType == modType && row.m_CodeRate == s2->m_CodeRate)
                return row.m_EsN0Db;
        return NO_THRESHOLD;
    }
    if (const KxDemodParsDvbS* s = pars.DvbS()) {
        for (const CodeRateThreshold& row : DVBS_THRESHOLDS)
            if (row.m_CodeRate == s->m_CodeRate)
                return row.m_EsN0Db;
        return NO_THRESHOLD;
    }
    if (pars.IsQam()) {
        for (const QamThreshold& row : QAM_THRESHOLDS)
            if (row.m_ModType == modType)
                return row.m_EsN0Db;
        return NO_THRESHOLD;
    }
    if (pars.IsAtsc())
        return ATSC_8VSB_THRESHOLD_DB;
    return NO_THRESHOLD;
}

KxQualityGrade KxGradeQuality(double measuredDb, double requiredDb)
{
    if (std::isnan(measuredDb) || std::isnan(requiredDb))
        return KX_QUALITY_UNKNOWN;
    const double margin = measuredDb - requiredDb;
    if (margin < KX_QUALITY_OK_MARGIN_DB)
        return KX_QUALITY_POOR;
    return margin < KX_QUALITY_GOOD_MARGIN_DB ? KX_QUALITY_OK : KX_QUALITY_GOOD;
}

const char* KxQualityGradeName(KxQualityGrade grade)
{
    switch (grade) {
    case KX_QUALITY_POOR: return "poor";
    case KX_QUALITY_OK: return "ok";
    case KX_QUALITY_GOOD: return "good";
    case KX_QUALITY_UNKNOWN: break;
    }
    return "unknown";
}

} // namespace Kxapi
