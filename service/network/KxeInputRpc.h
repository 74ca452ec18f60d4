// Client of a device's input-channel service ("KxInp:Attach", "KxInp:Detach").
#pragma once

#include <functional>

#include "IInterface.h"
#include "KxapiResult.h"

class IKxeInputRpc : public IInterface {
public:
    // Attaches port `portIdx`; the device's result, or KXAPI_E_COMMUNICATION when the call fails.
    virtual KXAPI_RESULT Attach(int portIdx, bool probeOnly, int& channelId) = 0;
    // Detaches a channel; the device's result, or KXAPI_E_COMMUNICATION when the call fails.
    virtual KXAPI_RESULT Detach(int channelId) = 0;
};

// Makes the client for one device endpoint ("http://a.b.c.d:8000"); null when it cannot.
using KxeInputRpcFactory = std::function<IKxeInputRpc*(const char* endpoint)>;

// The service's maker of device clients.
IKxeInputRpc* NewKxeInputRpc(const char* endpoint);
