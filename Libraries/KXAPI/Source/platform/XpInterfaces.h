// Platform interfaces: threads, events, locks, cross-process objects, FIFOs and the log.
// Objects are made by the factories of Xp (CrossPlatform.h); the creator owns them.
// Every operation returns a KXAPI_RESULT unless stated otherwise; none throws.
#pragma once

#include <cstdarg>
#include <vector>

#include "IInterface.h"
#include "KxapiResult.h"

// Time-out value meaning "no limit".
constexpr unsigned int XP_INFINITE = 0xFFFFFFFFu;

// Owner value of a checked FIFO open meaning "any user"; also "not known" as a peer's owner.
constexpr unsigned int XP_ANY_OWNER = 0xFFFFFFFFu;

// Event ids of the platform layer's own reports, beside the service's numbered events.
enum XpEventId {
    // A path the service must create was taken by something it had to move aside; arguments:
    // the path, the name it was moved to.
    XP_EVENT_PATH_MOVED_ASIDE = 100,
    // A named lock stayed taken past the owner's longest wait and was set free again;
    // argument: the lock's key.
    XP_EVENT_NAMED_LOCK_RESET = 101,
};

enum ThreadPrioLevel {
    THREAD_PRIO_LOWEST = 0,   // SCHED_OTHER, nice 19
    THREAD_PRIO_LOW = 1,      // SCHED_OTHER, nice 10
    THREAD_PRIO_NORMAL = 2,   // SCHED_OTHER, nice 0
    THREAD_PRIO_HIGH = 3,     // SCHED_OTHER, nice -10
    THREAD_PRIO_HIGHEST = 4,  // SCHED_OTHER, nice -20
    THREAD_PRIO_REALTIME = 5, // SCHED_FIFO, priority 50
};

enum LogLevel {
    LOG_LEVEL_ALL = 0,
    LOG_LEVEL_DEBUG = 1,
    LOG_LEVEL_INFO = 2,
    LOG_LEVEL_WARNING = 3,
    LOG_LEVEL_ERROR = 4,
    LOG_LEVEL_NONE = 5,
};

class IXpThread : public IInterface {
public:
    // Starts function(argument) on a new thread; returns once the thread runs.
    virtual KXAPI_RESULT Create(void (*function)(void*), void* argument) = 0;
    // Pins the thread to the listed CPUs (entries of 1024 and up are ignored).
    virtual KXAPI_RESULT SetAffinity(const std::vector<int>& cpus) = 0;
    // Names the thread (first 15 characters) where the system supports it.
    virtual KXAPI_RESULT SetName(const char* name) = 0;
    // Applies one of the six priority levels.
    virtual KXAPI_RESULT SetPriority(ThreadPrioLevel level) = 0;
    // Applies a scheduling policy (0 other, 1 FIFO, 2 round robin) and priority or nice value.
    virtual KXAPI_RESULT SetPriority(int policy, int priority) = 0;
    // Joins the thread; KXAPI_E_NOT_INITIALIZED when never created.
    virtual KXAPI_RESULT WaitFinished() = 0;
    // Joins the thread and makes the object reusable for another Create.
    virtual KXAPI_RESULT Close() = 0;
};

class IXpEvent : public IInterface {
public:
    // Prepares the event; a second Init gives KXAPI_E_IN_USE.
    virtual KXAPI_RESULT Init(bool manualReset) = 0;
    // Signals the event and wakes every waiter.
    virtual KXAPI_RESULT Set() = 0;
    // Clears the event.
    virtual KXAPI_RESULT Reset() = 0;
    // Waits without limit until the event is signalled.
    virtual KXAPI_RESULT Wait() = 0;
    // Waits at most timeoutMs; KXAPI_E_TIMEOUT when the event stays clear.
    virtual KXAPI_RESULT WaitTimeout(unsigned int timeoutMs) = 0;
    // Releases the event's resources.
    virtual KXAPI_RESULT Close() = 0;
};

// A recursive lock inside one process.
class IXpCritSec : public IInterface {
public:
    virtual KXAPI_RESULT Init() = 0;
    virtual KXAPI_RESULT Lock() = 0;
    virtual KXAPI_RESULT Unlock() = 0;
    virtual KXAPI_RESULT Close() = 0;
};

// Same behaviour as IXpCritSec; kept apart because callers name the two differently.
class IXpMutex : public IInterface {
public:
    virtual KXAPI_RESULT Init() = 0;
    virtual KXAPI_RESULT Lock() = 0;
    virtual KXAPI_RESULT Unlock() = 0;
    virtual KXAPI_RESULT Close() = 0;
};

// A lock shared between processes, named by a key file.
class IXpNamedMutex : public IInterface {
public:
    // Creates a new lock (free) under the name.
    virtual KXAPI_RESULT CreateNew(const char* name) = 0;
    // Creates the lock or opens an existing one, and sets it free.
    virtual KXAPI_RESULT CreateOrOpen(const char* name) = 0;
    // Opens a lock by the decimal key text that GetKey gives.
    virtual KXAPI_RESULT OpenExisting(const char* key) = 0;
    // Writes the lock's key as decimal text.
    virtual KXAPI_RESULT GetKey(char* buffer, unsigned int size) = 0;
    // Takes the lock within timeoutMs; KXAPI_E_TIMEOUT otherwise.
    virtual KXAPI_RESULT Lock(int timeoutMs) = 0;
    virtual KXAPI_RESULT Unlock() = 0;
    // Forgets the lock; the creator also removes it from the system.
    virtual KXAPI_RESULT Close() = 0;
    // Sets the lock free whoever holds it (for its creator, when a holder outstays every
    // legitimate use); KXAPI_E_NO_PERMISSION when the system refuses.
    virtual KXAPI_RESULT ForceFree() = 0;
};

// A memory segment shared between processes, named by a key file.
class IXpSharedMem : public IInterface {
public:
    // Creates and attaches a new zeroed segment of size bytes.
    virtual KXAPI_RESULT CreateNew(const char* name, unsigned int size, void*& memory) = 0;
    // Attaches an existing segment by the decimal key text that GetKey gives.
    virtual KXAPI_RESULT OpenExisting(const char* key, unsigned int size, void*& memory, bool readOnly) = 0;
    // Writes the segment's key as decimal text.
    virtual KXAPI_RESULT GetKey(char* buffer, unsigned int size) = 0;
    // Detaches; the creator also removes the segment and its key file.
    virtual KXAPI_RESULT Close() = 0;
    // The attached address, or null.
    virtual void* GetMemPtr() = 0;
};

class IXpPipeConnection;

// The server end of a well-known FIFO that accepts client connections.
class IXpPipeListener : public IInterface {
public:
    // Creates the listener FIFO under the FIFO directory.
    virtual KXAPI_RESULT Init(const char* name) = 0;
    // Blocks until a client connects (connection handed over, caller owns it) or StopWaiting.
    virtual KXAPI_RESULT WaitConnection(IXpPipeConnection*& connection) = 0;
    // KXAPI_OK once the listener FIFO exists.
    virtual KXAPI_RESULT WaitPipeCreated() = 0;
    // Makes WaitConnection return at once, now and for good.
    virtual KXAPI_RESULT StopWaiting() = 0;
    // How long an accepted client may take to send its first byte before its reads fail
    // (10 s by default); XP_INFINITE for a listener whose peer may stay silent for good, such
    // as a client's event FIFO.
    virtual KXAPI_RESULT SetFirstMessageTimeout(unsigned int timeoutMs) = 0;
};

// A full-duplex byte stream between two processes over a pair of FIFOs.
class IXpPipeConnection : public IInterface {
public:
    // Clears the stop flag.
    virtual KXAPI_RESULT Init() = 0;
    // Client side: connects to the listener of the given name.
    virtual KXAPI_RESULT Connect(const char* name) = 0;
    // Service side: connects once to a listener FIFO that a client published; the FIFO must
    // belong to the user `ownerUid` (the owner of that client's own connection FIFOs).
    virtual KXAPI_RESULT ConnectToClient(const char* name, unsigned int ownerUid) = 0;
    // Server side: the user who owns the client's connection FIFOs (XP_ANY_OWNER: not known).
    virtual unsigned int PeerOwner() const = 0;
    // Discards input that is waiting.
    virtual KXAPI_RESULT ClearRx() = 0;
    // Writes exactly length bytes within timeoutMs of idle waiting.
    virtual KXAPI_RESULT Write(const char* buffer, unsigned int length, unsigned int timeoutMs) = 0;
    // Reads exactly length bytes within timeoutMs of idle waiting.
    virtual KXAPI_RESULT Read(char* buffer, unsigned int length, unsigned int timeoutMs) = 0;
    // Reads at least `minimum` and at most `length` bytes (what is there once the minimum has
    // come) under the same rules; `got` tells how many. A stream that cannot read ahead reads
    // the minimum alone.
    virtual KXAPI_RESULT ReadSome(char* buffer, unsigned int minimum, unsigned int length, unsigned int timeoutMs,
                                  unsigned int& got)
    {
        (void)length;
        got = 0;
        KXAPI_RESULT result = Read(buffer, minimum, timeoutMs);
        if (result == KXAPI_OK)
            got = minimum;
        return result;
    }
    // Makes a transfer in progress return (KXAPI_OK, incomplete) at once.
    virtual KXAPI_RESULT StopIo() = 0;
    // Clears the stop flag again.
    virtual KXAPI_RESULT ResumeIo() = 0;
    // Closes both directions and removes the FIFO files this end created.
    virtual KXAPI_RESULT Close() = 0;
    // Removes the FIFO of a process that no longer exists; true when removed or pid < 1.
    virtual bool CleanupOrphanPipe(const char* name, int pid) = 0;
};

// Maps event ids to a syslog priority and a message format.
class IXpEventLogStore : public IInterface {
public:
    virtual KXAPI_RESULT EventGetMessage(int id, int& severity, const char*& message) = 0;
};

class IXpLog : public IInterface {
public:
    virtual void DbgLog(LogLevel level, LogLevel threshold, const char* file, unsigned int line,
                        const char* format, va_list args) = 0;
    virtual void DbgPrint(const char* text) = 0;
    virtual KXAPI_RESULT EventLogOpen(const char* identity, IXpEventLogStore* store) = 0;
    virtual void EventLog(int id, int argCount, va_list args) = 0;
    virtual void EventLogClose() = 0;
};
