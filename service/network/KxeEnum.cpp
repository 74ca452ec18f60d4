#include "network/KxeEnum.h"

#include <sys/socket.h>

#include <cerrno>
#include <ctime>
#include <memory>
#include <new>

#include "CrossPlatform.h"
#include "KxApiSoapDiscoveryProxy.h"
#include "XpUtil.h"
#include "network/KxeProbeHeader.h"
#include "network/KxeSoapLimits.h"

using namespace KxApiSoap;

namespace {
constexpr const char* PROBE_ENDPOINT = "soap.udp://239.255.255.250:3702";
constexpr const char* PROBE_TO = "urn:schemas-xmlsoap-org:ws:2005:04:discovery";
constexpr const char* PROBE_ACTION = "http://schemas.xmlsoap.org/ws/2005/04/discovery/Probe";
constexpr const char* PROBE_TYPES = "Kxapi:KXE";
constexpr int SOAP_TIMEOUT_S = 1;
// Receives failing with a system error end the answers once they have failed for this long
// without a datagram in between (the receive time-out counted as a whole).
constexpr unsigned int SYSTEM_ERROR_BOUND_MS = 1000;
// Datagrams that keep arriving without ever being an answer end one interface after this long.
constexpr unsigned int ANSWER_LOOP_BOUND_MS = 10000;
// Room in the socket for a burst of answers (many devices answer at once).
constexpr int PROBE_RECEIVE_BUFFER = 1 << 20;

// What the hooks of one probe need; reached through soap->user, which generated code leaves alone.
struct ProbeContext {
    in_addr m_Interface;
    SOAP_SOCKET (*m_pOpen)(struct soap*, const char*, const char*, int) = nullptr;
    size_t (*m_pRecv)(struct soap*, char*, size_t) = nullptr;
    bool m_DatagramTaken = false; // the current receive has had its datagram
    size_t m_DatagramSize = 0;
};

// One datagram per receive: the engine reads UDP like a byte stream, so a datagram that is
// not a whole envelope would otherwise have the next answers read as its continuation.
// Later reads of the same receive see the end of the input.
size_t ReceiveOneDatagram(struct soap* soap, char* buffer, size_t size)
{
    auto* context = static_cast<ProbeContext*>(soap->user);
    if (context->m_DatagramTaken)
        return 0;
    context->m_DatagramTaken = true;
    context->m_DatagramSize = context->m_pRecv(soap, buffer, size);
    return context->m_DatagramSize;
}
} // namespace

KxeEnumerator::KxeEnumerator() : m_pNetwork(Xp::Instance()->MakeNetwork()) {}

KxeEnumerator::~KxeEnumerator() = default;

bool KxeEnumerator::EnumerateDevices(KxeListEntry* entries, int& count)
{
    const int capacity = count;
    count = 0;
    std::vector<in_addr> interfaces;
    if (entries == nullptr || capacity <= 0 || m_pNetwork == nullptr ||
        m_pNetwork->ListMulticastIpv4(interfaces) != KXAPI_OK)
        return false;
    m_IfEntries.resize(static_cast<size_t>(capacity));
    for (const in_addr& address : interfaces) {
        int found = capacity;
        if (!EnumerateDevicesIf(m_IfEntries.data(), found, address))
            continue;
        KxeMergeEntries(entries, count, capacity, m_IfEntries.data(), found);
    }
    return true;
}

void KxeEnumerator::GenerateMessageId(char* buffer, int size)
{
    const unsigned int tick = XpUtil::GetTickCount();
    XpUtil::Sprintf(buffer, size, "%08x-%04x-%04x%02x", static_cast<unsigned int>(time(nullptr)), tick & 0xFFFFu,
                    tick >> 16, m_MessageCounter++);
}

int KxeEnumerator::SoapFOpen(struct soap* soap, const char* endpoint, const char* host, int port)
{
    auto* context = static_cast<ProbeContext*>(soap->user);
    SOAP_SOCKET socket = context->m_pOpen(soap, endpoint, host, port);
    if (!soap_valid_socket(socket))
        return socket;
    if (setsockopt(socket, IPPROTO_IP, IP_MULTICAST_IF, &context->m_Interface, sizeof(context->m_Interface)) != 0) {
        soap->errnum = errno;
        soap->fclosesocket(soap, socket);
        soap_set_receiver_error(soap, "setsockopt IP_MULTICAST_IF failed", nullptr, SOAP_UDP_ERROR);
        return SOAP_INVALID_SOCKET;
    }
    setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &PROBE_RECEIVE_BUFFER, sizeof(PROBE_RECEIVE_BUFFER));
    return socket;
}

bool KxeEnumerator::EnumerateDevicesIf(KxeListEntry* entries, int& count, in_addr interfaceAddr)
{
    const int capacity = count;
    count = 0;
    if (entries == nullptr || capacity <= 0)
        return false;
    std::unique_ptr<DiscoveryProxy> proxy(new (std::nothrow) DiscoveryProxy(SOAP_IO_UDP));
    if (!proxy || proxy->soap == nullptr)
        return false;
    struct soap* soap = proxy->soap;
    KxeLimitSoapInput(soap);
    soap->recv_timeout = SOAP_TIMEOUT_S;
    soap->send_timeout = SOAP_TIMEOUT_S;
    soap->connect_flags = SO_BROADCAST;
    ProbeContext context;
    context.m_Interface = interfaceAddr;
    context.m_pOpen = soap->fopen;
    context.m_pRecv = soap->frecv;
    soap->user = &context;
    soap->fopen = &KxeEnumerator::SoapFOpen;
    soap->frecv = &ReceiveOneDatagram;

    char messageId[64];
    GenerateMessageId(messageId, sizeof(messageId));
    wsd__ProbeType probe;
    probe.Types = const_cast<char*>(PROBE_TYPES);
    probe.Scopes = nullptr;
    bool result = KxeSetProbeHeader(soap, messageId, PROBE_TO, PROBE_ACTION) &&
                  proxy->send_Probe(PROBE_ENDPOINT, PROBE_ACTION, &probe) == SOAP_OK;
    // An incoming header must not be read into the request's header.
    soap->header = nullptr;
    if (result) {
        bool ended = false;
        const unsigned int start = XpUtil::GetTickCount();
        unsigned int lastDatagram = start;
        while (count < capacity && XpUtil::GetTickCount() - start < ANSWER_LOOP_BOUND_MS) {
            context.m_DatagramTaken = false;
            context.m_DatagramSize = 0;
            KxeListEntry entry;
            const int status = KxeReceiveProbeMatch(soap, entry);
            const int errnum = soap->errnum;
            soap->header = nullptr;
            soap_destroy(soap);
            soap_end(soap);
            if (context.m_DatagramSize > 0)
                lastDatagram = XpUtil::GetTickCount();
            if (status == SOAP_OK) {
                entries[count++] = entry;
                continue;
            }
            if (status == SOAP_EOF && errnum == 0 && context.m_DatagramSize == 0) {
                ended = true; // nothing arrived within the receive time-out
                break;
            }
            // A malformed answer, or a receive that failed with a system error: skip it,
            // but not for ever when the system error persists.
            if (context.m_DatagramSize == 0 && XpUtil::GetTickCount() - lastDatagram >= SYSTEM_ERROR_BOUND_MS)
                break;
        }
        result = count > 0 || ended;
    }
    soap->frecv = context.m_pRecv;
    soap->fopen = context.m_pOpen;
    proxy->destroy();
    soap_closesock(soap);
    soap->user = nullptr;
    if (!result)
        count = 0;
    return result;
}

IKxeEnumerator* NewKxeEnumerator()
{
    return new (std::nothrow) KxeEnumerator();
}
