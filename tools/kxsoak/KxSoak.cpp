// kxsoak: one client process of the soak run (scripts/soak.sh). Performs a random sequence of
// operations on a running service through the library's clients: demod port attach, tune,
// statistics reads, event registrations, blind and spectrum scans (run to their end or
// cancelled), the global FIFO's version, and the network-device FIFO's list keys, list and
// event registration. Every answer must be well-formed: a reply that is malformed or never
// comes (KXAPI_E_INTERNAL, KXAPI_E_TIMEOUT or a code outside the table) is a failure; refusals
// (no such device, port in use, not locked, ...) are normal answers.
//
//   kxsoak [--fifo-dir DIR] --seed N --ops N SERIAL ...
//
// Prints "kxsoak: ops=N refused=N failed=N unreported-scans=N" and exits 1 when anything
// failed, 2 on usage errors.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "CrossPlatform.h"
#include "DemodPars.h"
#include "DemodPortClient.h"
#include "DemodSvcEvents.h"
#include "KxGlobalSvcClient.h"
#include "KxScanProgress.h"
#include "KxStatistic.h"
#include "KxeSvcClient.h"
#include "XpUtil.h"

using namespace Kxapi;

namespace {

constexpr int ATTR_FREQ_MAX = 6;
constexpr int ATTR_FREQ_MIN = 7;
constexpr unsigned int SCAN_END_WAIT_MS = 10000;
// A reply later than this counts as missing (the library waits forever by default).
constexpr unsigned int REPLY_TIMEOUT_MS = 30000;

// Final scan reports seen on the event thread, per kind.
class ScanEnds {
public:
    void OnEvent(const DemodEvent& event)
    {
        bool final = false;
        if (event.m_Kind == DEMOD_EVENT_BLIND_SCAN) {
            KxBsProgress p;
            final = p.FromXml(event.m_Xml) == KXAPI_OK && p.IsFinal();
        } else if (event.m_Kind == DEMOD_EVENT_SPECTRUM_SCAN) {
            KxSpsProgress p;
            final = p.FromXml(event.m_Xml) == KXAPI_OK && p.IsFinal();
        }
        if (!final)
            return;
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Ends[event.m_Kind == DEMOD_EVENT_BLIND_SCAN ? 0 : 1]++;
        m_Changed.notify_all();
    }
    int Count(bool blind)
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_Ends[blind ? 0 : 1];
    }
    bool WaitBeyond(bool blind, int count, unsigned int timeoutMs)
    {
        std::unique_lock<std::mutex> lock(m_Mutex);
        return m_Changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                 [&] { return m_Ends[blind ? 0 : 1] > count; });
    }

private:
    std::mutex m_Mutex;
    std::condition_variable m_Changed;
    int m_Ends[2] = {0, 0};
};

class Soak {
public:
    Soak(unsigned int seed, std::vector<long long> serials) : m_Random(seed), m_Serials(std::move(serials)) {}

    int Run(int ops)
    {
        for (int i = 0; i < ops; i++)
            Step();
        m_Port.reset();
        printf("kxsoak: ops=%d refused=%d failed=%d unreported-scans=%d\n", m_Ops, m_Refused, m_Failed,
               m_ScansWithoutEnd);
        return m_Failed == 0 ? 0 : 1;
    }

private:
    int Pick(int n) { return static_cast<int>(m_Random() % static_cast<unsigned int>(n)); }

    // Counts one answer; a malformed or missing one is a failure.
    void Check(const char* op, KXAPI_RESULT result)
    {
        m_Ops++;
        const bool unknown = strncmp(KxapiResult2Str(result), "???", 3) == 0;
        if (result == KXAPI_E_INTERNAL || result == KXAPI_E_TIMEOUT || unknown) {
            m_Failed++;
            fprintf(stderr, "kxsoak: %s: %s (%u)\n", op, KxapiResult2Str(result), result);
        } else if (KxapiFailed(result)) {
            m_Refused++;
            if (m_Verbose)
                fprintf(stderr, "kxsoak: %s refused: %s\n", op, KxapiResult2Str(result));
        }
    }

    void Step()
    {
        switch (Pick(10)) {
        case 0:
        case 1:
            Attach();
            break;
        case 2:
            Tune();
            break;
        case 3:
        case 4:
            Statistics();
            break;
        case 5:
            Events();
            break;
        case 6:
            Scan(Pick(2) == 0);
            break;
        case 7:
            Global();
            break;
        case 8:
            Network();
            break;
        default:
            if (m_Port)
                m_Port.reset(); // Close: the service detaches the port
            break;
        }
    }

    bool EnsurePort()
    {
        if (m_Port && m_Port->IsOpen())
            return true;
        Attach();
        return m_Port && m_Port->IsOpen();
    }

    void Attach()
    {
        m_Port = std::make_unique<DemodPortClient>();
        m_Port->SetReplyTimeout(REPLY_TIMEOUT_MS);
        const long long serial = m_Serials[static_cast<size_t>(Pick(static_cast<int>(m_Serials.size())))];
        const KXAPI_RESULT result = m_Port->Init(serial, Pick(4) == 0 ? 1 : 0);
        Check("attach", result);
        if (KxapiFailed(result)) {
            m_Port.reset();
            return;
        }
        m_Min = m_Max = 0;
        int64_t value = 0;
        if (m_Port->Svc().GetAttribute(m_Port->PortIndex() + 1, ATTR_FREQ_MIN, value) == KXAPI_OK)
            m_Min = value * 1000000;
        if (m_Port->Svc().GetAttribute(m_Port->PortIndex() + 1, ATTR_FREQ_MAX, value) == KXAPI_OK)
            m_Max = value * 1000000;
        Check("callback", m_Port->CallbackRegisterEvents([this](const DemodEvent& e) { m_Ends.OnEvent(e); }, 0));
    }

    void Tune()
    {
        if (!EnsurePort())
            return;
        KxDemodPars pars;
        KXAPI_RESULT result = m_Port->Svc().ControlGet(pars);
        Check("control-get", result);
        const int64_t span = m_Max > m_Min ? m_Max - m_Min : 1;
        const int64_t freq = m_Min + static_cast<int64_t>(m_Random() % static_cast<uint64_t>(span));
        Check("tune", m_Port->Svc().Tune(freq, pars));
    }

    void Statistics()
    {
        if (!EnsurePort())
            return;
        bool locked = false;
        int32_t mer = 0;
        Check("lock-mer", m_Port->Svc().LockMerGet(locked, mer));
        KxStatistic stats[2] = {KxStatistic(KX_STAT_LOCK), KxStatistic(21)};
        Check("statistics", m_Port->Svc().GetStatistics(stats, 2));
        std::wstring reply;
        Check("statistics-empty", m_Port->Svc().GetStatisticsXml(L"", reply));
        std::vector<KxStatistic> supported;
        Check("supported", m_Port->Svc().GetSupportedStatistics(64, supported));
    }

    void Events()
    {
        if (!EnsurePort())
            return;
        Check("events", m_Port->CallbackRegisterEvents([this](const DemodEvent& e) { m_Ends.OnEvent(e); },
                                                      static_cast<uint64_t>(Pick(4))));
    }

    // A short scan from the port's lowest frequency; waited for to its end, or cancelled.
    void Scan(bool blind)
    {
        if (!EnsurePort() || m_Max <= m_Min)
            return;
        const int before = m_Ends.Count(blind);
        KXAPI_RESULT result;
        if (blind) {
            KxDemodPars pars;
            m_Port->Svc().ControlGet(pars);
            result = m_Port->Svc().BlindScan(pars, 8000000, m_Min, m_Min + 24000000);
        } else {
            result = m_Port->Svc().SpectrumScan(Pick(2) == 0 ? 5 : 6, 1000000, m_Min, m_Min + 5000000);
        }
        Check(blind ? "blind-scan" : "spectrum-scan", result);
        if (result != KXAPI_OK)
            return;
        if (Pick(3) == 0) {
            const KXAPI_RESULT cancel = blind ? m_Port->Svc().BlindScanCancel() : m_Port->Svc().SpectrumScanCancel();
            Check("scan-cancel", cancel == KXAPI_E_IDLE ? KXAPI_OK : cancel);
        }
        // A running scan that another client's tune cancels still sends its final report; a
        // queued scan that a newer scan or tune of another client drops before it started
        // never reports. So a missing report is counted, not failed.
        if (!m_Ends.WaitBeyond(blind, before, SCAN_END_WAIT_MS))
            m_ScansWithoutEnd++;
    }

    void Global()
    {
        KxGlobalSvcClient client;
        client.SetReplyTimeout(REPLY_TIMEOUT_MS);
        KxServiceVersion version;
        Check("global-version", client.GetServiceVersion(version));
        client.Close();
    }

    void Network()
    {
        KxeSvcClient client;
        client.SetReplyTimeout(REPLY_TIMEOUT_MS);
        std::string shmKey, mutexKey;
        Check("net-keys", client.GetListKeys(shmKey, mutexKey));
        KxeListSnapshot list;
        Check("net-list", client.ReadDeviceList(list));
        if (Pick(2) == 0) {
            Check("net-events", client.RegisterEvents(3, [](int64_t, uint32_t) {}));
            client.UnregisterEvents();
        }
    }

    std::mt19937 m_Random;
    std::vector<long long> m_Serials;
    std::unique_ptr<DemodPortClient> m_Port;
    ScanEnds m_Ends;
    int64_t m_Min = 0;
    int64_t m_Max = 0;
    int m_Ops = 0;
    int m_Refused = 0;
    int m_Failed = 0;
    int m_ScansWithoutEnd = 0;
    bool m_Verbose = getenv("KXSOAK_VERBOSE") != nullptr;
};

int Usage()
{
    fprintf(stderr, "usage: kxsoak [--fifo-dir DIR] --seed N --ops N SERIAL ...\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    unsigned int seed = 1;
    int ops = 100;
    std::vector<long long> serials;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--fifo-dir") == 0 && i + 1 < argc) {
            if (Xp::SetIpcDirectory(argv[++i]) != KXAPI_OK)
                return Usage();
        } else if (strcmp(argv[i], "--seed") == 0 && i + 1 < argc) {
            seed = static_cast<unsigned int>(strtoul(argv[++i], nullptr, 10));
        } else if (strcmp(argv[i], "--ops") == 0 && i + 1 < argc) {
            ops = atoi(argv[++i]);
        } else {
            char* end = nullptr;
            long long serial = strtoll(argv[i], &end, 10);
            if (end == argv[i] || *end != '\0')
                return Usage();
            serials.push_back(serial);
        }
    }
    if (serials.empty() || ops < 0)
        return Usage();
    setvbuf(stdout, nullptr, _IOLBF, 0);
    return Soak(seed, serials).Run(ops);
}
