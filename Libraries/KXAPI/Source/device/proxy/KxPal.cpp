#include "KxPal.h"

#include <cstdlib>
#include <cstring>
#include <sys/mman.h>

namespace {

constexpr uint32_t PAGE_BYTES = 4096;
constexpr uint32_t CDMAC_CAP_RECEIVE = 1;
constexpr int MAX_RING_BYTES = 256 * 1024 * 1024;

} // namespace

KxPal* KxPalCollection::Get(const KxProxyId& id) const
{
    auto it = m_Pals.find(id);
    return it == m_Pals.end() ? nullptr : it->second;
}

void KxPalCollection::DeletePal(const KxProxyId& id)
{
    auto it = m_Pals.find(id);
    if (it != m_Pals.end()) {
        delete it->second;
        m_Pals.erase(it);
    }
}

void KxPalCollection::DeletePals()
{
    for (auto& entry : m_Pals)
        delete entry.second;
    m_Pals.clear();
}

KXAPI_RESULT KxPalCDMAC_Rx::Init(int size)
{
    if (size <= 0 || size > MAX_RING_BYTES)
        return KXAPI_E_INVALID_ARG;
    if (m_pBuffer != nullptr)
        return KXAPI_E_INIT_ERROR;
    KXAPI_RESULT result = m_Proxy.SetOperationalMode(0);
    if (KxapiFailed(result))
        return result;
    uint32_t capabilities = 0, granularity = 0;
    result = m_Proxy.GetProperties(capabilities, granularity);
    if (KxapiFailed(result))
        return result;
    if ((capabilities & CDMAC_CAP_RECEIVE) == 0)
        return KXAPI_E_NOT_SUPPORTED;
    uint32_t unit = (granularity == 0 ? 1 : granularity) * PAGE_BYTES;
    uint32_t rounded = (static_cast<uint32_t>(size) + unit - 1) / unit * unit;
    void* memory = nullptr;
    if (posix_memalign(&memory, PAGE_BYTES, rounded) != 0)
        return KXAPI_E_OUT_OF_MEM;
    memset(memory, 0, rounded);
    madvise(memory, rounded, MADV_DONTFORK);
    result = m_Proxy.AllocateBuffer(memory, rounded, 0);
    if (KxapiSucceeded(result))
        result = m_Proxy.SetTestMode(0);
    if (KxapiFailed(result)) {
        m_Proxy.FreeBuffer(0);
        madvise(memory, rounded, MADV_DOFORK);
        free(memory);
        return result;
    }
    m_pBuffer = static_cast<unsigned char*>(memory);
    m_Size = rounded;
    m_ReadOffset = 0;
    return KXAPI_OK;
}

KXAPI_RESULT KxPalCDMAC_Rx::SetRxControl(int control)
{
    if (m_pBuffer == nullptr)
        return control == 0 ? KXAPI_OK : KXAPI_E_NOT_INITIALIZED;
    if (control == m_Control)
        return KXAPI_OK;
    KXAPI_RESULT result;
    if (control == 1) {
        m_ReadOffset = 0;
        result = m_Proxy.SetRxReadOffset(0);
        if (KxapiSucceeded(result))
            result = m_Proxy.SetOperationalMode(2);
    } else {
        result = m_Proxy.SetOperationalMode(0);
    }
    if (KxapiSucceeded(result))
        m_Control = control == 1 ? 1 : control;
    return result;
}

KXAPI_RESULT KxPalCDMAC_Rx::GetLoad(int& load)
{
    load = 0;
    if (m_pBuffer == nullptr)
        return KXAPI_E_NOT_INITIALIZED;
    if (m_Control != 1)
        return KXAPI_OK;
    uint32_t writeOffset = 0;
    KXAPI_RESULT result = m_Proxy.GetRxWriteOffset(writeOffset);
    if (KxapiFailed(result))
        return result;
    if (writeOffset >= m_Size)
        return KXAPI_E_DEV_DRIVER;
    load = static_cast<int>((m_Size - m_ReadOffset + writeOffset) % m_Size);
    return KXAPI_OK;
}

KXAPI_RESULT KxPalCDMAC_Rx::Read(unsigned char* buffer, int n)
{
    if (m_pBuffer == nullptr)
        return KXAPI_E_NOT_INITIALIZED;
    if (m_Control != 1)
        return KXAPI_E_IDLE;
    int load = 0;
    KXAPI_RESULT result = GetLoad(load);
    if (KxapiFailed(result))
        return result;
    if (n < 0 || (n % 4) != 0 || n > load)
        return KXAPI_E_INVALID_SIZE;
    if (buffer == nullptr || (reinterpret_cast<uintptr_t>(buffer) & 3) != 0)
        return KXAPI_E_INVALID_BUF;
    uint32_t first = m_Size - m_ReadOffset;
    if (first > static_cast<uint32_t>(n))
        first = static_cast<uint32_t>(n);
    memcpy(buffer, m_pBuffer + m_ReadOffset, first);
    memcpy(buffer + first, m_pBuffer, static_cast<uint32_t>(n) - first);
    m_ReadOffset = (m_ReadOffset + static_cast<uint32_t>(n)) % m_Size;
    return m_Proxy.SetRxReadOffset(m_ReadOffset);
}

KXAPI_RESULT KxPalCDMAC_Rx::IssueChannelFlush()
{
    return m_Proxy.IssueChannelFlush();
}

void KxPalCDMAC_Rx::CleanUp()
{
    if (m_pBuffer == nullptr)
        return;
    m_Proxy.SetOperationalMode(0);
    m_Proxy.FreeBuffer(0);
    madvise(m_pBuffer, m_Size, MADV_DOFORK);
    free(m_pBuffer);
    m_pBuffer = nullptr;
    m_Size = 0;
    m_Control = 0;
}

KXAPI_RESULT KxPalBURSTFIFO_Rx::ClearFlags(int flags)
{
    if ((flags & 2) == 0)
        return KXAPI_OK;
    uint32_t count = 0;
    KXAPI_RESULT result = m_Proxy.GetOverUnderflowCount(count);
    if (KxapiFailed(result))
        return result;
    m_ReferenceCount = count;
    m_Overflow = false;
    m_Underflow = false;
    return KXAPI_OK;
}
