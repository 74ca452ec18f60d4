// The command table of "KxeRecvPipe" as a client process sees it, against the service.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "KxWire.h"
#include "KxeListDefs.h"
#include "KxeSvcClient.h"
#include "PipeMessenger.h"
#include "TestSupport.h"
#include "XpPipeConnectionLinux.h"

namespace {

using kxtest::SimService;

class KxeCommands : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_Service.Start());
        m_pDir = std::make_unique<kxtest::UseServiceDir>(m_Service);
        ASSERT_TRUE(m_Messenger.Init());
        ASSERT_TRUE(m_Messenger.Connect("KxeRecvPipe"));
    }
    void TearDown() override
    {
        m_Messenger.Disconnect();
        m_pDir.reset();
        m_Service.Stop(); // a clean stop removes the shared list and its named mutex
    }
    // Sends a request and returns the reply body ("" when none came within timeoutMs).
    std::string Request(std::vector<char> body, unsigned int timeoutMs = 3000)
    {
        if (!m_Messenger.WriteMsg(body.data(), static_cast<int>(body.size())))
            return "write failed";
        char* reply = nullptr;
        int size = 0;
        if (!m_Messenger.ReadMsg(reply, size, timeoutMs))
            return "";
        std::string result(reply, static_cast<size_t>(size));
        free(reply);
        return result;
    }
    static std::vector<char> Body(uint32_t command, size_t size)
    {
        std::vector<char> body(size, 0);
        if (size >= 4)
            KxPutU32(body.data(), 0, command);
        return body;
    }

    SimService m_Service;
    std::unique_ptr<kxtest::UseServiceDir> m_pDir;
    PipeMessenger m_Messenger;
};

struct SizeRule {
    uint32_t m_Command;
    std::vector<size_t> m_GoodSizes;
    size_t m_ReplySize;
};

TEST_F(KxeCommands, EveryWrongSizeIsAnsweredWithTheNormalReplyAndInvalidPars)
{
    const SizeRule rules[] = {
        {1, {72}, 24}, {2, {4}, 808},       {3, {264}, 8},      {4, {24}, 16},
        {5, {24}, 8},  {6, {32}, 8},        {7, {72}, 108},     {8, {16}, 8},
        {9, {40, 32}, 268}, {10, {304, 296}, 8}, {11, {4}, 8},
    };
    for (const SizeRule& rule : rules) {
        for (size_t size : {size_t(4), size_t(8), size_t(31), size_t(73), size_t(305)}) {
            bool good = false;
            for (size_t g : rule.m_GoodSizes)
                good = good || g == size;
            if (good)
                continue;
            std::string reply = Request(Body(rule.m_Command, size));
            ASSERT_EQ(rule.m_ReplySize, reply.size()) << "command " << rule.m_Command << " size " << size;
            EXPECT_EQ(rule.m_Command, KxGetU32(reply.data(), 0));
            EXPECT_EQ(KXAPI_E_INVALID_PARS, KxGetU32(reply.data(), 4))
                << "command " << rule.m_Command << " size " << size;
        }
    }
}

TEST_F(KxeCommands, PropertyRequestsWithExtremePortsAreRefusedWithoutOverflow)
{
    // Commands 1 and 7 carry a 1-based port at offset 68; the service must not compute an
    // index below INT32_MIN from it (the sanitizer build would abort).
    for (uint32_t command : {1u, 7u}) {
        for (int32_t port : {INT32_MIN, INT32_MIN + 1, INT32_MAX, -7}) {
            std::vector<char> body = Body(command, 72);
            memcpy(body.data() + 4, "VPD_ID", 6);
            KxPutU32(body.data(), 56, 5900);
            KxPutI32(body.data(), 68, port);
            std::string reply = Request(body);
            ASSERT_EQ(command == 1 ? 24u : 108u, reply.size()) << command << " " << port;
            EXPECT_NE(KXAPI_OK, KxGetU32(reply.data(), 4)) << command << " " << port;
        }
    }
    EXPECT_EQ(24u, Request(Body(0, 4)).size());
}

TEST_F(KxeCommands, VersionUnknownCodesShortRequestsAndClose)
{
    for (size_t size : {size_t(4), size_t(100)}) {
        std::string reply = Request(Body(0, size));
        ASSERT_EQ(24u, reply.size());
        const uint32_t expected[] = {0, KXAPI_OK, 3, 8, 7, 96};
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(expected[i], KxGetU32(reply.data(), 4 * i));
    }
    for (uint32_t code : {12u, 1000u, 0xFFFFFFFEu}) {
        std::string reply = Request(Body(code, 4));
        ASSERT_EQ(8u, reply.size());
        EXPECT_EQ(code, KxGetU32(reply.data(), 0));
        EXPECT_EQ(KXAPI_E_INVALID_PARS, KxGetU32(reply.data(), 4));
    }
    EXPECT_TRUE(kxtest::WaitUntil(
        [&] { return m_Service.Log().find("Received an unknown command ID (1000).") != std::string::npos; }, 2000))
        << m_Service.Log();
    // Shorter than a command code: dropped without an answer, the connection still serves.
    EXPECT_EQ("", Request(std::vector<char>(3, 1), 300));
    EXPECT_EQ(24u, Request(Body(0, 4)).size());
    // Close: no answer, and the connection ends.
    EXPECT_EQ("", Request(Body(0xFFFFFFFFu, 4), 500));
}

TEST_F(KxeCommands, ClientLibraryReadsKeysListPropertiesVpdAndDiscovery)
{
    KxeSvcClient client;
    ASSERT_EQ(KXAPI_OK, client.Open());
    std::string shmKey;
    std::string mutexKey;
    ASSERT_EQ(KXAPI_OK, client.GetListKeys(shmKey, mutexKey));
    EXPECT_FALSE(shmKey.empty());
    EXPECT_FALSE(mutexKey.empty());
    KxeListSnapshot list;
    ASSERT_EQ(KXAPI_OK, client.ReadDeviceList(list));
    EXPECT_EQ(1u, list.m_Version);
    EXPECT_EQ(512u, list.m_Capacity);
    EXPECT_EQ(0u, list.m_Count);
    EXPECT_NE(0u, list.m_TimeS);

    KxePropertyReply value;
    ASSERT_EQ(KXAPI_OK, client.GetProperty("REF_CLK_FREQ", 5900, 0, -1, value));
    EXPECT_EQ(54000000, value.m_Value);
    ASSERT_EQ(KXAPI_OK, client.GetPropertyText("VPD_ID", 5900, 0, -1, value));
    EXPECT_EQ("Networked Manufacturer", value.m_Text);
    ASSERT_EQ(KXAPI_OK, client.GetProperty("CAP_LNB", 5920, 0, 0, value));
    EXPECT_EQ(0, value.m_Value);
    EXPECT_EQ(3, value.m_Scope);
    EXPECT_EQ(KXAPI_E_NOT_FOUND, client.GetPropertyText("CAP_TXONTIME", 5910, 12, 0, value));
    EXPECT_EQ(KXAPI_OK, client.GetPropertyText("CAP_TXONTIME", 5910, 13, 0, value));
    EXPECT_EQ(KXAPI_E_NOT_FOUND, client.GetProperty("PCB_MANUF", 4711, 0, -1, value));

    // The cache is shared between client connections.
    const uint8_t data[] = {'K', 'X', '5', '9'};
    ASSERT_EQ(KXAPI_OK, client.VpdUpdate(42, 0, "PN", data, 4, true));
    KxeSvcClient other;
    std::vector<uint8_t> read;
    ASSERT_EQ(KXAPI_OK, other.VpdRead(42, 0, "PN", read));
    EXPECT_EQ(std::vector<uint8_t>(data, data + 4), read);
    // The older 32-byte read with an 8-byte keyword finds the same item.
    std::vector<char> old = Body(9, 32);
    KxPutI64(old.data(), 8, 42);
    memcpy(old.data() + 16, "PN", 2);
    std::string reply = Request(old);
    ASSERT_EQ(268u, reply.size());
    EXPECT_EQ(KXAPI_OK, KxGetU32(reply.data(), 4));
    EXPECT_EQ(4u, KxGetU32(reply.data(), 8));
    EXPECT_EQ('K', reply[12]);
    ASSERT_EQ(KXAPI_OK, other.VpdUpdate(42, 0, "SN", nullptr, 0, false));
    EXPECT_EQ(KXAPI_E_NOT_FOUND, client.VpdRead(42, 0, "SN", read));
    EXPECT_EQ(KXAPI_OK, other.VpdClear(42));
    EXPECT_EQ(KXAPI_E_NO_SUCH_DATA, client.VpdRead(42, 0, "PN", read));
    // An update longer than the data field is refused.
    std::vector<char> tooLong = Body(10, 304);
    KxPutU32(tooLong.data(), 36, 257);
    reply = Request(tooLong);
    ASSERT_EQ(8u, reply.size());
    EXPECT_EQ(KXAPI_E_INVALID_PARS, KxGetU32(reply.data(), 4));

    EXPECT_EQ(KXAPI_OK, client.ForceDiscovery());
    EXPECT_EQ(KXAPI_E_NOT_FOUND, client.Detach(1, 1, 0));
    EXPECT_EQ(KXAPI_E_NOT_ATTACHED, client.Detach(1, 1, 5));
    EXPECT_EQ(KXAPI_E_NOT_FOUND, client.ExclusiveAccess(1, 1, 5, KXE_EXCL_ACQUIRE));
    EXPECT_EQ(KXAPI_OK, client.ExclusiveAccess(-1, -1, 5, KXE_EXCL_RELEASE));
}

} // namespace
