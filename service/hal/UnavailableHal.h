// The HAL of a receiver model whose driver is not part of this build: it reports the model's
// port count and refuses its Init with KXAPI_E_NOT_SUPPORTED, so the device controller discards
// the device the way it discards any device whose initialisation fails. The refusal names the
// model: TypeNumber, ModelName and ClassName come from the model's row.
#pragma once

#include "DemodHal.h"
#include "KxModelTable.h"

class UnavailableHal : public DemodHal {
public:
    UnavailableHal(long long serial, Kxapi::KxDeviceInt& device, const KxModelInfo& model)
        : DemodHal(serial, device, &model), m_Model(model)
    {
    }

    int TypeNumber() const { return m_Model.m_TypeNumber; }
    // Display name of the model ("KX-3530B").
    const char* ModelName() const { return m_Model.m_pName; }
    // Name of the model's HAL class ("Kxa3530BHal").
    const char* ClassName() const { return m_Model.m_pHalClass; }
    KXAPI_RESULT Init() override { return KXAPI_E_NOT_SUPPORTED; }
    KXAPI_RESULT InitPort(int) override { return KXAPI_E_NOT_SUPPORTED; }
    KXAPI_RESULT Tune(int, bool) override { return KXAPI_E_NOT_SUPPORTED; }
    KXAPI_RESULT GetSupportedStatistics(int, int&, SupportedStatisticsType*) override
    {
        return KXAPI_E_NOT_SUPPORTED;
    }
    KXAPI_RESULT GetStatistics(int, int, Kxapi::KxStatistic*) override { return KXAPI_E_NOT_SUPPORTED; }
    KXAPI_RESULT Update(int, bool) override { return KXAPI_E_NOT_SUPPORTED; }
    using DemodHal::Tune;

private:
    const KxModelInfo& m_Model;
};
