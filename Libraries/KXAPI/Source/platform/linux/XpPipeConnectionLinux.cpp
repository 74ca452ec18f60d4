#include "XpPipeConnectionLinux.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <set>
#include <utility>

#include "CrossPlatform.h"
#include "XpUtil.h"

const char* XpPipeBaseLinux::m_pFifoPrefix = "/tmp/";

namespace {

constexpr mode_t FIFO_MODE = 0777;
constexpr int CONNECT_OPEN_ATTEMPTS = 10;
constexpr int CONNECT_OPEN_SPACING_MS = 10;
constexpr unsigned int HANDSHAKE_TIMEOUT_MS = 500;
// The accept thread never waits for a client: the reply goes into a FIFO its client has just
// opened for reading, or the request is dropped.
constexpr unsigned int ACCEPT_REPLY_TIMEOUT_MS = 0;
// Before a transfer sleeps in poll it retries for this long, yielding the processor in
// between. A request/reply exchange usually completes within it; waking a thread that
// sleeps in poll costs tens of microseconds on virtual machines, a yield loop a few.
constexpr long SPIN_BEFORE_WAIT_NS = 100000;

// Whether this process may run on more than one processor (read once: the service is pinned,
// if at all, before it starts).
bool SeveralProcessors()
{
    static const bool several = [] {
        cpu_set_t set;
        CPU_ZERO(&set);
        return sched_getaffinity(0, sizeof(set), &set) != 0 || CPU_COUNT(&set) > 1;
    }();
    return several;
}

long ElapsedNs(const timespec& since)
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (now.tv_sec - since.tv_sec) * 1000000000L + (now.tv_nsec - since.tv_nsec);
}

} // namespace

namespace {

// The shared loop of ReadFromFifo, ReadSomeFromFifo and WriteToFifo. Moves bytes until at least `minimum` of at most `length` have gone; each read or write asks
// for all that is left of `length`.
KXAPI_RESULT Transfer(int fd, char* buffer, unsigned int minimum, unsigned int length, unsigned int timeoutMs,
                      XpStopSignal* stop, unsigned int* moved, bool forWrite, std::atomic<bool>* spin)
{
    if (moved != nullptr)
        *moved = 0;
    if (fd < 0 || (buffer == nullptr && length > 0) || minimum > length)
        return KXAPI_E_INVALID_ARG;
    auto stopped = [stop] { return stop != nullptr && stop->Raised(); };

    unsigned int budget = XpPipeBaseLinux::SliceBudget(timeoutMs);
    bool unlimited = timeoutMs == XP_INFINITE;
    unsigned int done = 0;

    auto once = [&]() -> ssize_t {
        return forWrite ? write(fd, buffer + done, length - done) : read(fd, buffer + done, length - done);
    };

    if (minimum > 0) {
        ssize_t n = once();
        if (n > 0)
            done += static_cast<unsigned int>(n);
    }
    // The budget counts idle slices; a peer that keeps the descriptor ready a byte at a time
    // is bounded as well: a limited transfer never lasts longer than its slices plus one. The
    // clock is read only when the first try left something to do.
    timespec started{};
    const bool clockStarted = done < minimum;
    if (clockStarted)
        clock_gettime(CLOCK_MONOTONIC, &started);
    const long totalNs = unlimited ? 0 : static_cast<long>(budget + 1) * XP_PIPE_SLICE_MS * 1000000L;
    const bool spinNow = SeveralProcessors() && (spin == nullptr || spin->load(std::memory_order_relaxed));
    if (done < minimum && (unlimited || budget > 0) && spinNow) {
        // A short spin: the peer is often about to answer.
        while (done < minimum && !stopped() && ElapsedNs(started) < SPIN_BEFORE_WAIT_NS) {
            sched_yield();
            ssize_t n = once();
            if (n > 0)
                done += static_cast<unsigned int>(n);
            else if (n == 0 && !forWrite)
                break; // end of file, or no writer yet: let the wait below decide
            else if (n < 0 && errno != EAGAIN && errno != EINTR)
                break; // the wait below reports the error
        }
    }
    // A limited transfer waits idle for at most its slices in all (one wait may take several
    // of them); readiness takes nothing from them. An unlimited one sleeps until the peer or
    // the stop signal acts.
    constexpr long long SLICE_NS = static_cast<long long>(XP_PIPE_SLICE_MS) * 1000000LL;
    long long idleLeftNs = unlimited ? -1 : static_cast<long long>(budget) * SLICE_NS;
    KXAPI_RESULT result = KXAPI_OK;
    while (done < minimum && (unlimited || idleLeftNs > 0)) {
        if (stopped())
            break;
        long long waitNs = -1;
        if (!unlimited) {
            const long long totalLeftNs = totalNs - ElapsedNs(started);
            if (totalLeftNs <= 0)
                break;
            waitNs = idleLeftNs < totalLeftNs ? idleLeftNs : totalLeftNs;
        }
        timespec waitStarted{};
        if (!unlimited)
            clock_gettime(CLOCK_MONOTONIC, &waitStarted);
        int ready = XpWaitReady(fd, forWrite, stop, waitNs);
        if (ready < 0) {
            result = KXAPI_E_INTERNAL;
            break;
        }
        if (ready == 0) {
            if (!unlimited)
                idleLeftNs -= ElapsedNs(waitStarted);
            continue;
        }
        ssize_t n = once();
        if (n > 0) {
            done += static_cast<unsigned int>(n);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (forWrite)
            result = errno == EPIPE ? KXAPI_E_COMMUNICATION : KXAPI_E_INTERNAL;
        else
            result = n == 0 ? KXAPI_E_COMMUNICATION : KXAPI_E_INTERNAL;
        break;
    }
    if (moved != nullptr)
        *moved = done;
    // A transfer that had to wait tells the next one whether spinning pays: it does when the
    // peer was ready within the spin time. (One whose data was there at once, such as the body
    // that follows a message's header, says nothing about the peer.)
    if (spin != nullptr && clockStarted)
        spin->store(done >= minimum && ElapsedNs(started) <= SPIN_BEFORE_WAIT_NS, std::memory_order_relaxed);
    if (result != KXAPI_OK)
        return result;
    if (done >= minimum || stopped())
        return KXAPI_OK;
    return KXAPI_E_TIMEOUT;
}

} // namespace

// ---------------------------------------------------------------------------------------
// Shared helpers

unsigned int XpPipeBaseLinux::SliceBudget(unsigned int timeoutMs)
{
    if (timeoutMs == XP_INFINITE)
        return XP_INFINITE;
    unsigned int slices = timeoutMs / XP_PIPE_SLICE_MS;
    if (timeoutMs >= 1 && timeoutMs < XP_PIPE_SLICE_MS)
        slices++;
    return slices;
}

KXAPI_RESULT XpPipeBaseLinux::ReadFromFifo(int fd, char* buffer, unsigned int length, unsigned int timeoutMs,
                                           XpStopSignal* stop, unsigned int* moved, std::atomic<bool>* spin)
{
    return Transfer(fd, buffer, length, length, timeoutMs, stop, moved, false, spin);
}

KXAPI_RESULT XpPipeBaseLinux::ReadSomeFromFifo(int fd, char* buffer, unsigned int minimum, unsigned int length,
                                               unsigned int timeoutMs, XpStopSignal* stop,
                                               unsigned int* moved, std::atomic<bool>* spin)
{
    return Transfer(fd, buffer, minimum, length, timeoutMs, stop, moved, false, spin);
}

KXAPI_RESULT XpPipeBaseLinux::WriteToFifo(int fd, const char* buffer, unsigned int length, unsigned int timeoutMs,
                                          XpStopSignal* stop, unsigned int* moved, std::atomic<bool>* spin)
{
    return Transfer(fd, const_cast<char*>(buffer), length, length, timeoutMs, stop, moved, true, spin);
}

bool XpPipeBaseLinux::IsSafeName(const char* name)
{
    if (name == nullptr || name[0] == '\0')
        return false;
    if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0)
        return false;
    for (const char* c = name; *c != '\0'; c++) {
        bool ok = (*c >= 'A' && *c <= 'Z') || (*c >= 'a' && *c <= 'z') || (*c >= '0' && *c <= '9') || *c == '_' ||
                  *c == '.' || *c == '-';
        if (!ok)
            return false;
    }
    return true;
}

namespace {

// (device, inode) of every listener FIFO this process serves.
std::mutex ListenerFifosLock;
std::set<std::pair<dev_t, ino_t>> ListenerFifos;

bool IsListenerFifo(const struct stat& info)
{
    std::lock_guard<std::mutex> lock(ListenerFifosLock);
    return ListenerFifos.count({info.st_dev, info.st_ino}) != 0;
}

} // namespace

namespace {

// Accepted connections per owner of the client's FIFOs.
std::mutex AcceptedLock;
std::map<unsigned int, unsigned int> AcceptedPerOwner;
unsigned int AcceptedTotal = 0;

// Counts a connection for `owner` unless a limit is reached.
bool CountAccepted(unsigned int owner)
{
    std::lock_guard<std::mutex> lock(AcceptedLock);
    unsigned int& mine = AcceptedPerOwner[owner];
    if (AcceptedTotal >= XP_PIPE_MAX_CONNECTIONS || mine >= XP_PIPE_MAX_CONNECTIONS_PER_OWNER) {
        if (mine == 0)
            AcceptedPerOwner.erase(owner);
        return false;
    }
    mine++;
    AcceptedTotal++;
    return true;
}

void UncountAccepted(unsigned int owner)
{
    std::lock_guard<std::mutex> lock(AcceptedLock);
    auto it = AcceptedPerOwner.find(owner);
    if (it == AcceptedPerOwner.end())
        return;
    if (--it->second == 0)
        AcceptedPerOwner.erase(it);
    AcceptedTotal--;
}

} // namespace

unsigned int XpPipeConnectionLinux::AcceptedConnections()
{
    std::lock_guard<std::mutex> lock(AcceptedLock);
    return AcceptedTotal;
}

unsigned int XpPipeConnectionLinux::AcceptedConnections(unsigned int owner)
{
    std::lock_guard<std::mutex> lock(AcceptedLock);
    auto it = AcceptedPerOwner.find(owner);
    return it == AcceptedPerOwner.end() ? 0 : it->second;
}

void XpPipeBaseLinux::TrackListenerFifo(int fd, bool listening)
{
    struct stat info {};
    if (fstat(fd, &info) != 0)
        return;
    std::lock_guard<std::mutex> lock(ListenerFifosLock);
    if (listening)
        ListenerFifos.insert({info.st_dev, info.st_ino});
    else
        ListenerFifos.erase({info.st_dev, info.st_ino});
}

int XpPipeBaseLinux::OpenClientFifo(const char* name, int flags, unsigned int requiredOwner, unsigned int* owner)
{
    if (!IsSafeName(name)) {
        errno = EINVAL;
        return -1;
    }
    char path[XP_PIPE_PATH_SIZE];
    if (KxapiFailed(XpUtil::Sprintf(path, sizeof(path), "%s%s", m_pFifoPrefix, name))) {
        errno = ENAMETOOLONG;
        return -1;
    }
    // O_NOFOLLOW refuses a symbolic link; the checks on the opened file refuse anything else
    // planted under the name (a hard link to a regular file, another user's FIFO). A FIFO
    // opened without blocking has no side effect of its own.
    int fd = open(path, flags | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat info {};
    int refusal = 0;
    if (fstat(fd, &info) != 0)
        refusal = errno;
    else if (!S_ISFIFO(info.st_mode))
        refusal = EINVAL;
    else if (requiredOwner != XP_ANY_OWNER && info.st_uid != requiredOwner)
        refusal = EPERM;
    if (refusal != 0) {
        close(fd);
        errno = refusal;
        return -1;
    }
    if (owner != nullptr)
        *owner = info.st_uid;
    return fd;
}

int XpPipeBaseLinux::OpenClientFifoPath(const char* path, unsigned int size, int flags, unsigned int requiredOwner,
                                        unsigned int* owner)
{
    size_t prefixLength = strlen(m_pFifoPrefix);
    if (path == nullptr || memchr(path, '\0', size) == nullptr || strncmp(path, m_pFifoPrefix, prefixLength) != 0) {
        errno = EINVAL;
        return -1;
    }
    int fd = OpenClientFifo(path + prefixLength, flags, requiredOwner, owner);
    // A client's own FIFOs are never a listener: naming one would have a handler steal the
    // connection requests of everybody else.
    struct stat info {};
    if (fd >= 0 && (fstat(fd, &info) != 0 || IsListenerFifo(info))) {
        close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

// ---------------------------------------------------------------------------------------
// Connection

XpPipeConnectionLinux::XpPipeConnectionLinux(int readFd, int writeFd, unsigned int peerOwner)
    : m_WriteFd(writeFd), m_ReadFd(readFd), m_PeerOwner(peerOwner)
{
}

XpPipeConnectionLinux::~XpPipeConnectionLinux()
{
    Close();
}

KXAPI_RESULT XpPipeConnectionLinux::Init()
{
    m_StopIo.Clear();
    return KXAPI_OK;
}

KXAPI_RESULT XpPipeConnectionLinux::CreateFifoFile(const char* name, char* path, int size)
{
    if (path == nullptr || size <= 0)
        return KXAPI_E_INVALID_ARG;
    for (int attempt = 0; attempt < 10; attempt++) {
        KXAPI_RESULT result =
            XpUtil::Sprintf(path, size, "%s%s_%d_%ld", m_pFifoPrefix, name, XpUtil::GetCurrentProcessId(), random());
        if (KxapiFailed(result) || path[0] == '\0')
            continue;
        if (mkfifo(path, FIFO_MODE) == 0)
            return KXAPI_OK;
        if (errno != EEXIST) {
            path[0] = '\0';
            return KXAPI_E_INTERNAL;
        }
    }
    path[0] = '\0';
    return KXAPI_E_INTERNAL;
}

KXAPI_RESULT XpPipeConnectionLinux::Connect(const char* name)
{
    return ConnectChecked(name, XP_ANY_OWNER, CONNECT_OPEN_ATTEMPTS);
}

KXAPI_RESULT XpPipeConnectionLinux::ConnectToClient(const char* name, unsigned int ownerUid)
{
    // A client's listener is open before it hands over its name: one attempt is enough, and
    // nothing a client does makes the service wait for it longer than one handshake.
    return ConnectChecked(name, ownerUid, 1);
}

KXAPI_RESULT XpPipeConnectionLinux::ConnectChecked(const char* name, unsigned int ownerUid, int openAttempts)
{
    if (IsOpen())
        return KXAPI_E_IN_USE;
    if (name == nullptr)
        return KXAPI_E_INVALID_ARG;
    if (strlen(m_pFifoPrefix) + strlen(name) > 259)
        return KXAPI_E_BUF_TOO_SMALL;
    // A name that cannot be a FIFO of the directory fails as an unconnectable name does,
    // before anything is created next to it.
    if (!IsSafeName(name))
        return KXAPI_E_COMMUNICATION;

    m_StopIo.Open();
    KXAPI_RESULT result = CreateFifoFile(name, m_SendPath, sizeof(m_SendPath));
    if (result == KXAPI_OK)
        result = CreateFifoFile(name, m_RecvPath, sizeof(m_RecvPath));
    if (result != KXAPI_OK) {
        Close();
        return result;
    }

    m_ReadFd = open(m_RecvPath, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (m_ReadFd < 0) {
        Close();
        return KXAPI_E_INTERNAL;
    }

    int listenerFd = -1;
    for (int attempt = 0; attempt < openAttempts; attempt++) {
        listenerFd = OpenClientFifo(name, O_WRONLY, ownerUid);
        if (listenerFd >= 0 || errno != ENXIO || attempt + 1 == openAttempts)
            break;
        XpUtil::Sleep(CONNECT_OPEN_SPACING_MS);
    }
    if (listenerFd < 0) {
        Close();
        return KXAPI_E_COMMUNICATION;
    }

    char request[XP_PIPE_REQUEST_SIZE] = {};
    memcpy(request, m_SendPath, sizeof(m_SendPath));
    memcpy(request + XP_PIPE_PATH_SIZE, m_RecvPath, sizeof(m_RecvPath));
    // One write of 200 bytes: below the atomic FIFO write size, so requests never interleave.
    result = WriteToFifo(listenerFd, request, sizeof(request), HANDSHAKE_TIMEOUT_MS, nullptr);
    close(listenerFd);
    if (result != KXAPI_OK) {
        Close();
        return KXAPI_E_COMMUNICATION;
    }

    KXAPI_RESULT reply = KXAPI_E_INTERNAL;
    result = ReadFromFifo(m_ReadFd, reinterpret_cast<char*>(&reply), sizeof(reply), HANDSHAKE_TIMEOUT_MS, nullptr);
    if (result != KXAPI_OK) {
        Close();
        return result;
    }
    if (KxapiFailed(reply)) {
        Close();
        return reply;
    }

    m_WriteFd = open(m_SendPath, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (m_WriteFd < 0) {
        Close();
        return KXAPI_E_COMMUNICATION;
    }
    // The open descriptors stay valid; no FIFO of an established connection stays in the directory.
    unlink(m_SendPath);
    unlink(m_RecvPath);
    m_SendPath[0] = '\0';
    m_RecvPath[0] = '\0';
    return KXAPI_OK;
}

KXAPI_RESULT XpPipeConnectionLinux::ClearRx()
{
    if (!IsOpen())
        return KXAPI_E_NOT_INITIALIZED;
    char chunk[100];
    while (read(m_ReadFd, chunk, sizeof(chunk)) == static_cast<ssize_t>(sizeof(chunk))) {
    }
    return KXAPI_OK;
}

KXAPI_RESULT XpPipeConnectionLinux::Write(const char* buffer, unsigned int length, unsigned int timeoutMs)
{
    if (!IsOpen())
        return KXAPI_E_NOT_INITIALIZED;
    return WriteToFifo(m_WriteFd, buffer, length, timeoutMs, &m_StopIo, nullptr, &m_WriteSpin);
}

KXAPI_RESULT XpPipeConnectionLinux::Read(char* buffer, unsigned int length, unsigned int timeoutMs)
{
    unsigned int got = 0;
    return ReadSome(buffer, length, length, timeoutMs, got);
}

KXAPI_RESULT XpPipeConnectionLinux::ReadSome(char* buffer, unsigned int minimum, unsigned int length,
                                             unsigned int timeoutMs, unsigned int& got)
{
    got = 0;
    if (!IsOpen())
        return KXAPI_E_NOT_INITIALIZED;
    if (!m_AwaitingFirstByte)
        return ReadSomeFromFifo(m_ReadFd, buffer, minimum, length, timeoutMs, &m_StopIo, &got, &m_ReadSpin);
    // A connection that never says anything does not keep its thread and descriptors.
    unsigned int waited = XpUtil::GetTickCount() - m_AcceptedTick;
    unsigned int left = waited < m_FirstMessageTimeoutMs ? m_FirstMessageTimeoutMs - waited : 0;
    KXAPI_RESULT result = ReadSomeFromFifo(m_ReadFd, buffer, minimum, length, timeoutMs < left ? timeoutMs : left,
                                           &m_StopIo, &got, &m_ReadSpin);
    if (got > 0)
        m_AwaitingFirstByte = false;
    return result;
}

KXAPI_RESULT XpPipeConnectionLinux::StopIo()
{
    m_StopIo.Raise();
    return KXAPI_OK;
}

KXAPI_RESULT XpPipeConnectionLinux::ResumeIo()
{
    m_StopIo.Clear();
    return KXAPI_OK;
}

KXAPI_RESULT XpPipeConnectionLinux::Close()
{
    m_StopIo.Close(); // a closed connection holds no descriptor
    if (m_Counted) {
        m_Counted = false;
        UncountAccepted(m_PeerOwner);
    }
    if (m_ReadFd != -1) {
        close(m_ReadFd);
        m_ReadFd = -1;
    }
    if (m_WriteFd != -1) {
        close(m_WriteFd);
        m_WriteFd = -1;
    }
    if (m_SendPath[0] != '\0') {
        unlink(m_SendPath);
        m_SendPath[0] = '\0';
    }
    if (m_RecvPath[0] != '\0') {
        unlink(m_RecvPath);
        m_RecvPath[0] = '\0';
    }
    return KXAPI_OK;
}

bool XpPipeConnectionLinux::CleanupOrphanPipe(const char* name, int pid)
{
    if (pid < 1)
        return true;
    if (getpgid(pid) >= 0 || errno != ESRCH)
        return false;
    // Only a single safe file name inside the FIFO directory is ever removed.
    if (!IsSafeName(name))
        return false;
    char path[XP_PIPE_PATH_SIZE];
    if (KxapiFailed(XpUtil::Sprintf(path, sizeof(path), "%s%s", m_pFifoPrefix, name)))
        return false;
    remove(path);
    return true;
}

// ---------------------------------------------------------------------------------------
// Listener

XpPipeListenerLinux::~XpPipeListenerLinux()
{
    if (m_Fd != -1)
        TrackListenerFifo(m_Fd, false);
    if (m_pStream != nullptr)
        fclose(m_pStream);
    else if (m_Fd != -1)
        close(m_Fd);
    m_pStream = nullptr;
    m_Fd = -1;
    if (m_Path[0] != '\0')
        unlink(m_Path);
}

KXAPI_RESULT XpPipeListenerLinux::Init(const char* name)
{
    if (m_Initialised)
        return KXAPI_E_IN_USE;
    if (name == nullptr)
        return KXAPI_E_INVALID_ARG;
    if (strlen(m_pFifoPrefix) + strlen(name) >= XP_PIPE_PATH_SIZE)
        return KXAPI_E_BUF_TOO_SMALL;
    XpUtil::Sprintf(m_Path, sizeof(m_Path), "%s%s", m_pFifoPrefix, name);

    // A stale FIFO of an earlier run is replaced; anything else planted here is moved aside.
    if (!XpUtil::FreePath(m_Path) || mkfifo(m_Path, FIFO_MODE) != 0) {
        m_Path[0] = '\0';
        return KXAPI_E_INTERNAL;
    }
    // Read-write: the listener is a writer of its own FIFO and never sees end-of-file.
    m_Fd = open(m_Path, O_RDWR | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (m_Fd < 0) {
        unlink(m_Path);
        m_Path[0] = '\0';
        return KXAPI_E_INTERNAL;
    }
    m_pStream = fdopen(m_Fd, "r+");
    if (m_pStream == nullptr) {
        close(m_Fd);
        m_Fd = -1;
        unlink(m_Path);
        m_Path[0] = '\0';
        return KXAPI_E_INTERNAL;
    }
    TrackListenerFifo(m_Fd, true);
    m_Initialised = true;
    return KXAPI_OK;
}

KXAPI_RESULT XpPipeListenerLinux::WaitPipeCreated()
{
    return m_Initialised ? KXAPI_OK : KXAPI_E_NOT_INITIALIZED;
}

KXAPI_RESULT XpPipeListenerLinux::SetFirstMessageTimeout(unsigned int timeoutMs)
{
    m_FirstMessageTimeoutMs = timeoutMs;
    return KXAPI_OK;
}

KXAPI_RESULT XpPipeListenerLinux::StopWaiting()
{
    if (!m_Initialised)
        return KXAPI_E_NOT_INITIALIZED;
    m_StopWaiting.Raise();
    return KXAPI_OK;
}

// Waits (asleep until a client writes or the listener is stopped) for one request. Every client writes its request
// in a single 200-byte write, which the FIFO delivers whole, so one read at a request
// boundary returns exactly 200 bytes; a read that returns fewer holds no request (stray
// bytes of a misbehaving writer) and is discarded, which keeps later requests aligned.
XpPipeListenerLinux::RequestRead XpPipeListenerLinux::ReadRequest(char* request)
{
    while (!m_StopWaiting.Raised()) {
        ssize_t n = read(m_Fd, request, XP_PIPE_REQUEST_SIZE);
        if (n == static_cast<ssize_t>(XP_PIPE_REQUEST_SIZE))
            return RequestRead::Request;
        if (n > 0)
            continue; // a fragment: drop it
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return RequestRead::Failed;
        // Asleep until a client writes a request or the listener is stopped.
        if (XpWaitReady(m_Fd, false, &m_StopWaiting, -1) < 0)
            return RequestRead::Failed;
    }
    return RequestRead::Nothing;
}

XpPipeConnectionLinux* XpPipeListenerLinux::AcceptRequest(const char* request)
{
    // Both FIFOs must belong to one user: a client cannot have the service write into, or read
    // from, a FIFO of someone else.
    unsigned int owner = XP_ANY_OWNER;
    int readFd = OpenClientFifoPath(request, XP_PIPE_PATH_SIZE, O_RDONLY, XP_ANY_OWNER, &owner);
    if (readFd < 0)
        return nullptr;
    int writeFd = OpenClientFifoPath(request + XP_PIPE_PATH_SIZE, XP_PIPE_PATH_SIZE, O_WRONLY, owner);
    if (writeFd < 0) {
        close(readFd);
        return nullptr;
    }
    if (!CountAccepted(owner)) {
        KXAPI_RESULT refusal = KXAPI_E_OUT_OF_RESOURCES;
        WriteToFifo(writeFd, reinterpret_cast<const char*>(&refusal), sizeof(refusal), 0, nullptr);
        close(readFd);
        close(writeFd);
        return nullptr;
    }
    auto* connection = new (std::nothrow) XpPipeConnectionLinux(readFd, writeFd, owner);
    if (connection == nullptr) {
        UncountAccepted(owner);
        close(readFd);
        close(writeFd);
        return nullptr;
    }
    connection->m_Counted = true;
    connection->m_AwaitingFirstByte = m_FirstMessageTimeoutMs != XP_INFINITE;
    connection->m_FirstMessageTimeoutMs = m_FirstMessageTimeoutMs;
    connection->m_AcceptedTick = XpUtil::GetTickCount();
    KXAPI_RESULT reply = KXAPI_OK;
    if (connection->Init() != KXAPI_OK ||
        connection->Write(reinterpret_cast<const char*>(&reply), sizeof(reply), ACCEPT_REPLY_TIMEOUT_MS) != KXAPI_OK) {
        delete connection;
        return nullptr;
    }
    return connection;
}

bool XpPipeListenerLinux::ReopenListenerFifo()
{
    if (m_Fd != -1)
        TrackListenerFifo(m_Fd, false);
    if (m_pStream != nullptr)
        fclose(m_pStream);
    else if (m_Fd != -1)
        close(m_Fd);
    m_pStream = nullptr;
    m_Fd = -1;
    if (m_Path[0] == '\0')
        return false;
    m_Fd = open(m_Path, O_RDWR | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (m_Fd < 0) {
        if (mkfifo(m_Path, FIFO_MODE) != 0)
            return false;
        m_Fd = open(m_Path, O_RDWR | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
        if (m_Fd < 0)
            return false;
    }
    TrackListenerFifo(m_Fd, true);
    m_pStream = fdopen(m_Fd, "r+");
    return true;
}

KXAPI_RESULT XpPipeListenerLinux::WaitConnection(IXpPipeConnection*& connection)
{
    connection = nullptr;
    if (!m_Initialised)
        return KXAPI_E_NOT_INITIALIZED;
    int failuresInRow = 0;
    char request[XP_PIPE_REQUEST_SIZE];
    for (;;) {
        if (m_StopWaiting.Raised())
            return KXAPI_E_CANCELLED;
        RequestRead got = ReadRequest(request);
        if (got == RequestRead::Nothing)
            continue;
        if (got == RequestRead::Failed) {
            if (++failuresInRow < 2)
                continue;
            failuresInRow = 0;
            if (!ReopenListenerFifo())
                return m_StopWaiting.Raised() ? KXAPI_E_CANCELLED : KXAPI_E_INTERNAL;
            continue;
        }
        failuresInRow = 0;
        connection = AcceptRequest(request);
        if (connection != nullptr)
            return KXAPI_OK;
        // Unusable request: dropped without a reply; the client's wait times out.
    }
}
