// KxFreqLimits: the frequency limits of a receiver port, in MHz, as its device publishes them
// in the port's properties: the range the port is rated for and the range it can tune.
#pragma once

namespace Kxapi {

class KxDevice;

struct KxFreqLimits {
    static constexpr const char* MIN_PROPERTY = "MOD_FREQ_MIN";
    static constexpr const char* MAX_PROPERTY = "MOD_FREQ_MAX";
    static constexpr const char* ABS_MIN_PROPERTY = "MOD_FREQ_ABSMIN";
    static constexpr const char* ABS_MAX_PROPERTY = "MOD_FREQ_ABSMAX";

    int m_MinMHz = -1; // -1: the device does not publish the limit
    int m_MaxMHz = -1;
    int m_AbsMinMHz = -1;
    int m_AbsMaxMHz = -1;

    // Reads the limits of 1-based `port`; a limit the device does not publish stays as it was.
    void Read(KxDevice& device, int port);
};

} // namespace Kxapi
