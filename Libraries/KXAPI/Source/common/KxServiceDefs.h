// Names and numbers shared by the service and its client processes.
#pragma once

#include <cstdint>

// Well-known listener FIFOs (wide constants; converted with XpUtil::WsToCs before use).
#define DEMOD_SERVICE_PIPE_NAME L"DemodRecvPipe"
#define KXE_SERVICE_PIPE_NAME L"KxeRecvPipe"
#define KXGLOBAL_SERVICE_PIPE_NAME L"KxGlobalRecvPipe"

// The service's version, as text and as the four numbers of the version replies.
#define KXAPI_SERVICE_VERSION_TEXT "3.8.7 Build 96"
constexpr uint32_t KXAPI_SERVICE_VERSION_MAJOR = 3;
constexpr uint32_t KXAPI_SERVICE_VERSION_MINOR = 8;
constexpr uint32_t KXAPI_SERVICE_VERSION_REVISION = 7;
constexpr uint32_t KXAPI_SERVICE_VERSION_BUILD = 96;

// Oldest service version a client accepts (3.2).
constexpr uint32_t KXAPI_SERVICE_MIN_MAJOR = 3;
constexpr uint32_t KXAPI_SERVICE_MIN_MINOR = 2;

// Commands every service FIFO shares.
constexpr uint32_t KXAPI_SVC_CMD_VERSION = 0;
constexpr uint32_t KXAPI_SVC_CMD_CLOSE = 0xFFFFFFFFu;
// Size of the version reply: code, result, major, minor, revision, build.
constexpr unsigned int KXAPI_SVC_VERSION_REPLY_SIZE = 24;

// True when a service of this version is new enough for the clients of this library.
constexpr bool KxServiceVersionAccepted(uint32_t major, uint32_t minor)
{
    return major > KXAPI_SERVICE_MIN_MAJOR || (major == KXAPI_SERVICE_MIN_MAJOR && minor >= KXAPI_SERVICE_MIN_MINOR);
}

// Writes the 24-byte version reply {command, KXAPI_OK, 3, 8, 7, 96}.
void KxBuildVersionReply(char* reply, uint32_t command);
