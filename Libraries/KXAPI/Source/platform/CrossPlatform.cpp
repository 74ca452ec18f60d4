#include "CrossPlatform.h"

#include <climits>
#include <cstdlib>
#include <new>
#include <string>

#include "XpEventsLinux.h"
#include "XpIpcLinux.h"
#include "XpLogLinux.h"
#include "XpMultiThreadLinux.h"
#include "XpNetworkLinux.h"
#include "XpPipeConnectionLinux.h"

namespace {
// Constructed during static initialisation, before main; destroyed at exit.
Xp g_Xp;
} // namespace

Xp* Xp::Instance()
{
    return &g_Xp;
}

Xp::Xp() : m_pLog(new XpLogLinux()), m_pActiveLog(m_pLog) {}

Xp::~Xp()
{
    delete m_pLog;
}

IXpThread* Xp::NewThread() { return new (std::nothrow) XpThreadLinux(); }
IXpEvent* Xp::NewEvent() { return new (std::nothrow) XpEventLinux(); }
IXpCritSec* Xp::NewCritSec() { return new (std::nothrow) XpCritSecLinux(); }
IXpMutex* Xp::NewMutex() { return new (std::nothrow) XpMutexLinux(); }
IXpNamedMutex* Xp::NewNamedMutex() { return new (std::nothrow) XpNamedMutexLinux(); }
IXpSharedMem* Xp::NewShMem() { return new (std::nothrow) XpSharedMemLinux(); }
IXpPipeListener* Xp::NewPipeListener() { return new (std::nothrow) XpPipeListenerLinux(); }
IXpPipeConnection* Xp::NewPipeConnection() { return new (std::nothrow) XpPipeConnectionLinux(); }
IXpNetwork* Xp::NewNetwork() { return new (std::nothrow) XpNetworkLinux(); }

XpThreadPtr Xp::MakeThread() { return XpThreadPtr(NewThread()); }
XpNamedMutexPtr Xp::MakeNamedMutex() { return XpNamedMutexPtr(NewNamedMutex()); }
XpSharedMemPtr Xp::MakeShMem() { return XpSharedMemPtr(NewShMem()); }
XpNetworkPtr Xp::MakeNetwork() { return XpNetworkPtr(NewNetwork()); }

XpEventPtr Xp::MakeEvent(bool manualReset, bool initialState)
{
    return XpMakeInitialised(NewEvent(), [&](IXpEvent& event) {
        KXAPI_RESULT result = event.Init(manualReset);
        return result == KXAPI_OK && initialState ? event.Set() : result;
    });
}

XpCritSecPtr Xp::MakeCritSec()
{
    return XpMakeInitialised(NewCritSec(), [](IXpCritSec& lock) { return lock.Init(); });
}

XpMutexPtr Xp::MakeMutex()
{
    return XpMakeInitialised(NewMutex(), [](IXpMutex& lock) { return lock.Init(); });
}

XpPipeListenerPtr Xp::MakePipeListener(const char* name)
{
    return XpMakeInitialised(NewPipeListener(), [&](IXpPipeListener& listener) { return listener.Init(name); });
}

XpPipeListenerPtr Xp::MakePipeListener(const char* name, unsigned int firstMessageTimeoutMs)
{
    return XpMakeInitialised(NewPipeListener(), [&](IXpPipeListener& listener) {
        KXAPI_RESULT result = listener.Init(name);
        return result == KXAPI_OK ? listener.SetFirstMessageTimeout(firstMessageTimeoutMs) : result;
    });
}

XpPipeConnectionPtr Xp::MakePipeConnection()
{
    return XpMakeInitialised(NewPipeConnection(), [](IXpPipeConnection& connection) { return connection.Init(); });
}

KXAPI_RESULT Xp::EventLogOpen(const char* identity, IXpEventLogStore* store)
{
    return m_pActiveLog->EventLogOpen(identity, store);
}

void Xp::EventLog(int id, int argCount, ...)
{
    va_list args;
    va_start(args, argCount);
    m_pActiveLog->EventLog(id, argCount, args);
    va_end(args);
}

void Xp::EventLogClose()
{
    m_pActiveLog->EventLogClose();
}

void Xp::DbgLog(LogLevel level, LogLevel threshold, const char* file, unsigned int line, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    m_pActiveLog->DbgLog(level, threshold, file, line, format, args);
    va_end(args);
}

void Xp::DbgPrint(const char* text)
{
    m_pActiveLog->DbgPrint(text);
}

IXpLog* Xp::ReplaceLog(IXpLog* log)
{
    IXpLog* previous = m_pActiveLog;
    m_pActiveLog = log != nullptr ? log : m_pLog;
    return previous;
}

KXAPI_RESULT Xp::SetIpcDirectory(const char* directory)
{
    static std::string fifoPrefix;
    static std::string mutexPrefix;
    static std::string shmPrefix;
    if (directory == nullptr)
        return KXAPI_E_INVALID_ARG;
    char resolved[PATH_MAX];
    if (realpath(directory, resolved) == nullptr)
        return KXAPI_E_NOT_FOUND;
    std::string base(resolved);
    if (base.empty() || base.back() != '/')
        base += '/';
    fifoPrefix = base;
    mutexPrefix = base + "sem.";
    shmPrefix = base;
    XpPipeBaseLinux::m_pFifoPrefix = fifoPrefix.c_str();
    XpNamedMutexLinux::m_pPrefix = mutexPrefix.c_str();
    XpSharedMemLinux::m_pPrefix = shmPrefix.c_str();
    return KXAPI_OK;
}

void Xp::LogEventsToStandardError(bool enable)
{
    XpLogLinux::m_ToStandardError = enable;
}
