// Private network namespaces joined by veth pairs, for tests of discovery and of the
// devices' SOAP service. Everything runs on private 10.x addresses inside namespaces made
// for one test; the destructor removes them (and kills the processes started in them)
// also when a test fails.
#pragma once

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/types.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "KxNonCopyable.h"

namespace kxtest {

class NetnsLab : private KxNonCopyable {
public:
    NetnsLab();
    // Kills the processes started here and deletes the namespaces.
    ~NetnsLab();

    // Why namespaces cannot be used here (empty when they can): not root, no `ip`.
    static std::string Unavailable();

    // Adds a namespace; returns its unique name.
    std::string AddNamespace(const std::string& role);
    // Joins two namespaces with a veth pair in subnet 10.<subnet>.0.0/24: .1 in `a`, .2 in `b`.
    bool Link(const std::string& a, const std::string& b, int subnet);

    // Starts the program `argv` (full path) inside `ns` (the test's own namespace when
    // empty) in a process group of its own,
    // standard output and error appended to `output` when given; returns its pid (0 on failure).
    pid_t Spawn(const std::string& ns, const std::vector<std::string>& argv, const std::string& output = "");
    // Sends `signal` to its process group and waits (SIGKILL after `timeoutMs`).
    // How it ended (nothing for an unknown pid).
    ProcessResult Kill(pid_t pid, int signal = SIGTERM, unsigned int timeoutMs = 3000);

    // Moves the calling thread into `ns` (for in-process probes); false on failure.
    static bool EnterOnThisThread(const std::string& ns);

private:
    static std::string CheckAvailable();

    std::string m_Prefix;
    int m_Next = 0;
    std::vector<std::string> m_Namespaces;
    std::vector<pid_t> m_Children;
};

// Path of the simulated network device program (built beside KxapiServiceSim).
std::string NetDevBinary();
// A fixture with two namespaces, "svc" (the service's side) and "dev" (the devices'), joined in
// subnet 10.<SUBNET>.0.0/24; skipped where namespaces cannot be used.
template <int SUBNET> class NetnsPairTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string why = NetnsLab::Unavailable();
        if (!why.empty())
            GTEST_SKIP() << "namespace tests skipped: " << why;
        m_Svc = m_Lab.AddNamespace("svc");
        m_Dev = m_Lab.AddNamespace("dev");
        ASSERT_FALSE(m_Svc.empty());
        ASSERT_FALSE(m_Dev.empty());
        ASSERT_TRUE(m_Lab.Link(m_Svc, m_Dev, SUBNET));
    }

    NetnsLab m_Lab;
    std::string m_Svc;
    std::string m_Dev;
};

// Reads a whole file ("" when missing).
std::string ReadFileText(const std::string& path);
// Counts the lines of `text` that contain `needle`.
int CountLines(const std::string& text, const std::string& needle);

} // namespace kxtest
