// Shared pieces of the fuzz targets: a connection that plays the fuzz input as the byte stream
// a client sent, a private IPC directory, and running one client handler over such a stream.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "CrossPlatform.h"
#include "XpInterfaces.h"

namespace kxfuzz {

inline void Check(bool condition)
{
    if (!condition)
        std::abort();
}

// The client end as the service sees it: reads come from the input until it runs out (then
// the client is gone), writes are counted and dropped.
class InputConnection : public IXpPipeConnection {
public:
    InputConnection(const uint8_t* data, size_t size) : m_Data(data, data + size) {}

    KXAPI_RESULT Init() override { return KXAPI_OK; }
    KXAPI_RESULT Connect(const char*) override { return KXAPI_E_NOT_SUPPORTED; }
    KXAPI_RESULT ConnectToClient(const char*, unsigned int) override { return KXAPI_E_NOT_SUPPORTED; }
    // A local client of this process's own user.
    unsigned int PeerOwner() const override { return static_cast<unsigned int>(getuid()); }
    KXAPI_RESULT ClearRx() override { return KXAPI_OK; }
    KXAPI_RESULT Write(const char* buffer, unsigned int length, unsigned int) override
    {
        Check(buffer != nullptr || length == 0);
        m_Written += length;
        return KXAPI_OK;
    }
    KXAPI_RESULT Read(char* buffer, unsigned int length, unsigned int) override
    {
        if (length > m_Data.size() - m_Pos)
            return KXAPI_E_TIMEOUT;
        std::copy(m_Data.begin() + static_cast<std::ptrdiff_t>(m_Pos),
                  m_Data.begin() + static_cast<std::ptrdiff_t>(m_Pos + length), buffer);
        m_Pos += length;
        return KXAPI_OK;
    }
    KXAPI_RESULT StopIo() override { return KXAPI_OK; }
    KXAPI_RESULT ResumeIo() override { return KXAPI_OK; }
    KXAPI_RESULT Close() override { return KXAPI_OK; }
    bool CleanupOrphanPipe(const char*, int) override { return true; }

    size_t Written() const { return m_Written.load(); }

private:
    std::vector<uint8_t> m_Data;
    size_t m_Pos = 0;
    std::atomic<size_t> m_Written{0};
};

// Puts every FIFO, key file and shared-memory name of this process into a fresh private
// directory (kept for the process's life).
inline std::string UsePrivateIpcDirectory(const char* tag)
{
    std::string pattern = std::string("/tmp/") + tag + ".XXXXXX";
    std::vector<char> path(pattern.begin(), pattern.end());
    path.push_back('\0');
    Check(mkdtemp(path.data()) != nullptr);
    std::string dir = std::string(path.data()) + "/";
    Xp::SetIpcDirectory(dir.c_str());
    return dir;
}

// Runs a client handler (a PipeServerImpl made over an InputConnection) on its own thread
// until it has consumed the whole stream and left its loop by itself, then deletes it.
template <typename Handler> void RunHandlerToEnd(Handler* handler)
{
    Check(handler->Init());
    Check(handler->Start());
    while (handler->Running())
        usleep(20);
    handler->WaitStopped(); // joins: the loop's exit path may still run after it cleared running
    delete handler;
}

} // namespace kxfuzz
