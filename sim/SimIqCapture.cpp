// The 3470's I/Q capture path on the virtual card: a burst FIFO (SetOperationalMode 0 {mode},
// GetOverUnderflowCount 1 -> {count}) in front of a receive DMA channel that carries 160 MS/s
// of what the tuner of the port's RF input sees. The channel runs ahead of real time (a reader
// gets samples as fast as it takes them; it overflows only when it falls behind 160 MS/s by
// more than the ring holds), and a carrier's shaped waveform is made once and kept.
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <tuple>
#include <utility>
#include <vector>

#include "CritSecAutoLock.h"
#include "KxWire.h"
#include "SimBlockModels.h"
#include "SimDriverStatus.h"

namespace {

constexpr uint32_t OK = 0;
constexpr int64_t CAPTURE_RATE_HZ = 160000000;
// Receiver noise with no carrier under the tuned frequency (rms per component, LSB).
constexpr double RECEIVER_NOISE_LSB = 64.0;

// Per port: the FIFO's mode and overflow count, and the sample stream of the current tuning.
class SimIqCaptureSource : public ISimSampleSource {
public:
    explicit SimIqCaptureSource(SimCard* pCard) : m_pCard(pCard) {}

    int64_t SampleRateHz() override { return CAPTURE_RATE_HZ; }
    bool AheadOfRealTime() override { return true; }

    bool Running(int port) override
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        return m_Ports[port].m_FifoMode == 2;
    }

    void Overflow(int port) override
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        m_Ports[port].m_Overflows++;
    }

    void Produce(int port, SimIqSample* pOut, int n) override
    {
        const Tuning tuning = CurrentTuning(port);
        std::lock_guard<std::mutex> lock(m_Lock);
        Port& state = m_Ports[port];
        if (state.m_pStream == nullptr || !(state.m_Tuning == tuning)) {
            state.m_Tuning = tuning;
            state.m_pStream = NewStream(tuning, Waveform(tuning));
        }
        state.m_pStream->Produce(pOut, n);
    }

    uint32_t FifoCommand(const SimBlock& block, uint32_t command, const unsigned char* pIn, uint32_t inSize,
                         unsigned char* pOut, uint32_t outCapacity)
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        Port& state = m_Ports[block.m_Port];
        switch (command) {
        case 0:
            if (inSize < 4 || KxGetU32(pIn, 0) > 2)
                return SIM_STATUS_INVALID_ARG;
            state.m_FifoMode = static_cast<int>(KxGetU32(pIn, 0));
            return OK;
        case 1:
            if (outCapacity < 4)
                return SIM_STATUS_BUF_TOO_SMALL;
            KxPutU32(pOut, 0, state.m_Overflows);
            return OK;
        default:
            return SIM_STATUS_NOT_SUPPORTED;
        }
    }

private:
    // What the samples depend on: the tuned frequency and the carrier under it.
    struct Tuning {
        int64_t m_TunedHz = 0;
        bool m_HasCarrier = false;
        SimCarrier m_Carrier;
        bool operator==(const Tuning& o) const
        {
            if (m_TunedHz != o.m_TunedHz || m_HasCarrier != o.m_HasCarrier)
                return false;
            if (!m_HasCarrier)
                return true;
            const SimCarrier& a = m_Carrier;
            const SimCarrier& b = o.m_Carrier;
            return a.m_FreqHz == b.m_FreqHz && a.m_SymbolRateBd == b.m_SymbolRateBd &&
                   a.m_BandwidthHz == b.m_BandwidthHz && a.m_RollOffPercent == b.m_RollOffPercent &&
                   a.m_CnDb == b.m_CnDb && a.m_Constellation == b.m_Constellation;
        }
    };
    struct Port {
        int m_FifoMode = 0;
        uint32_t m_Overflows = 0;
        Tuning m_Tuning;
        std::unique_ptr<SimIqStream> m_pStream;
    };

    Tuning CurrentTuning(int port)
    {
        Tuning tuning;
        tuning.m_TunedHz = m_pCard->TunedHz(port);
        CritSecAutoLock lock(m_pCard->Lock());
        if (const SimCarrier* pCarrier = m_pCard->Scene().CarrierAt(port, tuning.m_TunedHz)) {
            tuning.m_HasCarrier = true;
            tuning.m_Carrier = *pCarrier;
        }
        return tuning;
    }

    // The cached waveform of the tuning's carrier (made on first use, under the source's lock);
    // null without a carrier.
    std::shared_ptr<const SimIqWaveform> Waveform(const Tuning& tuning)
    {
        if (!tuning.m_HasCarrier)
            return nullptr;
        const SimCarrier& c = tuning.m_Carrier;
        const WaveformKey key{c.m_FreqHz, c.m_SymbolRateBd, c.m_BandwidthHz, c.m_RollOffPercent, c.m_Constellation};
        for (const auto& entry : m_Waveforms)
            if (entry.first == key)
                return entry.second;
        if (m_Waveforms.size() == MAX_WAVEFORMS)
            m_Waveforms.erase(m_Waveforms.begin());
        const uint64_t seed = 0x5EEDull ^ static_cast<uint64_t>(c.m_FreqHz) * 0x9E3779B97F4A7C15ull;
        m_Waveforms.emplace_back(key, std::make_shared<const SimIqWaveform>(c, CAPTURE_RATE_HZ, seed));
        return m_Waveforms.back().second;
    }

    // Reproducible for a tuning: the stream's noise is seeded from it.
    static std::unique_ptr<SimIqStream> NewStream(const Tuning& tuning, std::shared_ptr<const SimIqWaveform> pWaveform)
    {
        const uint64_t seed = 0x1C0FFEEull ^ (static_cast<uint64_t>(tuning.m_TunedHz) * 0x9E3779B97F4A7C15ull) ^
                              static_cast<uint64_t>(tuning.m_Carrier.m_FreqHz);
        if (tuning.m_HasCarrier)
            return std::make_unique<SimIqStream>(std::move(pWaveform), tuning.m_Carrier, tuning.m_TunedHz,
                                                 CAPTURE_RATE_HZ, seed);
        return std::make_unique<SimIqStream>(RECEIVER_NOISE_LSB, seed);
    }

    // What a carrier's waveform depends on.
    using WaveformKey = std::tuple<int64_t, int64_t, int64_t, int, int>;
    // Kept waveforms (16 MiB each), oldest first.
    static constexpr size_t MAX_WAVEFORMS = 4;

    SimCard* m_pCard;
    std::mutex m_Lock;
    std::map<int, Port> m_Ports;
    std::vector<std::pair<WaveformKey, std::shared_ptr<const SimIqWaveform>>> m_Waveforms;
};

class SimBurstFifoModel : public ISimBlockModel {
public:
    explicit SimBurstFifoModel(std::shared_ptr<SimIqCaptureSource> pSource) : m_pSource(std::move(pSource)) {}
    uint32_t Command(const SimBlock& block, uint32_t command, const unsigned char* pIn, uint32_t inSize,
                     unsigned char* pOut, uint32_t outCapacity) override
    {
        return m_pSource->FifoCommand(block, command, pIn, inSize, pOut, outCapacity);
    }

private:
    std::shared_ptr<SimIqCaptureSource> m_pSource;
};

} // namespace

void SimNewIqCaptureModels(SimCard& card, ISimBlockModel*& pDmaChannel, ISimBlockModel*& pBurstFifo)
{
    auto pSource = std::make_shared<SimIqCaptureSource>(&card);
    pDmaChannel = SimNewDmaChannelModel(pSource);
    pBurstFifo = new SimBurstFifoModel(pSource);
}
