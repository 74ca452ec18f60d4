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

struct GenericElems {
    uint32_t m_Cmd;
    const char* m_pElems[5];
};

// Element names per generic command with request text ("Port" of 55 is not read). The
// statistics read (38) requires none: an empty list is a valid request answered with an empty
// list.
const GenericElems GenericRequests[] = {
    {DEMOD_CMD_CONTROL_SET, {"KxDemodPars", nullptr}},
    {DEMOD_CMD_TUNE, {DEMOD_ELEM_FREQ_HZ, "KxDemodPars", nullptr}},
    {DEMOD_CMD_GET_STATISTICS, {nullptr}},
    {DEMOD_CMD_STREAM_SEL_SET_C2, {"c2sel", nullptr}},
    {DEMOD_CMD_STREAM_SEL_SET_T2, {"t2sel", nullptr}},
    {DEMOD_CMD_EQUALISE, {DEMOD_ELEM_EQUALISER_SETTING, nullptr}},
    {DEMOD_CMD_TUNER_FREQ_GET, {DEMOD_ELEM_TUNER_ID, nullptr}},
    {DEMOD_CMD_TUNER_FREQ_SET, {DEMOD_ELEM_FREQ_HZ, DEMOD_ELEM_TUNER_ID, nullptr}},
    {DEMOD_CMD_STATS_POLLING_ENABLE, {DEMOD_ELEM_ENABLE, nullptr}},
    {DEMOD_CMD_BLIND_SCAN, {"KxDemodPars", DEMOD_ELEM_FREQ_HZ_STEPS, DEMOD_ELEM_START_FREQ_HZ, DEMOD_ELEM_END_FREQ_HZ, nullptr}},
    {DEMOD_CMD_SPECTRUM_SCAN, {DEMOD_ELEM_SCAN_TYPE, DEMOD_ELEM_FREQ_HZ_STEPS, DEMOD_ELEM_START_FREQ_HZ, DEMOD_ELEM_END_FREQ_HZ, nullptr}},
    {DEMOD_CMD_GET_SUPPORTED_STATS, {DEMOD_ELEM_COUNT, nullptr}},
    {DEMOD_CMD_GET_ATTRIBUTE, {DEMOD_ELEM_ATTRIBUTE_ID, nullptr}},
    {DEMOD_CMD_CONSTEL_POINTS_GET, {DEMOD_ELEM_NUM_POINTS, DEMOD_ELEM_STREAM_ID, nullptr}},
    {DEMOD_CMD_OPEN_STREAM, {"strselpar", nullptr}},
    {DEMOD_CMD_CLOSE_STREAM, {DEMOD_ELEM_STREAM_ID, nullptr}},
};

// An element counts as empty when it has neither text, attributes nor child elements.
bool IsEmpty(const MarkupElem& e)
{
    pugi::xml_node n = e.Node();
    return !n.first_attribute() && !n.first_child();
}

} // namespace

const char* const* DemodGenericRequiredElems(uint32_t cmd)
{
    for (const GenericElems& row : GenericRequests)
        if (row.m_Cmd == cmd)
            return row.m_pElems;
    return nullptr;
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
