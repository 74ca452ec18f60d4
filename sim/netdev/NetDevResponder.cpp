// WS-Discovery responder of the simulated device: answers every Probe for "KXE" with one
// ProbeMatches datagram per simulated device. The answers are written as text so that the
// misbehaving variants can be produced as well.
#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "NetDevSim.h"

namespace {
constexpr const char* MULTICAST_GROUP = "239.255.255.250";
constexpr int DISCOVERY_PORT = 3702;
constexpr int POLL_SLICE_MS = 100;

// The text between "MessageID>" and the next '<' of a Probe.
std::string FindMessageId(const char* text)
{
    const char* start = strstr(text, "MessageID>");
    if (start == nullptr)
        return "";
    start += strlen("MessageID>");
    const char* end = strchr(start, '<');
    return end != nullptr && end - start < 200 ? std::string(start, end) : std::string();
}
} // namespace

std::string NetDevBuildProbeMatches(const NetDevOptions& options, int index, const char* relatesTo)
{
    const int64_t serial = options.m_Serial + index;
    const uint64_t mac = options.m_Mac + static_cast<uint64_t>(index);
    char xaddrs[128];
    if (options.m_Reply == NetDevReply::BadXAddrs)
        snprintf(xaddrs, sizeof(xaddrs), "https://%s:%d/", options.m_AdvertiseIp.c_str(), options.m_HttpPort);
    else
        snprintf(xaddrs, sizeof(xaddrs), "http://%s:%d", options.m_AdvertiseIp.c_str(), options.m_HttpPort);
    char extension[1024] = "";
    if (options.m_Reply != NetDevReply::NoExtension) {
        snprintf(extension, sizeof(extension),
                 "<Kxapi:DeviceInfoShort><Kxapi:Serial>%lld</Kxapi:Serial><Kxapi:TypeNumber>%d</Kxapi:TypeNumber>"
                 "<Kxapi:FirmwareVersion>%d</Kxapi:FirmwareVersion><Kxapi:FirmwareVariant>%d</Kxapi:FirmwareVariant>"
                 "<Kxapi:Ip>0</Kxapi:Ip><Kxapi:Mac>%llu</Kxapi:Mac><Kxapi:OpMode>%d</Kxapi:OpMode>"
                 "<Kxapi:Port>0</Kxapi:Port></Kxapi:DeviceInfoShort>",
                 static_cast<long long>(serial), options.m_TypeNumber, options.m_FirmwareVersion,
                 options.m_FirmwareVariant, static_cast<unsigned long long>(mac), options.m_OpMode);
    }
    std::string text =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
        "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://www.w3.org/2003/05/soap-envelope\" "
        "xmlns:wsa=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\" "
        "xmlns:wsd=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\" "
        "xmlns:Kxapi=\"urn:korvix:kxapi:2010\"><SOAP-ENV:Header>"
        "<wsa:MessageID>urn:uuid:netdev-" + std::to_string(serial) + "</wsa:MessageID>"
        "<wsa:RelatesTo>" + std::string(relatesTo) + "</wsa:RelatesTo>"
        "<wsa:To>http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous</wsa:To>"
        "<wsa:Action>http://schemas.xmlsoap.org/ws/2005/04/discovery/ProbeMatches</wsa:Action>"
        "</SOAP-ENV:Header><SOAP-ENV:Body><wsd:ProbeMatches><wsd:ProbeMatch>"
        "<wsa:EndpointReference><wsa:Address>urn:uuid:netdev-" + std::to_string(serial) +
        "</wsa:Address></wsa:EndpointReference><wsd:Types>Kxapi:KXE</wsd:Types>"
        "<wsd:XAddrs>" + std::string(xaddrs) + "</wsd:XAddrs><wsd:MetadataVersion>1</wsd:MetadataVersion>" +
        std::string(extension) + "</wsd:ProbeMatch></wsd:ProbeMatches></SOAP-ENV:Body></SOAP-ENV:Envelope>";
    if (options.m_Reply == NetDevReply::Truncated)
        text.resize(text.size() / 2);
    else if (options.m_Reply == NetDevReply::Garbage)
        text = "\x01\x02 this is not <xml at all >>> " + std::to_string(serial);
    return text;
}

bool NetDevRunResponder(const NetDevOptions& options)
{
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        return false;
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_port = htons(DISCOVERY_PORT);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof(local)) < 0) {
        close(fd);
        return false;
    }
    for (const in_addr& address : options.m_Interfaces) {
        ip_mreq request = {};
        inet_pton(AF_INET, MULTICAST_GROUP, &request.imr_multiaddr);
        request.imr_interface = address;
        if (setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof(request)) < 0) {
            close(fd);
            return false;
        }
    }
    NetDevLog("READY discovery");
    static char buffer[65536];
    while (!g_NetDevStop.load()) {
        pollfd wait = {fd, POLLIN, 0};
        if (poll(&wait, 1, POLL_SLICE_MS) <= 0)
            continue;
        sockaddr_in peer = {};
        socklen_t peerSize = sizeof(peer);
        ssize_t size = recvfrom(fd, buffer, sizeof(buffer) - 1, 0, reinterpret_cast<sockaddr*>(&peer), &peerSize);
        if (size <= 0)
            continue;
        buffer[size] = '\0';
        if (strstr(buffer, "Probe") == nullptr || strstr(buffer, "KXE") == nullptr)
            continue;
        const std::string relatesTo = FindMessageId(buffer);
        char peerText[INET_ADDRSTRLEN] = "";
        inet_ntop(AF_INET, &peer.sin_addr, peerText, sizeof(peerText));
        NetDevLog("PROBE from=%s id=%s", peerText, relatesTo.c_str());
        for (int i = 0; i < options.m_Count; ++i) {
            const std::string answer = NetDevBuildProbeMatches(options, i, relatesTo.c_str());
            sendto(fd, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&peer), peerSize);
            if ((i & 15) == 15)
                usleep(1000); // lets a receiver with a default socket buffer keep up
        }
    }
    close(fd);
    return true;
}
