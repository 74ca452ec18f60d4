#include "network/KxeInputRpc.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <new>
#include <string>

#include "KxApiSoapInputChannelProxy.h"
#include "network/KxeSoapLimits.h"

using namespace KxApiSoap;

namespace {
using Clock = std::chrono::steady_clock;

// The input-channel service of one device over HTTP. Every call has one deadline for all of
// it: before each connect, send and receive of the toolkit, that step's time-out is set to
// the time left (negative values are microseconds to gSOAP), and a step that starts after
// the deadline fails at once.
class KxeInputRpc : public IKxeInputRpc {
public:
    explicit KxeInputRpc(const char* endpoint) : m_Endpoint(endpoint)
    {
        soap* engine = m_Proxy.soap;
        KxeLimitSoapInput(engine);
        engine->user = this;
        m_pOpen = engine->fopen;
        m_pSend = engine->fsend;
        m_pRecv = engine->frecv;
        engine->fopen = &KxeInputRpc::StaticOpen;
        engine->fsend = &KxeInputRpc::StaticSend;
        engine->frecv = &KxeInputRpc::StaticRecv;
    }

    KXAPI_RESULT Attach(int portIdx, bool probeOnly, int& channelId) override
    {
        StartCall();
        KxInp__AttachResponse response;
        response.KxapiResult = 0;
        response.ChannelId = -1;
        int status = m_Proxy.Attach(m_Endpoint.c_str(), nullptr, portIdx, probeOnly, response);
        m_Proxy.destroy();
        if (status != SOAP_OK)
            return KXAPI_E_COMMUNICATION;
        if (response.KxapiResult != 0)
            return static_cast<KXAPI_RESULT>(response.KxapiResult);
        channelId = response.ChannelId;
        return KXAPI_OK;
    }

    KXAPI_RESULT Detach(int channelId) override
    {
        StartCall();
        int result = 0;
        int status = m_Proxy.Detach(m_Endpoint.c_str(), nullptr, channelId, result);
        m_Proxy.destroy();
        return status != SOAP_OK ? KXAPI_E_COMMUNICATION : static_cast<KXAPI_RESULT>(result);
    }

private:
    void StartCall()
    {
        m_Deadline = Clock::now() + std::chrono::milliseconds(KXE_DEVICE_CALL_TOTAL_MS);
        // The toolkit's own limit on a whole message, in case a step is not cut by ours.
        m_Proxy.soap->transfer_timeout = static_cast<int>((KXE_DEVICE_CALL_TOTAL_MS + 999) / 1000);
    }

    // Microseconds left of the call, as a toolkit time-out (negative: microseconds); 0 when
    // the deadline has passed.
    int TimeLeft() const
    {
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(m_Deadline - Clock::now()).count();
        if (left <= 0)
            return 0;
        return -static_cast<int>(std::min<long long>(left, INT_MAX));
    }

    static KxeInputRpc* Self(soap* engine) { return static_cast<KxeInputRpc*>(engine->user); }

    static SOAP_SOCKET StaticOpen(soap* engine, const char* endpoint, const char* host, int port)
    {
        KxeInputRpc* self = Self(engine);
        const int left = self->TimeLeft();
        if (left == 0) {
            engine->error = SOAP_TCP_ERROR;
            return SOAP_INVALID_SOCKET;
        }
        engine->connect_timeout = left;
        return self->m_pOpen(engine, endpoint, host, port);
    }

    static int StaticSend(soap* engine, const char* data, size_t size)
    {
        KxeInputRpc* self = Self(engine);
        const int left = self->TimeLeft();
        if (left == 0)
            return SOAP_EOF;
        engine->send_timeout = left;
        return self->m_pSend(engine, data, size);
    }

    static size_t StaticRecv(soap* engine, char* data, size_t size)
    {
        KxeInputRpc* self = Self(engine);
        const int left = self->TimeLeft();
        if (left == 0)
            return 0; // read as the end of the answer: the call fails
        engine->recv_timeout = left;
        return self->m_pRecv(engine, data, size);
    }

    std::string m_Endpoint;
    InputChannelProxy m_Proxy;
    Clock::time_point m_Deadline = Clock::now();
    SOAP_SOCKET (*m_pOpen)(soap*, const char*, const char*, int) = nullptr;
    int (*m_pSend)(soap*, const char*, size_t) = nullptr;
    size_t (*m_pRecv)(soap*, char*, size_t) = nullptr;
};
} // namespace

IKxeInputRpc* NewKxeInputRpc(const char* endpoint)
{
    return endpoint != nullptr ? new (std::nothrow) KxeInputRpc(endpoint) : nullptr;
}
