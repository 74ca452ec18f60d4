// A virtual driver node: decodes the request words and records of the driver interface exactly
// as the kernel drivers take them and answers from a virtual card.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "SimCard.h"
#include "XpDriverNode.h"

// What the virtual cards cost the threads that call them: the processor time spent inside the
// nodes' requests, counted once a measurement asked for it (benchmarks separate the service's
// own work from the virtual cards' models with it).
struct SimNodeUsage {
    std::atomic<bool> m_Counting{false};
    std::atomic<uint64_t> m_CpuNs{0};
    std::atomic<uint64_t> m_Requests{0};
};

class SimVirtualNode : public IXpDriverNode {
public:
    explicit SimVirtualNode(std::shared_ptr<SimCard> card, std::shared_ptr<SimNodeUsage> usage = nullptr);
    ~SimVirtualNode() override;

    int IoCtl(uint32_t request, void* buffer, uint32_t size) override;
    void* MapMemory(uint32_t length) override;
    void UnmapMemory(void* memory, uint32_t length) override;
    bool WaitReadable(unsigned int timeoutMs) override;
    void WakeWaiters() override;

    // Counts of requests handled (benchmarks, tests).
    uint64_t RequestCount() const { return __atomic_load_n(&m_Requests, __ATOMIC_RELAXED); }

private:
    int Serve(uint32_t request, unsigned char* pBuf, uint32_t size);
    // Each handler gets the input (after any size header) and the output area; it returns 0 or
    // a driver status word.
    uint32_t Dispatch(uint32_t request, const unsigned char* pIn, uint32_t inSize, unsigned char* pOut,
                      uint32_t outCapacity);
    uint32_t DeviceInfo(unsigned char* pOut, uint32_t outCapacity);
    uint32_t NameRequest(uint32_t propsCommand, int portOverride, const unsigned char* pIn, uint32_t inSize,
                         unsigned char* pOut, uint32_t outCapacity);
    uint32_t Vpd(const unsigned char* pIn, uint32_t inSize, unsigned char* pOut, uint32_t outCapacity);
    uint32_t I2c(uint32_t request, unsigned char* pBuf, uint32_t size);
    uint32_t EventWait(unsigned char* pOut, uint32_t outCapacity);
    uint32_t Block(uint32_t request, const unsigned char* pIn, uint32_t inSize, unsigned char* pOut,
                   uint32_t outCapacity);

    std::shared_ptr<SimCard> m_pCard;
    std::shared_ptr<SimNodeUsage> m_pUsage;
    uintptr_t m_EventQueue;
    uint64_t m_Requests = 0;
};
