// Helpers of the port-controller tests: a client that records the replies it is sent, and
// an event FIFO read the way a client process reads its own.
#pragma once

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "CrossPlatform.h"
#include "DemodPars.h"
#include "DemodSvcEvents.h"
#include "DemodSvcGeneric.h"
#include "DemodSvcLayouts.h"
#include "IDemodPortClient.h"
#include "KxWire.h"
#include "PipeMessenger.h"
#include "TestSupport.h"

namespace kxtest {

class RecordingPortClient : public IDemodPortClient {
public:
    unsigned int ClientFifoOwner() const override { return getuid(); }
    void DemodCmdProcessedCB(const void* msg, unsigned short size) override
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        const uint8_t* p = static_cast<const uint8_t*>(msg);
        m_Replies.emplace_back(p, p + size);
    }
    std::vector<Kxapi::DemodMsg> Replies()
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_Replies;
    }
    size_t Count()
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_Replies.size();
    }
    Kxapi::DemodMsg Last()
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_Replies.empty() ? Kxapi::DemodMsg() : m_Replies.back();
    }
    // Result word of the last reply (0xFFFFFFFF when there is none).
    KXAPI_RESULT LastResult()
    {
        Kxapi::DemodMsg m = Last();
        return m.size() >= 8 ? KxGetU32(m.data(), 4) : 0xFFFFFFFFu;
    }

private:
    std::mutex m_Mutex;
    std::vector<Kxapi::DemodMsg> m_Replies;
};

// A client whose reply FIFO stays full: every reply blocks the thread that writes it until
// Release, the way a write into a FIFO nobody reads blocks until its deadline.
class StuckPortClient : public RecordingPortClient {
public:
    void DemodCmdProcessedCB(const void* msg, unsigned short size) override
    {
        m_Blocked = true;
        while (!m_Released.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        RecordingPortClient::DemodCmdProcessedCB(msg, size);
    }
    bool Blocked() const { return m_Blocked.load(); }
    void Release() { m_Released = true; }

private:
    std::atomic<bool> m_Blocked{false};
    std::atomic<bool> m_Released{false};
};

// Listens on an event FIFO of the given name and collects every event body written to it.
class EventSink {
public:
    explicit EventSink(const std::string& name) : m_Name(name)
    {
        m_pListener.reset(Xp::Instance()->NewPipeListener());
        m_Ready = m_pListener && m_pListener->Init(name.c_str()) == KXAPI_OK;
        if (m_Ready)
            m_Thread = std::thread([this] { Run(); });
    }
    ~EventSink()
    {
        m_Run = false;
        if (m_pListener)
            m_pListener->StopWaiting();
        if (m_Thread.joinable())
            m_Thread.join();
    }
    bool Ready() const { return m_Ready; }
    std::wstring WideName() const { return std::wstring(m_Name.begin(), m_Name.end()); }
    std::vector<Kxapi::DemodEvent> Events()
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_Events;
    }
    std::vector<Kxapi::DemodEvent> EventsOfKind(uint32_t kind)
    {
        std::vector<Kxapi::DemodEvent> out;
        for (const Kxapi::DemodEvent& e : Events())
            if (e.m_Kind == kind)
                out.push_back(e);
        return out;
    }
    bool Connected() const { return m_Connected.load(); }
    // The service closed its end after having connected.
    bool Closed() const { return m_Closed.load(); }

private:
    void Run()
    {
        IXpPipeConnection* pConnection = nullptr;
        while (m_Run.load() && pConnection == nullptr) {
            if (m_pListener->WaitConnection(pConnection) != KXAPI_OK)
                pConnection = nullptr;
        }
        if (pConnection == nullptr)
            return;
        m_Connected = true;
        PipeMessenger reader(pConnection);
        while (m_Run.load()) {
            char* pBody = nullptr;
            int size = 0;
            if (!reader.ReadMsg(pBody, size, 100)) {
                if (reader.LastResult() == KXAPI_E_TIMEOUT)
                    continue;
                m_Closed = true;
                return;
            }
            Kxapi::DemodEvent event;
            if (Kxapi::DemodParseEvent(reinterpret_cast<uint8_t*>(pBody), static_cast<size_t>(size), event) ==
                KXAPI_OK) {
                std::lock_guard<std::mutex> lock(m_Mutex);
                m_Events.push_back(event);
            }
            free(pBody);
        }
    }

    std::string m_Name;
    std::unique_ptr<IXpPipeListener> m_pListener;
    bool m_Ready = false;
    std::atomic<bool> m_Run{true};
    std::atomic<bool> m_Connected{false};
    std::atomic<bool> m_Closed{false};
    std::thread m_Thread;
    std::mutex m_Mutex;
    std::vector<Kxapi::DemodEvent> m_Events;
};

// Request builders of the generic commands.
inline Kxapi::DemodMsg GenericReq(uint32_t cmd, const std::wstring& xml)
{
    return Kxapi::DemodBuildGenericReq(cmd, xml);
}

inline std::wstring TuneXml(long long freqHz, int modType = 9)
{
    std::wstring xml;
    Kxapi::DemodAppendIntElem(xml, DEMOD_ELEM_FREQ_HZ, freqHz);
    Kxapi::KxDemodPars pars(modType);
    if (pars.DvbT() != nullptr)
        pars.DvbT()->m_Bandwidth = 4;
    std::wstring parsXml;
    pars.ToXml(parsXml);
    return xml + parsXml;
}

} // namespace kxtest
