// Codec cost of one statistics read of 20 statistics, both ends together: the client builds
// the request, the service parses it and builds the reply, the client checks and decodes the
// reply. Fixed-layout form (command 30, TStatPars records) against the generic XML form
// (command 38, "kxstat" lists). No FIFO is involved: this is the message work alone.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "DemodSvcGeneric.h"
#include "DemodSvcLayouts.h"
#include "DemodSvcProtocol.h"
#include "DemodSvcValidation.h"
#include "KxStatistic.h"
#include "Markup.h"

using namespace Kxapi;

namespace {

// Twenty statistics a satellite receiver reports: locks, levels, error rates.
const int32_t STAT_IDS[20] = {512, 513, 514, 515, 518, 1, 2, 5, 6, 10, 33, 34, 261, 262, 263, 272, 256, 257, 264, 267};

// The service's answer for one statistic: a plausible value of its type.
void Fill(KxStatistic& s)
{
    bool b;
    int32_t i;
    double d;
    if (s.GetValue(b) != KXAPI_E_INVALID_TYPE)
        s.SetValue(true);
    else if (s.GetValue(i) != KXAPI_E_INVALID_TYPE)
        s.SetValue(int32_t(-452));
    else if (s.GetValue(d) != KXAPI_E_INVALID_TYPE)
        s.SetValue(1.25e-7);
}

void FixedLayoutRead(benchmark::State& state)
{
    const std::vector<int32_t> ids(STAT_IDS, STAT_IDS + 20);
    for (auto _ : state) {
        DemodMsg request = DemodBuildStatsOldReq(ids);
        // Service side.
        const DemodCmdProperties* props = nullptr;
        std::vector<int32_t> asked;
        if (KxapiFailed(DemodCheckPortCommand(request.data(), request.size(), props)) ||
            KxapiFailed(DemodParseStatsOldReq(request.data(), request.size(), asked)))
            state.SkipWithError("request refused");
        std::vector<TStatPars> records(asked.size());
        for (size_t k = 0; k < asked.size(); k++) {
            KxStatistic s(asked[k]);
            Fill(s);
            records[k] = TStatPars::FromStatistic(s);
        }
        DemodMsg reply = DemodBuildStatsOldReply(KXAPI_OK, records);
        // Client side.
        std::vector<TStatPars> got;
        if (KxapiFailed(DemodParseStatsOldReply(reply.data(), reply.size(), 20, got)))
            state.SkipWithError("reply refused");
        benchmark::DoNotOptimize(got.data());
    }
}
BENCHMARK(FixedLayoutRead);

void GenericXmlRead(benchmark::State& state)
{
    std::vector<KxStatistic> mine;
    for (int32_t id : STAT_IDS)
        mine.emplace_back(id);
    for (auto _ : state) {
        std::wstring xml;
        KxStatistic::ToXml(mine.data(), int(mine.size()), xml);
        DemodMsg request = DemodBuildGenericReq(DEMOD_CMD_GET_STATISTICS, xml);
        // Service side.
        Markup doc;
        std::wstring text;
        std::vector<KxStatistic> asked;
        if (KxapiFailed(DemodOpenGenericRequest(request.data(), request.size(), doc)) ||
            KxapiFailed(DemodParseGenericReq(request.data(), request.size(), text)) ||
            KxapiFailed(KxStatistic::FromXml(text, asked)))
            state.SkipWithError("request refused");
        for (KxStatistic& s : asked)
            Fill(s);
        std::wstring answer;
        KxStatistic::ToXml(asked.data(), int(asked.size()), answer);
        DemodMsg reply = DemodBuildGenericReply(DEMOD_CMD_GET_STATISTICS, KXAPI_OK, answer);
        // Client side.
        std::wstring replyText;
        std::vector<KxStatistic> got;
        if (KxapiFailed(DemodParseGenericReply(reply.data(), reply.size(), DEMOD_CMD_GET_STATISTICS, replyText)) ||
            KxapiFailed(KxStatistic::FromXml(replyText, got)) || got.size() != 20)
            state.SkipWithError("reply refused");
        benchmark::DoNotOptimize(got.data());
    }
}
BENCHMARK(GenericXmlRead);

} // namespace

BENCHMARK_MAIN();
