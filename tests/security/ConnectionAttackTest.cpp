// Connections that try to use up what every client needs: silent connections, floods of
// requests the accept thread cannot answer, and messages announced large and trickled.
#include <atomic>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "HostileClientFixture.h"
#include "PipeMessenger.h"
#include "XpPipeConnectionLinux.h"

namespace hostile {
namespace {

// Resident memory of a process in KiB.
long ResidentKiB(pid_t pid)
{
    std::string status = kxtest::ReadFile("/proc/" + std::to_string(pid) + "/status");
    size_t at = status.find("VmRSS:");
    return at == std::string::npos ? -1 : strtol(status.c_str() + at + 6, nullptr, 10);
}

TEST_F(HostileServiceTest, SilentConnectionsAreCappedPerUserAndReleasedAtTheFirstMessageDeadline)
{
    size_t baseline = ServiceDescriptors();
    std::vector<std::unique_ptr<RawConnection>> silent;
    unsigned int refused = 0;
    for (unsigned int i = 0; i < XP_PIPE_MAX_CONNECTIONS_PER_OWNER + 8; i++) {
        auto connection = std::make_unique<RawConnection>();
        OpenRawConnection(FifoDir(), i % 2 == 0 ? "DemodRecvPipe" : "KxeRecvPipe", NOBODY_UID, *connection);
        if (connection->m_Reply == KXAPI_E_OUT_OF_RESOURCES)
            refused++;
        else
            EXPECT_EQ(connection->m_Reply, KXAPI_OK) << i;
        silent.push_back(std::move(connection));
    }
    EXPECT_EQ(refused, 8u);
    // Root's clients are not affected by what nobody holds.
    EXPECT_TRUE(WellBehavedClientIsServed());
    // Ten seconds without a word: every silent connection is dropped and its descriptors closed.
    EXPECT_TRUE(kxtest::WaitUntil([&] { return ServiceDescriptors() <= baseline + 4; },
                                  XP_PIPE_FIRST_MESSAGE_MS + 5000))
        << ServiceDescriptors() << " descriptors, " << baseline << " before";
    RawConnection again;
    OpenRawConnection(FifoDir(), "DemodRecvPipe", NOBODY_UID, again);
    EXPECT_EQ(again.m_Reply, KXAPI_OK);
}

TEST_F(HostileServiceTest, AFloodOfRequestsWithFullReplyFifosDoesNotHoldUpTheAcceptThread)
{
    // One reply FIFO kept full, named by every request of the flood.
    std::string in = Fifo("flood_in");
    std::string out = Fifo("flood_out");
    ASSERT_EQ(mkfifo(in.c_str(), 0600), 0);
    ASSERT_EQ(mkfifo(out.c_str(), 0600), 0);
    int reader = open(out.c_str(), O_RDONLY | O_NONBLOCK);
    int filler = open(out.c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    ASSERT_GE(filler, 0);
    char block[4096] = {};
    while (write(filler, block, sizeof(block)) > 0) {
    }
    std::atomic<bool> stop{false};
    std::atomic<unsigned int> sent{0};
    std::thread flood([&] {
        while (!stop.load()) {
            for (const char* listener : {"DemodRecvPipe", "KxGlobalRecvPipe"})
                if (SendConnectionRequest(Fifo(listener), in, out))
                    sent++;
        }
    });
    usleep(300000);
    EXPECT_TRUE(WellBehavedClientIsServed());
    EXPECT_EQ(kxtest::RunProgram({KX_KXCTL_BINARY, "--fifo-dir", FifoDir(), "version"}, SERVED_WITHIN_MS).m_Status,
              0);
    stop = true;
    flood.join();
    EXPECT_GT(sent.load(), 100u);
    close(reader);
    close(filler);
}

TEST_F(HostileServiceTest, MessagesAnnouncedLargeAndTrickledAreCutOffAndPinNoMemory)
{
    size_t baseline = ServiceDescriptors();
    long residentBefore = ResidentKiB(m_Service.Pid());
    std::vector<std::unique_ptr<RawConnection>> trickling;
    for (int i = 0; i < 16; i++) {
        auto connection = std::make_unique<RawConnection>();
        OpenRawConnection(FifoDir(), "DemodRecvPipe", NOBODY_UID, *connection);
        ASSERT_EQ(connection->m_Reply, KXAPI_OK);
        unsigned char header[8];
        unsigned int length = PipeBuildHeader(PIPE_MAX_MESSAGE_SIZE, header);
        ASSERT_EQ(write(connection->m_ToService, header, length), static_cast<ssize_t>(length));
        trickling.push_back(std::move(connection));
    }
    // A byte every 50 ms on every connection, for up to three seconds.
    unsigned int closedByService = 0;
    for (int round = 0; round < 60 && closedByService < trickling.size(); round++) {
        closedByService = 0;
        for (auto& connection : trickling)
            if (write(connection->m_ToService, "x", 1) < 0 && errno == EPIPE)
                closedByService++;
        usleep(50000);
    }
    EXPECT_EQ(closedByService, trickling.size());
#if !defined(__SANITIZE_THREAD__)
    // Under ThreadSanitizer the service's resident size also counts the tool's shadow of each
    // large allocation, so the bound is checked in the other builds only.
    EXPECT_LT(ResidentKiB(m_Service.Pid()) - residentBefore, 64 * 1024);
#endif
    EXPECT_TRUE(kxtest::WaitUntil([&] { return ServiceDescriptors() <= baseline + 4; }, 3000));
    EXPECT_TRUE(WellBehavedClientIsServed());
}

} // namespace
} // namespace hostile
