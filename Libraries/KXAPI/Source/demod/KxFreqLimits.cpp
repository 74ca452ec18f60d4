#include "KxFreqLimits.h"

#include "KxDevice.h"

namespace Kxapi {

void KxFreqLimits::Read(KxDevice& device, int port)
{
    const struct {
        const char* m_pName;
        int& m_Value;
    } limits[] = {{MIN_PROPERTY, m_MinMHz}, {MAX_PROPERTY, m_MaxMHz}, {ABS_MIN_PROPERTY, m_AbsMinMHz},
                  {ABS_MAX_PROPERTY, m_AbsMaxMHz}};
    for (const auto& limit : limits) {
        int value = 0;
        if (KxapiSucceeded(device.PropertyGetInt(limit.m_pName, port - 1, value)))
            limit.m_Value = value;
    }
}

} // namespace Kxapi
