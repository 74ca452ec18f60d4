// A receiver HAL for port-controller tests: one port (by default), a scriptable carrier and
// lock, blind and spectrum scans supported, frequency limits 42 to 870 MHz, and a record of
// every call that reaches it.
#pragma once

#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "DemodHal.h"
#include "KxDevice.h"
#include "KxStatistic.h"
#include "XpUtil.h"

namespace kxtest {

// The device object lives in a base constructed before the HAL, which keeps a reference.
struct TestDeviceHolder {
    Kxapi::KxDeviceInt m_TestDevice;
};

using namespace Kxapi;

class TestDemodHal : private TestDeviceHolder, public DemodHal {
public:
    static constexpr long long SERIAL = 3460000042LL;
    static constexpr int MER_TENTHS_DB = 321;

    struct Call {
        std::string m_Name;
        long long m_Value = 0;
        bool m_Execute = false;
    };

    TestDemodHal() : DemodHal(SERIAL, m_TestDevice) {}

    int NumDemodPorts() override { return m_NumPorts; }

    KXAPI_RESULT InitPort(int port) override { return Record("InitPort", port, true, KXAPI_OK); }
    KXAPI_RESULT OnFirstUsage(int port) override { return Record("OnFirstUsage", port, true, m_FirstUsageResult.load()); }
    KXAPI_RESULT OnLastUsageEnds(int port) override { return Record("OnLastUsageEnds", port, true, KXAPI_OK); }

    // Acquisition: locks when a carrier sits at the held frequency.
    KXAPI_RESULT Tune(int port, bool blindScan) override
    {
        Record(blindScan ? "TuneStepScan" : "TuneStep", port, true, KXAPI_OK);
        m_Locked = HasCarrier(m_FreqHz.load());
        if (blindScan) {
            if (m_ScanStepDelayMs.load() > 0)
                XpUtil::Sleep(m_ScanStepDelayMs.load());
            // No carrier: the acquisition says so at once instead of timing out.
            return m_Locked.load() ? KXAPI_OK : KXAPI_E_NOT_LOCKED;
        }
        return KXAPI_OK;
    }
    KXAPI_RESULT Tune(int, long long freqHz, Kxapi::KxDemodPars& pars, bool execute) override
    {
        if (freqHz < 42000000LL || freqHz > 870000000LL)
            return Record("Tune", freqHz, execute, KXAPI_E_INVALID_FREQ);
        if (execute && m_TuneExecuteResult.load() != KXAPI_OK)
            return Record("Tune", freqHz, execute, m_TuneExecuteResult.load()); // nothing applied
        if (execute) {
            std::lock_guard<std::mutex> lock(m_Mutex);
            m_Pars = pars;
            m_FreqHz = freqHz;
            m_Locked = false;
        }
        return Record("Tune", freqHz, execute, KXAPI_OK);
    }
    KXAPI_RESULT GetAttribute(int, int attribute, int& value, bool) override
    {
        switch (attribute) {
        case DEMOD_ATTR_MOD_FREQ_ABSMIN:
        case DEMOD_ATTR_MOD_FREQ_MIN:
            value = 42;
            return KXAPI_OK;
        case DEMOD_ATTR_MOD_FREQ_ABSMAX:
        case DEMOD_ATTR_MOD_FREQ_MAX:
            value = 870;
            return KXAPI_OK;
        default:
            return KXAPI_E_NOT_SUPPORTED;
        }
    }
    KXAPI_RESULT GetSupportedStatistics(int, int& count, SupportedStatisticsType* list) override
    {
        static const SupportedStatisticsType TABLE[] = {
            {KX_STAT_LOCK, false, 0, 1, {-1, -1, -1, -1}},
            {KX_STAT_MER, true, 0, 1, {-1, -1, -1, -1}},
            {KX_STAT_RF_LVL_CHAN_QS, false, 0, 1, {-1, -1, -1, -1}},
            {KX_STAT_TEMP_ENCODER, false, 0, 2, {-1, -1, -1, -1}},
        };
        const int n = static_cast<int>(sizeof(TABLE) / sizeof(TABLE[0]));
        if (count < n) {
            count = n;
            return KXAPI_E_BUF_TOO_SMALL;
        }
        for (int i = 0; i < n; i++)
            list[i] = TABLE[i];
        count = n;
        return KXAPI_OK;
    }
    KXAPI_RESULT GetStatistics(int, int count, Kxapi::KxStatistic* stats) override
    {
        const bool locked = m_Locked.load();
        for (int i = 0; i < count; i++) {
            Kxapi::KxStatistic& s = stats[i];
            {
                std::lock_guard<std::mutex> lock(m_Mutex);
                m_StatReads.push_back(s.m_StatisticId);
            }
            switch (s.m_StatisticId) {
            case KX_STAT_LOCK:
                s.SetValue(locked);
                s.m_Result = KXAPI_OK;
                break;
            case KX_STAT_MER:
                s.SetValue<int32_t>(locked ? MER_TENTHS_DB : 0);
                s.m_Result = locked ? KXAPI_OK : KXAPI_E_NOT_LOCKED;
                break;
            case KX_STAT_RF_LVL_CHAN_QS:
            case KX_STAT_RF_LVL_NARROW_QS:
                s.SetValue<int32_t>(static_cast<int32_t>(m_FreqHz.load() / 1000000));
                s.m_Result = KXAPI_OK;
                break;
            default:
                s.SetValue<int32_t>(42);
                s.m_Result = KXAPI_OK;
                break;
            }
        }
        return KXAPI_OK;
    }
    // Before the first measurement: not locked, MER not available.
    KXAPI_RESULT GetDefaultStatisticValues(int count, Kxapi::KxStatistic* stats) override
    {
        for (int i = 0; i < count; i++)
            stats[i].m_Result = stats[i].m_StatisticId == KX_STAT_MER ? KXAPI_E_NOT_LOCKED : KXAPI_OK;
        return KXAPI_OK;
    }
    KXAPI_RESULT Update(int, bool) override { return KXAPI_OK; }
    KXAPI_RESULT GetAutoBlindScanPars(int, Kxapi::KxDemodPars& pars) override
    {
        pars.SetModType(Kxapi::KX_MOD_DVBT);
        pars.DvbT()->m_Bandwidth = 4; // 8 MHz
        return KXAPI_OK;
    }
    KXAPI_RESULT GetBlindScanFrequencies(int, long long, long long&, Kxapi::KxDemodPars&, long long&) override
    {
        return KXAPI_E_NOT_SUPPORTED;
    }
    KXAPI_RESULT CancelBlindScan(int port) override { return Record("CancelBlindScan", port, true, KXAPI_OK); }
    KXAPI_RESULT CloseSpectrumScan(int port) override { return Record("CloseSpectrumScan", port, true, KXAPI_OK); }
    KXAPI_RESULT InitSpectrumScan(int, int scanType, int& tunerArg, int& tuningMode, int& settleMs, long long& offsetHz,
                                  bool execute) override
    {
        tunerArg = -1;
        tuningMode = 0;
        settleMs = m_SettleMs.load();
        offsetHz = 0;
        return Record("InitSpectrumScan", scanType, execute, KXAPI_OK);
    }
    KXAPI_RESULT GetDemodControl(int, Kxapi::KxDemodPars& pars) override
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        pars = m_Pars;
        return KXAPI_OK;
    }
    KXAPI_RESULT GetTunerFrequency(int, long long& freqHz, int tunerId) override
    {
        if (tunerId == 1)
            return KXAPI_E_NOT_SUPPORTED;
        freqHz = m_FreqHz.load();
        return KXAPI_OK;
    }
    KXAPI_RESULT SetDemodControl(int, Kxapi::KxDemodPars& pars, bool execute) override
    {
        if (pars.ModType() == Kxapi::KX_MOD_NONE)
            return Record("SetDemodControl", -1, execute, KXAPI_E_INVALID_MODTYPE);
        if (execute) {
            std::lock_guard<std::mutex> lock(m_Mutex);
            m_Pars = pars;
        }
        return Record("SetDemodControl", pars.ModType(), execute, KXAPI_OK);
    }
    KXAPI_RESULT SetTunerFrequency(int, long long freqHz, int tunerId, bool execute) override
    {
        if (execute && tunerId != 1) {
            m_FreqHz = freqHz;
            m_Locked = false;
        }
        return Record(tunerId == 1 ? "SetTunerFrequency1" : "SetTunerFrequency", freqHz, execute, KXAPI_OK);
    }
    KXAPI_RESULT SetTuningMode(int, int mode, bool execute) override { return Record("SetTuningMode", mode, execute, KXAPI_OK); }
    KXAPI_RESULT LnbSetVoltage(int, unsigned int level, bool execute) override
    {
        if (execute && m_LnbDelayMs.load() > 0)
            XpUtil::Sleep(m_LnbDelayMs.load());
        return Record("LnbSetVoltage", level, execute, KXAPI_OK);
    }
    KXAPI_RESULT LnbEnable(int, bool enable, bool execute) override { return Record("LnbEnable", enable, execute, KXAPI_OK); }
    KXAPI_RESULT LnbSendDiseqcMessage(int, const unsigned char*, int length, unsigned char* reply, int* replyLength,
                                      bool execute) override
    {
        m_DiseqcReplyWasNull = reply == nullptr;
        if (reply != nullptr)
            for (int i = 0; i < *replyLength; i++)
                reply[i] = static_cast<unsigned char>(0xE0 + i);
        *replyLength = m_DiseqcReplyLength.load();
        return Record("LnbSendDiseqcMessage", length, execute, KXAPI_OK);
    }
    KXAPI_RESULT GetTunePars(int, Kxapi::KxTunePars* pars, bool execute) override
    {
        for (int i = 0; i < Kxapi::KxTunePars::NUM_WORDS; i++)
            pars->m_Words[i] = i + 1;
        return Record("GetTunePars", 0, execute, KXAPI_OK);
    }

    // ---- Script and record ----
    void AddCarrier(long long freqHz)
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Carriers.insert(freqHz);
    }
    std::vector<Call> Calls()
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_Calls;
    }
    // Executed calls of one operation, in order.
    std::vector<long long> Executed(const std::string& name)
    {
        std::vector<long long> values;
        for (const Call& c : Calls())
            if (c.m_Name == name && c.m_Execute)
                values.push_back(c.m_Value);
        return values;
    }
    int Count(const std::string& name)
    {
        int n = 0;
        for (const Call& c : Calls())
            if (c.m_Name == name)
                n++;
        return n;
    }
    int StatReads(int id)
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        int n = 0;
        for (int read : m_StatReads)
            if (read == id)
                n++;
        return n;
    }

    int m_NumPorts = 1;
    std::atomic<KXAPI_RESULT> m_FirstUsageResult{KXAPI_OK};
    std::atomic<KXAPI_RESULT> m_TuneExecuteResult{KXAPI_OK};
    std::atomic<int> m_SettleMs{0};
    std::atomic<int> m_ScanStepDelayMs{0};
    std::atomic<int> m_LnbDelayMs{0};
    std::atomic<int> m_DiseqcReplyLength{0};
    std::atomic<bool> m_DiseqcReplyWasNull{false};
    std::atomic<long long> m_FreqHz{0};
    std::atomic<bool> m_Locked{false};

private:
    bool HasCarrier(long long freqHz)
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_Carriers.count(freqHz) != 0;
    }
    KXAPI_RESULT Record(const char* name, long long value, bool execute, KXAPI_RESULT result)
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Calls.push_back({name, value, execute});
        return result;
    }

    std::mutex m_Mutex;
    std::set<long long> m_Carriers;
    std::vector<Call> m_Calls;
    std::vector<int> m_StatReads;
    Kxapi::KxDemodPars m_Pars;
};

} // namespace kxtest
