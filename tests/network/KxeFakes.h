// Stand-ins for the network: an enumerator that returns a scripted device list and device
// SOAP clients that record attach and detach calls.
#pragma once

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <memory>
#include <mutex>
#include <vector>

#include "KxeListDefs.h"
#include "network/KxeEnum.h"
#include "network/KxeInputRpc.h"

namespace kxtest {

class ScriptedEnumerator : public IKxeEnumerator {
public:
    void SetDevices(const std::vector<KxeListEntry>& devices)
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Devices = devices;
    }
    bool EnumerateDevices(KxeListEntry* entries, int& count) override
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        int n = 0;
        for (const KxeListEntry& device : m_Devices) {
            if (n >= count)
                break;
            entries[n++] = device;
        }
        count = n;
        ++m_Cycles;
        return true;
    }
    int Cycles()
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_Cycles;
    }

private:
    std::mutex m_Mutex;
    std::vector<KxeListEntry> m_Devices;
    int m_Cycles = 0;
};

// What the simulated devices saw, shared by every client the factory makes.
struct DeviceLog {
    std::mutex m_Mutex;
    int m_Attaches = 0;
    int m_Detaches = 0;
    int m_NextChannel = 7;
    KXAPI_RESULT m_AttachResult = KXAPI_OK;
    std::vector<std::string> m_Endpoints;
    // A device at this endpoint takes m_SlowMs to answer each call (a slow peer).
    std::string m_SlowEndpoint;
    unsigned int m_SlowMs = 0;
    int m_SlowCallsStarted = 0;
};

class RecordingRpc : public IKxeInputRpc {
public:
    RecordingRpc(std::shared_ptr<DeviceLog> log, std::string endpoint)
        : m_pLog(std::move(log)), m_Endpoint(std::move(endpoint))
    {
    }
    KXAPI_RESULT Attach(int, bool, int& channelId) override
    {
        AnswerSlowly();
        std::lock_guard<std::mutex> lock(m_pLog->m_Mutex);
        if (m_pLog->m_AttachResult != KXAPI_OK)
            return m_pLog->m_AttachResult;
        ++m_pLog->m_Attaches;
        channelId = m_pLog->m_NextChannel++;
        return KXAPI_OK;
    }
    KXAPI_RESULT Detach(int) override
    {
        AnswerSlowly();
        std::lock_guard<std::mutex> lock(m_pLog->m_Mutex);
        ++m_pLog->m_Detaches;
        return KXAPI_OK;
    }

private:
    void AnswerSlowly()
    {
        unsigned int delayMs = 0;
        {
            std::lock_guard<std::mutex> lock(m_pLog->m_Mutex);
            if (m_Endpoint == m_pLog->m_SlowEndpoint) {
                delayMs = m_pLog->m_SlowMs;
                ++m_pLog->m_SlowCallsStarted;
            }
        }
        if (delayMs != 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    }

    std::shared_ptr<DeviceLog> m_pLog;
    std::string m_Endpoint;
};

inline KxeInputRpcFactory RecordingFactory(std::shared_ptr<DeviceLog> log)
{
    return [log](const char* endpoint) -> IKxeInputRpc* {
        {
            std::lock_guard<std::mutex> lock(log->m_Mutex);
            log->m_Endpoints.emplace_back(endpoint);
        }
        return new RecordingRpc(log, endpoint);
    };
}

inline KxeListEntry Device(int64_t serial, uint8_t lastOctet, int port = 80, int typeNumber = 5910)
{
    KxeListEntry entry;
    memset(&entry, 0, sizeof(entry));
    entry.m_Serial = serial;
    entry.m_TypeNumber = typeNumber;
    entry.m_FirmwareVersion = 3;
    entry.m_FirmwareVariant = 1;
    const uint8_t ip[4] = {10, 200, 0, lastOctet};
    memcpy(entry.m_IpAddr, ip, 4);
    const uint8_t mac[6] = {0x00, 0x14, 0xF4, 0x00, 0x00, lastOctet};
    memcpy(entry.m_MacAddr, mac, 6);
    entry.m_OpMode = 0;
    entry.m_Port = port;
    return entry;
}

} // namespace kxtest
