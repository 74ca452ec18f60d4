#include "Sim3470FrameStats.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <map>

#include "CritSecAutoLock.h"
#include "DvbS2ModCod.h"
#include "DvbS2Pls.h"
#include "KxWire.h"
#include "Sim3470Blocks.h"
#include "SimDriverStatus.h"
#include "XpUtil.h"

using namespace Kxapi;

namespace Sim3470Frames {

int PlsOfModCod(int modCod, int constellation)
{
    if (modCod >= 1 && modCod <= 28)
        return modCod << 2;
    if (modCod >= 128 && modCod <= 255)
        return modCod;
    switch (constellation) {
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

int PlsOf(const SimCarrier& carrier)
{
    return PlsOfModCod(carrier.m_ModCod, carrier.m_Constellation);
}

int StreamPls(const SimCarrier& carrier, size_t stream, uint32_t frameOfStream)
{
    if (carrier.m_Coding == "CCM" || stream >= carrier.m_StreamModCods.size())
        return PlsOf(carrier);
    const int streamPls = PlsOfModCod(carrier.m_StreamModCods[stream], carrier.m_Constellation);
    if (carrier.m_Coding == "ACM" && frameOfStream % 2 == 1)
        return PlsOf(carrier);
    return streamPls;
}

int FrameSymbols(int pls)
{
    const ModCodListItem* pItem = FindModCod(pls);
    const int bits = pItem == nullptr ? 2 : BitsPerModType(pItem->m_ModType);
    const int frameBits = pItem != nullptr && pItem->m_FrameType == MODCOD_FRAME_SHORT ? 16200 : 64800;
    const int slots = (frameBits + 90 * bits - 1) / (90 * bits);
    int symbols = 90 * (slots + 1);
    if (pItem != nullptr && pItem->m_Pilots)
        symbols += 36 * ((slots - 1) / 16);
    return symbols;
}

double FramesPerSecond(const SimCarrier& carrier)
{
    return carrier.m_SymbolRateBd > 0 ? static_cast<double>(carrier.m_SymbolRateBd) / FrameSymbols(PlsOf(carrier))
                                      : 0.0;
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
        double m_SymbolDebt = 0.0; // symbols received but not yet a whole frame
        size_t m_NextStream = 0;
        std::map<int, uint32_t> m_StreamFrames; // frames sent per ISI
        std::map<std::pair<int, int>, uint32_t> m_FrameNumbers;
    };

    // Adds the reports of the frames received since the last call: the frames of the carrier
    // under the input's tuned frequency while the demodulator is locked on it, each stream's
    // frames with its own PLS code.
    void Produce(const SimBlock& block, State& s)
    {
        const unsigned int now = XpUtil::GetTickCount();
        const unsigned int last = s.m_Started ? s.m_LastTick : now;
        s.m_Started = true;
        s.m_LastTick = now;
        const int input = block.m_Port < 0 ? 0 : block.m_Port;
        const SimCarrier* pCarrier = m_pCard->Scene().CarrierAt(input, m_pCard->TunedHz(input));
        unsigned int lockedSinceMs = 0;
        if (s.m_Mode != 2 || pCarrier == nullptr || pCarrier->m_Standard.rfind("DVB-S2", 0) != 0 ||
            pCarrier->m_SymbolRateBd <= 0 || !Sim3470DemodLockedSince(*m_pCard, input, lockedSinceMs)) {
            s.m_SymbolDebt = 0.0;
            return;
        }
        // Received since the last call or since the lock, whichever is later.
        const unsigned int receivedMs = static_cast<int>(lockedSinceMs - last) > 0 ? now - lockedSinceMs : now - last;
        s.m_SymbolDebt += static_cast<double>(pCarrier->m_SymbolRateBd) * receivedMs / 1000.0;
        const std::vector<int>& streams = pCarrier->m_StreamIds;
        const uint32_t maType = 0xC0 | (streams.size() > 1 ? 0x20u : 0u) | (pCarrier->m_Coding == "CCM" ? 0x10u : 0u) |
                                (pCarrier->m_RollOffPercent >= 35   ? 0u
                                 : pCarrier->m_RollOffPercent >= 25 ? 1u
                                 : pCarrier->m_RollOffPercent >= 20 ? 2u
                                                                    : 3u);
        SimRandom& random = m_pCard->Random();
        // At most what overflows the block plus one: a long silence costs no time.
        for (size_t produced = 0;; produced++) {
            if (produced > Sim3470Frames::CAPACITY) {
                s.m_SymbolDebt = 0.0;
                break;
            }
            const size_t stream = streams.empty() ? 0 : s.m_NextStream % streams.size();
            const int isi = streams.empty() ? 0 : streams[stream] & 0xFF;
            const int pls = Sim3470Frames::StreamPls(*pCarrier, stream, s.m_StreamFrames[isi]);
            const int frameSymbols = Sim3470Frames::FrameSymbols(pls);
            if (s.m_SymbolDebt < frameSymbols)
                break;
            s.m_SymbolDebt -= frameSymbols;
            s.m_NextStream++;
            s.m_StreamFrames[isi]++;
            AddReport(s, *pCarrier, isi, pls, maType, random);
        }
    }

    void AddReport(State& s, const SimCarrier& carrier, int isi, int pls, uint32_t maType, SimRandom& random)
    {
        const ModCodListItem* pItem = FindModCod(pls);
        const uint32_t frameBits = pItem != nullptr && pItem->m_FrameType == MODCOD_FRAME_SHORT ? 16200 : 64800;
        const double merDb = SimRf::MerDb(carrier, random);
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
        const double ber = SimRf::BerFromMer(merDb, std::max(4, carrier.m_Constellation));
        report.m_CorrectedBits = static_cast<uint32_t>(std::lround(ber * frameBits));
        report.m_FrameNumber = ++s.m_FrameNumbers[{isi, pls}];
        if (s.m_Reports.size() >= Sim3470Frames::CAPACITY) {
            s.m_Overflow = true;
            s.m_Lost++;
            return;
        }
        s.m_Reports.push_back(report);
    }

    SimCard* m_pCard;
    std::map<uint32_t, State> m_States;
};

} // namespace

ISimBlockModel* SimNew3470FrameStatsModel(SimCard& card)
{
    return new Sim3470FrameStatsModel(&card);
}
