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

} // namespace

KXAPI_RESULT EventLogController::EventGetMessage(int id, int& severity, const char*& message)
{
    if (id < 0 || id >= static_cast<int>(std::size(EVENT_TABLE)))
        return KXAPI_E_INVALID_ARG;
    severity = EVENT_TABLE[id].m_Severity;
    message = EVENT_TABLE[id].m_pFormat;
    return KXAPI_OK;
}

void LogUnknownCommand(unsigned int command)
{
    char text[12];
    XpUtil::Sprintf(text, sizeof(text), "%u", command);
    Xp::Instance()->EventLog(KXAPI_EVENT_UNKNOWN_COMMAND, 1, text);
}
