// A scripted card behind Kxa3470Statistics: frame reports and signal values queued by the test,
// a time of day that advances 100 ms per read pair, and counts of what the object asked for.
#pragma once

#include <atomic>
#include <cmath>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include <gtest/gtest.h>

#include "Kxa3470StatEngine.h"
#include "Kxa3470Statistics.h"
#include "KxProxyBlocks.h"

namespace stat3470 {

// A frame report of the frame-statistics block.
inline S2FrameStatus Frame(int isi, int pls, uint32_t frameNumber, double merDb = 10.0, uint32_t flags = 0,
                           uint32_t maType = KXA3470_MATYPE_MIS)
{
    const uint32_t figure = merDb < -1.0 ? 0u : static_cast<uint32_t>(std::lround((merDb + 1.0) * 8.0)) + 1u;
    return S2FrameStatus{static_cast<uint32_t>(pls) | static_cast<uint32_t>(isi) << 8 | maType << 16,
                         flags | figure << 16, 0, frameNumber};
}

inline Kxa3470SignalReading Signal(bool plhLock, double plhMerDb = 10.0)
{
    Kxa3470SignalReading signal;
    signal.m_CarrierLock = signal.m_PlHeaderLock = signal.m_FrameLock = plhLock;
    signal.m_PlHeaderMerDb = plhMerDb;
    return signal;
}

class ScriptedStatSource : public IKxa3470StatSource {
public:
    struct Script {
        std::mutex m_Lock;
        std::deque<S2FrameStatus> m_Pending;
        Kxa3470SignalReading m_Signal = Signal(true);
        bool m_Overflow = false;
        int m_RollOffCode = 1536;
        int m_Inversion = 0;
        int m_Agc = 0;
        uint32_t m_Power = 1u << 20;
        std::atomic<int> m_Clears{0};
        std::atomic<int> m_Reads{0};
        std::atomic<uint64_t> m_TimeNs{1000000000};
    };
    explicit ScriptedStatSource(std::shared_ptr<Script> pScript) : m_pScript(std::move(pScript)) {}

    KXAPI_RESULT GetTimeOfDayNs(uint64_t& timeNs) override
    {
        timeNs = m_pScript->m_TimeNs.fetch_add(50000000);
        return KXAPI_OK;
    }
    KXAPI_RESULT ReadSignal(Kxa3470SignalReading& signal) override
    {
        std::lock_guard<std::mutex> lock(m_pScript->m_Lock);
        signal = m_pScript->m_Signal;
        return KXAPI_OK;
    }
    KXAPI_RESULT ClearFrameStatistics() override
    {
        std::lock_guard<std::mutex> lock(m_pScript->m_Lock);
        m_pScript->m_Pending.clear();
        m_pScript->m_Overflow = false;
        m_pScript->m_Clears++;
        return KXAPI_OK;
    }
    KXAPI_RESULT GetFrameStatus(int& numFrames, bool& overflow) override
    {
        std::lock_guard<std::mutex> lock(m_pScript->m_Lock);
        numFrames = static_cast<int>(m_pScript->m_Pending.size());
        overflow = m_pScript->m_Overflow;
        return KXAPI_OK;
    }
    KXAPI_RESULT ReadFrames(std::vector<S2FrameStatus>& frames) override
    {
        std::lock_guard<std::mutex> lock(m_pScript->m_Lock);
        frames.clear();
        while (!m_pScript->m_Pending.empty() && frames.size() < KxProxyS2STATS_3470::MAX_FRAMES) {
            frames.push_back(m_pScript->m_Pending.front());
            m_pScript->m_Pending.pop_front();
        }
        m_pScript->m_Reads++;
        return KXAPI_OK;
    }
    KXAPI_RESULT GetRollOffCode(int& code) override
    {
        code = m_pScript->m_RollOffCode;
        return KXAPI_OK;
    }
    KXAPI_RESULT GetSpectrumInversion(int& inversion) override
    {
        inversion = m_pScript->m_Inversion;
        return KXAPI_OK;
    }
    KXAPI_RESULT GetAgc(int& agc) override
    {
        agc = m_pScript->m_Agc;
        return KXAPI_OK;
    }
    KXAPI_RESULT GetPower(uint32_t& power) override
    {
        power = m_pScript->m_Power;
        return KXAPI_OK;
    }

private:
    std::shared_ptr<Script> m_pScript;
};

// An engine fed tick by tick with a running second and minute count, as the sampling thread
// does.
class EngineFixture : public ::testing::Test {
protected:
    // One tick with these reports; every tenth tick ends a second, every 600th a minute.
    void Tick(const std::vector<S2FrameStatus>& frames, const Kxa3470SignalReading& signal = Signal(true))
    {
        m_Ticks++;
        m_Engine.Tick(signal, frames, m_Ticks % 10 == 0, m_Ticks % 600 == 0);
    }
    // n ticks, each with `perTick` frames of (isi, pls) numbered on from the pair's last.
    void TickFrames(int n, int isi, int pls, int perTick, double merDb = 10.0, uint32_t flags = 0,
                    const Kxa3470SignalReading& signal = Signal(true))
    {
        for (int t = 0; t < n; t++) {
            std::vector<S2FrameStatus> frames;
            for (int f = 0; f < perTick; f++)
                frames.push_back(Next(isi, pls, merDb, flags));
            Tick(frames, signal);
        }
    }
    // The next frame report of (isi, pls), numbered on from the pair's last.
    S2FrameStatus Next(int isi, int pls, double merDb = 10.0, uint32_t flags = 0)
    {
        return Frame(isi, pls, ++m_FrameNumbers[{isi, pls}], merDb, flags);
    }
    Kxapi::KxStatistic Window(int isi, int window, int32_t id, KXAPI_RESULT& result)
    {
        Kxapi::KxStatistic stat(id);
        result = m_Engine.GetWindowStatistic(isi, window, stat);
        return stat;
    }
    // The window's value of statistic id, read as T; expected is the read's answer.
    template <typename T> T WindowValue(int isi, int window, int32_t id, KXAPI_RESULT expected)
    {
        KXAPI_RESULT result;
        Kxapi::KxStatistic stat = Window(isi, window, id, result);
        EXPECT_EQ(expected, result) << "statistic " << id;
        T value{};
        stat.GetValue(value);
        return value;
    }
    int32_t WindowInt(int isi, int window, int32_t id, KXAPI_RESULT expected = KXAPI_OK)
    {
        return WindowValue<int32_t>(isi, window, id, expected);
    }
    double WindowDouble(int isi, int window, int32_t id) { return WindowValue<double>(isi, window, id, KXAPI_OK); }

    Kxa3470StatEngine m_Engine;
    int m_Ticks = 0;
    std::map<std::pair<int, int>, uint32_t> m_FrameNumbers;
};

} // namespace stat3470
