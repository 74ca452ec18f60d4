// Service-side acceptance of demod FIFO messages.
#include "DemodSvcValidation.h"

#include "KxWire.h"

namespace Kxapi {

uint32_t DemodMessageCommand(const uint8_t* body)
{
    return KxGetU32(body, 0);
}

KXAPI_RESULT DemodCheckPortCommand(const uint8_t* body, size_t size, const DemodCmdProperties*& props)
{
    props = nullptr;
    if (body == nullptr || !DemodMessageHasCommand(size))
        return KXAPI_E_INVALID_HEADER;
    const DemodCmdProperties* row = DemodFindCmdProperties(DemodMessageCommand(body));
    if (row == nullptr)
        return KXAPI_E_INVALID_PARS;
    if (size < row->m_MinSize)
        return KXAPI_E_INVALID_HEADER;
    props = row;
    return KXAPI_OK;
}

} // namespace Kxapi
