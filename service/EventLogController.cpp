#include "EventLogController.h"

#include <iterator>
#include <syslog.h>

#include "CrossPlatform.h"
#include "XpUtil.h"

EventLogController g_EventLogger;

namespace {

struct EventEntry {
    int m_Severity;
    const char* m_pFormat;
};

constexpr EventEntry EVENT_TABLE[] = {
    {LOG_INFO, "The Kxapi Service (version %s) has started successfully."},
    {LOG_INFO, "The Kxapi Service has stopped."},
    {LOG_WARNING, "Received an unknown command ID (%s)."},
    {LOG_ERR, "The demodulator manager failed to initialize."},
    {LOG_ERR, "The KXE manager failed to initialize."},
    {LOG_ERR, "The shared channel manager failed to initialize."},
    {LOG_ERR, "The shared channel manager failed to initialize."},
    {LOG_ERR, "The DirectShow manager failed to initialize."},
};

// Reports of the platform layer, numbered apart from the table above.
constexpr EventEntry PATH_MOVED_ASIDE = {
    LOG_WARNING, "The path %s was taken by something the service could not remove; it was moved to %s."};

constexpr EventEntry NAMED_LOCK_RESET = {
    LOG_WARNING, "The shared lock %s was held past its time-out by another process and has been set free."};

} // namespace

KXAPI_RESULT EventLogController::EventGetMessage(int id, int& severity, const char*& message)
{
    const EventEntry* entry = nullptr;
    if (id >= 0 && id < static_cast<int>(std::size(EVENT_TABLE)))
        entry = &EVENT_TABLE[id];
    else if (id == XP_EVENT_PATH_MOVED_ASIDE)
        entry = &PATH_MOVED_ASIDE;
    else if (id == XP_EVENT_NAMED_LOCK_RESET)
        entry = &NAMED_LOCK_RESET;
    if (entry == nullptr)
        return KXAPI_E_INVALID_ARG;
    severity = entry->m_Severity;
    message = entry->m_pFormat;
    return KXAPI_OK;
}

KxLogRateLimiter::KxLogRateLimiter(unsigned int burst, unsigned int periodMs)
    : m_Burst(burst), m_PeriodMs(periodMs == 0 ? 1 : periodMs), m_Tokens(burst)
{
}

bool KxLogRateLimiter::Allow(unsigned int nowMs)
{
    if (!m_Started) {
        m_Started = true;
        m_LastRefillMs = nowMs;
    }
    // Unsigned difference: correct across the tick's wrap.
    const unsigned int elapsedMs = nowMs - m_LastRefillMs;
    const unsigned int earned = elapsedMs / m_PeriodMs;
    if (earned > 0) {
        m_Tokens = earned >= m_Burst - m_Tokens ? m_Burst : m_Tokens + earned;
        m_LastRefillMs += earned * m_PeriodMs;
    }
    if (m_Tokens == 0)
        return false;
    m_Tokens--;
    return true;
}

void LogUnknownCommand(unsigned int command)
{
    // One limiter per client handler thread (see the declaration).
    thread_local KxLogRateLimiter limiter;
    if (!limiter.Allow(XpUtil::GetTickCount()))
        return;
    char text[12];
    XpUtil::Sprintf(text, sizeof(text), "%u", command);
    Xp::Instance()->EventLog(KXAPI_EVENT_UNKNOWN_COMMAND, 1, text);
}
