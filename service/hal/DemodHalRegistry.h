// The receiver HALs of this build. Each HAL declares, beside its class, the row of the model
// table it serves and how it is made (a DemodHalDescriptor); DemodHalRegistry.cpp lists them.
// Adding a model: its row in the model table, its HAL files, one line in the registry.
#pragma once

#include <new>
#include <span>

#include "DemodHal.h"

struct DemodHalDescriptor {
    int m_TypeNumber;
    int m_SubType; // as in the model table's row (KX_MODEL_ANY_SUBTYPE for the row of any sub-type)
    DemodHal* (*m_pMake)(long long serial, Kxapi::KxDeviceInt& device);
    // The statistics every port of the model supports, and what they report before the first
    // measurement (a statistic not listed there: KXAPI_E_TUNING). DemodHal answers
    // GetSupportedStatistics and GetDefaultStatisticValues from them.
    std::span<const SupportedStatisticsType> m_SupportedStatistics;
    std::span<const DefaultStatisticValue> m_DefaultStatistics;

    // The row this HAL serves; null when the table has no such row.
    const KxModelInfo* Model() const;
};

// Factory function of a HAL class constructed from (serial, device).
template <typename Hal> DemodHal* MakeDemodHal(long long serial, Kxapi::KxDeviceInt& device)
{
    return new (std::nothrow) Hal(serial, device);
}

// Every registered HAL, in registry order.
std::span<const DemodHalDescriptor* const> RegisteredDemodHals();
// The HAL registered for a row of the model table; null when none is.
const DemodHalDescriptor* FindRegisteredDemodHal(const KxModelInfo& model);
