#include "SimBlockModels.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "CritSecAutoLock.h"
#include "KxWire.h"
#include "SimDriverStatus.h"
#include "XpUtil.h"

namespace {

constexpr uint32_t OK = 0;

// Shared by the blocks: the RF input of a block is its port's.
const SimCarrier* PortCarrier(SimCard& card, int port)
{
    const std::vector<SimCarrier>* pCarriers = card.Scene().FindInput(port < 0 ? 0 : port);
    return pCarriers == nullptr || pCarriers->empty() ? nullptr : &pCarriers->front();
}

// I2C master: Write 1 {address, length, data}; WriteRead 2 {address, read length, write length,
// data} -> {count, data}. Talks to the card's I2C devices on the bus of the block's port.
class SimI2cMasterModel : public ISimBlockModel {
public:
    explicit SimI2cMasterModel(SimCard* pCard) : m_pCard(pCard) {}
    uint32_t Command(const SimBlock& block, uint32_t command, const unsigned char* pIn, uint32_t inSize,
                     unsigned char* pOut, uint32_t outCapacity) override
    {
        CritSecAutoLock lock(m_pCard->Lock());
        if (command == 1 && inSize >= 8) {
            const int length = KxGetI32(pIn, 4);
            if (length < 0 || static_cast<uint32_t>(length) > inSize - 8)
                return SIM_STATUS_INVALID_ARG;
            ISimI2cDevice* pDevice = m_pCard->I2cDevice(block.m_Port, KxGetI32(pIn, 0));
            return pDevice != nullptr && pDevice->Write(pIn + 8, length) ? OK : SIM_STATUS_NOT_FOUND;
        }
        if (command == 2 && inSize >= 12) {
            const int readLength = KxGetI32(pIn, 4);
            const int writeLength = KxGetI32(pIn, 8);
            if (readLength < 0 || writeLength < 0 || static_cast<uint32_t>(writeLength) > inSize - 12 ||
                4u + static_cast<uint32_t>(readLength) > outCapacity)
                return SIM_STATUS_INVALID_ARG;
            ISimI2cDevice* pDevice = m_pCard->I2cDevice(block.m_Port, KxGetI32(pIn, 0));
            if (pDevice == nullptr)
                return SIM_STATUS_NOT_FOUND;
            std::vector<unsigned char> written(pIn + 12, pIn + 12 + writeLength);
            std::vector<unsigned char> data(static_cast<size_t>(readLength));
            if ((writeLength > 0 && !pDevice->Write(written.data(), writeLength)) ||
                !pDevice->Read(data.data(), readLength))
                return SIM_STATUS_NOT_FOUND;
            KxPutU32(pOut, 0, static_cast<uint32_t>(readLength));
            if (readLength > 0)
                memcpy(pOut + 4, data.data(), data.size());
            return OK;
        }
        return SIM_STATUS_NOT_SUPPORTED;
    }

private:
    SimCard* m_pCard;
};

// Receive DMA channel: a ring in the caller's memory that the model fills, as time passes, with
// the samples its source produces for the block's port (4 bytes per sample: I, Q as int16).
// The ring state has its own lock: a source may take the card's.
class SimDmaChannelModel : public ISimBlockModel {
public:
    explicit SimDmaChannelModel(std::shared_ptr<ISimSampleSource> pSource) : m_pSource(std::move(pSource)) {}
    uint32_t Command(const SimBlock& block, uint32_t command, const unsigned char* pIn, uint32_t inSize,
                     unsigned char* pOut, uint32_t outCapacity) override
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        Ring& ring = m_Rings[block.m_Uuid];
        switch (command) {
        case 0: // AllocateBuffer {direction, size, u64 address}
            if (inSize < 16 || KxGetU32(pIn, 0) != 0 || KxGetU32(pIn, 4) == 0 || KxGetU32(pIn, 4) % GRANULE != 0)
                return SIM_STATUS_INVALID_ARG;
            ring = Ring();
            ring.m_pMemory = reinterpret_cast<unsigned char*>(static_cast<uintptr_t>(KxGetU64(pIn, 8)));
            ring.m_Size = KxGetU32(pIn, 4);
            return ring.m_pMemory == nullptr ? SIM_STATUS_INVALID_ARG : OK;
        case 1:
            ring = Ring();
            return OK;
        case 2: // GetProperties -> {capabilities, granularity}
            if (outCapacity < 8)
                return SIM_STATUS_BUF_TOO_SMALL;
            KxPutU32(pOut, 0, 1);
            KxPutU32(pOut, 4, GRANULE / 4096);
            return OK;
        case 3: // GetRxWriteOffset
            if (outCapacity < 4)
                return SIM_STATUS_BUF_TOO_SMALL;
            Produce(block, ring);
            KxPutU32(pOut, 0, ring.m_Write);
            return OK;
        case 4:
            if (inSize < 4 || ring.m_Size == 0 || KxGetU32(pIn, 0) >= ring.m_Size)
                return SIM_STATUS_INVALID_ARG;
            ring.m_Read = KxGetU32(pIn, 0);
            return OK;
        case 5:
        case 6:
            if (command == 6)
                ring.m_Write = ring.m_Read;
            return OK;
        case 10:
            if (inSize < 4 || KxGetU32(pIn, 0) > 2)
                return SIM_STATUS_INVALID_ARG;
        {
            const bool running = KxGetU32(pIn, 0) == 2;
            if (running && !ring.m_Running)
                ring.m_Write = ring.m_Read; // a channel starts empty, at its read offset
            ring.m_Running = running;
            ring.m_LastTick = XpUtil::GetTickCount();
            return OK;
        }
        default:
            return SIM_STATUS_NOT_SUPPORTED;
        }
    }

private:
    static constexpr uint32_t GRANULE = 4096;
    struct Ring {
        unsigned char* m_pMemory = nullptr;
        uint32_t m_Size = 0;
        uint32_t m_Read = 0;
        uint32_t m_Write = 0;
        bool m_Running = false;
        unsigned int m_LastTick = 0;
        uint64_t m_Produced = 0;    // bytes written since the ring was set up
        uint64_t m_RealTimeDue = 0; // bytes a real-time channel would have written by now
    };

    void Produce(const SimBlock& block, Ring& ring)
    {
        const unsigned int now = XpUtil::GetTickCount();
        const unsigned int elapsedMs = now - ring.m_LastTick;
        ring.m_LastTick = now;
        if (!ring.m_Running || ring.m_Size == 0 || !m_pSource->Running(block.m_Port))
            return;
        const uint64_t bytesPerMs = static_cast<uint64_t>(m_pSource->SampleRateHz()) * 4 / 1000;
        const uint64_t due = static_cast<uint64_t>(elapsedMs) * bytesPerMs;
        const uint32_t load = (ring.m_Size - ring.m_Read + ring.m_Write) % ring.m_Size;
        const uint32_t room = ring.m_Size - 4 - load; // never catch up with the reader
        uint64_t bytes = 0;
        if (m_pSource->AheadOfRealTime()) {
            // The ring is kept full; what real time would have delivered beyond what the reader
            // took (or flushed) and the ring holds is what a real channel would have lost.
            const uint64_t taken = ring.m_Produced - load;
            ring.m_RealTimeDue = std::max(ring.m_RealTimeDue, taken) + due; // no credit for reading early
            if (ring.m_RealTimeDue > taken + ring.m_Size) {
                m_pSource->Overflow(block.m_Port);
                ring.m_RealTimeDue = taken + ring.m_Size;
            }
            bytes = room & ~3ull;
        } else {
            if (due > room)
                m_pSource->Overflow(block.m_Port);
            bytes = std::min<uint64_t>(due, room) & ~3ull;
        }
        if (bytes == 0)
            return;
        m_Samples.resize(static_cast<size_t>(bytes / 4));
        m_pSource->Produce(block.m_Port, m_Samples.data(), static_cast<int>(m_Samples.size()));
        // Little-endian words, I in the low half: the layout of SimIqSample on this machine.
        static_assert(sizeof(SimIqSample) == 4, "one 32-bit word per sample");
        const uint32_t first = std::min<uint32_t>(static_cast<uint32_t>(bytes), ring.m_Size - ring.m_Write);
        memcpy(ring.m_pMemory + ring.m_Write, m_Samples.data(), first);
        memcpy(ring.m_pMemory, reinterpret_cast<const unsigned char*>(m_Samples.data()) + first,
               static_cast<uint32_t>(bytes) - first);
        ring.m_Write = (ring.m_Write + static_cast<uint32_t>(bytes)) % ring.m_Size;
        ring.m_Produced += bytes;
        if (m_pSource->AheadOfRealTime())
            ring.m_LastTick = XpUtil::GetTickCount(); // the card's own time to make samples is no reader's delay
    }

    std::shared_ptr<ISimSampleSource> m_pSource;
    std::mutex m_Lock;
    std::map<uint32_t, Ring> m_Rings;
    std::vector<SimIqSample> m_Samples;
};

// The generic channel's source: the first carrier of the port's input at 8 MS/s, always running.
class SimPortCarrierSource : public ISimSampleSource {
public:
    explicit SimPortCarrierSource(SimCard* pCard) : m_pCard(pCard) {}
    int64_t SampleRateHz() override { return 8000000; }
    bool Running(int) override { return true; }
    void Produce(int port, SimIqSample* pOut, int n) override
    {
        CritSecAutoLock lock(m_pCard->Lock());
        const SimCarrier* pCarrier = PortCarrier(*m_pCard, port);
        std::vector<SimIqSample> samples;
        if (pCarrier != nullptr)
            samples = SimRf::IqBlock(*pCarrier, pCarrier->m_FreqHz, SampleRateHz(), n, m_pCard->Random());
        samples.resize(static_cast<size_t>(n), SimIqSample{0, 0});
        std::copy(samples.begin(), samples.end(), pOut);
    }

private:
    SimCard* m_pCard;
};

// The remaining blocks keep what they are told and answer zeros of the asked size: enough for
// the receiver layers to configure them.
class SimSettingsModel : public ISimBlockModel {
public:
    uint32_t Command(const SimBlock&, uint32_t, const unsigned char*, uint32_t, unsigned char* pOut,
                     uint32_t outCapacity) override
    {
        memset(pOut, 0, outCapacity);
        return OK;
    }
};

} // namespace

void SimInstallBlockDriverModels(SimCard& card)
{
    card.SetBlockModel(KX_BC_I2CM, false, new SimI2cMasterModel(&card));
    card.SetBlockModel(KX_BC_CDMAC, false, SimNewDmaChannelModel(std::make_shared<SimPortCarrierSource>(&card)));
    for (KxDriverTypeCode code : {KX_BC_SPIM, KX_BC_BURSTFIFO})
        card.SetBlockModel(code, false, new SimSettingsModel());
}

ISimBlockModel* SimNewDmaChannelModel(std::shared_ptr<ISimSampleSource> pSource)
{
    return new SimDmaChannelModel(std::move(pSource));
}

ISimBlockModel* SimNewSettingsModel()
{
    return new SimSettingsModel();
}
