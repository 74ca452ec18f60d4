// The HAL of a receiver model whose driver is not part of this build: it reports the model's
// port count and answers Init with KXAPI_E_NOT_SUPPORTED, so the device controller discards
// the device the way it discards any device whose initialisation fails.
#pragma once

#include "DemodHal.h"

class UnavailableHal : public DemodHal {
public:
    UnavailableHal(long long serial, Kxapi::KxDeviceInt& device, int typeNumber, const char* pClassName,
                   int numPorts)
        : DemodHal(serial, device), m_TypeNumber(typeNumber), m_pClassName(pClassName), m_NumPorts(numPorts)
    {
    }

    int TypeNumber() const { return m_TypeNumber; }
    // Name of the model's HAL class ("Kxa3530BHal").
    const char* ClassName() const { return m_pClassName; }
    int NumDemodPorts() override { return m_NumPorts; }
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
    int m_TypeNumber;
    const char* m_pClassName;
    int m_NumPorts;
};
