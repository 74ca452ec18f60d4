// What the benchmarks share: time and percentiles, CPU time of processes and of their threads
// by name, and the raw FIFO ping-pong every service figure is compared with.
//
// The reference ping-pong runs between this process and a forked echo process over two FIFOs,
// moving the same byte counts as the service exchange it stands beside. It waits in one of two
// ways: blocking reads and writes (the kernel wakes the sleeping peer), or exactly as the
// service's transport waits (non-blocking descriptors, the transport's own transfer routine:
// a short spin that yields the processor, then a sleep in poll that also watches a stop signal;
// the echo awaits a request without a limit, as a service connection does, and the client its
// reply with a timeout), so that a ratio to it shows what the service adds and not how it waits.
#pragma once

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <sys/epoll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "XpPipeConnectionLinux.h"

inline double NowUs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

inline double Percentile(std::vector<double> samples, double fraction)
{
    if (samples.empty())
        return 0;
    std::sort(samples.begin(), samples.end());
    return samples[static_cast<size_t>(fraction * static_cast<double>(samples.size() - 1))];
}

// Round-trip times, and the CPU time both processes spent per round trip.
struct Samples {
    std::vector<double> m_Us;
    double m_CpuUsPerTrip = 0;
    double Median() const { return Percentile(m_Us, 0.5); }
    double P99() const { return Percentile(m_Us, 0.99); }
};

// CPU time of one thread (nanoseconds on the processor, from the scheduler's statistics).
inline long long ThreadCpuNs(const std::string& taskDir)
{
    FILE* pFile = fopen((taskDir + "/schedstat").c_str(), "r");
    if (pFile == nullptr)
        return 0;
    long long ns = 0;
    if (fscanf(pFile, "%lld", &ns) != 1)
        ns = 0;
    fclose(pFile);
    return ns;
}

inline std::string ThreadName(const std::string& taskDir)
{
    FILE* pFile = fopen((taskDir + "/comm").c_str(), "r");
    if (pFile == nullptr)
        return "";
    char name[64] = {};
    if (fgets(name, sizeof(name), pFile) == nullptr)
        name[0] = '\0';
    fclose(pFile);
    std::string text(name);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

// Calls visit(taskDir) for every live thread of a process ("/proc/PID/task/TID").
template <typename Visit> void ForEachThread(pid_t pid, Visit visit)
{
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* pDir = opendir(tasks.c_str());
    if (pDir == nullptr)
        return;
    while (dirent* pEntry = readdir(pDir)) {
        if (pEntry->d_name[0] != '.')
            visit(tasks + "/" + pEntry->d_name);
    }
    closedir(pDir);
}

// CPU time of every live thread of a process, summed by thread name.
inline std::map<std::string, long long> CpuNsByThreadName(pid_t pid)
{
    std::map<std::string, long long> byName;
    ForEachThread(pid, [&](const std::string& task) { byName[ThreadName(task)] += ThreadCpuNs(task); });
    return byName;
}

// Times the scheduler switched each live thread of a process out (it slept or was preempted),
// summed by thread name: a thread that sleeps until there is work adds one per wake-up.
inline std::map<std::string, long long> SwitchesByThreadName(pid_t pid)
{
    std::map<std::string, long long> byName;
    ForEachThread(pid, [&](const std::string& task) {
        FILE* pFile = fopen((task + "/status").c_str(), "r");
        if (pFile == nullptr)
            return;
        char line[256];
        long long switches = 0, n = 0;
        while (fgets(line, sizeof(line), pFile) != nullptr)
            if (sscanf(line, "voluntary_ctxt_switches: %lld", &n) == 1 ||
                sscanf(line, "nonvoluntary_ctxt_switches: %lld", &n) == 1)
                switches += n;
        fclose(pFile);
        byName[ThreadName(task)] += switches;
    });
    return byName;
}

// CPU time of a process: its live threads (ended threads are counted in /proc/PID/stat only
// at clock-tick resolution, so both are read and the larger taken).
inline long long ProcessCpuNs(pid_t pid)
{
    long long threads = 0;
    for (const auto& entry : CpuNsByThreadName(pid))
        threads += entry.second;
    FILE* pFile = fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
    long long ticksNs = 0;
    if (pFile != nullptr) {
        char buffer[1024] = {};
        size_t n = fread(buffer, 1, sizeof(buffer) - 1, pFile);
        fclose(pFile);
        buffer[n] = '\0';
        const char* pAfter = strrchr(buffer, ')');
        long long utime = 0, stime = 0;
        // Fields after the command name: state is field 3, utime 14, stime 15.
        if (pAfter != nullptr &&
            sscanf(pAfter + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lld %lld", &utime, &stime) == 2)
            ticksNs = (utime + stime) * (1000000000LL / sysconf(_SC_CLK_TCK));
    }
    return std::max(threads, ticksNs);
}

// CPU time of several processes together, over an interval.
class CpuMeter {
public:
    explicit CpuMeter(std::vector<pid_t> pids) : m_Pids(std::move(pids)) { m_Start = Total(); }
    // Microseconds of CPU per unit (a round trip) since construction.
    double UsPer(size_t units) const
    {
        return units == 0 ? 0 : static_cast<double>(Total() - m_Start) / 1e3 / static_cast<double>(units);
    }

private:
    long long Total() const
    {
        long long sum = 0;
        for (pid_t pid : m_Pids)
            sum += ProcessCpuNs(pid);
        return sum;
    }
    std::vector<pid_t> m_Pids;
    long long m_Start = 0;
};

enum class RawWait {
    BLOCKING,  // blocking read and write
    TRANSPORT, // the transport's own transfer routine: spin, then sleep in poll
    ONE_THREAD, // the echo serves every pair from one thread that sleeps in epoll until a
                // request is readable, then moves it with the transport's routine; the client
                // waits as with TRANSPORT
};

// A forked process that answers every request of requestSize bytes with replySize bytes, on
// `pairs` FIFO pairs at once, one thread for each (as the service runs one thread for each
// connection); this process sends on pair i with RoundTrip(i), from any thread.
class RawEcho {
public:
    RawEcho(const std::string& dir, const char* pTag, size_t requestSize, size_t replySize, RawWait wait,
            size_t pairs = 1)
        : m_RequestSize(requestSize), m_ReplySize(replySize), m_Wait(wait)
    {
        std::vector<std::pair<std::string, std::string>> paths;
        for (size_t i = 0; i < pairs; i++) {
            const std::string suffix = std::string(pTag) + (pairs > 1 ? "_" + std::to_string(i) : "");
            paths.emplace_back(dir + "/raw_request_" + suffix, dir + "/raw_reply_" + suffix);
            unlink(paths.back().first.c_str());
            unlink(paths.back().second.c_str());
            mkfifo(paths.back().first.c_str(), 0600);
            mkfifo(paths.back().second.c_str(), 0600);
        }
        m_Echo = fork();
        if (m_Echo == 0) {
            // Only its own FIFOs: an inherited end of another pair would keep that pair's echo
            // from ever seeing its client leave.
            close_range(3, ~0U, 0);
            if (wait == RawWait::ONE_THREAD)
                EchoFromOneThread(paths);
            std::vector<std::thread> threads;
            for (const auto& path : paths)
                threads.emplace_back([this, path] {
                    Pair pair;
                    OpenEchoSide(pair, path);
                    std::vector<char> request(m_RequestSize), reply(m_ReplySize, 0);
                    // As a service connection: the next request is awaited without a limit.
                    while (Move(pair, pair.m_In, request.data(), m_RequestSize, false, XP_INFINITE) &&
                           Move(pair, pair.m_Out, reply.data(), m_ReplySize, true)) {
                    }
                });
            for (std::thread& thread : threads)
                thread.join();
            _exit(0);
        }
        for (const auto& path : paths) {
            auto pair = std::make_unique<Pair>();
            pair->m_Out = open(path.first.c_str(), O_WRONLY);
            pair->m_In = open(path.second.c_str(), O_RDONLY);
            pair->m_Request.assign(requestSize, 1);
            pair->m_Reply.resize(replySize);
            Prepare(*pair);
            m_Pairs.push_back(std::move(pair));
        }
    }
    ~RawEcho()
    {
        for (auto& pair : m_Pairs) {
            close(pair->m_Out);
            close(pair->m_In);
        }
        if (m_Echo > 0)
            waitpid(m_Echo, nullptr, 0);
    }
    pid_t Pid() const { return m_Echo; }
    bool RoundTrip(size_t index = 0)
    {
        Pair& pair = *m_Pairs[index];
        return Move(pair, pair.m_Out, pair.m_Request.data(), m_RequestSize, true) &&
               Move(pair, pair.m_In, pair.m_Reply.data(), m_ReplySize, false);
    }

private:
    struct Pair {
        int m_Out = -1;
        int m_In = -1;
        std::atomic<bool> m_ReadSpin{true};
        std::atomic<bool> m_WriteSpin{true};
        XpStopSignal m_Stop; // never raised: watched by every wait, as a connection's is
        std::vector<char> m_Request;
        std::vector<char> m_Reply;
    };

    // The echo of RawWait::ONE_THREAD; never returns.
    [[noreturn]] void EchoFromOneThread(const std::vector<std::pair<std::string, std::string>>& paths)
    {
        std::vector<std::unique_ptr<Pair>> pairs;
        const int poller = epoll_create1(EPOLL_CLOEXEC);
        for (const auto& path : paths) {
            auto pair = std::make_unique<Pair>();
            OpenEchoSide(*pair, path);
            epoll_event readable{};
            readable.events = EPOLLIN;
            readable.data.ptr = pair.get();
            epoll_ctl(poller, EPOLL_CTL_ADD, pair->m_In, &readable);
            pairs.push_back(std::move(pair));
        }
        std::vector<char> request(m_RequestSize), reply(m_ReplySize, 0);
        std::vector<epoll_event> ready(pairs.size());
        size_t open = pairs.size();
        while (open > 0) {
            const int count = epoll_wait(poller, ready.data(), static_cast<int>(ready.size()), -1);
            for (int i = 0; i < count; i++) {
                Pair& pair = *static_cast<Pair*>(ready[static_cast<size_t>(i)].data.ptr);
                if (!Move(pair, pair.m_In, request.data(), m_RequestSize, false) ||
                    !Move(pair, pair.m_Out, reply.data(), m_ReplySize, true)) {
                    epoll_ctl(poller, EPOLL_CTL_DEL, pair.m_In, nullptr); // its client has left
                    open--;
                }
            }
        }
        _exit(0);
    }

    // The echo's ends of a pair: it reads the requests and writes the replies.
    void OpenEchoSide(Pair& pair, const std::pair<std::string, std::string>& path) const
    {
        pair.m_In = open(path.first.c_str(), O_RDONLY);
        pair.m_Out = open(path.second.c_str(), O_WRONLY);
        Prepare(pair);
    }

    void Prepare(const Pair& pair) const
    {
        if (m_Wait == RawWait::BLOCKING)
            return;
        fcntl(pair.m_In, F_SETFL, fcntl(pair.m_In, F_GETFL) | O_NONBLOCK);
        fcntl(pair.m_Out, F_SETFL, fcntl(pair.m_Out, F_GETFL) | O_NONBLOCK);
    }
    // timeoutMs: the client's reply timeout by default.
    bool Move(Pair& pair, int fd, char* buffer, size_t length, bool forWrite, unsigned int timeoutMs = 5000)
    {
        if (m_Wait != RawWait::BLOCKING) {
            // With the spin history and the stop signal a connection keeps for each direction.
            const unsigned int n = static_cast<unsigned int>(length);
            return (forWrite ? XpPipeBaseLinux::WriteToFifo(fd, buffer, n, timeoutMs, &pair.m_Stop, nullptr,
                                                            &pair.m_WriteSpin)
                             : XpPipeBaseLinux::ReadFromFifo(fd, buffer, n, timeoutMs, &pair.m_Stop, nullptr,
                                                             &pair.m_ReadSpin)) == KXAPI_OK;
        }
        for (size_t done = 0; done < length;) {
            ssize_t n = forWrite ? write(fd, buffer + done, length - done) : read(fd, buffer + done, length - done);
            if (n <= 0)
                return false;
            done += static_cast<size_t>(n);
        }
        return true;
    }

    size_t m_RequestSize;
    size_t m_ReplySize;
    RawWait m_Wait;
    std::vector<std::unique_ptr<Pair>> m_Pairs;
    pid_t m_Echo = -1;
};

// The framed size of a message body (2-byte length below 65535 bytes, else 8).
inline size_t FramedSize(size_t body)
{
    return body + (body <= 65534 ? 2 : 8);
}

// Runs `trips` round trips of the raw ping-pong and records them.
inline bool RunRawPingPong(const std::string& dir, const char* pTag, size_t requestSize, size_t replySize,
                           RawWait wait, size_t trips, Samples& samples)
{
    samples.m_Us.clear();
    RawEcho echo(dir, pTag, requestSize, replySize, wait);
    for (int i = 0; i < 100; i++) // warm-up
        if (!echo.RoundTrip())
            return false;
    CpuMeter cpu({getpid(), echo.Pid()});
    for (size_t i = 0; i < trips; i++) {
        const double start = NowUs();
        if (!echo.RoundTrip())
            return false;
        samples.m_Us.push_back(NowUs() - start);
    }
    samples.m_CpuUsPerTrip = cpu.UsPer(trips);
    return true;
}
