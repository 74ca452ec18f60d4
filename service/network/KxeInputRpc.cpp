#include "network/KxeInputRpc.h"

#include <new>
#include <string>

#include "KxApiSoapInputChannelProxy.h"

using namespace KxApiSoap;

namespace {
constexpr int RPC_TIMEOUT_S = 5;

// The input-channel service of one device over HTTP.
class KxeInputRpc : public IKxeInputRpc {
public:
    explicit KxeInputRpc(const char* endpoint) : m_Endpoint(endpoint)
    {
        m_Proxy.soap->recv_timeout = RPC_TIMEOUT_S;
        m_Proxy.soap->send_timeout = RPC_TIMEOUT_S;
        m_Proxy.soap->connect_timeout = RPC_TIMEOUT_S;
    }

    KXAPI_RESULT Attach(int portIdx, bool probeOnly, int& channelId) override
    {
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
        int result = 0;
        int status = m_Proxy.Detach(m_Endpoint.c_str(), nullptr, channelId, result);
        m_Proxy.destroy();
        return status != SOAP_OK ? KXAPI_E_COMMUNICATION : static_cast<KXAPI_RESULT>(result);
    }

private:
    std::string m_Endpoint;
    InputChannelProxy m_Proxy;
};
} // namespace

IKxeInputRpc* NewKxeInputRpc(const char* endpoint)
{
    return endpoint != nullptr ? new (std::nothrow) KxeInputRpc(endpoint) : nullptr;
}
