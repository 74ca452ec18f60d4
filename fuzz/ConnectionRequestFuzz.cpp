// Fuzz target: the 200-byte connection request of every service FIFO, through a real listener
// in a private FIFO directory. The input, padded with zeros to whole requests (at most five),
// is written into the listener FIFO as clients would write it, followed by the request of a
// well-behaved client; the listener's accept path runs until it has accepted that client.
// Whatever it accepts on the way is closed again. The directory holds the kinds of entries a
// hostile request may name: a FIFO with a reader, a regular file, a directory and a symbolic
// link to the FIFO. A request that would make the listener lose the well-behaved client hangs
// the target (reported as a time-out).
//
// The directory is fixed (/tmp/KxConnReqFuzz/) so that the seed requests can name its entries;
// one instance of the target at a time.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "FuzzSupport.h"
#include "XpPipeConnectionLinux.h"

namespace {

const char* const DIR = "/tmp/KxConnReqFuzz/";
constexpr size_t MAX_REQUESTS = 5;

std::string PathOf(const std::string& name)
{
    return std::string(DIR) + name;
}

void Drain(int fd)
{
    char buffer[4096];
    while (read(fd, buffer, sizeof(buffer)) > 0) {
    }
}

struct Harness {
    Harness()
    {
        mkdir(DIR, 0700);
        for (const char* name : {"fifo", "file", "link", "FuzzListener"})
            unlink(PathOf(name).c_str());
        rmdir(PathOf("dir").c_str());
        kxfuzz::Check(Xp::SetIpcDirectory(DIR) == KXAPI_OK);
        kxfuzz::Check(mkfifo(PathOf("fifo").c_str(), 0600) == 0);
        m_FifoReader = open(PathOf("fifo").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        kxfuzz::Check(m_FifoReader >= 0);
        int file = open(PathOf("file").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
        kxfuzz::Check(file >= 0);
        close(file);
        kxfuzz::Check(mkdir(PathOf("dir").c_str(), 0700) == 0);
        kxfuzz::Check(symlink(PathOf("fifo").c_str(), PathOf("link").c_str()) == 0);
        m_pListener.reset(Xp::Instance()->NewPipeListener());
        kxfuzz::Check(m_pListener && m_pListener->Init("FuzzListener") == KXAPI_OK);
        m_ListenerWriter = open(PathOf("FuzzListener").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        m_ListenerReader = open(PathOf("FuzzListener").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        kxfuzz::Check(m_ListenerWriter >= 0 && m_ListenerReader >= 0);
    }

    void Run(const uint8_t* data, size_t size)
    {
        // Stray bytes an accepted request had the listener write into a FIFO it named (the
        // listener's own among them) are gone before the next clients come, as after an idle gap.
        Drain(m_ListenerReader);
        Drain(m_FifoReader);

        const size_t requests = (size + XP_PIPE_REQUEST_SIZE - 1) / XP_PIPE_REQUEST_SIZE;
        std::string stream(std::min(requests, MAX_REQUESTS) * XP_PIPE_REQUEST_SIZE, '\0');
        memcpy(stream.data(), data, std::min(size, stream.size()));

        // The well-behaved client: two fresh FIFOs, its reply end held open for reading.
        // Process id and round: names no earlier (killed) run of the target left behind.
        const std::string n = std::to_string(getpid()) + "_" + std::to_string(++m_Round);
        const std::string in = PathOf("client_in_" + n);
        const std::string out = PathOf("client_out_" + n);
        kxfuzz::Check(mkfifo(in.c_str(), 0600) == 0 && mkfifo(out.c_str(), 0600) == 0);
        int replies = open(out.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        kxfuzz::Check(replies >= 0);
        char request[XP_PIPE_REQUEST_SIZE] = {};
        memcpy(request, in.c_str(), in.size() + 1);
        memcpy(request + XP_PIPE_PATH_SIZE, out.c_str(), out.size() + 1);
        stream.append(request, sizeof(request));

        for (size_t offset = 0; offset < stream.size(); offset += XP_PIPE_REQUEST_SIZE)
            kxfuzz::Check(write(m_ListenerWriter, stream.data() + offset, XP_PIPE_REQUEST_SIZE) ==
                          static_cast<ssize_t>(XP_PIPE_REQUEST_SIZE));

        int32_t reply = -1;
        for (;;) {
            IXpPipeConnection* connection = nullptr;
            kxfuzz::Check(m_pListener->WaitConnection(connection) == KXAPI_OK && connection != nullptr);
            delete connection;
            if (read(replies, &reply, sizeof(reply)) == static_cast<ssize_t>(sizeof(reply)))
                break;
        }
        kxfuzz::Check(reply == static_cast<int32_t>(KXAPI_OK));
        close(replies);
        unlink(in.c_str());
        unlink(out.c_str());
        // Nothing the listener accepted may have replaced an entry of the directory.
        struct stat info {};
        kxfuzz::Check(lstat(PathOf("link").c_str(), &info) == 0 && S_ISLNK(info.st_mode));
        kxfuzz::Check(lstat(PathOf("file").c_str(), &info) == 0 && S_ISREG(info.st_mode));
    }

    std::unique_ptr<IXpPipeListener> m_pListener;
    int m_ListenerWriter = -1;
    int m_ListenerReader = -1;
    int m_FifoReader = -1;
    unsigned long m_Round = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Harness* harness = new Harness();
    harness->Run(data, size);
    return 0;
}
