#include "XpDriverLinux.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <poll.h>
#include <unistd.h>

namespace {

XpDriverNodeFactoryLinux g_RealNodes;
// Waiters of the inert hot-plug source, which only a stop ends.
std::mutex g_InertHotplugLock;
std::condition_variable g_InertHotplugWake;
std::atomic<IXpDriverNodeFactory*> g_pFactory{nullptr};

const char* const FAMILY_PREFIX[KX_FAMILY_COUNT] = {"/dev/Kxa", "/dev/usb/Korvix/Kxu", "/dev/KxPcie"};

} // namespace

XpDriverNodeLinux::~XpDriverNodeLinux()
{
    if (m_Fd >= 0)
        close(m_Fd);
}

int XpDriverNodeLinux::IoCtl(uint32_t request, void* buffer, uint32_t /*size*/)
{
    return ioctl(m_Fd, static_cast<unsigned long>(request), buffer);
}

void* XpDriverNodeLinux::MapMemory(uint32_t length)
{
    void* memory = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, m_Fd, 0);
    return memory == MAP_FAILED ? nullptr : memory;
}

void XpDriverNodeLinux::UnmapMemory(void* memory, uint32_t length)
{
    if (memory != nullptr)
        munmap(memory, length);
}

bool XpDriverNodeLinux::WaitReadable(unsigned int timeoutMs)
{
    // The device and the wake signal together: a wait without limit sleeps in the kernel until
    // the driver has an event or the owner stops. Without a wake descriptor (the process is
    // out of them) the wait is cut into slices, after each of which the caller looks at its
    // stop flag.
    const long long timeoutNs = timeoutMs == XP_INFINITE ? -1 : static_cast<long long>(timeoutMs) * 1000000LL;
    return XpWaitReady(m_Fd, false, &m_Wake, timeoutNs) == 1 && !m_Wake.Raised();
}

void XpDriverNodeLinux::WakeWaiters()
{
    m_Wake.Raise();
}

IXpDriverNode* XpDriverNodeFactoryLinux::Open(KxDriverFamily family, int index)
{
    char path[64];
    snprintf(path, sizeof(path), "%s%d", FAMILY_PREFIX[family], index);
    int fd = open(path, O_RDWR | O_CLOEXEC);
    return fd < 0 ? nullptr : new XpDriverNodeLinux(fd);
}

bool IXpDriverNodeFactory::WaitHotplug(unsigned int timeoutMs, const std::atomic<bool>& stop, uint64_t&, int&,
                                       int64_t&)
{
    // The platform hot-plug source is inert: it only lets the time pass, or ends at the stop.
    std::unique_lock<std::mutex> lock(g_InertHotplugLock);
    auto stopped = [&] { return stop.load(); };
    if (timeoutMs == XP_INFINITE)
        g_InertHotplugWake.wait(lock, stopped);
    else
        g_InertHotplugWake.wait_for(lock, std::chrono::milliseconds(timeoutMs), stopped);
    return false;
}

void IXpDriverNodeFactory::WakeHotplugWaiters()
{
    // Notified under the waiters' lock: a waiter that has read its flag as not raised is
    // asleep before this runs, one that reads it later sees it raised.
    std::lock_guard<std::mutex> lock(g_InertHotplugLock);
    g_InertHotplugWake.notify_all();
}

IXpDriverNodeFactory* XpDriverNodes::Factory()
{
    IXpDriverNodeFactory* factory = g_pFactory.load();
    return factory != nullptr ? factory : &g_RealNodes;
}

IXpDriverNode* XpDriverNodes::Open(KxDriverFamily family, int index, KXAPI_RESULT& result)
{
    result = KXAPI_E_NOT_FOUND;
    if (family < 0 || family >= KX_FAMILY_COUNT || index < 0 || index >= KX_DRIVER_NODES_PER_FAMILY)
        return nullptr;
    IXpDriverNode* node = Factory()->Open(family, index);
    if (node != nullptr)
        result = KXAPI_OK;
    return node;
}

IXpDriverNodeFactory* XpDriverNodes::InstallFactory(IXpDriverNodeFactory* factory)
{
    return g_pFactory.exchange(factory);
}

const char* XpDriverNodes::NodePrefix(KxDriverFamily family)
{
    return (family >= 0 && family < KX_FAMILY_COUNT) ? FAMILY_PREFIX[family] : "";
}
