// What every registered receiver HAL must do, whatever its model: refuse port numbers outside
// 1..NumDemodPorts in every operation that takes one, touch no hardware in a validation pass
// (execute false), leave no I2C bus locked behind any operation,
// answer defaults before the first tune and statistics it does not have with
// KXAPI_E_NOT_SUPPORTED, tune only inside the frequency limits its attributes report, and fail
// cleanly when its card is pulled during initialisation.
//
// Each model runs on the first card of the default scenario with that model, so a new HAL with
// a card in the default scenario is covered without changing this file.
#include <climits>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "DemodHalRegistry.h"
#include "HalTestSupport.h"
#include "KxDriverRequests.h"
#include "KxModelTable.h"
#include "KxRfCal.h"

using namespace Kxapi;

namespace {

// Requests that only read the driver's records (identity, properties, tables, VPD, events);
// every other request is bus or register traffic.
bool IsInformationRequest(uint32_t request)
{
    static const uint32_t INFORMATION[] = {
        KXA_REQ_DEVICE_INFO, KXA_REQ_VPD_READ,  KXA_REQ_TABLE,      KXA_REQ_PROPERTY,   KXA_REQ_EVENT_WAIT,
        KXU_REQ_DEVICE_INFO, KXU_REQ_VPD_READ,  KXU_REQ_TABLE,      KXU_REQ_PROPERTY,   KXU_REQ_EVENT_WAIT,
        KXP_REQ_DEVICE_INFO, KXP_REQ_PROPS,     KXP_REQ_EVENT_WAIT,
    };
    for (uint32_t word : INFORMATION)
        if (word == request)
            return true;
    return false;
}

int HardwareRequests(SimCard& card)
{
    int count = 0;
    for (const SimCard::LoggedRequest& logged : card.TakeRequestLog())
        count += IsInformationRequest(logged.m_Request) ? 0 : 1;
    return count;
}

// Arguments of the operations, valid for the model (taken from what the HAL reports), and
// room for what they answer.
struct Arguments {
    long long m_FreqHz = 0;
    KxDemodPars m_Pars;
    KxTunePars m_TunePars = {{-1, -1, -1, -1, -1, -1, -1, -1, -1}};
    KxStreamSelPars m_StreamSel;
    KxDvbC2StreamSelPars m_C2Sel;
    KxDvbT2StreamSelPars m_T2Sel;
    KxAtsc3StreamSelPars m_Atsc3Sel;
    // Outputs.
    int m_Int[3] = {};
    long long m_Long[3] = {};
    KxDemodPars m_OutPars;
    KxTunePars m_OutTunePars;
    SupportedStatisticsType m_List[64];
    KxStatistic m_Stat{KX_STAT_LOCK};
    std::vector<int> m_Ids;
    std::vector<KxStreamSelPars> m_SelList;
    KxConstelPoint m_Points[16];
    unsigned char m_Reply[8] = {};
    KxRfCalV1 m_Cal;
};

struct PortOperation {
    const char* m_pName;
    bool m_TakesExecute;
    std::function<KXAPI_RESULT(DemodHal&, int port, bool execute)> m_Call;
};

using Hal = DemodHal;

// Every operation of DemodHal that takes a port.
std::vector<PortOperation> PortOperations(Arguments& a)
{
    static const unsigned char DISEQC[3] = {0xE0, 0x10, 0x38};
    return {
        {"OnFirstUsage", false, [](Hal& h, int p, bool) { return h.OnFirstUsage(p); }},
        {"OnLastUsageEnds", false, [](Hal& h, int p, bool) { return h.OnLastUsageEnds(p); }},
        {"InitPort", false, [](Hal& h, int p, bool) { return h.InitPort(p); }},
        {"Tune(step)", false, [](Hal& h, int p, bool) { return h.Tune(p, false); }},
        {"GetAttribute", true,
         [&a](Hal& h, int p, bool e) { return h.GetAttribute(p, DEMOD_ATTR_MOD_FREQ_ABSMIN, a.m_Int[0], e); }},
        {"GetSupportedStatistics", false,
         [&a](Hal& h, int p, bool) { return h.GetSupportedStatistics(p, a.m_Int[0] = 64, a.m_List); }},
        {"GetStatistics", false, [&a](Hal& h, int p, bool) { return h.GetStatistics(p, 1, &a.m_Stat); }},
        {"Update", false, [](Hal& h, int p, bool) { return h.Update(p, false); }},
        {"GetAutoBlindScanPars", false, [&a](Hal& h, int p, bool) { return h.GetAutoBlindScanPars(p, a.m_OutPars); }},
        {"GetBlindScanFrequencies", false,
         [&a](Hal& h, int p, bool) {
             return h.GetBlindScanFrequencies(p, a.m_FreqHz, a.m_Long[0], a.m_OutPars, a.m_Long[1]);
         }},
        {"CancelBlindScan", false, [](Hal& h, int p, bool) { return h.CancelBlindScan(p); }},
        {"CloseSpectrumScan", false, [](Hal& h, int p, bool) { return h.CloseSpectrumScan(p); }},
        {"InitSpectrumScan", true,
         [&a](Hal& h, int p, bool e) {
             return h.InitSpectrumScan(p, 0, a.m_Int[0], a.m_Int[1], a.m_Int[2], a.m_Long[0], e);
         }},
        {"GetDemodControl", false, [&a](Hal& h, int p, bool) { return h.GetDemodControl(p, a.m_OutPars); }},
        {"GetPlpList", false, [&a](Hal& h, int p, bool) { return h.GetPlpList(p, a.m_Ids); }},
        {"GetTunerFrequency", false, [&a](Hal& h, int p, bool) { return h.GetTunerFrequency(p, a.m_Long[0], -1); }},
        {"GetStreamSelection(C2)", false, [&a](Hal& h, int p, bool) { return h.GetStreamSelection(p, a.m_C2Sel); }},
        {"GetStreamSelection(T2)", false, [&a](Hal& h, int p, bool) { return h.GetStreamSelection(p, a.m_T2Sel); }},
        {"GetStreamSelection(ATSC3)", false,
         [&a](Hal& h, int p, bool) { return h.GetStreamSelection(p, a.m_Atsc3Sel); }},
        {"GetStreamSelection(list)", false,
         [&a](Hal& h, int p, bool) { return h.GetStreamSelection(p, a.m_SelList); }},
        {"CloseStream", true, [](Hal& h, int p, bool e) { return h.CloseStream(p, 1, e); }},
        {"GetConstellationPoints", true,
         [&a](Hal& h, int p, bool e) { return h.GetConstellationPoints(p, 16, a.m_Points, -1, e); }},
        {"GetTunePars", true, [&a](Hal& h, int p, bool e) { return h.GetTunePars(p, &a.m_OutTunePars, e); }},
        {"EnableEqualiser", true, [](Hal& h, int p, bool e) { return h.EnableEqualiser(p, 1, e); }},
        {"LnbEnable", true, [](Hal& h, int p, bool e) { return h.LnbEnable(p, true, e); }},
        {"LnbEnableTone", true, [](Hal& h, int p, bool e) { return h.LnbEnableTone(p, true, e); }},
        {"LnbSendBurst", true, [](Hal& h, int p, bool e) { return h.LnbSendBurst(p, 0, e); }},
        {"LnbSendDiseqcMessage", true,
         [&a](Hal& h, int p, bool e) { return h.LnbSendDiseqcMessage(p, DISEQC, 3, a.m_Reply, &(a.m_Int[0] = 8), e); }},
        {"LnbSetVoltage", true, [](Hal& h, int p, bool e) { return h.LnbSetVoltage(p, 13, e); }},
        {"OpenStream", true, [&a](Hal& h, int p, bool e) { return h.OpenStream(p, a.m_StreamSel, e); }},
        {"ResetAgc", true, [](Hal& h, int p, bool e) { return h.ResetAgc(p, 0, e); }},
        {"SetErrorStatsMode", true, [](Hal& h, int p, bool e) { return h.SetErrorStatsMode(p, 0, 0, e); }},
        {"SetAntPower", true, [](Hal& h, int p, bool e) { return h.SetAntPower(p, 0, e); }},
        {"SetDemodControl", true, [&a](Hal& h, int p, bool e) { return h.SetDemodControl(p, a.m_Pars, e); }},
        {"SetStreamSelection(C2)", true, [&a](Hal& h, int p, bool e) { return h.SetStreamSelection(p, a.m_C2Sel, e); }},
        {"SetStreamSelection(T2)", true, [&a](Hal& h, int p, bool e) { return h.SetStreamSelection(p, a.m_T2Sel, e); }},
        {"SetStreamSelection(ATSC3)", true,
         [&a](Hal& h, int p, bool e) { return h.SetStreamSelection(p, a.m_Atsc3Sel, e); }},
        {"SetTuningMode", true, [](Hal& h, int p, bool e) { return h.SetTuningMode(p, 0, e); }},
        {"SetTunePars", true, [&a](Hal& h, int p, bool e) { return h.SetTunePars(p, &a.m_TunePars, e); }},
        {"SetTunerFrequency", true, [&a](Hal& h, int p, bool e) { return h.SetTunerFrequency(p, a.m_FreqHz, -1, e); }},
        {"Tune", true, [&a](Hal& h, int p, bool e) { return h.Tune(p, a.m_FreqHz, a.m_Pars, e); }},
        {"GetTable", false,
         [](Hal& h, int p, bool) {
             std::vector<KxTableEntry> rows;
             return h.GetTable(p, "DEMOD_FREQ_COMP_TABLES", rows);
         }},
        {"GetRfLevelTables", false, [&a](Hal& h, int p, bool) { return h.GetRfLevelTables(p, &a.m_Cal); }},
    };
}

// What a port reports of its state, to see that a validation pass changed none of it.
struct PortState {
    KXAPI_RESULT m_FreqResult, m_ParsResult, m_TuneParsResult;
    long long m_FreqHz = 0;
    KxDemodPars m_Pars;
    KxTunePars m_TunePars;
    bool operator==(const PortState&) const = default;
};

class HalConformanceTest : public haltest::VirtualCardFixture,
                           public ::testing::WithParamInterface<const DemodHalDescriptor*> {
protected:
    void SetUp() override
    {
        m_pModel = GetParam()->Model();
        ASSERT_NE(nullptr, m_pModel) << "a registered HAL names a row that is not in the model table";
        AttachFirstCardOf(*m_pModel);
        m_pHal.reset(GetParam()->m_pMake(m_pCard->m_Serial, m_Device));
        ASSERT_NE(nullptr, m_pHal);
        m_NumPorts = m_pHal->NumDemodPorts();
    }

    // Init and InitPort of every port.
    void InitAll()
    {
        ASSERT_TRUE(KxapiSucceeded(m_pHal->Init()));
        for (int port = 1; port <= m_NumPorts; port++)
            ASSERT_TRUE(KxapiSucceeded(m_pHal->InitPort(port))) << "port " << port;
    }

    // The port's frequency limits in Hz from its attributes.
    void Limits(int port, long long& minHz, long long& maxHz)
    {
        int minMHz = -1, maxMHz = -1;
        ASSERT_TRUE(KxapiSucceeded(m_pHal->GetAttribute(port, DEMOD_ATTR_MOD_FREQ_ABSMIN, minMHz, true)));
        ASSERT_TRUE(KxapiSucceeded(m_pHal->GetAttribute(port, DEMOD_ATTR_MOD_FREQ_ABSMAX, maxMHz, true)));
        ASSERT_GT(maxMHz, minMHz) << "the default card of " << m_pModel->m_pName << " reports no limits";
        minHz = minMHz * 1000000LL;
        maxHz = maxMHz * 1000000LL;
    }

    // Valid arguments for port: the parameters the port holds, a frequency inside its limits.
    void ValidArguments(int port, Arguments& a)
    {
        long long minHz = 0, maxHz = 0;
        ASSERT_NO_FATAL_FAILURE(Limits(port, minHz, maxHz));
        a.m_FreqHz = (minHz + maxHz) / 2;
        if (KxapiFailed(m_pHal->GetDemodControl(port, a.m_Pars)))
            m_pHal->GetAutoBlindScanPars(port, a.m_Pars);
        m_pHal->GetTunePars(port, &a.m_TunePars, false);
    }

    PortState State(int port)
    {
        PortState state{};
        state.m_FreqResult = m_pHal->GetTunerFrequency(port, state.m_FreqHz, -1);
        state.m_ParsResult = m_pHal->GetDemodControl(port, state.m_Pars);
        state.m_TuneParsResult = m_pHal->GetTunePars(port, &state.m_TunePars, false);
        return state;
    }

    // Buses of the card whose I2C lock someone holds: the device-level bus and one per port.
    int HeldBuses()
    {
        int held = 0;
        for (int bus = -1; bus < m_NumPorts; bus++)
            held += m_pCard->I2cHolder(bus) != 0 ? 1 : 0;
        return held;
    }

    std::vector<KxStatistic> SupportedStatistics(int port)
    {
        SupportedStatisticsType list[256];
        int count = 256;
        EXPECT_TRUE(KxapiSucceeded(m_pHal->GetSupportedStatistics(port, count, list)));
        std::vector<KxStatistic> stats;
        for (int i = 0; i < count; i++)
            stats.emplace_back(list[i].StatisticId);
        return stats;
    }

    const KxModelInfo* m_pModel = nullptr;
    std::unique_ptr<DemodHal> m_pHal;
    int m_NumPorts = 0;
};

std::string ModelName(const ::testing::TestParamInfo<const DemodHalDescriptor*>& info)
{
    const KxModelInfo* pModel = info.param->Model();
    return pModel != nullptr ? pModel->m_pHalClass : "Unknown" + std::to_string(info.index);
}

} // namespace

TEST_P(HalConformanceTest, BadPortNumbersAreRefusedByEveryOperation)
{
    ASSERT_GE(m_NumPorts, 1);
    ASSERT_NO_FATAL_FAILURE(InitAll());
    Arguments args;
    ASSERT_NO_FATAL_FAILURE(ValidArguments(1, args));
    for (const PortOperation& op : PortOperations(args)) {
        for (int port : {0, m_NumPorts + 1, -1, INT_MIN, INT_MAX}) {
            for (bool execute : {false, true}) {
                if (!execute && !op.m_TakesExecute)
                    continue;
                const KXAPI_RESULT result = op.m_Call(*m_pHal, port, execute);
                EXPECT_TRUE(KxapiFailed(result)) << op.m_pName << "(port " << port << ", execute " << execute
                                                 << ") answered " << KxapiResult2Str(result);
            }
        }
    }
    // The attribute read answers with the port code and leaves the value alone.
    int value = 1234;
    EXPECT_EQ(KXAPI_E_NO_SUCH_PORT, m_pHal->GetAttribute(0, DEMOD_ATTR_MOD_FREQ_MAX, value, true));
    EXPECT_EQ(1234, value);
}

TEST_P(HalConformanceTest, ValidationPassTouchesNothing)
{
    ASSERT_NO_FATAL_FAILURE(InitAll());
    for (int port = 1; port <= m_NumPorts; port++) {
        if (m_pHal->ActsInValidationPass(port))
            continue; // its own tests check what such a port does in each pass
        Arguments args;
        ASSERT_NO_FATAL_FAILURE(ValidArguments(port, args));
        // A tune parameter block different from the one held, so that a pass that stores it shows.
        args.m_TunePars.m_Words[0] = args.m_TunePars.m_Words[0] == 2 ? 3 : 2;
        const PortState before = State(port);
        m_pCard->EnableRequestLog(true);
        m_pCard->TakeRequestLog();
        for (const PortOperation& op : PortOperations(args)) {
            if (!op.m_TakesExecute)
                continue;
            op.m_Call(*m_pHal, port, false);
            EXPECT_EQ(0, HardwareRequests(*m_pCard)) << op.m_pName << " on port " << port;
        }
        m_pCard->EnableRequestLog(false);
        EXPECT_EQ(before, State(port)) << "port " << port;
    }
}

TEST_P(HalConformanceTest, EveryOperationReleasesTheBus)
{
    ASSERT_NO_FATAL_FAILURE(InitAll());
    EXPECT_EQ(0, HeldBuses()) << "after the initialisation";
    for (int port = 1; port <= m_NumPorts; port++) {
        Arguments args;
        ASSERT_NO_FATAL_FAILURE(ValidArguments(port, args));
        for (const PortOperation& op : PortOperations(args)) {
            for (bool execute : {true, false}) {
                op.m_Call(*m_pHal, port, execute);
                EXPECT_EQ(0, HeldBuses()) << op.m_pName << " on port " << port << ", execute " << execute;
            }
        }
        std::vector<KxStatistic> stats = SupportedStatistics(port);
        m_pHal->GetStatistics(port, static_cast<int>(stats.size()), stats.data());
        EXPECT_EQ(0, HeldBuses()) << "GetStatistics of every supported statistic on port " << port;
    }
}

TEST_P(HalConformanceTest, DefaultsBeforeTheFirstTune)
{
    ASSERT_TRUE(KxapiSucceeded(m_pHal->Init()));
    // Port 1 always reports statistics; a further port may have none (a raw I/Q port).
    ASSERT_FALSE(SupportedStatistics(1).empty());
    for (int port = 1; port <= m_NumPorts; port++) {
        std::vector<KxStatistic> stats = SupportedStatistics(port);
        if (stats.empty())
            continue;
        // The capacity must hold the whole table.
        SupportedStatisticsType list[256];
        int count = static_cast<int>(stats.size()) - 1;
        EXPECT_EQ(KXAPI_E_BUF_TOO_SMALL, m_pHal->GetSupportedStatistics(port, count, list));
        EXPECT_EQ(static_cast<int>(stats.size()) - 1, count);

        const std::vector<KxStatistic> asked = stats;
        ASSERT_TRUE(KxapiSucceeded(m_pHal->GetDefaultStatisticValues(static_cast<int>(stats.size()), stats.data())));
        for (size_t i = 0; i < stats.size(); i++) {
            const KxStatistic& stat = stats[i];
            EXPECT_EQ(asked[i].m_StatisticId, stat.m_StatisticId);
            EXPECT_EQ(asked[i].m_ValueType, stat.m_ValueType) << stat.m_StatisticId;
            EXPECT_NE(KXAPI_E_NOT_SUPPORTED, static_cast<KXAPI_RESULT>(stat.m_Result)) << stat.m_StatisticId;
            EXPECT_NE(KXAPI_E_INVALID_TYPE, static_cast<KXAPI_RESULT>(stat.m_Result)) << stat.m_StatisticId;
            bool locked = true;
            if (stat.m_StatisticId == KX_STAT_LOCK && KxapiSucceeded(stat.GetValue(locked))) {
                EXPECT_FALSE(locked) << "nothing is locked before a tune";
            }
        }
    }
}

TEST_P(HalConformanceTest, StatisticsItDoesNotHaveAreNotSupported)
{
    ASSERT_NO_FATAL_FAILURE(InitAll());
    for (int port = 1; port <= m_NumPorts; port++) {
        const std::vector<KxStatistic> supported = SupportedStatistics(port);
        std::vector<KxStatistic> others;
        for (size_t i = 0; i < KxStatisticCount(); i++) {
            const int32_t id = KxStatisticRow(i).m_Id;
            bool listed = false;
            for (const KxStatistic& stat : supported)
                listed |= stat.m_StatisticId == id;
            if (!listed)
                others.emplace_back(id);
        }
        ASSERT_FALSE(others.empty());
        ASSERT_TRUE(KxapiSucceeded(m_pHal->GetStatistics(port, static_cast<int>(others.size()), others.data())));
        for (const KxStatistic& stat : others)
            EXPECT_EQ(KXAPI_E_NOT_SUPPORTED, static_cast<KXAPI_RESULT>(stat.m_Result)) << stat.m_StatisticId;
    }
}

TEST_P(HalConformanceTest, TuneStaysInsideTheFrequencyAttributes)
{
    ASSERT_NO_FATAL_FAILURE(InitAll());
    for (int port = 1; port <= m_NumPorts; port++) {
        long long minHz = 0, maxHz = 0;
        ASSERT_NO_FATAL_FAILURE(Limits(port, minHz, maxHz));
        // The parameters the port holds, or, for a port that reports them only once locked,
        // those a blind scan starts from.
        KxDemodPars pars;
        if (KxapiFailed(m_pHal->GetDemodControl(port, pars))) {
            ASSERT_TRUE(KxapiSucceeded(m_pHal->GetAutoBlindScanPars(port, pars))) << "port " << port;
        }
        for (bool execute : {false, true}) {
            EXPECT_TRUE(KxapiFailed(m_pHal->Tune(port, minHz - 1, pars, execute))) << execute;
            EXPECT_TRUE(KxapiFailed(m_pHal->Tune(port, maxHz + 1, pars, execute))) << execute;
            EXPECT_TRUE(KxapiFailed(m_pHal->Tune(port, -minHz, pars, execute))) << execute;
            EXPECT_TRUE(KxapiSucceeded(m_pHal->Tune(port, minHz, pars, execute))) << execute;
            EXPECT_TRUE(KxapiSucceeded(m_pHal->Tune(port, maxHz, pars, execute))) << execute;
        }
    }
}

TEST_P(HalConformanceTest, CardPulledDuringInitialisationFailsIt)
{
    // Pulled between the HAL's Init and the first port's: the port's initialisation fails.
    ASSERT_TRUE(KxapiSucceeded(m_pHal->Init()));
    ASSERT_EQ(KXAPI_OK, m_Environment.Rack().Unplug(m_pCard->m_Serial));
    for (int port = 1; port <= m_NumPorts; port++)
        EXPECT_TRUE(KxapiFailed(m_pHal->InitPort(port))) << "port " << port;
    KxStatistic stat(KX_STAT_LOCK);
    const KXAPI_RESULT result = m_pHal->GetStatistics(1, 1, &stat);
    EXPECT_TRUE(KxapiFailed(result) || KxapiFailed(static_cast<KXAPI_RESULT>(stat.m_Result)));

    // Pulled before anything: Init or InitPort refuses, and a fresh HAL is destroyed cleanly.
    std::unique_ptr<DemodHal> fresh(GetParam()->m_pMake(m_pCard->m_Serial, m_Device));
    ASSERT_NE(nullptr, fresh);
    EXPECT_TRUE(KxapiFailed(fresh->Init()) || KxapiFailed(fresh->InitPort(1)));
}

INSTANTIATE_TEST_SUITE_P(RegisteredHals, HalConformanceTest, ::testing::ValuesIn(RegisteredDemodHals()), ModelName);
