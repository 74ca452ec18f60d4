#include "XpLogLinux.h"

#include <cstdio>
#include <syslog.h>

bool XpLogLinux::m_ToStandardError = false;

void XpLogLinux::DbgLog(LogLevel level, LogLevel threshold, const char* file, unsigned int line,
                        const char* format, va_list args)
{
    if (level < threshold || format == nullptr)
        return;
    printf("[%s, line %d] ", file != nullptr ? file : "", static_cast<int>(line));
    vprintf(format, args);
    printf("\n");
    fflush(stdout);
}

void XpLogLinux::DbgPrint(const char* text)
{
    if (text == nullptr)
        return;
    fputs(text, stdout);
    fflush(stdout);
}

KXAPI_RESULT XpLogLinux::EventLogOpen(const char* identity, IXpEventLogStore* store)
{
    if (store == nullptr)
        return KXAPI_E_INVALID_ARG;
    m_pStore = store;
    snprintf(m_Identity, sizeof(m_Identity), "%s", identity != nullptr ? identity : "");
    if (!m_ToStandardError)
        openlog(identity, 0, LOG_DAEMON);
    return KXAPI_OK;
}

void XpLogLinux::EventLog(int id, int argCount, va_list args)
{
    (void)argCount; // the message format names exactly the arguments it consumes
    if (m_pStore == nullptr)
        return;
    int severity = 0;
    const char* format = nullptr;
    if (m_pStore->EventGetMessage(id, severity, format) != KXAPI_OK || format == nullptr)
        return;
    if (m_ToStandardError) {
        char text[1024];
        vsnprintf(text, sizeof(text), format, args);
        fprintf(stderr, "%s: %s\n", m_Identity, text);
        return;
    }
    vsyslog(severity | LOG_DAEMON, format, args);
}

void XpLogLinux::EventLogClose()
{
    if (!m_ToStandardError)
        closelog();
}
