// KxNetDevSim: one or more simulated network devices in one process.
//
//   KxNetDevSim --advertise IP [--if IP]... [--serial N] [--type N] [--mac HEX] [--count N]
//               [--http-port N] [--reply normal|garbage|truncated|noext|badxaddrs]
//               [--held-port N] [--log FILE]
//
// --advertise IP  the address put into XAddrs ("http://IP:PORT"), the same on every interface
// --if IP         join the discovery group on the interface with this address (repeatable)
// --count N       N devices: serial and MAC count up from --serial and --mac
// --reply MODE    misbehave on purpose (garbage, truncated envelopes, no extension, bad XAddrs)
// --held-port N   port N is held by another host from the start (attach is refused)
// --http-port 0   no input-channel service
// SIGTERM or SIGINT ends it. Log lines: READY, PROBE, ATTACH, DETACH.
#include <arpa/inet.h>
#include <pthread.h>
#include <signal.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "NetDevSim.h"

std::atomic<bool> g_NetDevStop{false};

namespace {
std::mutex g_LogLock;
FILE* g_pLog = stdout;

void OnSignal(int)
{
    g_NetDevStop = true;
}

int Usage()
{
    fprintf(stderr, "usage: KxNetDevSim --advertise IP [--if IP]... [--serial N] [--type N] [--mac HEX] "
                    "[--count N] [--http-port N] [--reply MODE] [--held-port N] [--log FILE]\n");
    return 2;
}

bool ParseReply(const char* text, NetDevReply& reply)
{
    static const struct {
        const char* m_pName;
        NetDevReply m_Reply;
    } REPLIES[] = {{"normal", NetDevReply::Normal},
                   {"garbage", NetDevReply::Garbage},
                   {"truncated", NetDevReply::Truncated},
                   {"noext", NetDevReply::NoExtension},
                   {"badxaddrs", NetDevReply::BadXAddrs}};
    for (const auto& row : REPLIES) {
        if (strcmp(text, row.m_pName) == 0) {
            reply = row.m_Reply;
            return true;
        }
    }
    return false;
}

void* StaticInputService(void* options)
{
    if (!NetDevRunInputService(*static_cast<NetDevOptions*>(options))) {
        NetDevLog("FAILED http");
        g_NetDevStop = true;
    }
    return nullptr;
}
} // namespace

void NetDevLog(const char* format, ...)
{
    std::lock_guard<std::mutex> lock(g_LogLock);
    va_list args;
    va_start(args, format);
    vfprintf(g_pLog, format, args);
    va_end(args);
    fputc('\n', g_pLog);
    fflush(g_pLog);
}

int main(int argc, char** argv)
{
    NetDevOptions options;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (value == nullptr)
            return Usage();
        ++i;
        if (strcmp(arg, "--advertise") == 0) {
            options.m_AdvertiseIp = value;
        } else if (strcmp(arg, "--if") == 0) {
            in_addr address;
            if (inet_pton(AF_INET, value, &address) != 1)
                return Usage();
            options.m_Interfaces.push_back(address);
        } else if (strcmp(arg, "--serial") == 0) {
            options.m_Serial = strtoll(value, nullptr, 10);
        } else if (strcmp(arg, "--type") == 0) {
            options.m_TypeNumber = atoi(value);
        } else if (strcmp(arg, "--mac") == 0) {
            options.m_Mac = strtoull(value, nullptr, 16);
        } else if (strcmp(arg, "--count") == 0) {
            options.m_Count = atoi(value);
        } else if (strcmp(arg, "--http-port") == 0) {
            options.m_HttpPort = atoi(value);
        } else if (strcmp(arg, "--reply") == 0) {
            if (!ParseReply(value, options.m_Reply))
                return Usage();
        } else if (strcmp(arg, "--held-port") == 0) {
            options.m_HeldPort = atoi(value);
        } else if (strcmp(arg, "--log") == 0) {
            options.m_LogPath = value;
        } else {
            return Usage();
        }
    }
    if (options.m_Count < 1 || options.m_Count > 100000)
        return Usage();
    if (!options.m_LogPath.empty()) {
        g_pLog = fopen(options.m_LogPath.c_str(), "a");
        if (g_pLog == nullptr)
            return 1;
    }
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    pthread_t httpThread;
    const bool http = options.m_HttpPort > 0;
    if (http && pthread_create(&httpThread, nullptr, StaticInputService, &options) != 0)
        return 1;
    const bool ok = NetDevRunResponder(options);
    if (!ok)
        NetDevLog("FAILED discovery");
    g_NetDevStop = true;
    if (http)
        pthread_join(httpThread, nullptr);
    if (g_pLog != stdout)
        fclose(g_pLog);
    return ok ? 0 : 1;
}
