#include "network/KxeProbeHeader.h"

#include "envH.h"

namespace {
constexpr const char* ANONYMOUS_ROLE = "http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous";
}

bool KxeSetProbeHeader(struct soap* soap, const char* messageId, const char* to, const char* action)
{
    SOAP_ENV__Header* header = soap_new_SOAP_ENV__Header(soap);
    wsa__EndpointReferenceType* replyTo = soap_new_wsa__EndpointReferenceType(soap);
    if (header == nullptr || replyTo == nullptr)
        return false;
    replyTo->Address = const_cast<char*>(ANONYMOUS_ROLE);
    header->wsa__MessageID = const_cast<char*>(messageId);
    header->wsa__To = const_cast<char*>(to);
    header->wsa__Action = const_cast<char*>(action);
    header->wsa__ReplyTo = replyTo;
    soap->header = header;
    return true;
}
