// Xp: the platform singleton. Factory of every platform object and owner of the log writer.
#pragma once

#include "XpHandles.h"
#include "XpInterfaces.h"
#include "XpNetwork.h"
#include "KxNonCopyable.h"

class Xp : private KxNonCopyable {
public:
    // The one instance, constructed before main.
    static Xp* Instance();

    // Fresh, uninitialised objects; the caller owns and deletes them. Null only when out of memory.
    IXpThread* NewThread();
    IXpEvent* NewEvent();
    IXpCritSec* NewCritSec();
    IXpMutex* NewMutex();
    IXpNamedMutex* NewNamedMutex();
    IXpSharedMem* NewShMem();
    IXpPipeListener* NewPipeListener();
    IXpPipeConnection* NewPipeConnection();
    // The local network interfaces (discovery of network-attached devices).
    IXpNetwork* NewNetwork();

    // Owned, ready objects (XpHandles.h): null when the object cannot be made or its
    // initialisation fails, with nothing left behind.
    XpThreadPtr MakeThread();
    // An event; `manualReset` keeps it signalled until Reset, `initialState` starts it set.
    XpEventPtr MakeEvent(bool manualReset, bool initialState = false);
    XpCritSecPtr MakeCritSec();
    XpMutexPtr MakeMutex();
    // Not yet created or opened: CreateNew, CreateOrOpen or OpenExisting follow.
    XpNamedMutexPtr MakeNamedMutex();
    XpSharedMemPtr MakeShMem();
    // The listener FIFO `name` created under the FIFO directory, with the default
    // first-message time-out or `firstMessageTimeoutMs` (XP_INFINITE: none).
    XpPipeListenerPtr MakePipeListener(const char* name);
    XpPipeListenerPtr MakePipeListener(const char* name, unsigned int firstMessageTimeoutMs);
    // An unconnected connection, ready for Connect.
    XpPipeConnectionPtr MakePipeConnection();
    XpNetworkPtr MakeNetwork();

    // Event log and debug output, forwarded to the owned log writer.
    KXAPI_RESULT EventLogOpen(const char* identity, IXpEventLogStore* store);
    void EventLog(int id, int argCount, ...);
    void EventLogClose();
    void DbgLog(LogLevel level, LogLevel threshold, const char* file, unsigned int line, const char* format, ...)
        __attribute__((format(printf, 6, 7)));
    void DbgPrint(const char* text);

    // Foreground instances: events go to standard error as "<identity>: <text>" instead of
    // the system log. Off in the daemon.
    static void LogEventsToStandardError(bool enable);

    // Places every FIFO and key file in `directory` instead of "/tmp/" and "/dev/shm/"
    // (isolated test and demo instances). Call before any platform object is used.
    static KXAPI_RESULT SetIpcDirectory(const char* directory);

    // Test seam: routes the log operations to `log` (not owned) until called again with
    // null, which restores the system-log writer. Returns the writer that was active.
    IXpLog* ReplaceLog(IXpLog* log);

    Xp();
    ~Xp();

private:
    IXpLog* m_pLog;         // the system-log writer, owned
    IXpLog* m_pActiveLog;   // m_pLog, or a test's replacement
};
