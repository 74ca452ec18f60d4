// Hostile local clients against a KxapiServiceSim of the default scenario: raw requests on the
// service's FIFOs, files outside the FIFO directory that must never change, and the check that a
// well-behaved client is still served within a bound after each attack.
#pragma once

#include <map>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "DemodSvcClient.h"
#include "PipeMessenger.h"
#include "TestSupport.h"

namespace hostile {

constexpr int64_t SERIAL_3460 = 3460000001;
// A well-behaved client must be served within this after an attack (a liveness bound).
constexpr unsigned int SERVED_WITHIN_MS = 3000;

// One demod connection that sends whatever the test asks; replies are read with a bound.
class RawDemodConnection : public Kxapi::IDemodSvcTransport {
public:
    bool Open();
    KXAPI_RESULT Transfer(const Kxapi::DemodMsg& request, Kxapi::DemodMsg& reply) override;
    Kxapi::DemodSvcClient& Svc() { return m_Svc; }
    PipeMessenger& Messenger() { return m_Messenger; }

private:
    PipeMessenger m_Messenger;
    Kxapi::DemodSvcClient m_Svc{this};
};

// A root file (mode 600) in a directory of its own outside the FIFO directory.
class VictimFile {
public:
    VictimFile();
    const std::string& Path() const { return m_Path; }
    const std::string& Dir() const { return m_Dir.Path(); }
    // Same content, mode and inode as made, and nothing else appeared beside it.
    bool Intact() const;

private:
    kxtest::TempDir m_Dir;
    std::string m_Path;
    unsigned long m_Inode = 0;
};

// Opens a demod connection and attaches it to the virtual 3460's port.
bool OpenAttached(RawDemodConnection& connection);

// An event FIFO whose reader never answers the service's connection request.
class SilentEventFifo {
public:
    explicit SilentEventFifo(const std::string& path);
    ~SilentEventFifo();
    bool Ready() const { return m_Fd >= 0; }
    // True once the service's connection request has arrived (it then waits for an answer).
    bool RequestArrived(unsigned int timeoutMs);

private:
    std::string m_Path;
    int m_Fd = -1;
};

// An event FIFO whose client accepts the service's connection and then keeps the service's
// FIFO full without ever reading it: every event the service writes there runs into its
// write deadline.
class StuffedEventFifo {
public:
    explicit StuffedEventFifo(const std::string& path);
    ~StuffedEventFifo();
    bool Ready() const { return m_ListenFd >= 0; }
    bool Connected() const { return m_Connected.load(); }

private:
    void Serve();

    std::string m_Path;
    int m_ListenFd = -1;
    int m_DataFd = -1;  // the service's writing FIFO, held open for reading and writing
    int m_AnswerFd = -1;
    std::atomic<bool> m_Connected{false};
    std::atomic<bool> m_Stop{false};
    std::thread m_Thread;
};

// Writes one 200-byte connection request naming `clientToServer` and `serverToClient` into the
// listener FIFO `listenerPath`.
bool SendConnectionRequest(const std::string& listenerPath, const std::string& clientToServer,
                           const std::string& serverToClient);

// The client end of a connection made by hand with FIFOs of a chosen owner.
struct RawConnection {
    int m_ToService = -1;   // the client-to-server FIFO, open for writing
    int m_FromService = -1; // the server-to-client FIFO, open for reading
    KXAPI_RESULT m_Reply = KXAPI_E_TIMEOUT;
    ~RawConnection();
};

// Connects to the listener `listenerName` in `dir` with FIFOs that belong to `owner`; the
// connection request's reply is in m_Reply (KXAPI_E_TIMEOUT when none came within 5 s).
void OpenRawConnection(const std::string& dir, const std::string& listenerName, unsigned int owner,
                       RawConnection& connection);

// Creates a FIFO at `path` owned by `uid` (mode 0600).
bool MakeFifoOwnedBy(const std::string& path, unsigned int uid);

// The unprivileged user the attacks run as.
constexpr unsigned int NOBODY_UID = 65534;

// Drops this process to the user nobody for good (groups, group and user); false on failure.
bool BecomeNobody();

// Runs `attack` in a child process as the user nobody; its exit status (-1: did not run or did
// not end within timeoutMs).
int RunAsNobody(const std::function<int()>& attack, unsigned int timeoutMs = 10000);

class HostileServiceTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The version through the global FIFO, and an attach of the virtual 3460, both within
    // SERVED_WITHIN_MS: a well-behaved client is still served.
    ::testing::AssertionResult WellBehavedClientIsServed();
    // Descriptors the service holds now.
    size_t ServiceDescriptors() const;
    // The service's descriptors now: number and what it refers to ("/dir/fifo", "pipe:[..]").
    std::map<std::string, std::string> ServiceDescriptorTargets() const;
    // SIGTERM ends the service within timeoutMs with status 0 (TearDown then stops nothing).
    ::testing::AssertionResult StopsOnSigterm(unsigned int timeoutMs);
    std::string FifoDir() const { return m_Service.Dir(); }
    std::string Fifo(const std::string& name) const { return m_Service.File(name); }

    kxtest::SimService m_Service;

private:
    std::unique_ptr<kxtest::UseServiceDir> m_pDir;
    bool m_Stopped = false;
};

} // namespace hostile
