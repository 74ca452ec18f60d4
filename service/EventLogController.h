// The service's table of numbered system-log events.
#pragma once

#include "XpInterfaces.h"

// Event ids written by the service.
enum KxapiSvcEventId {
    KXAPI_EVENT_STARTED = 0,           // argument: the version text
    KXAPI_EVENT_STOPPED = 1,
    KXAPI_EVENT_UNKNOWN_COMMAND = 2,   // argument: the command id as "%u"
    KXAPI_EVENT_DEMOD_INIT_FAILED = 3,
    KXAPI_EVENT_KXE_INIT_FAILED = 4,
    KXAPI_EVENT_GLOBAL_INIT_FAILED = 6,
};

class EventLogController : public IXpEventLogStore {
public:
    // Severity (syslog priority) and format of event `id` (0..7, and the platform reports of
    // XpEventId); KXAPI_E_INVALID_ARG for any other id.
    KXAPI_RESULT EventGetMessage(int id, int& severity, const char*& message) override;
};

extern EventLogController g_EventLogger;

// A token bucket over log lines: `burst` lines at once, then one more every `periodMs`.
// Not thread-safe: each owner (one client handler thread) has its own.
class KxLogRateLimiter {
public:
    static constexpr unsigned int DEFAULT_BURST = 10;
    static constexpr unsigned int DEFAULT_PERIOD_MS = 1000;

    explicit KxLogRateLimiter(unsigned int burst = DEFAULT_BURST, unsigned int periodMs = DEFAULT_PERIOD_MS);
    // True when a line may be written at nowMs (a wrapping millisecond tick), taking a token.
    bool Allow(unsigned int nowMs);

private:
    unsigned int m_Burst;
    unsigned int m_PeriodMs;
    unsigned int m_Tokens;
    unsigned int m_LastRefillMs = 0;
    bool m_Started = false;
};

// Logs event 2 for a command id that is not recognised. Every client connection is served by
// a handler thread of its own (demod, network-device and global FIFOs alike), and each such
// thread owns one limiter: a client that sends unknown commands in a loop gets at most
// KxLogRateLimiter::DEFAULT_BURST lines at once and one per second after that; the lines
// above the limit are dropped.
void LogUnknownCommand(unsigned int command);
