#include "XpDriverLinux.h"

#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <poll.h>
#include <unistd.h>

namespace {

XpDriverNodeFactoryLinux g_RealNodes;
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
    // poll, not select: the descriptor may lie beyond FD_SETSIZE in a busy service.
    pollfd entry{};
    entry.fd = m_Fd;
    entry.events = POLLIN;
    timespec timeout{static_cast<time_t>(timeoutMs / 1000), static_cast<long>(timeoutMs % 1000) * 1000000L};
    return ppoll(&entry, 1, &timeout, nullptr) > 0;
}

IXpDriverNode* XpDriverNodeFactoryLinux::Open(KxDriverFamily family, int index)
{
    char path[64];
    snprintf(path, sizeof(path), "%s%d", FAMILY_PREFIX[family], index);
    int fd = open(path, O_RDWR | O_CLOEXEC);
    return fd < 0 ? nullptr : new XpDriverNodeLinux(fd);
}

bool IXpDriverNodeFactory::WaitHotplug(unsigned int timeoutMs, uint64_t&, int&, int64_t&)
{
    // The platform hot-plug source is inert: it only lets the time pass.
    usleep(static_cast<useconds_t>(timeoutMs) * 1000);
    return false;
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
