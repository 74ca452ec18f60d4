#include "Kxa3470StatTables.h"

#include <cmath>

bool RollOffFromCode(int code, double& rollOff)
{
    static const struct {
        int m_Code;
        double m_RollOff;
    } CODES[] = {{768, 0.05}, {1024, 0.10}, {1280, 0.15}, {1536, 0.20}, {1792, 0.25}, {2048, 0.35}, {65280, 0.0}};
    for (const auto& row : CODES) {
        if (row.m_Code == code) {
            rollOff = row.m_RollOff;
            return true;
        }
    }
    return false;
}

double OccupiedBandwidthMHz(long long symbolRateBd, double rollOff)
{
    return static_cast<double>(symbolRateBd) * (1.0 + rollOff) / 1e6;
}

double RfLvlUncalibDbmV(int basebandGain, int agc, uint32_t power)
{
    const double chainGain = basebandGain + (agc / 4096.0 * 2.73 * (-40.5) + 90.55) + RF_LVL_LOWPASS_FILTER_GAIN_DB +
                             RF_LVL_SCALING_GAIN_DB + RF_LVL_IQ_FIR_FILTER_GAIN_DB;
    return 20.0 * std::log10(std::sqrt(static_cast<double>(power)) / 32768.0 * 1000.0) - chainGain;
}

const PwrOffsetPoint g_TempOffset[TEMP_OFFSET_POINTS] = {{30, -36}, {50, 0}, {70, 46}};
const PwrOffsetPoint g_SymrateOffset[SYMRATE_OFFSET_POINTS] = {
    {10000000, 0}, {20000000, 7}, {30000000, 38}, {40000000, 63}, {50000000, 86}, {60000000, 112}, {70000000, 127},
};

double GetRfLvlOffset(const PwrOffsetPoint* table, int count, long long x)
{
    if (count <= 0)
        return 0.0;
    if (x <= table[0].m_X)
        return table[0].m_Offset;
    for (int i = 1; i < count; i++) {
        if (x <= table[i].m_X) {
            const double span = static_cast<double>(table[i].m_X) - table[i - 1].m_X;
            const double fraction = (static_cast<double>(x) - table[i - 1].m_X) / span;
            return table[i - 1].m_Offset + fraction * (table[i].m_Offset - table[i - 1].m_Offset);
        }
    }
    return table[count - 1].m_Offset;
}
