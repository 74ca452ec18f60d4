#include "KxPyStatistic.h"

#include <cmath>
#include <cstdio>
#include <strings.h>

#include "KxReading.h"

namespace py = pybind11;

namespace KxPy {

StatUnit StatUnitOf(int32_t statisticId)
{
    StatUnit unit;
    const Kxapi::KxStatisticInfo* pInfo = Kxapi::KxFindStatistic(statisticId);
    if (pInfo == nullptr || pInfo->m_pUnit == nullptr || pInfo->m_pUnit[0] == '\0')
        return unit;
    unit.m_Unit = pInfo->m_pUnit;
    unit.m_Scale = pInfo->m_Scale;
    if (unit.m_Scale == 1.0) {
        unit.m_RawUnit = unit.m_Unit;
    } else {
        char text[64];
        snprintf(text, sizeof(text), "%g %s", unit.m_Scale, pInfo->m_pUnit);
        unit.m_RawUnit = text;
    }
    return unit;
}

double ScaleValue(double raw, double scale)
{
    if (scale > 0.0 && scale < 1.0) {
        double divisor = std::round(1.0 / scale);
        if (std::fabs(divisor * scale - 1.0) < 1e-12)
            return raw / divisor;
    }
    return raw * scale;
}

py::dict StatisticToDict(const Kxapi::KxStatistic& stat)
{
    py::dict entry;
    std::string name, description;
    stat.GetName(name, description);
    StatUnit unit = StatUnitOf(stat.m_StatisticId);
    Kxapi::KxReading reading = Kxapi::KxReadStatistic(stat);
    entry["id"] = stat.m_StatisticId;
    entry["name"] = name;
    entry["description"] = description;
    entry["unit"] = unit.m_Unit;
    entry["raw_unit"] = unit.m_RawUnit;
    entry["result"] = static_cast<uint32_t>(stat.m_Result);
    entry["text"] = Kxapi::KxFormatReading(reading);
    entry["error"] = py::none();
    entry["value"] = py::none();
    entry["raw"] = py::none();
    if (KxapiFailed(static_cast<KXAPI_RESULT>(stat.m_Result))) {
        entry["error"] = KxapiResult2Str(static_cast<KXAPI_RESULT>(stat.m_Result));
        return entry;
    }
    const Kxapi::KxStatistic::Value& value = stat.GetRawValue();
    if (const bool* pFlag = std::get_if<bool>(&value)) {
        entry["value"] = *pFlag;
        entry["raw"] = *pFlag;
    } else if (const int32_t* pInt = std::get_if<int32_t>(&value)) {
        entry["raw"] = *pInt;
        if (unit.m_Scale == 1.0)
            entry["value"] = *pInt;
        else
            entry["value"] = ScaleValue(*pInt, unit.m_Scale);
    } else if (const double* pReal = std::get_if<double>(&value)) {
        entry["raw"] = *pReal;
        entry["value"] = ScaleValue(*pReal, unit.m_Scale);
    } else if (!std::holds_alternative<std::monostate>(value)) {
        std::wstring xml;
        if (stat.ToXml(xml) == KXAPI_OK) {
            entry["value"] = xml;
            entry["raw"] = xml;
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
    entry["unit"] = unit.m_Unit;
    entry["raw_unit"] = unit.m_RawUnit;
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
