// The system-log writer: numbered events to syslog, debug text to standard output.
#pragma once

#include "XpInterfaces.h"

class XpLogLinux : public IXpLog {
public:
    // When set, events go to standard error as "<identity>: <text>" instead of the system
    // log (foreground test and demo instances). Off in the daemon.
    static bool m_ToStandardError;

    void DbgLog(LogLevel level, LogLevel threshold, const char* file, unsigned int line, const char* format,
                va_list args) override;
    void DbgPrint(const char* text) override;
    KXAPI_RESULT EventLogOpen(const char* identity, IXpEventLogStore* store) override;
    void EventLog(int id, int argCount, va_list args) override;
    void EventLogClose() override;

private:
    IXpEventLogStore* m_pStore = nullptr;
    char m_Identity[64] = {};
};
