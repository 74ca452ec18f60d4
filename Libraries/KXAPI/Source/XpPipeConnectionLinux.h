// Named-FIFO transport: listeners that accept clients, and full-duplex connections.
//
// Handshake: the client creates two private FIFOs and writes one 200-byte request into the
// listener FIFO (client-to-server path, then server-to-client path, 100 bytes each, NUL
// terminated); the server opens both and answers with a 4-byte KXAPI_RESULT.
#pragma once

#include <atomic>
#include <cstdio>

#include "XpInterfaces.h"

constexpr unsigned int XP_PIPE_PATH_SIZE = 100;       // a path field, terminator included
constexpr unsigned int XP_PIPE_REQUEST_SIZE = 2 * XP_PIPE_PATH_SIZE;
constexpr unsigned int XP_PIPE_SLICE_MS = 100;        // every wait is cut into slices of this

class XpPipeBaseLinux {
public:
    // Directory prefix of every FIFO, "/tmp/" by default (ends with "/").
    static const char* m_pFifoPrefix;

    // Moves exactly `length` bytes, waiting idle for at most `timeoutMs` in 100 ms slices.
    // A raised `stop` flag ends the transfer with KXAPI_OK, possibly incomplete; `moved`
    // (optional) tells how many bytes were transferred.
    static KXAPI_RESULT ReadFromFifo(int fd, char* buffer, unsigned int length, unsigned int timeoutMs,
                                     const std::atomic<bool>* stop, unsigned int* moved = nullptr);
    static KXAPI_RESULT WriteToFifo(int fd, const char* buffer, unsigned int length, unsigned int timeoutMs,
                                    const std::atomic<bool>* stop, unsigned int* moved = nullptr);

    // Number of 100 ms slices a time-out allows (XP_INFINITE: no limit).
    static unsigned int SliceBudget(unsigned int timeoutMs);

    // True when `name` is one path component of [A-Za-z0-9_.-] and not "." or "..": the only
    // names a client may hand over that become paths.
    static bool IsSafeName(const char* name);

    // True when `path` (at most `size` bytes) is NUL-terminated and names a file directly
    // inside the FIFO directory.
    static bool IsFifoDirPath(const char* path, unsigned int size);

    // Opens `path` (inside the FIFO directory) without following links and checks that it
    // is a FIFO; -1 otherwise. `flags` is O_RDONLY or O_WRONLY; O_NONBLOCK is added.
    static int OpenFifoChecked(const char* path, int flags);
};

class XpPipeConnectionLinux : public IXpPipeConnection, public XpPipeBaseLinux {
public:
    XpPipeConnectionLinux() = default;
    // Server side: adopts descriptors opened by the listener.
    XpPipeConnectionLinux(int readFd, int writeFd);
    ~XpPipeConnectionLinux() override;

    KXAPI_RESULT Init() override;
    KXAPI_RESULT Connect(const char* name) override;
    KXAPI_RESULT ClearRx() override;
    KXAPI_RESULT Write(const char* buffer, unsigned int length, unsigned int timeoutMs) override;
    KXAPI_RESULT Read(char* buffer, unsigned int length, unsigned int timeoutMs) override;
    KXAPI_RESULT StopIo() override;
    KXAPI_RESULT ResumeIo() override;
    KXAPI_RESULT Close() override;
    bool CleanupOrphanPipe(const char* name, int pid) override;

    // Makes a private FIFO "<prefix><name>_<pid>_<random>" and returns its path.
    static KXAPI_RESULT CreateFifoFile(const char* name, char* path, int size);

private:
    bool IsOpen() const { return m_WriteFd != -1 && m_ReadFd != -1; }

    std::atomic<bool> m_StopIo{false};
    int m_WriteFd = -1;
    int m_ReadFd = -1;
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

private:
    enum class RequestRead { Request, Nothing, Failed };
    RequestRead ReadRequest(char* request);
    IXpPipeConnection* AcceptRequest(const char* request);
    bool ReopenListenerFifo();

    bool m_Initialised = false;
    std::atomic<bool> m_StopWaiting{false};
    int m_Fd = -1;
    FILE* m_pStream = nullptr;
    char m_Path[XP_PIPE_PATH_SIZE] = {};
};
