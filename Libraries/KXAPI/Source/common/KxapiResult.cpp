#include "KxapiResult.h"

#include <algorithm>
#include <iterator>

// The numbering must land on the anchors of the published list.
static_assert(KXAPI_E_ATTACHED == 4096);
static_assert(KXAPI_E_INVALID_BUF == 4105 && KXAPI_E_INVALID_FLAGS == 4107);
static_assert(KXAPI_E_NO_DEVICE == 4112 && KXAPI_E_INVALID_J83ANNEX == 4128);
static_assert(KXAPI_E_WINSOCK == 4144 && KXAPI_E_INVALID_PILOTS == 4160);
static_assert(KXAPI_E_PLP_NUMBLOCKS == 4176 && KXAPI_E_INVALID_MODPARS == 4192);
static_assert(KXAPI_E_BROADBAND_NOTCH == 4208 && KXAPI_E_NOT_LOCKED == 4224);
static_assert(KXAPI_E_INVALID_VIDSTD == 4240 && KXAPI_E_INVALID_DELAY == 4256);
static_assert(KXAPI_E_INVALID_FEC_MATRIX == 4272 && KXAPI_E_INVALID_NUMTS == 4288);
static_assert(KXAPI_E_CID_INVALID_FORMAT == 4304 && KXAPI_E_INVALID_ENC_TYPE == 4315);
static_assert(KXAPI_E_NO_ENCODER == 4317 && KXAPI_E_PASSTHROUGH_ONLY == 4320);
static_assert(KXAPI_E_PILOT_BOOST == 4336 && KXAPI_E_INVALID_FECTYPE == 4340);
static_assert(KXAPI_E_INVALID_VERSION == 4342 && KXAPI_E_INVALID_PLP_REF == 4352);
static_assert(KXAPI_E_PLP_NOT_FOUND == 4362);
static_assert(KXAPI_E_NOT_SUPPORTED == 4119 && KXAPI_E_INVALID_ARG == 4140);
static_assert(KXAPI_E_INVALID_PARS == 4151 && KXAPI_E_NOT_IMPLEMENTED == 4250);
static_assert(KXAPI_E_STAT_NOTAVAIL == 4358 && KXAPI_E_SERVICE_INCOMP == 4215);

namespace {

struct ResultName {
    KXAPI_RESULT m_Value;
    const char* m_pName;
};

// Built from the same ordered table as the enumeration, so it is sorted by value.
constexpr ResultName RESULT_NAMES[] = {
#define KX_RESULT_OK(name, value) {name, #name},
#define KX_RESULT_ERR(name) {name, #name},
#define KX_RESULT_GAP(value)
#include "KxapiResultCodes.inc"
#undef KX_RESULT_OK
#undef KX_RESULT_ERR
#undef KX_RESULT_GAP
};

constexpr bool IsSorted()
{
    for (size_t i = 1; i < std::size(RESULT_NAMES); i++)
        if (RESULT_NAMES[i - 1].m_Value >= RESULT_NAMES[i].m_Value)
            return false;
    return true;
}
static_assert(IsSorted(), "result table must be in ascending order");

struct DriverStatusMap {
    unsigned int m_Status;
    KXAPI_RESULT m_Result;
};

// Driver status words 0x10002 .. 0x1001F; anything else is KXAPI_E_DEV_DRIVER.
constexpr KXAPI_RESULT DRIVER_STATUS_FIRST = 0x10002;
constexpr KXAPI_RESULT DRIVER_STATUS_RESULTS[] = {
    KXAPI_E_OUT_OF_MEM,        // 0x10002
    KXAPI_E_TOO_LONG,          // 0x10003
    KXAPI_E_INVALID_ARG,       // 0x10004
    KXAPI_E_NOT_SUPPORTED,     // 0x10005
    KXAPI_E_NOT_FOUND,         // 0x10006
    KXAPI_E_TIMEOUT,           // 0x10007
    KXAPI_E_NOT_INITIALIZED,   // 0x10008
    KXAPI_E_CONFIG,            // 0x10009
    KXAPI_E_IN_USE,            // 0x1000A
    KXAPI_E_OUT_OF_RESOURCES,  // 0x1000B
    KXAPI_E_EVENT_POWER,       // 0x1000C
    KXAPI_E_DEV_DRIVER,        // 0x1000D
    KXAPI_E_DEV_DRIVER,        // 0x1000E
    KXAPI_E_BUSY,              // 0x1000F
    KXAPI_E_NOT_SUPPORTED,     // 0x10010
    KXAPI_E_NOT_STARTED,       // 0x10011
    KXAPI_E_OUT_OF_RESOURCES,  // 0x10012
    KXAPI_E_DRIVER_INCOMP,     // 0x10013
    KXAPI_E_BUF_TOO_SMALL,     // 0x10014
    KXAPI_E_BUF_TOO_LARGE,     // 0x10015
    KXAPI_E_DEV_DRIVER,        // 0x10016
    KXAPI_E_NO_POWER,          // 0x10017
    KXAPI_E_EXCL_ACCESS_REQD,  // 0x10018
    KXAPI_E_LOCKED,            // 0x10019
    KXAPI_E_NOT_IMPLEMENTED,   // 0x1001A
    KXAPI_E_NOT_IMPLEMENTED,   // 0x1001B
    KXAPI_E_INVALID_MODE,      // 0x1001C
    KXAPI_E_DEV_DRIVER,        // 0x1001D
    KXAPI_E_INVALID_MODE,      // 0x1001E
    KXAPI_E_NOT_FOUND,         // 0x1001F
};
static_assert(std::size(DRIVER_STATUS_RESULTS) == 0x1001F - 0x10002 + 1);

} // namespace

const char* KxapiResult2Str(KXAPI_RESULT result)
{
    auto it = std::lower_bound(std::begin(RESULT_NAMES), std::end(RESULT_NAMES), result,
                               [](const ResultName& entry, KXAPI_RESULT value) { return entry.m_Value < value; });
    if (it == std::end(RESULT_NAMES) || it->m_Value != result)
        return "??? UNKNOWN KXAPI_RESULT ???";
    return it->m_pName;
}

KXAPI_RESULT KxResultToKxapiResult(unsigned int status)
{
    if (status < DRIVER_STATUS_FIRST || status >= DRIVER_STATUS_FIRST + std::size(DRIVER_STATUS_RESULTS))
        return KXAPI_E_DEV_DRIVER;
    return DRIVER_STATUS_RESULTS[status - DRIVER_STATUS_FIRST];
}
