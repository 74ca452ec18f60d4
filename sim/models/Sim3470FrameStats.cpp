#include "Sim3470FrameStats.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <map>

#include "CritSecAutoLock.h"
#include "DvbS2ModCod.h"
#include "DvbS2Pls.h"
#include "KxWire.h"
#include "SimDriverStatus.h"
#include "XpUtil.h"

using namespace Kxapi;

namespace Sim3470Frames {

int PlsOf(const SimCarrier& carrier)
{
    if (carrier.m_ModCod >= 1 && carrier.m_ModCod <= 28)
        return carrier.m_ModCod << 2;
    if (carrier.m_ModCod >= 128 && carrier.m_ModCod <= 255)
        return carrier.m_ModCod;
    switch (carrier.m_Constellation) {
    case 8:
        return 13 << 2;
    case 16:
        return 19 << 2;
    case 32:
        return 24 << 2;
    default:
        return 7 << 2;
    }
}

double FramesPerSecond(const SimCarrier& carrier)
{
    const ModCodListItem* pItem = FindModCod(PlsOf(carrier));
    const int bits = pItem == nullptr ? 2 : BitsPerModType(pItem->m_ModType);
    const int frameBits = pItem != nullptr && pItem->m_FrameType == MODCOD_FRAME_SHORT ? 16200 : 64800;
    const int slots = (frameBits + 90 * bits - 1) / (90 * bits);
    int symbols = 90 * (slots + 1);
    if (pItem != nullptr && pItem->m_Pilots)
        symbols += 36 * ((slots - 1) / 16);
    return carrier.m_SymbolRateBd > 0 ? static_cast<double>(carrier.m_SymbolRateBd) / symbols : 0.0;
}

double LdpcFailureProbability(int pls, double merDb)
{
    const ModCodListItem* pItem = FindModCod(pls);
    if (pItem == nullptr)
        return 1.0;
    const double margin = merDb - pItem->m_IdealEsN0Db;
    return 0.5 * std::erfc((margin + 0.6) / 0.12 / std::sqrt(2.0));
}

} // namespace Sim3470Frames

namespace {

constexpr uint32_t OK = 0;
constexpr uint32_t LDPC_FAILED = 0x1;
constexpr uint32_t BCH_FAILED = 0x2;
// A frame the LDPC decoder gave up on keeps errors the BCH code cannot correct, mostly.
constexpr double BCH_FAILS_AFTER_LDPC = 0.9;

class Sim3470FrameStatsModel : public ISimBlockModel {
public:
    explicit Sim3470FrameStatsModel(SimCard* pCard) : m_pCard(pCard) {}

    uint32_t Command(const SimBlock& block, uint32_t command, const unsigned char* pIn, uint32_t inSize,
                     unsigned char* pOut, uint32_t outCapacity) override
    {
        CritSecAutoLock lock(m_pCard->Lock());
        State& s = m_States[block.m_Uuid];
        switch (command) {
        case 0:
            if (inSize < 4 || KxGetU32(pIn, 0) > 2)
                return SIM_STATUS_INVALID_ARG;
            s.m_Mode = static_cast<int>(KxGetU32(pIn, 0));
            return OK;
        case 1:
            Produce(block, s);
            s.m_Reports.clear();
            s.m_Lost = 0;
            s.m_Overflow = false;
            return OK;
        case 2:
            if (outCapacity < 12)
                return SIM_STATUS_BUF_TOO_SMALL;
            Produce(block, s);
            KxPutU32(pOut, 0, static_cast<uint32_t>(s.m_Reports.size()));
            KxPutU32(pOut, 4, s.m_Lost);
            KxPutU32(pOut, 8, s.m_Overflow ? 1 : 0);
            return OK;
        case 3: {
            if (inSize < 4 || outCapacity < 4)
                return SIM_STATUS_INVALID_ARG;
            Produce(block, s);
            const size_t room = (outCapacity - 4) / 16;
            const size_t n = std::min<size_t>({KxGetU32(pIn, 0), room, s.m_Reports.size()});
            KxPutU32(pOut, 0, static_cast<uint32_t>(n));
            for (size_t i = 0; i < n; i++) {
                const Report& r = s.m_Reports.front();
                const unsigned int at = static_cast<unsigned int>(4 + 16 * i);
                KxPutU32(pOut, at, r.m_PlsWord);
                KxPutU32(pOut, at + 4, r.m_Flags);
                KxPutU32(pOut, at + 8, r.m_CorrectedBits);
                KxPutU32(pOut, at + 12, r.m_FrameNumber);
                s.m_Reports.pop_front();
            }
            return OK;
        }
        default:
            return SIM_STATUS_NOT_SUPPORTED;
        }
    }

private:
    struct Report {
        uint32_t m_PlsWord;
        uint32_t m_Flags;
        uint32_t m_CorrectedBits;
        uint32_t m_FrameNumber;
    };
    struct State {
        int m_Mode = 2; // the block runs from power-on
        std::deque<Report> m_Reports;
        uint32_t m_Lost = 0;
        bool m_Overflow = false;
        unsigned int m_LastTick = 0;
        bool m_Started = false;
        double m_FrameDebt = 0.0; // fraction of a frame carried to the next production
        size_t m_NextStream = 0;
        std::map<std::pair<int, int>, uint32_t> m_FrameNumbers;
    };

    // The carrier the block's demodulator receives: the one under the input's tuned frequency,
    // or the input's first carrier before anything tuned it.
    const SimCarrier* Carrier(const SimBlock& block)
    {
        const int input = block.m_Port < 0 ? 0 : block.m_Port;
        const int64_t tunedHz = m_pCard->TunedHz(input);
        if (tunedHz > 0)
            return m_pCard->Scene().CarrierAt(input, tunedHz);
        const std::vector<SimCarrier>* pCarriers = m_pCard->Scene().FindInput(input);
        return pCarriers == nullptr || pCarriers->empty() ? nullptr : &pCarriers->front();
    }

    // Adds the reports of the frames received since the last call.
    void Produce(const SimBlock& block, State& s)
    {
        const unsigned int now = XpUtil::GetTickCount();
        const unsigned int elapsedMs = s.m_Started ? now - s.m_LastTick : 0;
        s.m_Started = true;
        s.m_LastTick = now;
        const SimCarrier* pCarrier = Carrier(block);
        if (s.m_Mode != 2 || pCarrier == nullptr || pCarrier->m_Standard.rfind("DVB-S2", 0) != 0 ||
            pCarrier->m_CnDb < SimRf::RequiredCnDb(*pCarrier)) {
            s.m_FrameDebt = 0.0;
            return;
        }
        // At most what overflows the block plus one: a long silence costs no time.
        const double due = std::min(s.m_FrameDebt + Sim3470Frames::FramesPerSecond(*pCarrier) * elapsedMs / 1000.0,
                                    static_cast<double>(Sim3470Frames::CAPACITY + 1));
        const int frames = static_cast<int>(due);
        s.m_FrameDebt = due - frames;
        const int pls = Sim3470Frames::PlsOf(*pCarrier);
        const ModCodListItem* pItem = FindModCod(pls);
        const uint32_t frameBits = pItem != nullptr && pItem->m_FrameType == MODCOD_FRAME_SHORT ? 16200 : 64800;
        const std::vector<int>& streams = pCarrier->m_StreamIds;
        const uint32_t maType = 0xC0 | (streams.size() > 1 ? 0x20u : 0u) | 0x10u |
                                (pCarrier->m_RollOffPercent >= 35   ? 0u
                                 : pCarrier->m_RollOffPercent >= 25 ? 1u
                                 : pCarrier->m_RollOffPercent >= 20 ? 2u
                                                                    : 3u);
        SimRandom& random = m_pCard->Random();
        for (int f = 0; f < frames; f++) {
            const int isi = streams.empty() ? 0 : streams[s.m_NextStream++ % streams.size()] & 0xFF;
            const double merDb = SimRf::MerDb(*pCarrier, random);
            Report report;
            report.m_PlsWord = static_cast<uint32_t>(pls) | static_cast<uint32_t>(isi) << 8 | maType << 16;
            const double figure = std::clamp(std::round((merDb + 1.0) * 8.0) + 1.0, 1.0, 65535.0);
            report.m_Flags = static_cast<uint32_t>(figure) << 16;
            if (random.Uniform() < Sim3470Frames::LdpcFailureProbability(pls, merDb)) {
                report.m_Flags |= LDPC_FAILED;
                if (random.Uniform() < BCH_FAILS_AFTER_LDPC)
                    report.m_Flags |= BCH_FAILED;
            }
            // The raw bit errors of the frame, as many as the decoder saw (corrected or not).
            const double ber = SimRf::BerFromMer(merDb, std::max(4, pCarrier->m_Constellation));
            report.m_CorrectedBits = static_cast<uint32_t>(std::lround(ber * frameBits));
            report.m_FrameNumber = ++s.m_FrameNumbers[{isi, pls}];
            if (s.m_Reports.size() >= Sim3470Frames::CAPACITY) {
                s.m_Overflow = true;
                s.m_Lost++;
                continue;
            }
            s.m_Reports.push_back(report);
        }
    }

    SimCard* m_pCard;
    std::map<uint32_t, State> m_States;
};

} // namespace

ISimBlockModel* SimNew3470FrameStatsModel(SimCard& card)
{
    return new Sim3470FrameStatsModel(&card);
}
