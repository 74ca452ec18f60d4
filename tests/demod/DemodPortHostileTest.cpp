// Requests a client process may send on purpose or by mistake: every port command code with
// bodies of random length and content. Each request gets exactly one well-formed reply (or,
// without a whole command code, none), and the port keeps serving afterwards.
#include <gtest/gtest.h>

#include <random>

#include "PortFixture.h"

using namespace Kxapi;
using kxtest::RecordingPortClient;
using kxtest::WaitUntil;

class PortHostileRequests : public kxtest::PortFixture {};

TEST_F(PortHostileRequests, EveryCommandWithRandomBodiesGetsOneWellFormedReply)
{
    InitPort({474000000});
    ASSERT_TRUE(m_Port.Attach());
    RecordingPortClient client;
    std::mt19937 random(20261206);
    std::uniform_int_distribution<int> length(0, 320);
    std::uniform_int_distribution<int> byte(0, 255);

    size_t sent = 0;
    for (size_t row = 0; row < CommandPropertiesCount; row++) {
        const uint32_t code = CommandProperties[row].m_Cmd;
        for (int round = 0; round < 40; round++) {
            DemodMsg msg(static_cast<size_t>(4 + length(random)));
            for (uint8_t& b : msg)
                b = static_cast<uint8_t>(byte(random));
            // Small counts and sizes now and then, so that parsers get past their first check.
            if (round % 4 == 0 && msg.size() >= 8)
                KxPutI32(msg.data(), 4, byte(random) % 8);
            KxPutU32(msg.data(), 0, code);
            const size_t before = client.Count();
            Send(client, msg);
            sent++;
            ASSERT_TRUE(WaitUntil([&] { return client.Count() == before + 1; }, 5000)) << "code " << code;
            DemodMsg reply = client.Last();
            ASSERT_GE(reply.size(), 8u) << "code " << code;
            EXPECT_EQ(KxGetU32(reply.data(), 0), code);
        }
    }
    EXPECT_EQ(client.Count(), sent);
    // Still serving: a plain request answers as usual.
    DemodMsg init = DemodBuildCodeOnly(DEMOD_CMD_INIT_DEMODULATOR);
    m_Port.ProcessDemodMsg(init.data(), 4, &client);
    EXPECT_EQ(client.LastResult(), KXAPI_OK);
    m_Port.Detach(&client);
}
