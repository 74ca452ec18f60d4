// kxctl net against a running service.
#include <gtest/gtest.h>

#include <string>

#include "TestSupport.h"

namespace {

using kxtest::RunProgram;
using kxtest::SimService;

class KxctlNet : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_Service.Start()); }
    // A clean stop removes the shared list and its named mutex.
    void TearDown() override { m_Service.Stop(); }
    kxtest::ProcessResult Net(std::vector<std::string> args)
    {
        std::vector<std::string> argv = {KX_KXCTL_BINARY, "--fifo-dir", m_Service.Dir(), "net"};
        argv.insert(argv.end(), args.begin(), args.end());
        return RunProgram(argv, 20000);
    }
    SimService m_Service;
};

TEST_F(KxctlNet, ListDiscoverAndPropertiesPrintWhatTheServicePublishes)
{
    kxtest::ProcessResult list = Net({"list"});
    EXPECT_EQ(0, list.m_Status) << list.m_Output;
    EXPECT_NE(std::string::npos, list.m_Output.find("version 1 capacity 512 count 0")) << list.m_Output;
    kxtest::ProcessResult discover = Net({"discover"});
    EXPECT_EQ(0, discover.m_Status) << discover.m_Output;
    EXPECT_NE(std::string::npos, discover.m_Output.find("capacity 512")) << discover.m_Output;

    kxtest::ProcessResult prop = Net({"prop", "5900", "VPD_ID"});
    EXPECT_EQ(0, prop.m_Status) << prop.m_Output;
    EXPECT_NE(std::string::npos, prop.m_Output.find("\"Networked Manufacturer\"")) << prop.m_Output;
    prop = Net({"prop", "5910", "CAP_TXONTIME", "0", "13"});
    EXPECT_NE(std::string::npos, prop.m_Output.find("CAP_TXONTIME = 1 (type 0, scope 3)")) << prop.m_Output;
    prop = Net({"prop", "5910", "PCB_NOPE"});
    EXPECT_EQ(1, prop.m_Status);
    EXPECT_NE(std::string::npos, prop.m_Output.find("KXAPI_E_NOT_FOUND")) << prop.m_Output;
}

TEST_F(KxctlNet, ResultsAndUsageErrorsGiveTheirExitStatus)
{
    kxtest::ProcessResult excl = Net({"excl", "1", "1", "0", "acquire"});
    EXPECT_EQ(1, excl.m_Status);
    EXPECT_NE(std::string::npos, excl.m_Output.find("KXAPI_E_INVALID_ARG")) << excl.m_Output;
    kxtest::ProcessResult probe = Net({"excl", "1", "1", "5", "probe"}); // no device is listed
    EXPECT_EQ(1, probe.m_Status);
    EXPECT_NE(std::string::npos, probe.m_Output.find("KXAPI_E_NOT_FOUND")) << probe.m_Output;
    kxtest::ProcessResult vpd = Net({"vpd", "5", "PN"});
    EXPECT_EQ(1, vpd.m_Status);
    EXPECT_NE(std::string::npos, vpd.m_Output.find("KXAPI_E_NO_SUCH_DATA")) << vpd.m_Output;
    EXPECT_EQ(0, Net({"vpd-clear", "5"}).m_Status);
    EXPECT_EQ(2, Net({"frobnicate"}).m_Status);
    EXPECT_EQ(2, Net({"attach", "10.0.0.300", "1", "1"}).m_Status);
    EXPECT_EQ(2, Net({}).m_Status);
    kxtest::ProcessResult watch = Net({"watch", "1"});
    EXPECT_EQ(0, watch.m_Status) << watch.m_Output;
    EXPECT_NE(std::string::npos, watch.m_Output.find("watching")) << watch.m_Output;
}

} // namespace
