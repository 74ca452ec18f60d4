// Input-channel service of the simulated device: "Attach" gives a channel per port (and
// refuses a port another host holds), "Detach" releases it. Every call is logged.
#include <map>
#include <mutex>
#include <string>

#include "KxApiSoapInputChannelService.h"
#include "KxapiResult.h"
#include "NetDevSim.h"

using namespace KxApiSoap;

namespace {
constexpr const char* OTHER_HOST = "203.0.113.7"; // documentation address, never contacted
constexpr int ACCEPT_SLICE_S = 1;

struct PortHolder {
    std::string m_Host;
    int m_ChannelId = 0;
};

std::mutex g_Lock;
std::map<int, PortHolder> g_Ports; // port index -> holder
int g_NextChannel = 100;
} // namespace

int InputChannelService::Attach(int PortIdx, bool ProbeOnly, struct KxInp__AttachResponse& result)
{
    std::lock_guard<std::mutex> lock(g_Lock);
    const std::string host = soap->host;
    auto held = g_Ports.find(PortIdx);
    if (held != g_Ports.end() && held->second.m_Host != host) {
        result.KxapiResult = static_cast<int>(KXAPI_E_IN_USE);
        result.ChannelId = -1;
        NetDevLog("ATTACH port=%d host=%s refused", PortIdx, host.c_str());
        return SOAP_OK;
    }
    if (held == g_Ports.end() && !ProbeOnly)
        held = g_Ports.emplace(PortIdx, PortHolder{host, g_NextChannel++}).first;
    result.KxapiResult = 0;
    result.ChannelId = held != g_Ports.end() ? held->second.m_ChannelId : -1;
    NetDevLog("ATTACH port=%d host=%s channel=%d", PortIdx, host.c_str(), result.ChannelId);
    return SOAP_OK;
}

int InputChannelService::Detach(int ChannelId, int& KxapiResult)
{
    std::lock_guard<std::mutex> lock(g_Lock);
    KxapiResult = static_cast<int>(KXAPI_E_NOT_FOUND);
    for (auto it = g_Ports.begin(); it != g_Ports.end(); ++it) {
        if (it->second.m_ChannelId == ChannelId) {
            g_Ports.erase(it);
            KxapiResult = 0;
            break;
        }
    }
    NetDevLog("DETACH channel=%d result=%d", ChannelId, KxapiResult);
    return SOAP_OK;
}

bool NetDevRunInputService(const NetDevOptions& options)
{
    if (options.m_HeldPort >= 0) {
        std::lock_guard<std::mutex> lock(g_Lock);
        g_Ports.emplace(options.m_HeldPort, PortHolder{OTHER_HOST, g_NextChannel++});
    }
    InputChannelService service(SOAP_IO_KEEPALIVE);
    service.soap->accept_timeout = ACCEPT_SLICE_S;
    service.soap->recv_timeout = 5;
    service.soap->send_timeout = 5;
    service.soap->bind_flags = SO_REUSEADDR;
    if (!soap_valid_socket(service.bind("0.0.0.0", options.m_HttpPort, 16)))
        return false;
    NetDevLog("READY http port=%d", options.m_HttpPort);
    while (!g_NetDevStop.load()) {
        if (!soap_valid_socket(service.accept()))
            continue; // time-out slice or failed accept
        service.serve();
        service.destroy();
    }
    return true;
}
