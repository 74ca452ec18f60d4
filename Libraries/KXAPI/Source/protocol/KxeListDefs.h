// Shared network-device list: the 40-byte entry, the shared-memory layout, the names of
// the memory and its named mutex, and the command set of "KxeRecvPipe".
#pragma once

#include <cstdint>
#include <cstring>

namespace Kxapi {
namespace KxapiService {

// One discovered network device, exactly as published in the shared list.
struct KxeListEntry {
    int64_t m_Serial;
    int32_t m_TypeNumber;
    int32_t m_FirmwareVersion;
    int32_t m_FirmwareVariant;
    uint8_t m_IpAddr[4];   // dotted order
    uint8_t m_MacAddr[6];  // most significant byte first
    uint8_t m_Reserved[2]; // zero
    int32_t m_OpMode;
    int32_t m_Port;        // TCP port of the device's web service
};
static_assert(sizeof(KxeListEntry) == 40, "KxeListEntry is 40 bytes on the wire");

} // namespace KxapiService
} // namespace Kxapi

using Kxapi::KxapiService::KxeListEntry;

// Names of the shared list and its lock (wide; converted with XpUtil::WsToCs before use).
#define KXE_LIST_SHMEM_NAME L"KxeList_Buf_59BEC4D2_A3E5_42d6_9984_6EC862CFAC2A"
#define KXE_LIST_MUTEX_NAME L"KxeList_Mutex_59BEC4D2_A3E5_42d6_9984_6EC862CFAC2A"

// Shared-memory layout: 24-byte header, then the entries.
constexpr uint32_t KXE_LIST_VERSION = 1;
constexpr uint32_t KXE_LIST_CAPACITY = 512;
constexpr unsigned int KXE_LIST_OFFS_VERSION = 0;
constexpr unsigned int KXE_LIST_OFFS_CAPACITY = 4;
constexpr unsigned int KXE_LIST_OFFS_COUNT = 8;
constexpr unsigned int KXE_LIST_OFFS_TIME = 16;
constexpr unsigned int KXE_LIST_HEADER_SIZE = 24;
constexpr unsigned int KXE_LIST_SHMEM_SIZE = KXE_LIST_HEADER_SIZE + KXE_LIST_CAPACITY * sizeof(KxeListEntry);
static_assert(KXE_LIST_SHMEM_SIZE == 20504, "shared list size");
// Longest wait of the service (and of well-behaved readers) for the list's named mutex.
constexpr int KXE_LIST_MUTEX_TIMEOUT_MS = 5000;
// Size of a key text (in characters) as carried by the list-keys reply.
constexpr unsigned int KXE_KEY_CHARS = 100;

// Commands of "KxeRecvPipe".
enum KxeCommand : uint32_t {
    KXE_CMD_VERSION = 0,
    KXE_CMD_PROP_GET = 1,
    KXE_CMD_LIST_KEYS = 2,
    KXE_CMD_EVENT_REGISTER = 3,
    KXE_CMD_ATTACH = 4,
    KXE_CMD_DETACH = 5,
    KXE_CMD_EXCL_ACCESS = 6,
    KXE_CMD_PROP_GET_STR = 7,
    KXE_CMD_VPD_CLEAR = 8,
    KXE_CMD_VPD_READ = 9,
    KXE_CMD_VPD_UPDATE = 10,
    KXE_CMD_FORCE_DISCOVERY = 11,
    KXE_CMD_LAST = 11,
};

// Request and reply sizes.
constexpr int KXE_REQ_PROP_SIZE = 72;
constexpr int KXE_REP_PROP_SIZE = 24;
constexpr int KXE_REP_PROP_STR_SIZE = 108;
constexpr int KXE_PROP_NAME_SIZE = 52;
constexpr int KXE_PROP_STR_SIZE = 96;
constexpr int KXE_REQ_LIST_KEYS_SIZE = 4;
constexpr int KXE_REP_LIST_KEYS_SIZE = 808;
constexpr int KXE_REQ_EVENT_REGISTER_SIZE = 264;
constexpr int KXE_EVENT_NAME_CHARS = 64;
constexpr int KXE_REQ_ATTACH_SIZE = 24;
constexpr int KXE_REP_ATTACH_SIZE = 16;
constexpr int KXE_REQ_DETACH_SIZE = 24;
constexpr int KXE_REQ_EXCL_SIZE = 32;
constexpr int KXE_REQ_VPD_CLEAR_SIZE = 16;
constexpr int KXE_REQ_VPD_READ_SIZE = 40;      // 16-byte keyword
constexpr int KXE_REQ_VPD_READ_OLD_SIZE = 32;  // 8-byte keyword
constexpr int KXE_REP_VPD_READ_SIZE = 268;
constexpr int KXE_REQ_VPD_UPDATE_SIZE = 304;
constexpr int KXE_REQ_VPD_UPDATE_OLD_SIZE = 296;
constexpr int KXE_VPD_DATA_SIZE = 256;
constexpr int KXE_REQ_FORCE_SIZE = 4;
constexpr int KXE_REP_SHORT_SIZE = 8;

// Exclusive-access commands.
enum KxeExclCommand : uint32_t { KXE_EXCL_ACQUIRE = 0, KXE_EXCL_RELEASE = 1, KXE_EXCL_PROBE = 2 };

// Device events and the mask bits that select them.
constexpr uint32_t KXE_EVENT_DEVICE_ADDED = 1;
constexpr uint32_t KXE_EVENT_DEVICE_REMOVED = 2;
constexpr int KXE_EVENT_MSG_SIZE = 24;
#define KXE_EVENT_PIPE_PREFIX "KxapiKxeSvc_EvPipe"
#define KXE_EVENT_PIPE_FORMAT "KxapiKxeSvc_EvPipe_%d"

// Input-channel service of the devices.
constexpr int KXE_DEVICE_SOAP_PORT = 8000;
