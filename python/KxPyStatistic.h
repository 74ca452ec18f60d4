// Statistics as Python sees them: one dict per statistic with its value in the statistic's
// unit (the statistic table's unit and scale), the unit's name and the raw value the service
// reported.
#pragma once

#include <cstdint>
#include <string>

#include <pybind11/pybind11.h>

#include "KxStatistic.h"

namespace KxPy {

// A statistic's unit: value = raw * scale; rawUnit names the raw value's unit ("0.1 dB").
struct StatUnit {
    std::string m_Unit;    // "dB", "dBm", "degC", "" for flags, structured values, unknown ids
    double m_Scale = 1.0;
    std::string m_RawUnit;
};

StatUnit StatUnitOf(int32_t statisticId);

// raw * scale without the binary rounding of the scale (-12 * 0.1 gives -1.2, not
// -1.2000000000000002): a scale of 1/N divides by N.
double ScaleValue(double raw, double scale);

// {"id", "name", "description", "value", "unit", "raw", "raw_unit", "text", "result",
// "error"}: "value" and "raw" are None and "error" names the result code when the port could
// not read the statistic; structured values are given as their XML text; "text" is the
// reading as kxctl prints it ("-1.2 dBmV").
pybind11::dict StatisticToDict(const Kxapi::KxStatistic& stat);

// {"id", "name", "description", "value_type", "unit", "raw_unit"} of one table row.
pybind11::dict StatisticInfoToDict(const Kxapi::KxStatisticInfo& info);

// A statistic id from an id or a table name (case-insensitive); raises ValueError.
int32_t StatisticIdFrom(const pybind11::handle& nameOrId);

} // namespace KxPy
