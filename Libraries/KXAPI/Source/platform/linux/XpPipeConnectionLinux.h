// Named-FIFO transport: listeners that accept clients, and full-duplex connections.
//
// Handshake: the client creates two private FIFOs and writes one 200-byte request into the
// listener FIFO (client-to-server path, then server-to-client path, 100 bytes each, NUL
// terminated); the server opens both and answers with a 4-byte KXAPI_RESULT.
#pragma once

#include <atomic>
#include <cstdio>

#include "XpInterfaces.h"
#include "XpStopSignalLinux.h"

constexpr unsigned int XP_PIPE_PATH_SIZE = 100;       // a path field, terminator included
constexpr unsigned int XP_PIPE_REQUEST_SIZE = 2 * XP_PIPE_PATH_SIZE;
constexpr unsigned int XP_PIPE_SLICE_MS = XP_WAIT_SLICE_MS; // every wait is cut into slices of this

// Limits of the connections the listeners of one process accept. Set far above what a busy
// test rig needs (it runs a few hundred clients of one user at once); they keep one user from
// using up the descriptors and threads that every other client needs.
constexpr unsigned int XP_PIPE_MAX_CONNECTIONS = 2048;          // all users together
constexpr unsigned int XP_PIPE_MAX_CONNECTIONS_PER_OWNER = 512; // owner of the client's FIFOs
// A client must send the first byte of its first message within this after it connected.
constexpr unsigned int XP_PIPE_FIRST_MESSAGE_MS = 10000;

class XpPipeBaseLinux {
public:
    // Directory prefix of every FIFO, "/tmp/" by default (ends with "/").
    static const char* m_pFifoPrefix;

    // Moves exactly `length` bytes, waiting idle for at most `timeoutMs` (counted in 100 ms
    // slices; XP_INFINITE: no limit, and no wake-up until the peer or `stop` acts). A raised
    // `stop` ends the transfer with KXAPI_OK, possibly incomplete; `moved` (optional) tells
    // how many bytes were transferred.
    //
    // Before it sleeps, a transfer retries for up to 100 microseconds, yielding the processor
    // in between: a request/reply exchange then costs no thread wake-up on either side. It
    // does so only where that can help: when the process may run on more than one processor
    // (with one, the peer cannot answer while this thread spins), and, when `spin` is given,
    // only while the previous transfer on it found its data within that time. `spin` is the
    // descriptor's history: a connection whose peer answers at once keeps spinning, one that
    // waits for a client's next request every 100 ms sleeps at once and costs no processor.
    static KXAPI_RESULT ReadFromFifo(int fd, char* buffer, unsigned int length, unsigned int timeoutMs,
                                     XpStopSignal* stop, unsigned int* moved = nullptr,
                                     std::atomic<bool>* spin = nullptr);
    static KXAPI_RESULT WriteToFifo(int fd, const char* buffer, unsigned int length, unsigned int timeoutMs,
                                    XpStopSignal* stop, unsigned int* moved = nullptr,
                                    std::atomic<bool>* spin = nullptr);
    // Reads like ReadFromFifo until at least `minimum` bytes have come, taking whatever else is
    // there up to `length` in the same reads.
    static KXAPI_RESULT ReadSomeFromFifo(int fd, char* buffer, unsigned int minimum, unsigned int length,
                                         unsigned int timeoutMs, XpStopSignal* stop, unsigned int* moved,
                                         std::atomic<bool>* spin = nullptr);

    // Number of 100 ms slices a time-out allows (XP_INFINITE: no limit).
    static unsigned int SliceBudget(unsigned int timeoutMs);

    // True when `name` is one path component of [A-Za-z0-9_.-] and not "." or "..": the only
    // names a client may hand over that become paths.
    static bool IsSafeName(const char* name);

    // The one way a FIFO that a client named is opened, for every protocol and direction
    // (connection requests, event FIFOs, the service's connects to a client): `name` must be a
    // safe name directly inside the FIFO directory; the file is opened without following links
    // and without blocking, must be a FIFO, and must belong to the user `requiredOwner` unless
    // that is XP_ANY_OWNER. `flags` is O_RDONLY
    // or O_WRONLY. Returns the descriptor, or -1 with errno telling why; `owner` (optional)
    // receives the FIFO's owner.
    static int OpenClientFifo(const char* name, int flags, unsigned int requiredOwner,
                              unsigned int* owner = nullptr);
    // The same for a path field of a connection request: at most `size` bytes, NUL-terminated,
    // the FIFO directory followed by the name; a listener FIFO of this process is refused.
    static int OpenClientFifoPath(const char* path, unsigned int size, int flags, unsigned int requiredOwner,
                                  unsigned int* owner = nullptr);

protected:
    // Listener FIFOs of this process, which no client may name as its own FIFO: added while
    // `listening`, removed after.
    static void TrackListenerFifo(int fd, bool listening);
};

class XpPipeConnectionLinux : public IXpPipeConnection, public XpPipeBaseLinux {
public:
    XpPipeConnectionLinux() = default;
    // Server side: adopts descriptors opened by the listener for a client whose FIFOs belong
    // to `peerOwner`.
    XpPipeConnectionLinux(int readFd, int writeFd, unsigned int peerOwner = XP_ANY_OWNER);
    ~XpPipeConnectionLinux() override;

    KXAPI_RESULT Init() override;
    KXAPI_RESULT Connect(const char* name) override;
    KXAPI_RESULT ConnectToClient(const char* name, unsigned int ownerUid) override;
    unsigned int PeerOwner() const override { return m_PeerOwner; }

    // Accepted connections alive now: in all, and of one owner.
    static unsigned int AcceptedConnections();
    static unsigned int AcceptedConnections(unsigned int owner);
    KXAPI_RESULT ClearRx() override;
    KXAPI_RESULT Write(const char* buffer, unsigned int length, unsigned int timeoutMs) override;
    KXAPI_RESULT Read(char* buffer, unsigned int length, unsigned int timeoutMs) override;
    KXAPI_RESULT ReadSome(char* buffer, unsigned int minimum, unsigned int length, unsigned int timeoutMs,
                          unsigned int& got) override;
    KXAPI_RESULT StopIo() override;
    KXAPI_RESULT ResumeIo() override;
    KXAPI_RESULT Close() override;
    bool CleanupOrphanPipe(const char* name, int pid) override;

    // Makes a private FIFO "<prefix><name>_<pid>_<random>" and returns its path.
    static KXAPI_RESULT CreateFifoFile(const char* name, char* path, int size);

private:
    friend class XpPipeListenerLinux; // counts and times the connections it accepts

    bool IsOpen() const { return m_WriteFd != -1 && m_ReadFd != -1; }
    // The handshake of Connect and ConnectToClient: `openAttempts` opens of the listener FIFO
    // 10 ms apart while nobody holds it open.
    KXAPI_RESULT ConnectChecked(const char* name, unsigned int ownerUid, int openAttempts);

    XpStopSignal m_StopIo;
    // Whether the last read (write) found its peer ready within the spin time (see ReadFromFifo).
    std::atomic<bool> m_ReadSpin{true};
    std::atomic<bool> m_WriteSpin{true};
    int m_WriteFd = -1;
    int m_ReadFd = -1;
    unsigned int m_PeerOwner = XP_ANY_OWNER;
    // Server side: counted among the accepted connections until closed.
    bool m_Counted = false;
    // Server side: nothing read yet; reads end at the first-message deadline.
    bool m_AwaitingFirstByte = false;
    unsigned int m_AcceptedTick = 0;
    unsigned int m_FirstMessageTimeoutMs = XP_PIPE_FIRST_MESSAGE_MS;
    char m_RecvPath[XP_PIPE_PATH_SIZE] = {};
    char m_SendPath[XP_PIPE_PATH_SIZE] = {};
};

class XpPipeListenerLinux : public IXpPipeListener, public XpPipeBaseLinux {
public:
    XpPipeListenerLinux() = default;
    ~XpPipeListenerLinux() override;

    KXAPI_RESULT Init(const char* name) override;
    KXAPI_RESULT WaitConnection(IXpPipeConnection*& connection) override;
    KXAPI_RESULT WaitPipeCreated() override;
    KXAPI_RESULT StopWaiting() override;
    KXAPI_RESULT SetFirstMessageTimeout(unsigned int timeoutMs) override;

private:
    enum class RequestRead { Request, Nothing, Failed };
    RequestRead ReadRequest(char* request);
    XpPipeConnectionLinux* AcceptRequest(const char* request);
    bool ReopenListenerFifo();

    bool m_Initialised = false;
    XpStopSignal m_StopWaiting;
    int m_Fd = -1;
    FILE* m_pStream = nullptr;
    char m_Path[XP_PIPE_PATH_SIZE] = {};
    unsigned int m_FirstMessageTimeoutMs = XP_PIPE_FIRST_MESSAGE_MS;
};
