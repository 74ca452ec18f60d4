// A KxapiServiceSim on a private FIFO directory with this test program as its client, and
// the helpers the demod client tests share (the virtual 3460 of the default scenario).
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "DemodPars.h"
#include "DemodPortClient.h"
#include "DemodSvcEvents.h"
#include "KxScanProgress.h"
#include "KxStatistic.h"
#include "TestSupport.h"
#include "XpPipeConnectionLinux.h"

namespace demodclient {

// Collects the events one client receives.
class EventLog {
public:
    Kxapi::DemodPortClient::EventCallback Callback()
    {
        return [this](const Kxapi::DemodEvent& event) {
            std::lock_guard<std::mutex> lock(m_Mutex);
            m_Events.push_back(event);
        };
    }
    std::vector<Kxapi::DemodEvent> Events()
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_Events;
    }
    // The blind-scan progress reports received so far, in order.
    std::vector<Kxapi::KxBsProgress> BlindScanReports()
    {
        std::vector<Kxapi::KxBsProgress> reports;
        for (const Kxapi::DemodEvent& event : Events()) {
            Kxapi::KxBsProgress progress;
            if (event.m_Kind == Kxapi::DEMOD_EVENT_BLIND_SCAN && progress.FromXml(event.m_Xml) == KXAPI_OK)
                reports.push_back(progress);
        }
        return reports;
    }
    size_t CountOfKind(uint32_t kind)
    {
        size_t count = 0;
        for (const Kxapi::DemodEvent& event : Events())
            count += event.m_Kind == kind ? 1 : 0;
        return count;
    }

private:
    std::mutex m_Mutex;
    std::vector<Kxapi::DemodEvent> m_Events;
};

constexpr int64_t SERIAL_3460 = 3460000001;
constexpr int64_t CARRIER_FREQ_HZ = 474000000; // the default scenario's carrier on the 3460
// Generous bounds of the waits (never asserted as speeds).
constexpr unsigned int READY_WAIT_MS = 20000;
constexpr unsigned int LOCK_WAIT_MS = 10000;
constexpr unsigned int EVENT_WAIT_MS = 5000;

// I/Q sampling parameters the 3460 accepts: 8 MHz wide, 9,142,857 samples/s.
inline Kxapi::KxDemodPars IqPars()
{
    Kxapi::KxDemodPars pars(15);
    pars.Iq()->m_BandwidthHz = 8000000;
    pars.Iq()->m_IqDataType = 0;
    pars.Iq()->m_SampleRateHz = 9142857;
    return pars;
}

// Opens the client once the service listens and holds the device (its initialisation runs
// on the service's enumerator thread after start-up): the attach answers NO_SUCH_DEVICE
// until then. A connection the service did not confirm in time (its accept thread starts a
// thread for every client, slow under the sanitizers while many connect at once) is tried
// again, as an application would.
inline KXAPI_RESULT OpenWhenReady(Kxapi::DemodPortClient& client, int64_t serial = SERIAL_3460, int32_t port = 0)
{
    KXAPI_RESULT result = KXAPI_E_NO_SUCH_DEVICE;
    kxtest::WaitUntil(
        [&] {
            result = client.Init(serial, port);
            return result != KXAPI_E_NO_SUCH_DEVICE && result != KXAPI_E_CONNECT_TO_SERVICE;
        },
        READY_WAIT_MS);
    return result;
}

class DemodClientTest : public ::testing::Test {
protected:
    // The scenario the service runs ("": the default one).
    virtual std::string ScenarioText() { return ""; }
    void SetUp() override
    {
        const std::string scenario = ScenarioText();
        const std::string path = m_ScenarioDir.File("scenario.json");
        if (!scenario.empty())
            std::ofstream(path) << scenario;
        ASSERT_TRUE(scenario.empty() ? m_Service.Start() : m_Service.Start({"--scenario", path})) << m_Service.Log();
        m_OldPrefix = XpPipeBaseLinux::m_pFifoPrefix;
        m_Prefix = m_Service.Dir() + "/";
        XpPipeBaseLinux::m_pFifoPrefix = m_Prefix.c_str();
    }
    void TearDown() override
    {
        XpPipeBaseLinux::m_pFifoPrefix = m_OldPrefix;
        // A clean stop: no crash, and under the sanitizers no report (that changes the status).
        kxtest::ProcessResult result = m_Service.Stop();
        EXPECT_TRUE(result.m_Exited) << result.m_Output;
        EXPECT_EQ(0, result.m_Status) << result.m_Output;
    }

    // Reads statistics by id; the client's result.
    static KXAPI_RESULT Read(Kxapi::DemodPortClient& client, const std::vector<int32_t>& ids,
                             std::vector<Kxapi::KxStatistic>& stats)
    {
        stats.clear();
        for (int32_t id : ids)
            stats.emplace_back(id);
        return client.Svc().GetStatistics(stats.data(), static_cast<int>(stats.size()));
    }

    static bool IsLocked(Kxapi::DemodPortClient& client)
    {
        std::vector<Kxapi::KxStatistic> stats;
        bool locked = false;
        return Read(client, {Kxapi::KX_STAT_LOCK}, stats) == KXAPI_OK && stats[0].GetValue(locked) == KXAPI_OK && locked;
    }

    kxtest::TempDir m_ScenarioDir;
    kxtest::SimService m_Service;
    const char* m_OldPrefix = nullptr;
    std::string m_Prefix;
};

} // namespace demodclient
