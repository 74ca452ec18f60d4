#include <cstdlib>
#include <cstring>
#include <vector>

#include "KxServiceDefs.h"
#include "KxWire.h"
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

SimControlClient::SimControlClient()
    : m_Connection(SIM_CONTROL_PIPE_NAME, KxServiceConnection::ReconnectPolicy::ON_NEXT_REQUEST)
{
    m_Connection.SetReplyTimeout(REPLY_TIMEOUT_MS);
}

SimControlClient::~SimControlClient() = default; // sends the close command

KXAPI_RESULT SimControlClient::Connect()
{
    return m_Connection.Connect();
}

KXAPI_RESULT SimControlClient::Transfer(const std::string& request, std::string& answer)
{
    answer.clear();
    KXAPI_RESULT result = Connect();
    if (result != KXAPI_OK)
        return result;
    std::vector<uint8_t> reply;
    if (m_Connection.Transfer(request.data(), request.size(), reply) != KXAPI_OK)
        return KXAPI_E_COMMUNICATION;
    if (reply.size() < SIM_CTRL_REPLY_HEADER || KxGetU32(reply.data(), 0) != KxGetU32(request.data(), 0))
        return KXAPI_E_COMMUNICATION;
    answer.assign(reply.begin() + SIM_CTRL_REPLY_HEADER, reply.end());
    return KxGetU32(reply.data(), 4);
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

KXAPI_RESULT SimControlClient::Usage(uint64_t& cpuNs, uint64_t& requests)
{
    cpuNs = 0;
    requests = 0;
    std::string request(4, '\0');
    KxPutU32(request.data(), 0, SIM_CTRL_USAGE);
    std::string answer;
    KXAPI_RESULT result = Transfer(request, answer);
    if (result != KXAPI_OK)
        return result;
    if (answer.size() != 16)
        return KXAPI_E_COMMUNICATION;
    cpuNs = KxGetU64(answer.data(), 0);
    requests = KxGetU64(answer.data(), 8);
    return KXAPI_OK;
}
