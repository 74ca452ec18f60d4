// Handler for a service FIFO whose request handling is not in place yet: answers the
// version command, ends on the close command, and answers every other command with
// KXAPI_E_NOT_IMPLEMENTED.
#pragma once

#include "PipeServerImpl.h"

class ServiceVersionHandler : public PipeServerImpl {
public:
    explicit ServiceVersionHandler(IXpPipeConnection* connection) : PipeServerImpl(connection) {}

private:
    bool ServeRequest(const char* body, int size) override;
};
