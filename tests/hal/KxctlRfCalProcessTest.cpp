// kxctl rfcal on the virtual cards of a scenario: limits, compensation tables, the stored
// calibration record and one corrected level, each with its unit; refusals exit non-zero.
#include <cstdio>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "KxRfCal.h"
#include "TestSupport.h"

using namespace Kxapi;

namespace {

std::string Hex(const std::vector<unsigned char>& bytes)
{
    std::string text;
    char digits[3];
    for (unsigned char byte : bytes) {
        snprintf(digits, sizeof(digits), "%02x", byte);
        text += digits;
    }
    return text;
}

std::string WriteScenario(const kxtest::TempDir& dir)
{
    KxRfCalV1 stored;
    stored.m_RefTemperature = 25;
    stored.m_TempCoefficient = 0.5f;
    stored.m_StartFreqMHz = 400;
    stored.m_FreqStepMHz = 100;
    stored.SetNumFrequencies(2);
    stored.SetNumTables(1);
    stored.m_Tables[0].m_Power = -300;
    stored.m_Tables[0].m_Offsets = {-20, -40};
    const std::string path = dir.File("rfcal.json");
    std::ofstream out(path);
    out << R"({"cards": [{"model": 3460, "serial": 3460000042,
      "properties": [{"name": "MOD_FREQ_MIN", "value": 45}, {"name": "MOD_FREQ_MAX", "value": 860}],
      "tables": [{"port": 0, "name": "DEMOD_FREQ_COMP_TABLES", "entries": [[3, -250]]},
                 {"port": 0, "name": "DEMOD_FREQ_COMP03", "entries": [[400, 100], [500, 300]]}],
      "vpd": [{"keyword": "P1_R", "hex": ")"
        << Hex(stored.ToRecord()) << R"("}]}]})";
    return path;
}

kxtest::ProcessResult Kxctl(const std::vector<std::string>& args)
{
    std::vector<std::string> argv = {KX_KXCTL_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    return kxtest::RunProgram(argv, 20000);
}

} // namespace

TEST(KxctlRfCalProcess, ShowsTablesRecordAndCorrection)
{
    kxtest::TempDir dir;
    const std::string scenario = WriteScenario(dir);
    // 450 MHz, 35 degC: the tables (no temperature coefficient) add 20, the mean of 10 and 30:
    // -280. The stored record adds 10 x 0.5 x (35 - 25) = 50 and then -30, the mean of -20 and
    // -40: -260.
    kxtest::ProcessResult run = Kxctl({"rfcal", "--virtual", scenario, "3460000042", "0", "-300", "450", "35"});
    ASSERT_TRUE(run.m_Exited) << run.m_Output;
    EXPECT_EQ(0, run.m_Status) << run.m_Output;
    EXPECT_NE(std::string::npos, run.m_Output.find("frequency limits: 45 .. 860 MHz")) << run.m_Output;
    EXPECT_NE(std::string::npos, run.m_Output.find("compensation tables: 1 table(s), 2 point(s) from 400 MHz every 100 MHz"))
        << run.m_Output;
    EXPECT_NE(std::string::npos, run.m_Output.find("power    -25 x 0.1 dB, offsets (0.1 dB): 10 30")) << run.m_Output;
    EXPECT_NE(std::string::npos, run.m_Output.find("stored calibration: 1 table(s)")) << run.m_Output;
    EXPECT_NE(std::string::npos, run.m_Output.find("reference 25 degC, 0.500 dB/degC")) << run.m_Output;
    EXPECT_NE(std::string::npos, run.m_Output.find("-280 x 0.1 dB after the tables, -260 x 0.1 dB after the stored"))
        << run.m_Output;
}

TEST(KxctlRfCalProcess, RefusesUnknownCardsPortsAndWords)
{
    kxtest::ProcessResult run = Kxctl({"rfcal", "--virtual", "3460000001", "1"});
    EXPECT_EQ(1, run.m_Status) << run.m_Output;
    EXPECT_NE(std::string::npos, run.m_Output.find("KXAPI_E_NO_SUCH_PORT")) << run.m_Output;
    run = Kxctl({"rfcal", "--virtual", "1234", "0"});
    EXPECT_EQ(1, run.m_Status) << run.m_Output;
    EXPECT_NE(std::string::npos, run.m_Output.find("KXAPI_E_NO_SUCH_DEVICE")) << run.m_Output;
    run = Kxctl({"rfcal", "--virtual", "3460000001", "zero"});
    EXPECT_EQ(2, run.m_Status) << run.m_Output;
    run = Kxctl({"rfcal", "--virtual", "3460000001", "0", "-300"});
    EXPECT_EQ(2, run.m_Status) << run.m_Output;
    // Without tables and record the port still shows its limits.
    run = Kxctl({"rfcal", "--virtual", "3460000001", "0"});
    EXPECT_EQ(0, run.m_Status) << run.m_Output;
    EXPECT_NE(std::string::npos, run.m_Output.find("42 .. 870 MHz")) << run.m_Output;
    EXPECT_NE(std::string::npos, run.m_Output.find("compensation tables: none")) << run.m_Output;
}
