// What the tests of the cable QAM receivers (3530, 3490) share: parameter sets, statistic
// reads and the wait for a port's lock on a virtual card (the reads also serve the 3460's).
#pragma once

#include <vector>

#include <gtest/gtest.h>

#include "DemodHal.h"
#include "TestSupport.h"

namespace qamtest {

constexpr unsigned int LOCK_WAIT_MS = 3000;
// Longer than any acquisition of the virtual demodulator (symbol-rate search included).
constexpr unsigned int NO_LOCK_WAIT_MS = 1200;

inline Kxapi::KxDemodPars QamPars(int32_t modType, int32_t annex, int32_t symbolRateBd)
{
    Kxapi::KxDemodPars pars(modType);
    pars.Qam()->m_Annex = annex;
    pars.Qam()->m_SymRateBd = symbolRateBd;
    return pars;
}

// One read of the given statistics of a port.
inline std::vector<Kxapi::KxStatistic> Read(DemodHal& hal, int port, std::vector<int32_t> ids)
{
    std::vector<Kxapi::KxStatistic> stats;
    for (int32_t id : ids)
        stats.emplace_back(id);
    EXPECT_EQ(KXAPI_OK, hal.GetStatistics(port, static_cast<int>(stats.size()), stats.data()));
    return stats;
}

template <typename T> T Value(const Kxapi::KxStatistic& stat)
{
    T value{};
    EXPECT_TRUE(KxapiSucceeded(stat.GetValue(value))) << "statistic " << stat.m_StatisticId << " answered "
                                                      << stat.m_Result;
    return value;
}

inline bool Locked(DemodHal& hal, int port)
{
    std::vector<Kxapi::KxStatistic> stats = Read(hal, port, {Kxapi::KX_STAT_LOCK});
    bool locked = false;
    return KxapiSucceeded(stats[0].GetValue(locked)) && locked;
}

// Accepts frequency and parameters, runs the port's acquisition step and waits for the lock;
// false when the port did not lock within waitMs.
inline bool TuneAndLock(DemodHal& hal, int port, long long freqHz, Kxapi::KxDemodPars pars,
                        unsigned int waitMs = LOCK_WAIT_MS)
{
    EXPECT_EQ(KXAPI_OK, hal.Tune(port, freqHz, pars, true));
    EXPECT_EQ(KXAPI_OK, hal.Tune(port, false));
    return kxtest::WaitUntil([&] { return Locked(hal, port); }, waitMs);
}

} // namespace qamtest
