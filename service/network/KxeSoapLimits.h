// Bounds on what a SOAP engine of the service accepts from the network.
#pragma once

#include <cstddef>

struct soap;

// Largest message the service reads from a device or a discovery peer. Device answers and
// ProbeMatches are a few kilobytes; anything near this is hostile or broken.
constexpr size_t KXE_MAX_SOAP_MESSAGE = 1024 * 1024;

// Makes `engine` refuse a message longer than KXE_MAX_SOAP_MESSAGE, and an HTTP header whose
// Content-Length is not a plain decimal within that bound (a negative or huge length would
// otherwise become the size of the toolkit's body buffer). Every engine that reads from the
// network is set up through this once, after it is made and before its first call.
void KxeLimitSoapInput(struct soap* engine);
