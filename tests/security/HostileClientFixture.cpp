#include "HostileClientFixture.h"

#include <climits>
#include <csignal>
#include <functional>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include "KxGlobalSvcClient.h"
#include "XpPipeConnectionLinux.h"
#include "XpUtil.h"

namespace hostile {

namespace {

constexpr unsigned int REPLY_TIMEOUT_MS = 3000;
constexpr unsigned int DEVICE_READY_MS = 20000;
constexpr char VICTIM_TEXT[] = "root's file: must never change";

// Attaches to the virtual 3460 on a fresh connection; KXAPI_OK once the device is up.
KXAPI_RESULT AttachOnce()
{
    RawDemodConnection connection;
    if (!connection.Open())
        return KXAPI_E_CONNECT_TO_SERVICE;
    KXAPI_RESULT result = connection.Svc().Attach(SERIAL_3460, 0, 0);
    if (result == KXAPI_OK)
        connection.Svc().Detach();
    return result;
}

} // namespace

bool OpenAttached(RawDemodConnection& connection)
{
    return connection.Open() && connection.Svc().Attach(SERIAL_3460, 0, 0) == KXAPI_OK;
}

SilentEventFifo::SilentEventFifo(const std::string& path) : m_Path(path)
{
    if (mkfifo(path.c_str(), 0600) == 0)
        m_Fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
}

SilentEventFifo::~SilentEventFifo()
{
    if (m_Fd >= 0)
        close(m_Fd);
    unlink(m_Path.c_str());
}

bool SilentEventFifo::RequestArrived(unsigned int timeoutMs)
{
    char request[XP_PIPE_REQUEST_SIZE];
    return kxtest::WaitUntil([&] { return read(m_Fd, request, sizeof(request)) > 0; }, timeoutMs);
}

StuffedEventFifo::StuffedEventFifo(const std::string& path) : m_Path(path)
{
    if (mkfifo(path.c_str(), 0600) != 0)
        return;
    m_ListenFd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    if (m_ListenFd >= 0)
        m_Thread = std::thread([this] { Serve(); });
}

StuffedEventFifo::~StuffedEventFifo()
{
    m_Stop = true;
    if (m_Thread.joinable())
        m_Thread.join();
    for (int fd : {m_ListenFd, m_DataFd, m_AnswerFd})
        if (fd >= 0)
            close(fd);
    unlink(m_Path.c_str());
}

void StuffedEventFifo::Serve()
{
    char request[XP_PIPE_REQUEST_SIZE] = {};
    while (!m_Stop.load() && read(m_ListenFd, request, sizeof(request)) != static_cast<ssize_t>(sizeof(request)))
        usleep(10000);
    if (m_Stop.load())
        return;
    // The first path is the one the service writes, the second the one it reads the answer from.
    std::string toClient(request, strnlen(request, XP_PIPE_PATH_SIZE));
    std::string toService(request + XP_PIPE_PATH_SIZE, strnlen(request + XP_PIPE_PATH_SIZE, XP_PIPE_PATH_SIZE));
    m_DataFd = open(toClient.c_str(), O_RDWR | O_NONBLOCK);
    char junk[4096];
    memset(junk, 0x5A, sizeof(junk));
    while (m_DataFd >= 0 && write(m_DataFd, junk, sizeof(junk)) > 0) {
    }
    m_AnswerFd = open(toService.c_str(), O_WRONLY | O_NONBLOCK);
    KXAPI_RESULT ok = KXAPI_OK;
    if (m_DataFd >= 0 && m_AnswerFd >= 0 && write(m_AnswerFd, &ok, sizeof(ok)) == static_cast<ssize_t>(sizeof(ok)))
        m_Connected = true;
}

bool RawDemodConnection::Open()
{
    return m_Messenger.Init() && m_Messenger.Connect("DemodRecvPipe");
}

KXAPI_RESULT RawDemodConnection::Transfer(const Kxapi::DemodMsg& request, Kxapi::DemodMsg& reply)
{
    if (!m_Messenger.WriteMsg(reinterpret_cast<char*>(const_cast<uint8_t*>(request.data())),
                              static_cast<int>(request.size())))
        return KXAPI_E_COMMUNICATION;
    char* buffer = nullptr;
    int size = 0;
    if (!m_Messenger.ReadMsg(buffer, size, REPLY_TIMEOUT_MS))
        return KXAPI_E_TIMEOUT;
    reply.assign(reinterpret_cast<uint8_t*>(buffer), reinterpret_cast<uint8_t*>(buffer) + size);
    free(buffer);
    return KXAPI_OK;
}

VictimFile::VictimFile() : m_Path(m_Dir.File("target"))
{
    int fd = open(m_Path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd >= 0) {
        if (write(fd, VICTIM_TEXT, sizeof(VICTIM_TEXT) - 1) != static_cast<ssize_t>(sizeof(VICTIM_TEXT) - 1))
            m_Path.clear();
        close(fd);
    }
    struct stat info {};
    if (stat(m_Path.c_str(), &info) == 0)
        m_Inode = info.st_ino;
}

bool VictimFile::Intact() const
{
    struct stat info {};
    return lstat(m_Path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && (info.st_mode & 07777) == 0600 &&
           info.st_ino == m_Inode && kxtest::ReadFile(m_Path) == VICTIM_TEXT &&
           kxtest::ListDir(m_Dir.Path()) == std::vector<std::string>{"target"};
}

bool SendConnectionRequest(const std::string& listenerPath, const std::string& clientToServer,
                           const std::string& serverToClient)
{
    char request[XP_PIPE_REQUEST_SIZE] = {};
    strncpy(request, clientToServer.c_str(), XP_PIPE_PATH_SIZE - 1);
    strncpy(request + XP_PIPE_PATH_SIZE, serverToClient.c_str(), XP_PIPE_PATH_SIZE - 1);
    int fd = open(listenerPath.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd < 0)
        return false;
    bool written = write(fd, request, sizeof(request)) == static_cast<ssize_t>(sizeof(request));
    close(fd);
    return written;
}

RawConnection::~RawConnection()
{
    if (m_ToService >= 0)
        close(m_ToService);
    if (m_FromService >= 0)
        close(m_FromService);
}

void OpenRawConnection(const std::string& dir, const std::string& listenerName, unsigned int owner,
                       RawConnection& connection)
{
    static unsigned int counter = 0;
    std::string tag = std::to_string(getpid()) + "_" + std::to_string(counter++);
    std::string in = dir + "/raw_in_" + tag;
    std::string out = dir + "/raw_out_" + tag;
    if (!MakeFifoOwnedBy(in, owner) || !MakeFifoOwnedBy(out, owner))
        return;
    connection.m_FromService = open(out.c_str(), O_RDONLY | O_NONBLOCK);
    if (connection.m_FromService >= 0 && SendConnectionRequest(dir + "/" + listenerName, in, out)) {
        KXAPI_RESULT reply = KXAPI_E_TIMEOUT;
        if (kxtest::WaitUntil(
                [&] { return read(connection.m_FromService, &reply, sizeof(reply)) == sizeof(reply); }, 5000))
            connection.m_Reply = reply;
        if (connection.m_Reply == KXAPI_OK)
            connection.m_ToService = open(in.c_str(), O_WRONLY | O_NONBLOCK);
    }
    unlink(in.c_str());
    unlink(out.c_str());
}

bool MakeFifoOwnedBy(const std::string& path, unsigned int uid)
{
    return mkfifo(path.c_str(), 0600) == 0 && chown(path.c_str(), uid, uid) == 0;
}

bool BecomeNobody()
{
    return setgroups(0, nullptr) == 0 && setresgid(NOBODY_UID, NOBODY_UID, NOBODY_UID) == 0 &&
           setresuid(NOBODY_UID, NOBODY_UID, NOBODY_UID) == 0;
}

int RunAsNobody(const std::function<int()>& attack, unsigned int timeoutMs)
{
    pid_t pid = fork();
    if (pid == 0)
        _exit(BecomeNobody() ? attack() : 100);
    if (pid < 0)
        return -1;
    kxtest::ProcessResult result = kxtest::WaitChild(pid, timeoutMs);
    return result.m_Exited ? result.m_Status : -1;
}

void HostileServiceTest::SetUp()
{
    ASSERT_TRUE(m_Service.Start()) << m_Service.Log();
    // Others may reach the private FIFO directory, as they reach /tmp.
    chmod(m_Service.Dir().c_str(), 01777);
    m_pDir = std::make_unique<kxtest::UseServiceDir>(m_Service);
    ASSERT_TRUE(kxtest::WaitUntil([] { return AttachOnce() == KXAPI_OK; }, DEVICE_READY_MS)) << m_Service.Log();
}

void HostileServiceTest::TearDown()
{
    m_pDir.reset();
    if (m_Stopped)
        return;
    kxtest::ProcessResult result = m_Service.Stop();
    EXPECT_TRUE(result.m_Exited) << m_Service.Log();
    EXPECT_EQ(result.m_Status, 0) << m_Service.Log();
}

::testing::AssertionResult HostileServiceTest::WellBehavedClientIsServed()
{
    unsigned int start = XpUtil::GetTickCount();
    // A client whose connection request was not answered within the handshake's 500 ms (a
    // loaded machine, a flood ahead of it in the listener FIFO) connects again, as a real one
    // does; the bound is on the whole.
    const auto withinBound = [&](const std::function<KXAPI_RESULT()>& request) {
        KXAPI_RESULT result;
        do {
            result = request();
        } while ((result == KXAPI_E_CONNECT_TO_SERVICE || result == KXAPI_E_TIMEOUT) &&
                 XpUtil::GetTickCount() - start < SERVED_WITHIN_MS);
        return result;
    };
    KXAPI_RESULT result = withinBound([] {
        KxGlobalSvcClient global;
        global.SetReplyTimeout(SERVED_WITHIN_MS);
        KxServiceVersion version;
        return global.GetServiceVersion(version);
    });
    if (result != KXAPI_OK)
        return ::testing::AssertionFailure() << "version: " << KxapiResult2Str(result);
    result = withinBound(AttachOnce);
    if (result != KXAPI_OK)
        return ::testing::AssertionFailure() << "attach: " << KxapiResult2Str(result);
    unsigned int took = XpUtil::GetTickCount() - start;
    if (took > SERVED_WITHIN_MS)
        return ::testing::AssertionFailure() << "served only after " << took << " ms";
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult HostileServiceTest::StopsOnSigterm(unsigned int timeoutMs)
{
    m_Stopped = true;
    kxtest::ProcessResult result = m_Service.Stop(SIGTERM, timeoutMs);
    if (!result.m_Exited || result.m_Status != 0)
        return ::testing::AssertionFailure() << "SIGTERM: exited " << result.m_Exited << ", status "
                                             << result.m_Status << ", timed out " << result.m_TimedOut << "\n"
                                             << result.m_Output;
    return ::testing::AssertionSuccess();
}

size_t HostileServiceTest::ServiceDescriptors() const
{
    return kxtest::ListDir("/proc/" + std::to_string(m_Service.Pid()) + "/fd").size();
}

std::map<std::string, std::string> HostileServiceTest::ServiceDescriptorTargets() const
{
    const std::string dir = "/proc/" + std::to_string(m_Service.Pid()) + "/fd/";
    std::map<std::string, std::string> targets;
    for (const std::string& fd : kxtest::ListDir(dir)) {
        char target[PATH_MAX];
        const ssize_t length = readlink((dir + fd).c_str(), target, sizeof(target));
        if (length > 0)
            targets[fd] = std::string(target, static_cast<size_t>(length));
    }
    return targets;
}

} // namespace hostile
