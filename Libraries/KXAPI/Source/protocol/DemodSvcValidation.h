// Service-side acceptance of one demod FIFO message before it is dispatched.
#pragma once

#include <cstddef>
#include <cstdint>

#include "DemodSvcProtocol.h"
#include "KxapiResult.h"
#include "Markup.h"

namespace Kxapi {

// A message shorter than 4 bytes carries no command and is ignored without a reply.
constexpr bool DemodMessageHasCommand(size_t size) { return size >= DEMOD_REQUEST_HEADER_SIZE; }

// The command code of a message of at least 4 bytes.
uint32_t DemodMessageCommand(const uint8_t* body);

// Checks a port command against CommandProperties: KXAPI_E_INVALID_PARS for a code absent
// from the table (the caller logs the unknown command), KXAPI_E_INVALID_HEADER for a request
// shorter than its minimum size; otherwise KXAPI_OK with the command's row in props.
KXAPI_RESULT DemodCheckPortCommand(const uint8_t* body, size_t size, const DemodCmdProperties*& props);

// The elements a generic command's request must carry, null-terminated; null for a code
// that is not a generic command with request text.
const char* const* DemodGenericRequiredElems(uint32_t cmd);

// Opens the text of a generic request and checks that every required element is present and
// not empty: KXAPI_E_INTERNAL otherwise (short message, no final wide NUL, malformed XML,
// missing or empty element). On success doc holds the parsed text.
KXAPI_RESULT DemodOpenGenericRequest(const uint8_t* body, size_t size, Markup& doc);

} // namespace Kxapi
