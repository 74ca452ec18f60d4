// Service-side acceptance of one demod FIFO message before it is dispatched.
#pragma once

#include <cstddef>
#include <cstdint>

#include "DemodSvcProtocol.h"
#include "KxapiResult.h"

namespace Kxapi {

// A message shorter than 4 bytes carries no command and is ignored without a reply.
constexpr bool DemodMessageHasCommand(size_t size) { return size >= DEMOD_REQUEST_HEADER_SIZE; }

// The command code of a message of at least 4 bytes.
uint32_t DemodMessageCommand(const uint8_t* body);

// Checks a port command against CommandProperties: KXAPI_E_INVALID_PARS for a code absent
// from the table (the caller logs the unknown command), KXAPI_E_INVALID_HEADER for a request
// shorter than its minimum size; otherwise KXAPI_OK with the command's row in props.
KXAPI_RESULT DemodCheckPortCommand(const uint8_t* body, size_t size, const DemodCmdProperties*& props);

} // namespace Kxapi
