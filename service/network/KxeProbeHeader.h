// The WS-Addressing header of a Probe (the header glue is global, apart from the stubs).
#pragma once

struct soap;

// Sets soap->header: MessageID, To, Action and an anonymous ReplyTo; the texts must live
// until the message is sent. The header belongs to the context (freed by soap_end).
bool KxeSetProbeHeader(struct soap* soap, const char* messageId, const char* to, const char* action);
