#include "TestSupport.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <thread>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "CrossPlatform.h"
#include "XpIpcLinux.h"
#include "XpPipeConnectionLinux.h"

namespace kxtest {

namespace {

// Like the service, test programs take a write into a FIFO whose reader has gone as an
// error (EPIPE), not as a fatal signal.
const bool g_SigPipeIgnored = [] {
    signal(SIGPIPE, SIG_IGN);
    return true;
}();

void RemoveTree(const std::string& path)
{
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0)
        return;
    if (S_ISDIR(info.st_mode)) {
        for (const std::string& name : ListDir(path))
            RemoveTree(path + "/" + name);
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

void SleepMs(unsigned int ms)
{
    struct timespec ts {static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    nanosleep(&ts, nullptr);
}

} // namespace

TempDir::TempDir()
{
    char pattern[] = "/tmp/kxtest.XXXXXX";
    char* made = mkdtemp(pattern);
    m_Path = made != nullptr ? made : "";
    if (made != nullptr)
        chmod(made, 0777);
}

TempDir::~TempDir()
{
    if (!m_Path.empty())
        RemoveTree(m_Path);
}

ScopedIpcDirectory::ScopedIpcDirectory()
    : m_pOldFifoPrefix(XpPipeBaseLinux::m_pFifoPrefix),
      m_pOldMutexPrefix(XpNamedMutexLinux::m_pPrefix),
      m_pOldShmPrefix(XpSharedMemLinux::m_pPrefix)
{
    Xp::SetIpcDirectory(m_Dir.Path().c_str());
}

ScopedIpcDirectory::~ScopedIpcDirectory()
{
    XpPipeBaseLinux::m_pFifoPrefix = m_pOldFifoPrefix;
    XpNamedMutexLinux::m_pPrefix = m_pOldMutexPrefix;
    XpSharedMemLinux::m_pPrefix = m_pOldShmPrefix;
}

RecordingLog::RecordingLog() : m_pPrevious(Xp::Instance()->ReplaceLog(this)) {}

RecordingLog::~RecordingLog()
{
    Xp::Instance()->ReplaceLog(m_pPrevious == this ? nullptr : m_pPrevious);
}

KXAPI_RESULT RecordingLog::EventLogOpen(const char* identity, IXpEventLogStore* store)
{
    if (store == nullptr)
        return KXAPI_E_INVALID_ARG;
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_pStore = store;
    m_Identity = identity != nullptr ? identity : "";
    m_Opens++;
    return KXAPI_OK;
}

void RecordingLog::EventLog(int id, int argCount, va_list args)
{
    (void)argCount;
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (m_pStore == nullptr)
        return;
    int severity = 0;
    const char* format = nullptr;
    if (m_pStore->EventGetMessage(id, severity, format) != KXAPI_OK)
        return;
    char text[512];
    vsnprintf(text, sizeof(text), format, args);
    m_Events.push_back({id, severity, text});
}

void RecordingLog::EventLogClose()
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Closes++;
}

std::vector<LoggedEvent> RecordingLog::Events()
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Events;
}

std::string RecordingLog::Identity()
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Identity;
}

int RecordingLog::OpenCount()
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Opens;
}

int RecordingLog::CloseCount()
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Closes;
}

ProcessResult WaitChild(pid_t pid, unsigned int timeoutMs)
{
    ProcessResult result;
    int status = 0;
    for (unsigned int waited = 0;; waited += 10) {
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            break;
        if (done < 0)
            return result;
        if (waited >= timeoutMs) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            result.m_TimedOut = true;
            return result;
        }
        SleepMs(10);
    }
    if (WIFEXITED(status)) {
        result.m_Exited = true;
        result.m_Status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.m_Signal = WTERMSIG(status);
    }
    return result;
}

void ExecWithOutput(const std::vector<std::string>& argv, const std::string& outputPath, bool append)
{
    if (!outputPath.empty()) {
        int fd = open(outputPath.c_str(), O_WRONLY | O_CREAT | (append ? O_APPEND : O_TRUNC), 0600);
        if (fd >= 0) {
            dup2(fd, STDOUT_FILENO);
            dup2(fd, STDERR_FILENO);
            close(fd);
        }
    }
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
}

ProcessResult RunProgram(const std::vector<std::string>& argv, unsigned int timeoutMs)
{
    TempDir dir;
    std::string outPath = dir.File("output");
    pid_t pid = fork();
    if (pid == 0)
        ExecWithOutput(argv, outPath, false);
    ProcessResult result = WaitChild(pid, timeoutMs);
    result.m_Output = ReadFile(outPath);
    return result;
}

SimService::SimService() : m_LogPath(m_Dir.File("service.log")) {}

namespace {

// Removes the shared-memory segments that the service process `creator` made with keys from
// the files of its private directory: a killed service cannot remove them itself, and they
// would outlive the test run. Keys of unrelated files can coincide, so the creator decides.
void RemoveSharedMemoryOf(const std::string& dir, pid_t creator)
{
    for (const std::string& name : ListDir(dir)) {
        std::string path = dir + "/" + name;
        for (int id = 32; id <= 255; id++) {
            key_t key = ftok(path.c_str(), id);
            if (key == -1)
                break;
            int shmId = shmget(key, 0, 0);
            struct shmid_ds info {};
            if (shmId != -1 && shmctl(shmId, IPC_STAT, &info) == 0 && info.shm_cpid == creator)
                shmctl(shmId, IPC_RMID, nullptr);
        }
    }
}

} // namespace

SimService::~SimService()
{
    // A clean stop first, so that the service removes what it published; WaitChild kills it
    // when it does not end in time.
    if (m_Pid > 0)
        Stop(SIGTERM, 5000);
    if (m_LastPid > 0)
        RemoveSharedMemoryOf(m_Dir.Path(), m_LastPid);
}

bool SimService::Start(const std::vector<std::string>& extraArgs)
{
    // The simulator's control FIFO comes last: kxctl's card list asks it first.
    return Launch(extraArgs) && WaitForPath(File("DemodRecvPipe"), 10000) &&
           WaitForPath(File("KxeRecvPipe"), 10000) && WaitForPath(File("KxGlobalRecvPipe"), 10000) &&
           WaitForPath(File("KxSimCtrlPipe"), 10000);
}

ProcessResult SimService::Wait(unsigned int timeoutMs)
{
    ProcessResult result;
    if (m_Pid <= 0)
        return result;
    result = WaitChild(m_Pid, timeoutMs);
    m_Pid = -1;
    result.m_Output = Log();
    return result;
}

bool SimService::Launch(const std::vector<std::string>& extraArgs)
{
    pid_t pid = fork();
    if (pid == 0) {
        std::vector<std::string> argv = {KX_SIM_BINARY, "--fifo-dir", m_Dir.Path(), "--no-daemon"};
        argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
        ExecWithOutput(argv, m_LogPath, false);
    }
    if (pid < 0)
        return false;
    m_Pid = pid;
    m_LastPid = pid;
    return true;
}

ProcessResult SimService::Stop(int signal, unsigned int timeoutMs)
{
    ProcessResult result;
    if (m_Pid <= 0)
        return result;
    kill(m_Pid, signal);
    result = WaitChild(m_Pid, timeoutMs);
    m_Pid = -1;
    result.m_Output = Log();
    return result;
}

std::string SimService::Log() const
{
    return ReadFile(m_LogPath);
}

UseServiceDir::UseServiceDir(const SimService& service)
    : m_pOld(XpPipeBaseLinux::m_pFifoPrefix), m_Prefix(service.Dir() + "/")
{
    XpPipeBaseLinux::m_pFifoPrefix = m_Prefix.c_str();
}

UseServiceDir::~UseServiceDir()
{
    XpPipeBaseLinux::m_pFifoPrefix = m_pOld;
}

std::string MakeLongDirectory(const std::string& parent, size_t length)
{
    if (parent.size() + 2 > length)
        return "";
    std::string path = parent + "/" + std::string(length - parent.size() - 1, 'd');
    if (mkdir(path.c_str(), 0755) != 0)
        return "";
    return path;
}

bool WaitForPath(const std::string& path, unsigned int timeoutMs)
{
    return WaitUntil([&] { return access(path.c_str(), F_OK) == 0; }, timeoutMs);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

long long ThreadContextSwitches(pid_t tid)
{
    const std::string status = ReadFile("/proc/self/task/" + std::to_string(tid) + "/status");
    long long total = -1;
    for (const char* field : {"voluntary_ctxt_switches:", "nonvoluntary_ctxt_switches:"}) {
        const size_t at = status.find(std::string("\n") + field);
        if (at == std::string::npos)
            return -1;
        total += std::atoll(status.c_str() + at + 1 + std::strlen(field));
    }
    return total + 1;
}

long long NamedThreadsContextSwitches(const std::string& name)
{
    long long total = 0;
    for (const std::string& task : ListDir("/proc/self/task")) {
        std::string comm = ReadFile("/proc/self/task/" + task + "/comm");
        if (!comm.empty() && comm.back() == '\n')
            comm.pop_back();
        if (comm != name)
            continue;
        const long long switches = ThreadContextSwitches(static_cast<pid_t>(std::atoll(task.c_str())));
        if (switches > 0)
            total += switches;
    }
    return total;
}

long long SwitchesOver(unsigned int settleMs, unsigned int ms, const std::function<long long()>& count)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(settleMs));
    const long long before = count();
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return count() - before;
}

bool EndsWithin(unsigned int timeoutMs, const std::function<void()>& action, const std::function<void()>& release)
{
    std::atomic<bool> done{false};
    std::thread runner([&] {
        action();
        done = true;
    });
    const bool inTime = WaitUntil([&] { return done.load(); }, timeoutMs);
    for (int attempt = 0; !done.load(); attempt++) {
        if (attempt == 200) {
            fprintf(stderr, "EndsWithin: the action still has not returned; aborting\n");
            abort();
        }
        release();
        struct timespec pause {0, 50000000};
        nanosleep(&pause, nullptr);
    }
    runner.join();
    return inTime;
}

std::vector<std::string> ListDir(const std::string& path)
{
    std::vector<std::string> names;
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr)
        return names;
    while (dirent* entry = readdir(dir)) {
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
            names.push_back(entry->d_name);
    }
    closedir(dir);
    return names;
}

} // namespace kxtest
