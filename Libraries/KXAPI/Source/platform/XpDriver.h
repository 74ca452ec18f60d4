// One opened driver node with the request packing rules and the asynchronous event wait.
#pragma once

#include <atomic>
#include <cstdint>

#include "XpDriverNode.h"
#include "KxNonCopyable.h"

// A decoded driver event: event id (4 power, 8, 16, 0x80000000) with its two values.
struct KxDriverEvent {
    uint32_t m_Event = 0;
    uint32_t m_Value = 0;
    uint32_t m_Value2 = 0;
};

class XpDriver : private KxNonCopyable {
public:
    XpDriver() = default;
    ~XpDriver() { Close(); }

    // Opens node `index` of `family`; KXAPI_E_NOT_FOUND when it does not exist.
    KXAPI_RESULT Open(KxDriverFamily family, int index);
    void Close();
    bool IsOpen() const { return m_pNode != nullptr; }
    KxDriverFamily Family() const { return m_Family; }
    int Index() const { return m_Index; }

    // Issues `request`. For type bytes 0xAF, 0xBC, 0xBD and 0xCD the input is preceded by the
    // 8-byte header {input size, output capacity}. `outSize` is the output capacity in and the
    // output size out. -1 from the driver is KXAPI_E_COMMUNICATION (errno in `errNo`); another
    // non-zero value is a negated status word, converted, and passed raw in `errNo`.
    KXAPI_RESULT IoCtl(uint32_t request, const void* input, uint32_t inputSize, void* output = nullptr,
                       uint32_t* outSize = nullptr, int* errNo = nullptr);
    // Maps the node's register window; KXAPI_E_OUT_OF_MEM on failure.
    KXAPI_RESULT MapMemory(uint32_t length, void*& memory);
    void UnmapMemory();

    // Waits for one event with `request` (one of the three event-wait requests), asleep until
    // the driver has one, and ends with KXAPI_E_CANCELLED once `cancel` is set and WakeWaiters
    // called. The block driver's request carries the block header.
    KXAPI_RESULT WaitEvent(uint32_t request, const std::atomic<bool>& cancel, KxDriverEvent& event);
    // Ends every event wait on the opened node, in progress or to come (set `cancel` first);
    // callable from another thread while the node stays open.
    void WakeWaiters();

    static bool HasSizeHeader(uint32_t request);
    // Decodes a 12-byte event record of `family`; false when the kind is not an event.
    static bool DecodeEvent(KxDriverFamily family, uint32_t kind, uint32_t value, uint32_t value2,
                            KxDriverEvent& event);

private:
    IXpDriverNode* m_pNode = nullptr;
    KxDriverFamily m_Family = KX_FAMILY_KXA;
    int m_Index = -1;
    void* m_pMapped = nullptr;
    uint32_t m_MappedLength = 0;
};
