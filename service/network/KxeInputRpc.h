// Client of a device's input-channel service ("KxInp:Attach", "KxInp:Detach").
#pragma once

#include <functional>

#include "IInterface.h"
#include "KxapiResult.h"

// Longest time one call to a device may take in all: connecting, sending the request and
// receiving the answer together (a peer that answers byte by byte is cut off by it).
constexpr unsigned int KXE_DEVICE_CALL_TOTAL_MS = 5000;

class IKxeInputRpc : public IInterface {
public:
    // Attaches port `portIdx`; the device's result, or KXAPI_E_COMMUNICATION when the call
    // fails or does not finish within KXE_DEVICE_CALL_TOTAL_MS.
    virtual KXAPI_RESULT Attach(int portIdx, bool probeOnly, int& channelId) = 0;
    // Detaches a channel; the device's result, or KXAPI_E_COMMUNICATION as above.
    virtual KXAPI_RESULT Detach(int channelId) = 0;
};

// Makes the client for one device endpoint ("http://a.b.c.d:8000"); null when it cannot.
using KxeInputRpcFactory = std::function<IKxeInputRpc*(const char* endpoint)>;

// The service's maker of device clients.
IKxeInputRpc* NewKxeInputRpc(const char* endpoint);
