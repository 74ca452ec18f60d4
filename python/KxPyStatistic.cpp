#include "KxPyStatistic.h"

#include <strings.h>
#include <string>

#include "KxPyErrors.h"

namespace py = pybind11;

namespace KxPy {

namespace {

struct StatUnitRow {
    int32_t m_Id;
    StatUnit m_Unit;
};

constexpr StatUnit TENTHS_DB = {"dB", 10, "0.1 dB"};
constexpr StatUnit TENTHS_DBM = {"dBm", 10, "0.1 dBm"};
constexpr StatUnit COUNT = {"count", 1, "count"};
constexpr StatUnit RATIO = {"ratio", 1, "ratio"};

// Statistics whose value carries a unit; every other one is a flag, a structured value or a
// plain number without unit.
const StatUnitRow STAT_UNITS[] = {
    {1, {"AGC steps", 1, "AGC steps"}}, {2, {"AGC steps", 1, "AGC steps"}},
    {3, COUNT}, {8, COUNT}, {10, COUNT}, {11, COUNT}, {12, COUNT}, {13, COUNT}, {14, COUNT}, {15, COUNT},
    {16, COUNT}, {31, COUNT}, {32, COUNT}, {276, COUNT}, {277, COUNT},
    {5, TENTHS_DBM}, {6, TENTHS_DBM}, {21, TENTHS_DBM}, {22, TENTHS_DBM}, {266, TENTHS_DBM},
    {7, {"dBmV", 10, "0.1 dBmV"}},
    {9, {"degC", 1, "degC"}}, {23, {"degC", 1, "degC"}},
    {33, {"%", 1, "%"}},
    {34, TENTHS_DB}, {261, TENTHS_DB}, {262, TENTHS_DB}, {263, TENTHS_DB}, {271, TENTHS_DB}, {272, TENTHS_DB},
    {273, TENTHS_DB},
    {256, RATIO}, {257, RATIO}, {258, RATIO}, {259, RATIO}, {260, RATIO}, {264, RATIO}, {269, RATIO},
    {270, RATIO}, {278, RATIO}, {279, RATIO},
    {267, {"Hz", 1, "Hz"}}, {274, {"Hz", 1, "Hz"}},
    {268, {"ppm", 1, "ppm"}},
};

constexpr StatUnit NO_UNIT = {"", 1, ""};

} // namespace

StatUnit StatUnitOf(int32_t statisticId)
{
    for (const StatUnitRow& row : STAT_UNITS) {
        if (row.m_Id == statisticId)
            return row.m_Unit;
    }
    return NO_UNIT;
}

py::dict StatisticToDict(const Kxapi::KxStatistic& stat)
{
    py::dict entry;
    std::string name, description;
    stat.GetName(name, description);
    StatUnit unit = StatUnitOf(stat.m_StatisticId);
    entry["id"] = stat.m_StatisticId;
    entry["name"] = name;
    entry["description"] = description;
    entry["unit"] = unit.m_pUnit;
    entry["raw_unit"] = unit.m_pRawUnit;
    entry["result"] = static_cast<uint32_t>(stat.m_Result);
    if (KxapiFailed(static_cast<KXAPI_RESULT>(stat.m_Result))) {
        entry["value"] = py::none();
        entry["raw"] = py::none();
        entry["error"] = KxapiResult2Str(static_cast<KXAPI_RESULT>(stat.m_Result));
        return entry;
    }
    entry["error"] = py::none();
    const Kxapi::KxStatistic::Value& value = stat.GetRawValue();
    if (const bool* pFlag = std::get_if<bool>(&value)) {
        entry["value"] = *pFlag;
        entry["raw"] = *pFlag;
    } else if (const int32_t* pInt = std::get_if<int32_t>(&value)) {
        entry["raw"] = *pInt;
        if (unit.m_Divisor == 1)
            entry["value"] = *pInt;
        else
            entry["value"] = static_cast<double>(*pInt) / unit.m_Divisor;
    } else if (const double* pReal = std::get_if<double>(&value)) {
        entry["raw"] = *pReal;
        entry["value"] = *pReal / unit.m_Divisor;
    } else if (std::holds_alternative<std::monostate>(value)) {
        entry["value"] = py::none();
        entry["raw"] = py::none();
    } else {
        std::wstring xml;
        if (stat.ToXml(xml) == KXAPI_OK) {
            entry["value"] = xml;
            entry["raw"] = xml;
        } else {
            entry["value"] = py::none();
            entry["raw"] = py::none();
        }
    }
    return entry;
}

py::dict StatisticInfoToDict(const Kxapi::KxStatisticInfo& info)
{
    StatUnit unit = StatUnitOf(info.m_Id);
    py::dict entry;
    entry["id"] = info.m_Id;
    entry["name"] = info.m_pName;
    entry["description"] = info.m_pDescription;
    entry["value_type"] = info.m_ValueType;
    entry["unit"] = unit.m_pUnit;
    entry["raw_unit"] = unit.m_pRawUnit;
    return entry;
}

int32_t StatisticIdFrom(const py::handle& nameOrId)
{
    if (py::isinstance<py::int_>(nameOrId)) {
        int32_t id = nameOrId.cast<int32_t>();
        if (Kxapi::KxFindStatistic(id) == nullptr)
            throw py::value_error("no statistic has the id " + std::to_string(id));
        return id;
    }
    std::string name = py::str(nameOrId);
    for (size_t row = 0; row < Kxapi::KxStatisticCount(); row++) {
        if (strcasecmp(Kxapi::KxStatisticRow(row).m_pName, name.c_str()) == 0)
            return Kxapi::KxStatisticRow(row).m_Id;
    }
    throw py::value_error("no statistic is named '" + name + "'");
}

} // namespace KxPy
