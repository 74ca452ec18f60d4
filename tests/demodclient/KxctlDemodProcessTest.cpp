// kxctl demod against KxapiServiceSim: what a user types and sees.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "DemodClientFixture.h"

namespace demodclient {
namespace {

class KxctlDemodTest : public DemodClientTest {
protected:
    kxtest::ProcessResult Kxctl(std::vector<std::string> args, unsigned int timeoutMs = 30000)
    {
        args.insert(args.begin(), {KX_KXCTL_BINARY, "--fifo-dir", m_Service.Dir(), "demod"});
        return kxtest::RunProgram(args, timeoutMs);
    }
    void WaitReady()
    {
        Kxapi::DemodPortClient ready;
        ASSERT_EQ(KXAPI_OK, OpenWhenReady(ready));
    }
};

TEST_F(KxctlDemodTest, ListShowsTheRunningSimulatorsCardsWithTheirPorts)
{
    kxtest::ProcessResult result = Kxctl({"list"});
    ASSERT_TRUE(result.m_Exited);
    EXPECT_EQ(0, result.m_Status) << result.m_Output;
    EXPECT_NE(std::string::npos, result.m_Output.find("3460000001   KX-3460   3460   0")) << result.m_Output;
    EXPECT_NE(std::string::npos, result.m_Output.find("12     0..11")) << result.m_Output;
    EXPECT_NE(std::string::npos, result.m_Output.find("running KxapiServiceSim")) << result.m_Output;
}

TEST_F(KxctlDemodTest, TuneWaitsForLockAndPrintsStatisticsWithUnits)
{
    WaitReady();
    kxtest::ProcessResult tune = Kxctl({"tune", "3460000001", "0", "474M", "15", "0", "0", "0", "--wait-lock", "10000"});
    ASSERT_TRUE(tune.m_Exited);
    EXPECT_EQ(0, tune.m_Status) << tune.m_Output;
    EXPECT_NE(std::string::npos, tune.m_Output.find("tuned to 474000000 Hz (474.000 MHz)")) << tune.m_Output;
    EXPECT_NE(std::string::npos, tune.m_Output.find("locked after")) << tune.m_Output;
    EXPECT_NE(std::string::npos, tune.m_Output.find("degC")) << tune.m_Output;

    kxtest::ProcessResult freq = Kxctl({"freq", "3460000001", "0"});
    EXPECT_EQ(0, freq.m_Status) << freq.m_Output;
    EXPECT_NE(std::string::npos, freq.m_Output.find("474000000 Hz")) << freq.m_Output;

    kxtest::ProcessResult live = Kxctl({"live", "3460000001", "0", "Lock", "TempTuner", "--count", "3"});
    EXPECT_EQ(0, live.m_Status) << live.m_Output;
    size_t refreshes = 0;
    for (size_t at = live.m_Output.find("every 100 ms"); at != std::string::npos;
         at = live.m_Output.find("every 100 ms", at + 1))
        refreshes++;
    EXPECT_EQ(3u, refreshes) << live.m_Output;
}

TEST_F(KxctlDemodTest, ServiceErrorsAndBadArgumentsEndWithTheirExitStatus)
{
    WaitReady();
    kxtest::ProcessResult outOfRange = Kxctl({"tune", "3460000001", "0", "870000001", "15", "0", "0", "0"});
    EXPECT_EQ(1, outOfRange.m_Status);
    EXPECT_NE(std::string::npos, outOfRange.m_Output.find("INVALID_FREQ")) << outOfRange.m_Output;
    kxtest::ProcessResult noPort = Kxctl({"show", "3460000001", "1"});
    EXPECT_EQ(1, noPort.m_Status);
    EXPECT_NE(std::string::npos, noPort.m_Output.find("NO_SUCH_PORT")) << noPort.m_Output;
    EXPECT_EQ(2, Kxctl({"tune", "3460000001", "0", "fast", "15", "0", "0", "0"}).m_Status);
    EXPECT_EQ(2, Kxctl({"stats", "3460000001", "0", "NoSuchStatistic"}).m_Status);
    EXPECT_EQ(2, Kxctl({"nonsense"}).m_Status);
}

TEST_F(KxctlDemodTest, JsonReadingsCarryValueUnitAndRawValueOnePerLine)
{
    WaitReady();
    kxtest::ProcessResult stats = Kxctl({"stats", "3460000001", "0", "RfLvlUncalib", "Lock", "--level-unit", "dBuV"});
    ASSERT_EQ(0, stats.m_Status) << stats.m_Output;
    EXPECT_NE(std::string::npos, stats.m_Output.find(" dBuV")) << stats.m_Output;

    std::vector<std::string> args = {KX_KXCTL_BINARY, "--fifo-dir", m_Service.Dir(), "--json", "demod", "stats",
                                     "3460000001", "0", "RfLvlUncalib", "Lock"};
    kxtest::ProcessResult json = kxtest::RunProgram(args, 30000);
    ASSERT_EQ(0, json.m_Status) << json.m_Output;
    std::istringstream lines(json.m_Output);
    std::string line;
    std::vector<nlohmann::json> readings;
    while (std::getline(lines, line))
        readings.push_back(nlohmann::json::parse(line)); // throws (fails the test) on anything but JSON
    ASSERT_EQ(2u, readings.size()) << json.m_Output;
    const nlohmann::json& level = readings[0];
    EXPECT_EQ("RfLvlUncalib", level["name"]);
    EXPECT_EQ(3460000001LL, level["serial"].get<long long>());
    EXPECT_EQ("dBmV", level["unit"]);
    // The reading is the raw value in tenths of a dBmV.
    EXPECT_DOUBLE_EQ(level["raw"].get<double>() / 10.0, level["value"].get<double>());
    EXPECT_EQ("Lock", readings[1]["name"]);
    EXPECT_TRUE(readings[1]["value"].is_boolean());
}

TEST_F(KxctlDemodTest, RefusalsSayWhatTheCardIsAndWhatToDoNext)
{
    WaitReady();
    // A receiver model whose driver is not part of this build.
    kxtest::ProcessResult undriven = Kxctl({"stats", "810000001", "0"});
    EXPECT_EQ(1, undriven.m_Status);
    EXPECT_NE(std::string::npos, undriven.m_Output.find("is a KX-810 the service does not serve: either this build does not drive"))
        << undriven.m_Output;
    kxtest::ProcessResult unknown = Kxctl({"stats", "123", "0"});
    EXPECT_NE(std::string::npos, unknown.m_Output.find("no card has serial 123")) << unknown.m_Output;
    // No service behind the FIFO directory: its own exit status and what to do.
    kxtest::TempDir empty;
    kxtest::ProcessResult noService =
        kxtest::RunProgram({KX_KXCTL_BINARY, "--fifo-dir", empty.Path(), "demod", "stats", "3460000001", "0"}, 30000);
    EXPECT_EQ(3, noService.m_Status) << noService.m_Output;
    EXPECT_NE(std::string::npos, noService.m_Output.find("start the service")) << noService.m_Output;
}

TEST_F(KxctlDemodTest, TunerParametersAndSupportedStatistics)
{
    WaitReady();
    kxtest::ProcessResult set = Kxctl({"tunepars", "3460000001", "0", "4", "8000000", "-1", "-1", "-1", "-1", "-1",
                                       "-1", "-1"});
    EXPECT_EQ(0, set.m_Status) << set.m_Output;
    kxtest::ProcessResult get = Kxctl({"tunepars", "3460000001", "0"});
    EXPECT_EQ(0, get.m_Status) << get.m_Output;
    EXPECT_NE(std::string::npos, get.m_Output.find(": 4 8000000 -1 -1 -1 -1 -1 -1 -1")) << get.m_Output;
    kxtest::ProcessResult supported = Kxctl({"supported", "3460000001", "0"});
    EXPECT_EQ(0, supported.m_Status) << supported.m_Output;
    EXPECT_NE(std::string::npos, supported.m_Output.find("RfLvlUncalib")) << supported.m_Output;
    EXPECT_NE(std::string::npos, supported.m_Output.find("TempTuner")) << supported.m_Output;
}

TEST_F(KxctlDemodTest, AllSupportedStatisticsOfTheSatelliteReceiverReadTheInstantaneousValues)
{
    {
        Kxapi::DemodPortClient ready;
        ASSERT_EQ(KXAPI_OK, OpenWhenReady(ready, 3470000001, 0));
    }
    // The 3470's supported list marks which statistics are kept per stream and per time window.
    kxtest::ProcessResult supported = Kxctl({"supported", "3470000001", "0"});
    EXPECT_EQ(0, supported.m_Status) << supported.m_Output;
    EXPECT_NE(std::string::npos, supported.m_Output.find("stream+window")) << supported.m_Output;
    kxtest::ProcessResult tune =
        Kxctl({"tune", "3470000001", "0", "1150M", "37", "15", "63", "27500000", "--wait-lock", "10000"});
    ASSERT_EQ(0, tune.m_Status) << tune.m_Output;
    // Reading every supported statistic asks for all streams and the instantaneous value, not
    // for the stream and window the list's markers would name.
    kxtest::ProcessResult stats = Kxctl({"stats", "3470000001", "0", "--settle", "2000"});
    EXPECT_EQ(0, stats.m_Status) << stats.m_Output;
    std::istringstream lines(stats.m_Output);
    std::string line, mer;
    while (std::getline(lines, line)) {
        if (line.rfind("MER ", 0) == 0)
            mer = line;
    }
    EXPECT_NE(std::string::npos, mer.find(" dB")) << stats.m_Output;
}

} // namespace
} // namespace demodclient
