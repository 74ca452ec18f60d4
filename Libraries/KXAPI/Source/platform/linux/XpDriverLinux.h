// Real driver nodes: the maker's character devices, reached with open/ioctl/mmap/ppoll.
#pragma once

#include "XpDriverNode.h"
#include "XpStopSignalLinux.h"

class XpDriverNodeLinux : public IXpDriverNode {
public:
    explicit XpDriverNodeLinux(int fd) : m_Fd(fd) {}
    ~XpDriverNodeLinux() override;
    int IoCtl(uint32_t request, void* buffer, uint32_t size) override;
    void* MapMemory(uint32_t length) override;
    void UnmapMemory(void* memory, uint32_t length) override;
    bool WaitReadable(unsigned int timeoutMs) override;
    void WakeWaiters() override;

private:
    int m_Fd;
    // Watched beside the device by every wait, raised for good by WakeWaiters.
    XpStopSignal m_Wake;
};

class XpDriverNodeFactoryLinux : public IXpDriverNodeFactory {
public:
    IXpDriverNode* Open(KxDriverFamily family, int index) override;
};
