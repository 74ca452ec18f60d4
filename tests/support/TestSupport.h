// Helpers shared by the test programs: private FIFO directories, a recording log, and
// service processes started and stopped under control.
#pragma once

#include <mutex>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

#include "XpInterfaces.h"
#include "KxNonCopyable.h"

namespace kxtest {

// A fresh directory under /tmp, removed with its contents on destruction.
class TempDir : private KxNonCopyable {
public:
    TempDir();
    ~TempDir();
    const std::string& Path() const { return m_Path; }
    std::string File(const std::string& name) const { return m_Path + "/" + name; }

private:
    std::string m_Path;
};

// Points every FIFO and key file of this process at a private directory for the scope.
class ScopedIpcDirectory {
public:
    ScopedIpcDirectory();
    ~ScopedIpcDirectory();
    const std::string& Path() const { return m_Dir.Path(); }
    std::string File(const std::string& name) const { return m_Dir.File(name); }

private:
    TempDir m_Dir;
    const char* m_pOldFifoPrefix;
    const char* m_pOldMutexPrefix;
    const char* m_pOldShmPrefix;
};

// One event written through the log seam: id and the formatted message.
struct LoggedEvent {
    int m_Id;
    int m_Severity;
    std::string m_Text;
};

// An IXpLog that records events (formatted with the store's message) instead of writing
// them to the system log; installed for its lifetime.
class RecordingLog : public IXpLog {
public:
    RecordingLog();
    ~RecordingLog() override;

    void DbgLog(LogLevel, LogLevel, const char*, unsigned int, const char*, va_list) override {}
    void DbgPrint(const char*) override {}
    KXAPI_RESULT EventLogOpen(const char* identity, IXpEventLogStore* store) override;
    void EventLog(int id, int argCount, va_list args) override;
    void EventLogClose() override;

    std::vector<LoggedEvent> Events();
    std::string Identity();
    int OpenCount();
    int CloseCount();

private:
    std::mutex m_Mutex;
    IXpLog* m_pPrevious;
    IXpEventLogStore* m_pStore = nullptr;
    std::string m_Identity;
    std::vector<LoggedEvent> m_Events;
    int m_Opens = 0;
    int m_Closes = 0;
};

// Result of a finished child process.
struct ProcessResult {
    bool m_Exited = false;      // ended normally (not by a signal, not timed out)
    int m_Status = -1;          // exit status when m_Exited
    int m_Signal = 0;           // the signal that ended it, if any
    bool m_TimedOut = false;
    std::string m_Output;       // standard output and standard error
};

// Runs a program to completion (killed after timeoutMs) and collects its output.
ProcessResult RunProgram(const std::vector<std::string>& argv, unsigned int timeoutMs = 10000);

// Waits for a child; kills it after timeoutMs.
ProcessResult WaitChild(pid_t pid, unsigned int timeoutMs);

// In a forked child: sends standard output and error to `outputPath` (appended to when
// `append`, else truncated; left as they are when empty) and becomes argv[0] with `argv`.
// Never returns (status 127 when the program cannot run).
[[noreturn]] void ExecWithOutput(const std::vector<std::string>& argv, const std::string& outputPath, bool append);

// KxapiServiceSim in the foreground on a private FIFO directory.
class SimService {
public:
    SimService();
    // Stops the service (SIGTERM) if it still runs.
    ~SimService();

    // Starts the service with `extraArgs`; true once its three listener FIFOs and the
    // simulator's control FIFO exist.
    bool Start(const std::vector<std::string>& extraArgs = {});
    // Starts the service without waiting for anything.
    bool Launch(const std::vector<std::string>& extraArgs = {});
    // Waits for the service to end by itself.
    ProcessResult Wait(unsigned int timeoutMs = 10000);
    // Sends `signal` and waits for the exit.
    ProcessResult Stop(int signal = 15, unsigned int timeoutMs = 10000);
    pid_t Pid() const { return m_Pid; }
    const std::string& Dir() const { return m_Dir.Path(); }
    std::string File(const std::string& name) const { return m_Dir.File(name); }
    // What the service printed so far (its events, in foreground mode).
    std::string Log() const;

private:
    TempDir m_Dir;
    std::string m_LogPath;
    pid_t m_Pid = -1;
    pid_t m_LastPid = -1; // the last service started, for the clean-up of what it left
};

// Makes a directory below `parent` whose path is exactly `length` characters long (no trailing
// slash) and returns its path; "" when `parent` is already longer.
std::string MakeLongDirectory(const std::string& parent, size_t length);

// Points this process's FIFO prefix at a running service's directory for the scope, so the
// library's clients reach that service.
class UseServiceDir : private KxNonCopyable {
public:
    explicit UseServiceDir(const SimService& service);
    ~UseServiceDir();

private:
    const char* m_pOld;
    std::string m_Prefix;
};

// True when `path` exists within timeoutMs.
bool WaitForPath(const std::string& path, unsigned int timeoutMs);
// True when `predicate` holds within timeoutMs (polled every 10 ms).
template <typename Predicate>
bool WaitUntil(Predicate predicate, unsigned int timeoutMs)
{
    for (unsigned int waited = 0; waited <= timeoutMs; waited += 10) {
        if (predicate())
            return true;
        struct timespec ts {0, 10000000};
        nanosleep(&ts, nullptr);
    }
    return predicate();
}

// Times the scheduler switched thread `tid` of this process out so far (it slept or was
// preempted): a thread blocked with nothing to do adds none; -1 when not readable.
long long ThreadContextSwitches(pid_t tid);
// The same summed over the threads of this process named `name` now.
long long NamedThreadsContextSwitches(const std::string& name);
// After `settleMs`, how much `count` (one of the two above) grew over the next `ms`: a thread
// asleep on an event counts 0 or 1, one that wakes on a period counts each period.
long long SwitchesOver(unsigned int settleMs, unsigned int ms, const std::function<long long()>& count);

// Runs `action` (a stop, say) on a thread of its own: true when it returned within
// `timeoutMs`. When it did not, `release` is run every 50 ms (something that ends what the
// action waits for, e.g. an event that ends a wait the stop failed to wake) until it returns;
// after 10 s more the program aborts, as nothing can end the action then.
bool EndsWithin(unsigned int timeoutMs, const std::function<void()>& action, const std::function<void()>& release);

// Reads a whole file ("" when missing).
std::string ReadFile(const std::string& path);
// Names of the entries of a directory.
std::vector<std::string> ListDir(const std::string& path);

} // namespace kxtest
