// The production daemon itself: start-up, single instance, PID file, signals, exit statuses
// and its events in the system log. These tests use the fixed FIFO names and share one lock.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "TestSupport.h"

namespace {

using kxtest::ProcessResult;
using kxtest::TempDir;

// Receives what processes write to the system log socket, when no log daemon owns it.
class SyslogCapture {
public:
    SyslogCapture()
    {
        struct stat info {};
        if (lstat("/dev/log", &info) == 0)
            return; // a log daemon runs here; leave it alone
        m_Fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        strcpy(address.sun_path, "/dev/log");
        if (m_Fd < 0 || bind(m_Fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
            if (m_Fd >= 0)
                close(m_Fd);
            m_Fd = -1;
            return;
        }
        chmod("/dev/log", 0666);
    }
    ~SyslogCapture()
    {
        if (m_Fd >= 0) {
            close(m_Fd);
            unlink("/dev/log");
        }
    }
    bool Available() const { return m_Fd >= 0; }
    // Every datagram received within timeoutMs.
    std::vector<std::string> Drain(unsigned int timeoutMs)
    {
        std::vector<std::string> messages;
        for (unsigned int waited = 0; m_Fd >= 0 && waited <= timeoutMs; waited += 20) {
            char buffer[1024];
            ssize_t n;
            while ((n = recv(m_Fd, buffer, sizeof(buffer), MSG_DONTWAIT)) > 0)
                messages.emplace_back(buffer, static_cast<size_t>(n));
            usleep(20000);
        }
        return messages;
    }

private:
    int m_Fd = -1;
};

// True when a message "<priority>... KxapiService: text" is among `messages`.
bool Logged(const std::vector<std::string>& messages, int priority, const std::string& text)
{
    std::string head = "<" + std::to_string(priority) + ">";
    for (const std::string& message : messages) {
        if (message.rfind(head, 0) == 0 && message.find("KxapiService: " + text) != std::string::npos &&
            message.find("KxapiService: " + text) + 14 + text.size() == message.size())
            return true;
    }
    return false;
}

std::string Joined(const std::vector<std::string>& messages)
{
    std::string all;
    for (const std::string& message : messages)
        all += message + "\n";
    return all;
}

class DaemonTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // Daemons re-parent to this process, so their exit statuses can be collected.
        prctl(PR_SET_CHILD_SUBREAPER, 1);
    }
    void SetUp() override
    {
        ASSERT_TRUE(RunningDaemons().empty()) << "another KxapiService runs on this machine";
        // A stale FIFO or directory of an earlier run must not influence the test.
        for (const char* name : {"/tmp/DemodRecvPipe", "/tmp/KxeRecvPipe", "/tmp/KxGlobalRecvPipe"})
            unlink(name);
    }

    // Starts the production binary (or `binary`) and returns the started process's status.
    ProcessResult StartService(const std::vector<std::string>& args, const std::string& binary = KX_SERVICE_BINARY)
    {
        std::vector<std::string> argv = {binary};
        argv.insert(argv.end(), args.begin(), args.end());
        return kxtest::RunProgram(argv, 10000);
    }

    // The pid of the daemon named by a PID file, once the file is complete.
    pid_t DaemonFromPidFile(const std::string& path)
    {
        pid_t pid = -1;
        kxtest::WaitUntil([&] {
            // Whatever was at the path before the daemon replaced it is not a number.
            std::string text = kxtest::ReadFile(path);
            char* end = nullptr;
            long value = strtol(text.c_str(), &end, 10);
            pid = !text.empty() && *end == '\0' ? static_cast<pid_t>(value) : -1;
            return pid > 0;
        }, 5000);
        return pid;
    }

    // Reaps every re-parented process (intermediate parents and daemons) until none is
    // left and returns their exit statuses in ascending order (the order in which they end
    // is up to the scheduler); -1 stands for an end by a signal.
    std::vector<int> ReapAll(unsigned int timeoutMs)
    {
        std::vector<int> statuses;
        for (unsigned int waited = 0; waited <= timeoutMs; waited += 10) {
            int status = 0;
            pid_t pid = waitpid(-1, &status, WNOHANG);
            if (pid < 0 && errno == ECHILD) {
                std::sort(statuses.begin(), statuses.end());
                return statuses;
            }
            if (pid > 0) {
                statuses.push_back(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
                continue;
            }
            usleep(10000);
        }
        statuses.push_back(-2); // something still runs
        std::sort(statuses.begin(), statuses.end());
        return statuses;
    }

    // Live (not zombie) processes called KxapiService.
    static std::vector<pid_t> RunningDaemons()
    {
        std::vector<pid_t> pids;
        for (const std::string& name : kxtest::ListDir("/proc")) {
            if (name.find_first_not_of("0123456789") != std::string::npos)
                continue;
            std::string stat = kxtest::ReadFile("/proc/" + name + "/stat");
            size_t open = stat.find('(');
            size_t close = stat.rfind(')');
            if (open == std::string::npos || close == std::string::npos || close + 2 >= stat.size())
                continue;
            if (stat.substr(open + 1, close - open - 1) == "KxapiService" && stat[close + 2] != 'Z')
                pids.push_back(std::stoi(name));
        }
        return pids;
    }

    TempDir m_Dir;
};

TEST_F(DaemonTest, RunsAsADaemonWithItsPidFileAndStopsCleanlyOnSigterm)
{
    SyslogCapture syslog;
    std::string pidFile = m_Dir.File("kxapi.pid");
    ProcessResult started = StartService({pidFile});
    EXPECT_TRUE(started.m_Exited);
    EXPECT_EQ(started.m_Status, 0);
    pid_t daemon = DaemonFromPidFile(pidFile);
    ASSERT_GT(daemon, 0);
    EXPECT_EQ(kxtest::ReadFile(pidFile), std::to_string(daemon)); // "%d", no line end
    EXPECT_NE(getsid(daemon), getsid(0));                         // a session of its own
    char cwd[64] = {};
    ASSERT_GT(readlink(("/proc/" + std::to_string(daemon) + "/cwd").c_str(), cwd, sizeof(cwd) - 1), 0);
    EXPECT_STREQ(cwd, "/");

    // The PID file is written before the managers start; the FIFOs follow shortly.
    ProcessResult version;
    kxtest::WaitUntil([&] { return (version = kxtest::RunProgram({KX_KXCTL_BINARY, "version"})).m_Status == 0; },
                      5000);
    EXPECT_EQ(version.m_Output, "KxapiService 3.8.7 Build 96\n");

    // A second instance, also one started from another directory, refuses to start.
    std::string secondPid = m_Dir.File("second.pid");
    ProcessResult second = StartService({secondPid});
    EXPECT_EQ(second.m_Status, 1);
    EXPECT_NE(access(secondPid.c_str(), F_OK), 0);
    TempDir elsewhere;
    std::string copy = elsewhere.File("KxapiService");
    ASSERT_EQ(kxtest::RunProgram({"/bin/cp", KX_SERVICE_BINARY, copy}).m_Status, 0);
    EXPECT_EQ(StartService({secondPid}, copy).m_Status, 1);
    EXPECT_NE(access(secondPid.c_str(), F_OK), 0);

    kill(daemon, SIGPIPE); // blocked for good: survives
    usleep(100000);
    EXPECT_EQ(kill(daemon, 0), 0);

    kill(daemon, SIGTERM);
    EXPECT_EQ(ReapAll(10000), (std::vector<int>{0, 0}));
    EXPECT_NE(access(pidFile.c_str(), F_OK), 0);
    EXPECT_NE(access("/tmp/KxGlobalRecvPipe", F_OK), 0);

    if (!syslog.Available())
        GTEST_SKIP() << "the system log socket belongs to a log daemon here; events not checked";
    std::vector<std::string> messages = syslog.Drain(300);
    // LOG_INFO (6) with facility daemon (3 << 3) is priority 30.
    EXPECT_TRUE(Logged(messages, 30, "The Kxapi Service (version 3.8.7 Build 96) has started successfully."))
        << Joined(messages);
    EXPECT_TRUE(Logged(messages, 30, "The Kxapi Service has stopped.")) << Joined(messages);
    EXPECT_EQ(messages.size(), 2u) << Joined(messages);
}

TEST_F(DaemonTest, WithoutArgumentsNoPidFileIsWrittenAndSigintStops)
{
    ProcessResult started = kxtest::RunProgram({KX_SERVICE_BINARY});
    EXPECT_EQ(started.m_Status, 0);
    ASSERT_TRUE(kxtest::WaitForPath("/tmp/KxGlobalRecvPipe", 5000));
    ASSERT_TRUE(
        kxtest::WaitUntil([] { return kxtest::RunProgram({KX_KXCTL_BINARY, "version"}).m_Status == 0; }, 5000));
    std::vector<pid_t> daemons = RunningDaemons();
    ASSERT_EQ(daemons.size(), 1u);
    kill(daemons[0], SIGINT);
    EXPECT_EQ(ReapAll(10000), (std::vector<int>{0, 0})); // the first child and the daemon
    EXPECT_TRUE(kxtest::ListDir(m_Dir.Path()).empty());
}

TEST_F(DaemonTest, APidFileInAMissingDirectoryEndsTheDaemonWithStatusOne)
{
    ProcessResult started = StartService({m_Dir.File("missing/kxapi.pid")});
    EXPECT_EQ(started.m_Status, 0); // the parents have already left successfully
    // The first child leaves with 0; the daemon cannot write its PID file and ends with 1.
    EXPECT_EQ(ReapAll(5000), (std::vector<int>{0, 1}));
}

TEST_F(DaemonTest, AParentProcessOfTheSameNameDoesNotCountAsAnInstance)
{
    std::string pidFile = m_Dir.File("kxapi.pid");
    std::string status = m_Dir.File("status");
    // An inner shell whose first argument is "KxapiService" starts the service as its child.
    std::string script = std::string("\"$0\" \"$1\"; echo $? > \"$2\"");
    ProcessResult wrapper = kxtest::RunProgram(
        {"/bin/bash", "-c", "exec -a KxapiService /bin/bash -c '" + script + "' \"$0\" \"$1\" \"$2\"", KX_SERVICE_BINARY,
         pidFile, status});
    EXPECT_EQ(wrapper.m_Status, 0) << wrapper.m_Output;
    EXPECT_EQ(kxtest::ReadFile(status), "0\n");
    pid_t daemon = DaemonFromPidFile(pidFile);
    ASSERT_GT(daemon, 0);
    kill(daemon, SIGTERM);
    EXPECT_TRUE(kxtest::WaitUntil([&] { return RunningDaemons().empty(); }, 10000));
    ReapAll(1000);
}

TEST_F(DaemonTest, ADirectoryPlantedAtAListenerPathIsMovedAsideWithALogLineNamingIt)
{
    SyslogCapture syslog;
    ASSERT_EQ(mkdir("/tmp/KxGlobalRecvPipe", 0700), 0);
    ASSERT_EQ(mkdir("/tmp/KxGlobalRecvPipe/busy", 0700), 0);
    std::string pidFile = m_Dir.File("kxapi.pid");
    EXPECT_EQ(StartService({pidFile}).m_Status, 0);
    pid_t daemon = DaemonFromPidFile(pidFile);
    ASSERT_GT(daemon, 0);
    EXPECT_TRUE(kxtest::WaitUntil(
        [] { return kxtest::RunProgram({KX_KXCTL_BINARY, "version"}).m_Output == "KxapiService 3.8.7 Build 96\n"; },
        5000));
    std::string movedTo;
    for (const std::string& name : kxtest::ListDir("/tmp"))
        if (name.rfind("KxGlobalRecvPipe.blocked-", 0) == 0)
            movedTo = "/tmp/" + name;
    ASSERT_FALSE(movedTo.empty());
    struct stat moved {};
    EXPECT_EQ(stat((movedTo + "/busy").c_str(), &moved), 0); // moved whole, nothing removed
    kill(daemon, SIGTERM);
    EXPECT_EQ(ReapAll(10000), (std::vector<int>{0, 0}));
    rmdir((movedTo + "/busy").c_str());
    rmdir(movedTo.c_str());
    if (!syslog.Available())
        GTEST_SKIP() << "the system log socket belongs to a log daemon here; events not checked";
    std::vector<std::string> messages = syslog.Drain(300);
    // LOG_WARNING (4) with facility daemon is priority 28.
    EXPECT_TRUE(Logged(messages, 28,
                       "The path /tmp/KxGlobalRecvPipe was taken by something the service could not remove; it was "
                       "moved to " + movedTo + "."))
        << Joined(messages);
}

TEST_F(DaemonTest, AProgramOfTheSameNameRunByAnotherUserDoesNotKeepTheDaemonFromStarting)
{
    // Any user can start a program called KxapiService; only the service's own user counts.
    TempDir elsewhere;
    chmod(elsewhere.Path().c_str(), 0755);
    std::string impostor = elsewhere.File("KxapiService");
    ASSERT_EQ(kxtest::RunProgram({"/bin/cp", "/bin/sleep", impostor}).m_Status, 0);
    pid_t sleeper = fork();
    if (sleeper == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0)
            _exit(126);
        execl(impostor.c_str(), "KxapiService", "30", static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_GT(sleeper, 0);
    ASSERT_TRUE(kxtest::WaitUntil([&] { return RunningDaemons().size() == 1; }, 5000));
    std::string pidFile = m_Dir.File("kxapi.pid");
    EXPECT_EQ(StartService({pidFile}).m_Status, 0);
    pid_t daemon = DaemonFromPidFile(pidFile);
    EXPECT_GT(daemon, 0);
    EXPECT_TRUE(
        kxtest::WaitUntil([] { return kxtest::RunProgram({KX_KXCTL_BINARY, "version"}).m_Status == 0; }, 5000));
    kill(sleeper, SIGKILL);
    if (daemon > 0)
        kill(daemon, SIGTERM);
    EXPECT_EQ(ReapAll(10000), (std::vector<int>{-1, 0, 0})); // the impostor, the first child, the daemon
}

TEST_F(DaemonTest, TheInstanceLockRefusesASecondInstanceUnderAnyProgramName)
{
    std::string pidFile = m_Dir.File("kxapi.pid");
    ASSERT_EQ(StartService({pidFile}).m_Status, 0);
    pid_t daemon = DaemonFromPidFile(pidFile);
    ASSERT_GT(daemon, 0);
    std::string renamed = m_Dir.File("OtherName");
    ASSERT_EQ(kxtest::RunProgram({"/bin/cp", KX_SERVICE_BINARY, renamed}).m_Status, 0);
    std::string secondPid = m_Dir.File("second.pid");
    EXPECT_EQ(StartService({secondPid}, renamed).m_Status, 1);
    EXPECT_NE(access(secondPid.c_str(), F_OK), 0);
    kill(daemon, SIGTERM);
    EXPECT_EQ(ReapAll(10000), (std::vector<int>{0, 0}));
}

TEST_F(DaemonTest, ThePidFileIsCreatedNewWithMode644AndNeverThroughALink)
{
    // A root file that a link planted at the PID-file path points to stays untouched.
    std::string victim = m_Dir.File("victim");
    {
        int fd = open(victim.c_str(), O_WRONLY | O_CREAT, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, "precious", 8), 8);
        close(fd);
    }
    std::string pidFile = m_Dir.File("kxapi.pid");
    ASSERT_EQ(symlink(victim.c_str(), pidFile.c_str()), 0);
    ASSERT_EQ(StartService({pidFile}).m_Status, 0);
    pid_t daemon = DaemonFromPidFile(pidFile);
    ASSERT_GT(daemon, 0);
    EXPECT_EQ(kxtest::ReadFile(victim), "precious");
    struct stat info {};
    ASSERT_EQ(lstat(pidFile.c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, 0644u);
    kill(daemon, SIGTERM);
    EXPECT_EQ(ReapAll(10000), (std::vector<int>{0, 0}));

    // A stale, world-writable PID file of an earlier run is replaced by a fresh 0644 one.
    int fd = open(pidFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    ASSERT_GE(fd, 0);
    fchmod(fd, 0666);
    close(fd);
    ASSERT_EQ(StartService({pidFile}).m_Status, 0);
    daemon = DaemonFromPidFile(pidFile);
    ASSERT_GT(daemon, 0);
    ASSERT_EQ(stat(pidFile.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0644u);
    kill(daemon, SIGTERM);
    EXPECT_EQ(ReapAll(10000), (std::vector<int>{0, 0}));
}

TEST_F(DaemonTest, SigHupKillsTheDaemonWithItsDefaultAction)
{
    std::string pidFile = m_Dir.File("kxapi.pid");
    ASSERT_EQ(StartService({pidFile}).m_Status, 0);
    pid_t daemon = DaemonFromPidFile(pidFile);
    ASSERT_GT(daemon, 0);
    kill(daemon, SIGHUP);
    EXPECT_EQ(ReapAll(5000), (std::vector<int>{-1, 0}));
    for (const char* name : {"/tmp/DemodRecvPipe", "/tmp/KxeRecvPipe", "/tmp/KxGlobalRecvPipe"})
        unlink(name); // a killed daemon leaves its FIFOs; the next start replaces them anyway
}

} // namespace
