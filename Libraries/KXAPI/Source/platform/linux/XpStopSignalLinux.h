// Waits on a descriptor that a stop request from another thread ends at once.
#pragma once

#include <atomic>
#include <mutex>

#include "KxNonCopyable.h"

// A wait whose stop signal has no descriptor looks at the flag this often.
constexpr unsigned int XP_WAIT_SLICE_MS = 100;

// A stop request that a thread blocked on a descriptor (a FIFO, a driver node) wakes up for at
// once: a flag, and an eventfd that is readable while the flag is raised, which every long wait
// also watches. A connection, listener or event wait at rest thus sleeps in the kernel until
// its peer or device has something or it is stopped, instead of waking for a stop flag slice by
// slice. The eventfd is made by the first wait that needs it (short waits and connections that
// never wait long hold none) and given back on Close; without it (the process is out of
// descriptors) a wait looks at the flag every XP_WAIT_SLICE_MS.
class XpStopSignal : private KxNonCopyable {
public:
    XpStopSignal() = default;
    ~XpStopSignal() { Close(); }
    // Allows the descriptor again after Close (a connection connects again).
    void Open();
    // Gives the descriptor back and makes none until Open (a closed connection holds none).
    void Close();
    // Raises the flag and wakes every wait that watches it; it stays raised until Clear.
    void Raise();
    void Clear();
    bool Raised() const { return m_Raised.load(); }
    // The descriptor a wait watches, readable while raised, made at the first call; -1 when
    // closed or when none can be had.
    int WaitFd();

private:
    std::atomic<bool> m_Raised{false};
    std::mutex m_Lock; // the descriptor against Raise from another thread while it is made or closed
    int m_Fd = -1;
    bool m_Closed = false;
};

// Waits for `fd` to become readable (or writable) or for `stop` (optional) to be raised,
// at most `timeoutNs` (negative: no limit): 1 ready, 0 time out, stop raised or
// interrupted, -1 error. Works for any descriptor number.
int XpWaitReady(int fd, bool forWrite, XpStopSignal* stop, long long timeoutNs);
