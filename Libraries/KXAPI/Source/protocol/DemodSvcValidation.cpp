// Service-side acceptance of demod FIFO messages.
#include "DemodSvcValidation.h"

#include <string>

#include "DemodSvcGeneric.h"
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

namespace {

// An element counts as empty when it has neither text, attributes nor child elements.
bool IsEmpty(const MarkupElem& e)
{
    pugi::xml_node n = e.Node();
    return !n.first_attribute() && !n.first_child();
}

} // namespace

const char* const* DemodGenericRequiredElems(uint32_t cmd)
{
    const DemodCmdProperties* row = DemodFindCmdProperties(cmd);
    return row != nullptr ? row->m_pRequiredElems : nullptr;
}

KXAPI_RESULT DemodOpenGenericRequest(const uint8_t* body, size_t size, Markup& doc)
{
    if (KxapiFailed(DemodParseGenericReq(body, size, doc)))
        return KXAPI_E_INTERNAL;
    const char* const* elems = DemodGenericRequiredElems(DemodMessageCommand(body));
    for (; elems != nullptr && *elems != nullptr; elems++) {
        MarkupElem e = doc.Top().FindChild(*elems);
        if (!e.Valid() || IsEmpty(e))
            return KXAPI_E_INTERNAL;
    }
    return KXAPI_OK;
}

} // namespace Kxapi
