// Statistics reads: serialising and parsing a 20-statistic "kxstat" list, the hot path of the
// generic statistics command, against the legacy 16-byte record encoding of the same values.
#include <benchmark/benchmark.h>

#include <vector>

#include "DemodSvcClient.h"
#include "DemodSvcGeneric.h"
#include "DemodSvcValidation.h"
#include "KxStatistic.h"
#include "Markup.h"

using namespace Kxapi;

namespace {

std::vector<KxStatistic> TwentyStatistics()
{
    const int32_t intIds[] = {1, 2, 3, 5, 6, 8, 10, 261, 262, 263, 271, 272};
    const int32_t doubleIds[] = {256, 257, 264, 267, 270};
    const int32_t boolIds[] = {512, 513, 514};
    std::vector<KxStatistic> stats;
    for (int32_t id : intIds) {
        stats.emplace_back(id).SetValue(int32_t{-100 * id});
    }
    for (int32_t id : doubleIds) {
        stats.emplace_back(id).SetValue(1.234567e-7 * id);
    }
    for (int32_t id : boolIds) {
        stats.emplace_back(id).SetValue(true);
    }
    return stats;
}

void BM_SerialiseKxstatList(benchmark::State& state)
{
    std::vector<KxStatistic> stats = TwentyStatistics();
    std::wstring text;
    for (auto _ : state) {
        KxStatistic::ToXml(stats.data(), static_cast<int>(stats.size()), text);
        benchmark::DoNotOptimize(text.data());
    }
    state.counters["chars"] = static_cast<double>(text.size());
}
BENCHMARK(BM_SerialiseKxstatList);

void BM_ParseKxstatList(benchmark::State& state)
{
    std::vector<KxStatistic> stats = TwentyStatistics();
    std::wstring text;
    KxStatistic::ToXml(stats.data(), static_cast<int>(stats.size()), text);
    std::vector<KxStatistic> parsed;
    for (auto _ : state) {
        KxStatistic::FromXml(text, parsed);
        benchmark::DoNotOptimize(parsed.data());
    }
}
BENCHMARK(BM_ParseKxstatList);

// Reference: the same 20 values as legacy records (encode and decode).
void BM_LegacyRecordsRoundTrip(benchmark::State& state)
{
    std::vector<KxStatistic> stats = TwentyStatistics();
    std::vector<unsigned char> body(8 + TSTATPARS_SIZE * stats.size());
    for (auto _ : state) {
        for (size_t i = 0; i < stats.size(); i++)
            TStatPars::FromStatistic(stats[i]).Encode(body.data(), 8 + static_cast<unsigned int>(i) * TSTATPARS_SIZE);
        for (size_t i = 0; i < stats.size(); i++)
            benchmark::DoNotOptimize(TStatPars::Decode(body.data(), 8 + static_cast<unsigned int>(i) * TSTATPARS_SIZE));
    }
}
BENCHMARK(BM_LegacyRecordsRoundTrip);

// The service's whole share of a ten-statistic generic read (command 38): opening and checking
// the request, reading its "kxstat" list, filling the values as the statistics cache does,
// writing the reply's list and framing the reply.
void BM_ServiceStatisticsRead10(benchmark::State& state)
{
    const int32_t ids[10] = {512, 7, 9, 512, 7, 9, 512, 7, 9, 512};
    std::vector<KxStatistic> request;
    for (int32_t id : ids)
        request.emplace_back(id);
    std::wstring requestXml;
    KxStatistic::ToXml(request.data(), 10, requestXml);
    const DemodMsg body = DemodBuildGenericReq(DEMOD_CMD_GET_STATISTICS, requestXml);
    size_t replySize = 0;
    for (auto _ : state) {
        Markup doc;
        if (DemodOpenGenericRequest(body.data(), body.size(), doc) != KXAPI_OK) {
            state.SkipWithError("request refused");
            break;
        }
        std::vector<KxStatistic> stats;
        KxStatistic::FromXml(doc, stats, 64);
        for (KxStatistic& stat : stats) {
            if (stat.m_ValueType == KX_STAT_VT_BOOL)
                stat.SetValue(true);
            else
                stat.SetValue(int32_t{-412});
        }
        std::wstring xml;
        KxStatistic::ToXml(stats.data(), static_cast<int>(stats.size()), xml);
        DemodMsg reply = DemodBuildGenericReply(DEMOD_CMD_GET_STATISTICS, KXAPI_OK, xml);
        replySize = reply.size();
        benchmark::DoNotOptimize(reply.data());
    }
    state.counters["reply_bytes"] = static_cast<double>(replySize);
}
BENCHMARK(BM_ServiceStatisticsRead10);

// Answers every request with the same reply, copied as a transport copies it into the client's
// buffer.
class CannedTransport : public IDemodSvcTransport {
public:
    explicit CannedTransport(DemodMsg reply) : m_Reply(std::move(reply)) {}
    KXAPI_RESULT Transfer(const DemodMsg&, DemodMsg& reply) override
    {
        reply.assign(m_Reply.begin(), m_Reply.end());
        return KXAPI_OK;
    }

private:
    DemodMsg m_Reply;
};

// The client's whole share of a ten-statistic GetStatistics call, without the FIFO: the
// request (unchanged, so not serialised again), and the reply's checks and parsing into the
// caller's statistics. The reply is the virtual 3460's: lock, level and temperature.
void BM_ClientStatisticsRead10(benchmark::State& state)
{
    const int32_t ids[10] = {512, 7, 9, 512, 7, 9, 512, 7, 9, 512};
    std::vector<KxStatistic> answer;
    for (int32_t id : ids) {
        KxStatistic& stat = answer.emplace_back(id);
        if (stat.m_ValueType == KX_STAT_VT_BOOL)
            stat.SetValue(true);
        else
            stat.SetValue(int32_t{-123});
    }
    std::wstring xml;
    KxStatistic::ToXml(answer.data(), 10, xml);
    CannedTransport transport(DemodBuildGenericReply(DEMOD_CMD_GET_STATISTICS, KXAPI_OK, xml));
    DemodSvcClient client(&transport);
    std::vector<KxStatistic> stats;
    for (int32_t id : ids)
        stats.emplace_back(id);
    for (auto _ : state) {
        if (client.GetStatistics(stats.data(), 10) != KXAPI_OK) {
            state.SkipWithError("reply refused");
            break;
        }
        benchmark::DoNotOptimize(stats.data());
    }
}
BENCHMARK(BM_ClientStatisticsRead10);

} // namespace

BENCHMARK_MAIN();
