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

// Logs event 2 for a command id that is not recognised.
void LogUnknownCommand(unsigned int command);
