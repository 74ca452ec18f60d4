// The simulated network device: options shared by its responder and its input service.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

// How the responder answers a Probe (misbehaving answers exercise the service's parser).
enum class NetDevReply { Normal, Garbage, Truncated, NoExtension, BadXAddrs };

struct NetDevOptions {
    int64_t m_Serial = 5910000001;
    int m_TypeNumber = 5910;
    int m_FirmwareVersion = 3;
    int m_FirmwareVariant = 1;
    int m_OpMode = 0;
    uint64_t m_Mac = 0x0014F4000001ull;
    // Devices simulated by this process: serial and MAC count up from the first.
    int m_Count = 1;
    std::string m_AdvertiseIp = "127.0.0.1";
    int m_HttpPort = 8000;
    std::vector<in_addr> m_Interfaces; // interfaces whose multicast group it joins
    NetDevReply m_Reply = NetDevReply::Normal;
    int m_HeldPort = -1; // a port held by another host from the start
    std::string m_LogPath;
};

extern std::atomic<bool> g_NetDevStop;

// Appends one line to the log file (and flushes), e.g. "DETACH channel=7".
void NetDevLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The WS-Discovery responder; returns when g_NetDevStop is set. False when it cannot bind.
bool NetDevRunResponder(const NetDevOptions& options);
// Builds the answer to a Probe with message id `relatesTo` for device `index`.
std::string NetDevBuildProbeMatches(const NetDevOptions& options, int index, const char* relatesTo);

// The input-channel service; returns when g_NetDevStop is set. False when it cannot bind.
bool NetDevRunInputService(const NetDevOptions& options);
