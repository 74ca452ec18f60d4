#include <cstdlib>
#include <cstring>

#include "KxServiceDefs.h"
#include "KxWire.h"
#include "PipeMessenger.h"
#include "SimControlProtocol.h"
#include "XpUtil.h"

namespace {

constexpr unsigned int REPLY_TIMEOUT_MS = 10000;

std::string Fields(uint32_t command, int64_t serial)
{
    std::string request(12, '\0');
    KxPutU32(request.data(), 0, command);
    KxPutI64(request.data(), 4, serial);
    return request;
}

} // namespace

SimControlClient::SimControlClient() : m_pMessenger(new PipeMessenger())
{
}

SimControlClient::~SimControlClient()
{
    if (m_Connected) {
        char close[4];
        KxPutU32(close, 0, KXAPI_SVC_CMD_CLOSE);
        m_pMessenger->WriteMsg(close, sizeof(close));
        m_pMessenger->Disconnect();
    }
    delete m_pMessenger;
}

KXAPI_RESULT SimControlClient::Connect()
{
    if (m_Connected)
        return KXAPI_OK;
    char name[64];
    if (XpUtil::WsToCs(name, SIM_CONTROL_PIPE_NAME, sizeof(name)) != KXAPI_OK)
        return KXAPI_E_INTERNAL;
    if (!m_pMessenger->Init() || !m_pMessenger->Connect(name))
        return KXAPI_E_CONNECT_TO_SERVICE;
    m_Connected = true;
    return KXAPI_OK;
}

KXAPI_RESULT SimControlClient::Transfer(const std::string& request, std::string& answer)
{
    answer.clear();
    KXAPI_RESULT result = Connect();
    if (result != KXAPI_OK)
        return result;
    std::string copy = request;
    if (!m_pMessenger->WriteMsg(copy.data(), static_cast<int>(copy.size()))) {
        m_pMessenger->Disconnect();
        m_Connected = false;
        return KXAPI_E_COMMUNICATION;
    }
    char* pReply = nullptr;
    int size = 0;
    if (!m_pMessenger->ReadMsg(pReply, size, REPLY_TIMEOUT_MS)) {
        m_pMessenger->Disconnect();
        m_Connected = false;
        return KXAPI_E_COMMUNICATION;
    }
    if (size < static_cast<int>(SIM_CTRL_REPLY_HEADER) || KxGetU32(pReply, 0) != KxGetU32(request.data(), 0)) {
        free(pReply);
        return KXAPI_E_COMMUNICATION;
    }
    result = KxGetU32(pReply, 4);
    answer.assign(pReply + SIM_CTRL_REPLY_HEADER, static_cast<size_t>(size) - SIM_CTRL_REPLY_HEADER);
    free(pReply);
    return result;
}

KXAPI_RESULT SimControlClient::Plug(const std::string& cardJson)
{
    std::string request(4, '\0');
    KxPutU32(request.data(), 0, SIM_CTRL_PLUG);
    request += cardJson;
    std::string answer;
    return Transfer(request, answer);
}

KXAPI_RESULT SimControlClient::Unplug(int64_t serial)
{
    std::string answer;
    return Transfer(Fields(SIM_CTRL_UNPLUG, serial), answer);
}

KXAPI_RESULT SimControlClient::Power(int64_t serial, bool on)
{
    std::string request = Fields(SIM_CTRL_POWER, serial);
    request.resize(16);
    KxPutU32(request.data(), 12, on ? 1 : 0);
    std::string answer;
    return Transfer(request, answer);
}

KXAPI_RESULT SimControlClient::Carrier(int64_t serial, int input, uint32_t operation, int64_t freqHz,
                                       int64_t newFreqHz, const std::string& carrierJson)
{
    std::string request = Fields(SIM_CTRL_CARRIER, serial);
    request.resize(SIM_CTRL_CARRIER_HEADER);
    KxPutI32(request.data(), 12, input);
    KxPutU32(request.data(), 16, operation);
    KxPutI64(request.data(), 20, freqHz);
    KxPutI64(request.data(), 28, newFreqHz);
    request += carrierJson;
    std::string answer;
    return Transfer(request, answer);
}

KXAPI_RESULT SimControlClient::List(std::string& text)
{
    std::string request(4, '\0');
    KxPutU32(request.data(), 0, SIM_CTRL_LIST);
    return Transfer(request, text);
}
