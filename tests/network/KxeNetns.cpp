#include "KxeNetns.h"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "TestSupport.h"

namespace kxtest {

namespace {
std::atomic<int> g_LabCounter{0};

// The `ip` program (tests start programs by path).
std::string IpPath()
{
    for (const char* path : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"}) {
        if (access(path, X_OK) == 0)
            return path;
    }
    return "ip";
}

constexpr const char* NAME_PREFIX = "kxt6-";
constexpr const char* NETNS_DIR = "/var/run/netns";

ProcessResult RunIpFull(const std::vector<std::string>& args)
{
    std::vector<std::string> argv = {IpPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, 10000);
}

bool RunIp(const std::vector<std::string>& args)
{
    ProcessResult result = RunIpFull(args);
    return result.m_Exited && result.m_Status == 0;
}

// Namespaces left by a test program that died before its clean-up ("kxt6-<pid>-..." whose
// process is gone) are removed by the next program that makes any.
void RemoveOrphanNamespaces()
{
    static std::atomic<bool> done{false};
    if (done.exchange(true))
        return;
    std::vector<std::string> orphans;
    if (DIR* dir = opendir(NETNS_DIR)) {
        while (dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name.rfind(NAME_PREFIX, 0) != 0)
                continue;
            const long pid = strtol(name.c_str() + strlen(NAME_PREFIX), nullptr, 10);
            if (pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
                orphans.push_back(name);
        }
        closedir(dir);
    }
    for (const std::string& name : orphans)
        RunIp({"netns", "del", name});
}
} // namespace

std::string NetnsLab::Unavailable()
{
    static const std::string reason = CheckAvailable();
    return reason;
}

std::string NetnsLab::CheckAvailable()
{
    if (geteuid() != 0)
        return "network namespaces need root";
    // Listing is not enough (a container may list but not create): make one and remove it.
    const std::string probe = NAME_PREFIX + std::to_string(getpid()) + "-probe";
    ProcessResult added = RunIpFull({"netns", "add", probe});
    if (!added.m_Exited || added.m_Status != 0)
        return "cannot create a network namespace with `ip netns add`: " + added.m_Output;
    RunIp({"netns", "del", probe});
    return "";
}

NetnsLab::NetnsLab()
{
    RemoveOrphanNamespaces();
    m_Prefix = NAME_PREFIX + std::to_string(getpid()) + "-" + std::to_string(g_LabCounter++);
}

NetnsLab::~NetnsLab()
{
    const std::vector<pid_t> children = m_Children; // Kill() edits the list
    for (pid_t pid : children)
        Kill(pid);
    for (const std::string& ns : m_Namespaces)
        RunIp({"netns", "del", ns}); // also removes its veth ends
}

std::string NetnsLab::AddNamespace(const std::string& role)
{
    std::string name = m_Prefix + "-" + role;
    if (!RunIp({"netns", "add", name}))
        return "";
    m_Namespaces.push_back(name);
    RunIp({"-n", name, "link", "set", "lo", "up"});
    return name;
}

bool NetnsLab::Link(const std::string& a, const std::string& b, int subnet)
{
    // Interface names are at most 15 characters and live inside the namespaces.
    const std::string endA = "kxa" + std::to_string(m_Next);
    const std::string endB = "kxb" + std::to_string(m_Next);
    ++m_Next;
    const std::string net = "10." + std::to_string(subnet) + ".0.";
    // Created inside `a` (its peer moved to `b`): the test's own namespace never sees either end.
    return RunIp({"-n", a, "link", "add", endA, "type", "veth", "peer", "name", endB, "netns", b}) &&
           RunIp({"-n", a, "addr", "add", net + "1/24", "dev", endA}) &&
           RunIp({"-n", b, "addr", "add", net + "2/24", "dev", endB}) &&
           RunIp({"-n", a, "link", "set", endA, "up"}) && RunIp({"-n", b, "link", "set", endB, "up"});
}

pid_t NetnsLab::Spawn(const std::string& ns, const std::vector<std::string>& argv, const std::string& output)
{
    // The child enters the namespace itself and then becomes the program, so the pid is
    // the program's own and it leads a process group of its own.
    const std::string nsPath = "/var/run/netns/" + ns;
    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL); // never outlives a test program that dies
        if (!ns.empty()) {
            int nsFd = open(nsPath.c_str(), O_RDONLY | O_CLOEXEC);
            if (nsFd < 0 || setns(nsFd, CLONE_NEWNET) != 0)
                _exit(126);
            close(nsFd);
        }
        int devNull = open("/dev/null", O_RDWR);
        if (devNull >= 0)
            dup2(devNull, STDIN_FILENO);
        ExecWithOutput(argv, output, true);
    }
    if (pid > 0) {
        setpgid(pid, pid); // also from here, so that it holds before the child runs
        m_Children.push_back(pid);
    }
    return pid > 0 ? pid : 0;
}

ProcessResult NetnsLab::Kill(pid_t pid, int signal, unsigned int timeoutMs)
{
    ProcessResult result;
    bool known = false;
    for (auto it = m_Children.begin(); it != m_Children.end(); ++it) {
        if (*it == pid) {
            m_Children.erase(it);
            known = true;
            break;
        }
    }
    if (!known || pid <= 0)
        return result;
    kill(-pid, signal); // the whole process group
    result = WaitChild(pid, timeoutMs); // kills it when it does not end in time
    kill(-pid, SIGKILL);                // anything it left behind
    return result;
}

bool NetnsLab::EnterOnThisThread(const std::string& ns)
{
    const std::string path = "/var/run/netns/" + ns;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = setns(fd, CLONE_NEWNET) == 0;
    close(fd);
    return ok;
}

std::string NetDevBinary()
{
    std::string sim = KX_SIM_BINARY;
    return sim.substr(0, sim.rfind('/')) + "/netdev/KxNetDevSim";
}

std::string ReadFileText(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

int CountLines(const std::string& text, const std::string& needle)
{
    int count = 0;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line))
        count += line.find(needle) != std::string::npos ? 1 : 0;
    return count;
}

} // namespace kxtest
