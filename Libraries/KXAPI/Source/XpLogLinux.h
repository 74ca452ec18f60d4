// The system-log writer: numbered events to syslog, debug text to standard output.
#pragma once

#include "XpInterfaces.h"

class XpLogLinux : public IXpLog {
public:
    // Extra openlog options; 0 in the daemon. A foreground test instance adds LOG_PERROR.
    static int m_ExtraOpenOptions;

    void DbgLog(LogLevel level, LogLevel threshold, const char* file, unsigned int line, const char* format,
                va_list args) override;
    void DbgPrint(const char* text) override;
    KXAPI_RESULT EventLogOpen(const char* identity, IXpEventLogStore* store) override;
    void EventLog(int id, int argCount, va_list args) override;
    void EventLogClose() override;

private:
    IXpEventLogStore* m_pStore = nullptr;
};
