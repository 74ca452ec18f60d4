// Statistics as Python sees them: one dict per statistic with its value in the statistic's
// natural unit, the unit's name and the raw value the service reported.
#pragma once

#include <cstdint>

#include <pybind11/pybind11.h>

#include "KxStatistic.h"

namespace KxPy {

// How a statistic's raw value becomes a value with a unit: value = raw / m_Divisor.
struct StatUnit {
    const char* m_pUnit;    // "dB", "dBm", "degC", "" for booleans and structured values
    int m_Divisor;          // 10 for the values the service reports in tenths
    const char* m_pRawUnit; // the unit of the raw value ("0.1 dB")
};

// The unit of a statistic id; booleans, structured values and unknown ids have no unit.
StatUnit StatUnitOf(int32_t statisticId);

// {"id", "name", "description", "value", "unit", "raw", "raw_unit", "result", "error"}:
// "value" and "raw" are None and "error" names the result code when the port could not
// read the statistic; structured values are given as their XML text.
pybind11::dict StatisticToDict(const Kxapi::KxStatistic& stat);

// {"id", "name", "description", "value_type", "unit", "raw_unit"} of one table row.
pybind11::dict StatisticInfoToDict(const Kxapi::KxStatisticInfo& info);

// A statistic id from an id or a table name (case-insensitive); raises ValueError.
int32_t StatisticIdFrom(const pybind11::handle& nameOrId);

} // namespace KxPy
