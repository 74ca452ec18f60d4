// KXAPI_RESULT: the single numbering of outcomes shared by the service and its clients.
#pragma once

#include <cstdint>

typedef unsigned int KXAPI_RESULT;

// Success codes carry their own values; error codes are numbered from 4096 in the order of
// the table in KxapiResultCodes.inc. Unassigned values appear as KXAPI_UNASSIGNED_<value>
// so that the numbering after them stays right.
enum : KXAPI_RESULT {
#define KX_RESULT_OK(name, value) name = value,
#define KX_RESULT_ERR(name)
#define KX_RESULT_GAP(value)
#include "KxapiResultCodes.inc"
#undef KX_RESULT_OK
#undef KX_RESULT_ERR
#undef KX_RESULT_GAP

    KXAPI_RESULT_ERRORS_BEGIN_ = 4095,
#define KX_RESULT_OK(name, value)
#define KX_RESULT_ERR(name) name,
#define KX_RESULT_GAP(value) KXAPI_UNASSIGNED_##value,
#include "KxapiResultCodes.inc"
#undef KX_RESULT_OK
#undef KX_RESULT_ERR
#undef KX_RESULT_GAP
};

// Lowest error code: every value below it is a success.
constexpr KXAPI_RESULT KXAPI_E_FIRST = 4096;

// True for every success code (any value below 4096), not only KXAPI_OK.
constexpr bool KxapiSucceeded(KXAPI_RESULT result) { return result < KXAPI_E_FIRST; }
constexpr bool KxapiFailed(KXAPI_RESULT result) { return result >= KXAPI_E_FIRST; }

// The code's name ("KXAPI_E_TIMEOUT"); "??? UNKNOWN KXAPI_RESULT ???" for any other value.
const char* KxapiResult2Str(KXAPI_RESULT result);

// Maps a device-driver status word to a result code; unknown words give KXAPI_E_DEV_DRIVER.
KXAPI_RESULT KxResultToKxapiResult(unsigned int status);
