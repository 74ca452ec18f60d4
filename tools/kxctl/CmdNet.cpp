// kxctl net: the network-device FIFO "KxeRecvPipe" and the shared device list.
#include <cerrno>
#include <cinttypes>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "KxeSvcClient.h"
#include "KxctlCommand.h"
#include "XpUtil.h"

namespace {

constexpr unsigned int REPLY_TIMEOUT_MS = 15000;
const char* const NET_USAGE = "net list|discover|watch [SECONDS]|attach IP SERIAL PORT [--exclusive] [--hold SECONDS]|detach SERIAL PORT ATTACHID|"
                              "excl SERIAL PORT OWNER acquire|release|probe|prop TYPE NAME [PORT] [FILTER1]|"
                              "vpd SERIAL KEYWORD [SECTION]|vpd-clear SERIAL";

bool ParseInt(const char* text, int& value)
{
    int64_t wide = 0;
    if (!ParseI64(text, wide) || wide < INT32_MIN || wide > UINT32_MAX)
        return false;
    value = static_cast<int>(wide);
    return true;
}

bool ParseIp(const char* text, uint8_t ip[4])
{
    unsigned int a, b, c, d;
    char extra;
    if (sscanf(text, "%u.%u.%u.%u%c", &a, &b, &c, &d, &extra) != 4 || a > 255 || b > 255 || c > 255 || d > 255)
        return false;
    ip[0] = static_cast<uint8_t>(a);
    ip[1] = static_cast<uint8_t>(b);
    ip[2] = static_cast<uint8_t>(c);
    ip[3] = static_cast<uint8_t>(d);
    return true;
}

int Usage(const char* message)
{
    return KxctlUsage("net", message);
}

int NetList(KxeSvcClient& client, int, char**)
{
    KxeListSnapshot list;
    KXAPI_RESULT result = client.ReadDeviceList(list);
    if (result != KXAPI_OK)
        return KxctlFail("net list", result);
    if (KxctlJsonOutput()) {
        for (const KxeListEntry& e : list.m_Entries) {
            char ip[32], mac[32];
            snprintf(ip, sizeof(ip), "%u.%u.%u.%u", e.m_IpAddr[0], e.m_IpAddr[1], e.m_IpAddr[2], e.m_IpAddr[3]);
            snprintf(mac, sizeof(mac), "%02x:%02x:%02x:%02x:%02x:%02x", e.m_MacAddr[0], e.m_MacAddr[1],
                     e.m_MacAddr[2], e.m_MacAddr[3], e.m_MacAddr[4], e.m_MacAddr[5]);
            KxctlEmit({{"serial", e.m_Serial},
                       {"type", e.m_TypeNumber},
                       {"firmware", std::to_string(e.m_FirmwareVersion) + "." + std::to_string(e.m_FirmwareVariant)},
                       {"ip", ip},
                       {"port", e.m_Port},
                       {"mac", mac},
                       {"mode", e.m_OpMode}});
        }
        return KXCTL_EXIT_OK;
    }
    printf("version %u capacity %u count %u time %u\n", list.m_Version, list.m_Capacity, list.m_Count, list.m_TimeS);
    for (const KxeListEntry& e : list.m_Entries) {
        printf("serial %" PRId64 " type %d fw %d.%d ip %u.%u.%u.%u:%d mac %02x:%02x:%02x:%02x:%02x:%02x mode %d\n",
               e.m_Serial, e.m_TypeNumber, e.m_FirmwareVersion, e.m_FirmwareVariant, e.m_IpAddr[0], e.m_IpAddr[1],
               e.m_IpAddr[2], e.m_IpAddr[3], e.m_Port, e.m_MacAddr[0], e.m_MacAddr[1], e.m_MacAddr[2],
               e.m_MacAddr[3], e.m_MacAddr[4], e.m_MacAddr[5], e.m_OpMode);
    }
    return 0;
}

int NetDiscover(KxeSvcClient& client, int argc, char** argv)
{
    KXAPI_RESULT result = client.ForceDiscovery();
    if (result != KXAPI_OK)
        return KxctlFail("net discover", result);
    return NetList(client, argc, argv);
}

volatile sig_atomic_t g_StopWatch = 0;
void OnWatchSignal(int)
{
    g_StopWatch = 1;
}

// Waits `seconds` (0: until SIGINT or SIGTERM) in 100 ms steps.
void HoldFor(int seconds)
{
    g_StopWatch = 0;
    signal(SIGINT, OnWatchSignal);
    signal(SIGTERM, OnWatchSignal);
    const unsigned int start = XpUtil::GetTickCount();
    while (!g_StopWatch && (seconds == 0 || XpUtil::GetTickCount() - start < static_cast<unsigned int>(seconds) * 1000u))
        XpUtil::Sleep(100);
}

int NetWatch(KxeSvcClient& client, int argc, char** argv)
{
    int seconds = 0;
    if (argc > 1 || (argc == 1 && (!ParseInt(argv[0], seconds) || seconds < 0)))
        return Usage("watch takes an optional number of seconds");
    KXAPI_RESULT result = client.RegisterEvents(KXE_EVENT_DEVICE_ADDED | KXE_EVENT_DEVICE_REMOVED,
                                                [](int64_t serial, uint32_t event) {
                                                    const char* what =
                                                        event == KXE_EVENT_DEVICE_ADDED ? "added" : "removed";
                                                    KxctlPrint({{"event", what}, {"serial", serial}},
                                                               std::string(what) + " " + std::to_string(serial));
                                                    fflush(stdout);
                                                });
    if (result != KXAPI_OK)
        return KxctlFail("net watch", result);
    KxctlPrint({{"watching", true}}, "watching");
    fflush(stdout);
    HoldFor(seconds);
    client.UnregisterEvents();
    return 0;
}

int NetAttach(KxeSvcClient& client, int argc, char** argv)
{
    const char* const usage = "attach IP SERIAL PORT [--exclusive] [--hold SECONDS]";
    uint8_t ip[4];
    int64_t serial = 0;
    int port = 0;
    if (argc < 3 || !ParseIp(argv[0], ip) || !ParseI64(argv[1], serial) || !ParseInt(argv[2], port))
        return Usage(usage);
    bool exclusive = false;
    int holdSeconds = -1;
    for (int i = 3; i < argc; ++i) {
        if (strcmp(argv[i], "--exclusive") == 0) {
            exclusive = true;
        } else if (strcmp(argv[i], "--hold") == 0 && i + 1 < argc && ParseInt(argv[i + 1], holdSeconds) &&
                   holdSeconds >= 0) {
            ++i;
        } else {
            return Usage(usage);
        }
    }
    int channel = -1;
    uint32_t attachId = 0;
    KXAPI_RESULT result = client.Attach(ip, serial, port, channel, attachId);
    if (result != KXAPI_OK)
        return KxctlFail("net attach", result);
    KxctlPrint({{"channel", channel}, {"attach_id", attachId}},
               "channel " + std::to_string(channel) + " attach-id " + std::to_string(attachId));
    fflush(stdout);
    if (exclusive) {
        result = client.ExclusiveAccess(serial, port, attachId, KXE_EXCL_ACQUIRE);
        if (result != KXAPI_OK) {
            client.Detach(serial, port, attachId);
            return KxctlFail("net attach: exclusive access", result);
        }
        KxctlPrint({{"exclusive", true}}, "exclusive");
        fflush(stdout);
    }
    if (holdSeconds < 0)
        return 0; // the service keeps the attachment until the last client has gone
    HoldFor(holdSeconds);
    if (exclusive)
        client.ExclusiveAccess(serial, port, attachId, KXE_EXCL_RELEASE);
    result = client.Detach(serial, port, attachId);
    if (result != KXAPI_OK)
        return KxctlFail("net attach: detach", result);
    KxctlPrint({{"detached", true}}, "detached");
    return 0;
}

int NetDetach(KxeSvcClient& client, int argc, char** argv)
{
    int64_t serial = 0;
    int port = 0;
    int attachId = 0;
    if (argc != 3 || !ParseI64(argv[0], serial) || !ParseInt(argv[1], port) || !ParseInt(argv[2], attachId))
        return Usage("detach SERIAL PORT ATTACHID");
    KXAPI_RESULT result = client.Detach(serial, port, static_cast<uint32_t>(attachId));
    if (result != KXAPI_OK)
        return KxctlFail("net detach", result);
    KxctlPrint({{"detached", true}}, "detached");
    return 0;
}

int NetExcl(KxeSvcClient& client, int argc, char** argv)
{
    static const char* const COMMANDS[] = {"acquire", "release", "probe"};
    int64_t serial = 0;
    int port = 0;
    int owner = 0;
    if (argc != 4 || !ParseI64(argv[0], serial) || !ParseInt(argv[1], port) || !ParseInt(argv[2], owner))
        return Usage("excl SERIAL PORT OWNER acquire|release|probe");
    uint32_t command = 3;
    for (uint32_t i = 0; i < 3; ++i) {
        if (strcmp(argv[3], COMMANDS[i]) == 0)
            command = i;
    }
    if (command > 2)
        return Usage("excl: the access command is acquire, release or probe");
    KXAPI_RESULT result = client.ExclusiveAccess(serial, port, static_cast<uint32_t>(owner), command);
    if (result != KXAPI_OK)
        return KxctlFail("net excl", result);
    KxctlPrint({{"result", "KXAPI_OK"}}, "ok");
    return 0;
}

int NetProp(KxeSvcClient& client, int argc, char** argv)
{
    int type = 0;
    int port = -1;
    int filter1 = 0;
    if (argc < 2 || argc > 4 || !ParseInt(argv[0], type) || (argc > 2 && !ParseInt(argv[2], port)) ||
        (argc > 3 && !ParseInt(argv[3], filter1)))
        return Usage("prop TYPE NAME [PORT] [FILTER1]");
    KxePropertyReply value;
    KXAPI_RESULT result = client.GetProperty(argv[1], type, filter1, port, value);
    if (result != KXAPI_OK)
        return KxctlFail("net prop", result);
    KxePropertyReply text;
    bool hasText = client.GetPropertyText(argv[1], type, filter1, port, text) == KXAPI_OK && !text.m_Text.empty();
    if (KxctlJsonOutput()) {
        KxctlJson object = {{"name", argv[1]}, {"value", value.m_Value}, {"type", value.m_ValueType}, {"scope", value.m_Scope}};
        if (hasText)
            object["text"] = text.m_Text;
        KxctlEmit(object);
        return KXCTL_EXIT_OK;
    }
    printf("%s = %" PRId64 " (type %d, scope %d)%s%s%s\n", argv[1], value.m_Value, value.m_ValueType, value.m_Scope,
           hasText ? " \"" : "", hasText ? text.m_Text.c_str() : "", hasText ? "\"" : "");
    return 0;
}

int NetVpd(KxeSvcClient& client, int argc, char** argv)
{
    int64_t serial = 0;
    int section = 0;
    if (argc < 2 || argc > 3 || !ParseI64(argv[0], serial) || (argc == 3 && !ParseInt(argv[2], section)))
        return Usage("vpd SERIAL KEYWORD [SECTION]");
    std::vector<uint8_t> data;
    KXAPI_RESULT result = client.VpdRead(serial, section, argv[1], data);
    if (result != KXAPI_OK)
        return KxctlFail("net vpd", result);
    if (KxctlJsonOutput()) {
        KxctlEmit({{"keyword", argv[1]}, {"bytes", data}});
        return KXCTL_EXIT_OK;
    }
    printf("%s (%zu bytes):", argv[1], data.size());
    for (uint8_t byte : data)
        printf(" %02x", byte);
    printf("\n");
    return 0;
}

int NetVpdClear(KxeSvcClient& client, int argc, char** argv)
{
    int64_t serial = 0;
    if (argc != 1 || !ParseI64(argv[0], serial))
        return Usage("vpd-clear SERIAL");
    KXAPI_RESULT result = client.VpdClear(serial);
    if (result != KXAPI_OK)
        return KxctlFail("net vpd-clear", result);
    KxctlPrint({{"cleared", true}}, "cleared");
    return 0;
}

struct NetSubcommand {
    const char* m_pName;
    int (*m_pRun)(KxeSvcClient& client, int argc, char** argv);
};

const NetSubcommand SUBCOMMANDS[] = {
    {"list", NetList},     {"discover", NetDiscover}, {"watch", NetWatch}, {"attach", NetAttach},
    {"detach", NetDetach}, {"excl", NetExcl},         {"prop", NetProp},   {"vpd", NetVpd},
    {"vpd-clear", NetVpdClear},
};

int RunNet(int argc, char** argv)
{
    if (argc < 1)
        return Usage("net needs a subcommand");
    for (const NetSubcommand& sub : SUBCOMMANDS) {
        if (strcmp(argv[0], sub.m_pName) != 0)
            continue;
        KxeSvcClient client;
        client.SetReplyTimeout(REPLY_TIMEOUT_MS);
        KXAPI_RESULT result = client.Open();
        if (result != KXAPI_OK)
            return KxctlFail("net", result);
        return sub.m_pRun(client, argc - 1, argv + 1);
    }
    return Usage("unknown net subcommand");
}

KxctlRegistrar g_Net({"net", NET_USAGE, "network devices: shared list, events, attach, exclusive access, properties, VPD",
                      RunNet});

} // namespace
