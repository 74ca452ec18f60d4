// Protocol abstraction layers over block proxies: the transparent PAL (a plain copy of a proxy)
// and the receive-side PALs of the DMA channel and the burst FIFO, which keep library state.
#pragma once

#include <map>

#include "KxProxy.h"
#include "KxProxyBlocks.h"

class KxPal {
public:
    virtual ~KxPal() = default;
};

// Both a PAL and a copy of proxy P (same driver, type, role, port and instance id).
template <class P>
class KxPalTransparent : public KxPal, public P {
public:
    explicit KxPalTransparent(const P& proxy) : P(proxy) {}
};

class KxPalCollection {
public:
    ~KxPalCollection() { DeletePals(); }
    KxPal* Get(const KxProxyId& id) const;
    void Add(const KxProxyId& id, KxPal* pal) { m_Pals[id] = pal; }
    void DeletePal(const KxProxyId& id);
    void DeletePals();

private:
    std::map<KxProxyId, KxPal*> m_Pals;
};

// Receive DMA ring of the IQ stream.
class KxPalCDMAC_Rx : public KxPal {
public:
    static constexpr KxProxyType PROXY_TYPE = KX_PROXY_CDMAC;
    typedef KxProxyCDMAC Proxy;
    explicit KxPalCDMAC_Rx(const KxProxyCDMAC& proxy) : m_Proxy(proxy) {}
    ~KxPalCDMAC_Rx() override { CleanUp(); }

    // Allocates a ring of at least `size` bytes (whole allocation units) and hands it to the driver.
    KXAPI_RESULT Init(int size);
    // 1 starts the channel from read offset 0; any other value idles it.
    KXAPI_RESULT SetRxControl(int control);
    KXAPI_RESULT GetLoad(int& load);
    // Copies `n` bytes (a multiple of 4, at most the load) out of the ring.
    KXAPI_RESULT Read(unsigned char* buffer, int n);
    KXAPI_RESULT IssueChannelFlush();
    void CleanUp();
    int Size() const { return static_cast<int>(m_Size); }

private:
    KxProxyCDMAC m_Proxy;
    unsigned char* m_pBuffer = nullptr;
    uint32_t m_Size = 0;
    uint32_t m_ReadOffset = 0;
    int m_Control = 0;
};

// Receive-side burst FIFO with latched overflow/underflow flags.
class KxPalBURSTFIFO_Rx : public KxPal {
public:
    static constexpr KxProxyType PROXY_TYPE = KX_PROXY_BURSTFIFO;
    typedef KxProxyBURSTFIFO Proxy;
    explicit KxPalBURSTFIFO_Rx(const KxProxyBURSTFIFO& proxy) : m_Proxy(proxy) {}
    // With bit 1 (value 2) set: takes the current count as reference and clears the flags.
    KXAPI_RESULT ClearFlags(int flags);
    bool Overflow() const { return m_Overflow; }
    bool Underflow() const { return m_Underflow; }
    uint32_t ReferenceCount() const { return m_ReferenceCount; }
    KxProxyBURSTFIFO& FifoProxy() { return m_Proxy; }

private:
    KxProxyBURSTFIFO m_Proxy;
    uint32_t m_ReferenceCount = 0;
    bool m_Overflow = false;
    bool m_Underflow = false;
};
