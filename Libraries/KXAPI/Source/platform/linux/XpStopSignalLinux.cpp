#include "XpStopSignalLinux.h"

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

void XpStopSignal::Open()
{
    std::lock_guard<std::mutex> lock(m_Lock);
    m_Closed = false;
}

void XpStopSignal::Close()
{
    std::lock_guard<std::mutex> lock(m_Lock);
    if (m_Fd != -1)
        close(m_Fd);
    m_Fd = -1;
    m_Closed = true;
}

int XpStopSignal::WaitFd()
{
    std::lock_guard<std::mutex> lock(m_Lock);
    if (m_Fd == -1 && !m_Closed)
        m_Fd = eventfd(m_Raised.load() ? 1 : 0, EFD_NONBLOCK | EFD_CLOEXEC);
    return m_Fd;
}

void XpStopSignal::Raise()
{
    std::lock_guard<std::mutex> lock(m_Lock);
    m_Raised = true;
    if (m_Fd != -1) {
        const uint64_t one = 1;
        // The counter only grows, so it stays readable; a full counter is readable already.
        (void)!write(m_Fd, &one, sizeof(one));
    }
}

void XpStopSignal::Clear()
{
    std::lock_guard<std::mutex> lock(m_Lock);
    m_Raised = false;
    if (m_Fd != -1) {
        uint64_t count = 0;
        (void)!read(m_Fd, &count, sizeof(count));
    }
}

int XpWaitReady(int fd, bool forWrite, XpStopSignal* stop, long long timeoutNs)
{
    // poll, not select: a service with many clients has descriptors beyond FD_SETSIZE.
    pollfd entries[2] = {};
    entries[0].fd = fd;
    entries[0].events = forWrite ? POLLOUT : POLLIN;
    nfds_t count = 1;
    constexpr long long SLICE_NS = static_cast<long long>(XP_WAIT_SLICE_MS) * 1000000LL;
    // A wait of one slice at most looks at the flag after it; a longer one watches the signal.
    const int stopFd = stop != nullptr && (timeoutNs < 0 || timeoutNs > SLICE_NS) ? stop->WaitFd() : -1;
    if (stopFd != -1) {
        entries[1].fd = stopFd;
        entries[1].events = POLLIN;
        count = 2;
    } else if (stop != nullptr && (timeoutNs < 0 || timeoutNs > SLICE_NS)) {
        timeoutNs = SLICE_NS; // no descriptor to watch: the flag slice by slice
    }
    timespec limit{};
    if (timeoutNs >= 0) {
        limit.tv_sec = static_cast<time_t>(timeoutNs / 1000000000LL);
        limit.tv_nsec = static_cast<long>(timeoutNs % 1000000000LL);
    }
    int ready = ppoll(entries, count, timeoutNs >= 0 ? &limit : nullptr, nullptr);
    if (ready < 0)
        return errno == EINTR ? 0 : -1;
    if (ready == 0 || (count == 2 && entries[1].revents != 0 && entries[0].revents == 0))
        return 0;
    return 1;
}
