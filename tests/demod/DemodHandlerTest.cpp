// The client handler of the demod FIFO: connection commands (version, attach, detach, close),
// forwarding of port commands, and the device references a connection holds.
#include <random>

#include "DemodManagerFixture.h"

using namespace demodtest;
using Kxapi::DemodBuildAttach;
using Kxapi::DemodBuildCodeOnly;
using Kxapi::DEMOD_CMD_ATTACH;
using Kxapi::DEMOD_CMD_DETACH;
using Kxapi::DEMOD_CMD_INIT_DEMODULATOR;
using kxtest::WaitUntil;

namespace {

class DemodHandler : public DemodManagerFixture {};

TEST_F(DemodHandler, VersionIsAnsweredWithoutAttachAndShortMessagesGetNoReply)
{
    RawClient client;
    ASSERT_TRUE(client.Connected());
    // Three bytes carry no command: nothing comes back, so the next reply is the version's.
    ASSERT_TRUE(client.Send({1, 0, 0}));
    std::vector<uint8_t> reply = client.Transfer(DemodBuildCodeOnly(KXAPI_SVC_CMD_VERSION));
    ASSERT_EQ(24u, reply.size());
    EXPECT_EQ(0u, KxGetU32(reply.data(), 0));
    EXPECT_EQ(KXAPI_OK, KxGetU32(reply.data(), 4));
    EXPECT_EQ(3u, KxGetU32(reply.data(), 8));
    EXPECT_EQ(8u, KxGetU32(reply.data(), 12));
    EXPECT_EQ(7u, KxGetU32(reply.data(), 16));
    EXPECT_EQ(96u, KxGetU32(reply.data(), 20));
}

TEST_F(DemodHandler, UnattachedConnectionRefusesDetachAndPortCommands)
{
    RawClient client;
    ASSERT_TRUE(client.Connected());
    EXPECT_EQ(KXAPI_E_NOT_ATTACHED, client.Detach());
    std::vector<uint8_t> reply = client.Transfer(DemodBuildCodeOnly(DEMOD_CMD_INIT_DEMODULATOR));
    ASSERT_EQ(8u, reply.size());
    EXPECT_EQ(DEMOD_CMD_INIT_DEMODULATOR, KxGetU32(reply.data(), 0));
    EXPECT_EQ(KXAPI_E_NOT_ATTACHED, KxGetU32(reply.data(), 4));
    // A code no port knows is refused the same way before any port sees it.
    reply = client.Transfer(DemodBuildCodeOnly(200));
    ASSERT_EQ(8u, reply.size());
    EXPECT_EQ(200u, KxGetU32(reply.data(), 0));
    EXPECT_EQ(KXAPI_E_NOT_ATTACHED, KxGetU32(reply.data(), 4));
}

TEST_F(DemodHandler, WrongSizesOfAttachAndDetachAreInvalidAndLeaveTheConnectionAsItWas)
{
    RawClient client;
    ASSERT_TRUE(client.Connected());
    std::vector<uint8_t> attach = DemodBuildAttach(SERIAL_3460, 1, 0);
    std::vector<uint8_t> shortAttach(attach.begin(), attach.end() - 1);
    std::vector<uint8_t> longAttach = attach;
    longAttach.push_back(0);
    EXPECT_EQ(KXAPI_E_INVALID_PARS, client.Result(shortAttach, DEMOD_CMD_ATTACH));
    EXPECT_EQ(KXAPI_E_INVALID_PARS, client.Result(longAttach, DEMOD_CMD_ATTACH));
    EXPECT_EQ(KXAPI_E_NOT_ATTACHED, client.PortCommand());
    EXPECT_EQ(1, Info(SERIAL_3460).m_RefCount);

    ASSERT_EQ(KXAPI_OK, client.Attach(SERIAL_3460, 1));
    std::vector<uint8_t> longDetach = DemodBuildCodeOnly(DEMOD_CMD_DETACH);
    longDetach.push_back(0);
    EXPECT_EQ(KXAPI_E_INVALID_PARS, client.Result(longDetach, DEMOD_CMD_DETACH));
    EXPECT_EQ(KXAPI_E_INVALID_PARS, client.Result(shortAttach, DEMOD_CMD_ATTACH));
    // Still attached after both refusals.
    EXPECT_EQ(2, Info(SERIAL_3460).m_RefCount);
    EXPECT_NE(KXAPI_E_NOT_ATTACHED, client.PortCommand());
}

TEST_F(DemodHandler, AttachNamesAnExistingDeviceAndPort)
{
    RawClient client;
    ASSERT_TRUE(client.Connected());
    EXPECT_EQ(KXAPI_E_NO_SUCH_DEVICE, client.Attach(123456789, 1));
    // The 3460 has one port: 0, 2 and a negative port are out of range and hold nothing.
    EXPECT_EQ(KXAPI_E_NO_SUCH_PORT, client.Attach(SERIAL_3460, 0));
    EXPECT_EQ(KXAPI_E_NO_SUCH_PORT, client.Attach(SERIAL_3460, 2));
    EXPECT_EQ(KXAPI_E_NO_SUCH_PORT, client.Attach(SERIAL_3460, -1));
    EXPECT_EQ(1, Info(SERIAL_3460).m_RefCount);
    EXPECT_EQ(KXAPI_E_NOT_ATTACHED, client.PortCommand());

    ASSERT_EQ(KXAPI_OK, client.Attach(SERIAL_3460, 1));
    EXPECT_EQ(2, Info(SERIAL_3460).m_RefCount);
    EXPECT_NE(KXAPI_E_NOT_ATTACHED, client.PortCommand()); // the port answers it
    EXPECT_EQ(KXAPI_OK, client.Detach());
    EXPECT_EQ(1, Info(SERIAL_3460).m_RefCount);
    EXPECT_EQ(KXAPI_E_NOT_ATTACHED, client.Detach());
    EXPECT_EQ(KXAPI_E_NOT_ATTACHED, client.PortCommand());
}

TEST_F(DemodHandler, SecondAttachOnOneConnectionReplacesTheFirst)
{
    RawClient client;
    ASSERT_TRUE(client.Connected());
    ASSERT_EQ(KXAPI_OK, client.Attach(SERIAL_3460, 1));
    ASSERT_EQ(KXAPI_OK, client.Attach(SERIAL_3460, 1));
    ASSERT_EQ(KXAPI_OK, client.Attach(SERIAL_3460, 1));
    EXPECT_EQ(2, Info(SERIAL_3460).m_RefCount); // one reference per connection, not per attach
    // A failed re-attach leaves the connection unattached, holding nothing.
    EXPECT_EQ(KXAPI_E_NO_SUCH_PORT, client.Attach(SERIAL_3460, 7));
    EXPECT_EQ(1, Info(SERIAL_3460).m_RefCount);
    EXPECT_EQ(KXAPI_E_NOT_ATTACHED, client.Detach());
}

TEST_F(DemodHandler, CloseAndABrokenConnectionBothGiveTheReferenceBack)
{
    RawClient closing, dropping, staying;
    ASSERT_TRUE(closing.Connected() && dropping.Connected() && staying.Connected());
    ASSERT_EQ(KXAPI_OK, closing.Attach(SERIAL_3460, 1));
    ASSERT_EQ(KXAPI_OK, dropping.Attach(SERIAL_3460, 1));
    ASSERT_EQ(KXAPI_OK, staying.Attach(SERIAL_3460, 1));
    EXPECT_EQ(4, Info(SERIAL_3460).m_RefCount);

    closing.Close();
    dropping.Drop();
    EXPECT_TRUE(WaitUntil([&] { return Info(SERIAL_3460).m_RefCount == 2; }, EVENT_TIMEOUT_MS));
    // The finished handlers are reaped; the remaining client is served as before.
    EXPECT_TRUE(WaitUntil([&] { return m_Manager.HandlerCount() == 1; }, EVENT_TIMEOUT_MS));
    EXPECT_NE(KXAPI_E_NOT_ATTACHED, staying.PortCommand());
    EXPECT_EQ(2, Info(SERIAL_3460).m_RefCount);
}

TEST_F(DemodHandler, ManyConnectionsAttachAndLeaveConcurrently)
{
    constexpr int CLIENTS = 8;
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int i = 0; i < CLIENTS; i++) {
        threads.emplace_back([&, i] {
            RawClient client;
            if (!client.Connected()) {
                failures++;
                return;
            }
            for (int round = 0; round < 5; round++) {
                if (client.Attach(SERIAL_3460, 1) != KXAPI_OK || client.PortCommand() == KXAPI_E_NOT_ATTACHED)
                    failures++;
                if ((round + i) % 2 == 0 && client.Detach() != KXAPI_OK)
                    failures++;
            }
            if (i % 2 == 0)
                client.Close();
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(0, failures.load());
    // Every connection is gone: only the map's own reference remains.
    EXPECT_TRUE(WaitUntil([&] { return Info(SERIAL_3460).m_RefCount == 1; }, EVENT_TIMEOUT_MS));
    EXPECT_TRUE(WaitUntil([&] { return m_Manager.HandlerCount() == 0; }, EVENT_TIMEOUT_MS));
}

TEST_F(DemodHandler, RandomConnectionMessagesEachGetOneWellFormedReply)
{
    RawClient client;
    ASSERT_TRUE(client.Connected());
    std::mt19937 random(20261206);
    const uint32_t codes[] = {0, 1, 2, 3, 200, 0xFFFFFFFEu};
    for (int i = 0; i < 300; i++) {
        uint32_t code = codes[random() % 6];
        size_t size = 4 + random() % 40;
        if (code == 1 && random() % 2 == 0)
            size = 24; // well-sized attaches with random serials and ports
        std::vector<uint8_t> body(size);
        for (auto& byte : body)
            byte = static_cast<uint8_t>(random());
        KxPutU32(body.data(), 0, code);
        if (code == 1 && size == 24 && random() % 2 == 0) {
            KxPutU32(body.data(), 8, static_cast<uint32_t>(SERIAL_3460));
            KxPutU32(body.data(), 12, static_cast<uint32_t>(SERIAL_3460 >> 32));
            if (random() % 2 == 0)
                KxPutU32(body.data(), 16, 1);
        }
        std::vector<uint8_t> reply = client.Transfer(body);
        ASSERT_GE(reply.size(), 8u) << "message " << i << " code " << code << " size " << size;
        EXPECT_EQ(code, KxGetU32(reply.data(), 0));
        KXAPI_RESULT result = KxGetU32(reply.data(), 4);
        if (code == 0) {
            EXPECT_EQ(24u, reply.size());
        } else if (code == 1) {
            EXPECT_EQ(8u, reply.size());
            if (size != 24) {
                EXPECT_EQ(KXAPI_E_INVALID_PARS, result);
            } else {
                EXPECT_TRUE(result == KXAPI_OK || result == KXAPI_E_NO_SUCH_DEVICE || result == KXAPI_E_NO_SUCH_PORT)
                    << result;
            }
        } else if (code == 2) {
            EXPECT_EQ(8u, reply.size());
            if (size != 4) {
                EXPECT_EQ(KXAPI_E_INVALID_PARS, result);
            }
        }
        // One reference at most for this connection, whatever came before.
        int refs = Info(SERIAL_3460).m_RefCount;
        EXPECT_TRUE(refs == 1 || refs == 2) << refs;
    }
    client.Close();
    EXPECT_TRUE(WaitUntil([&] { return Info(SERIAL_3460).m_RefCount == 1; }, EVENT_TIMEOUT_MS));
    // The service still serves others.
    RawClient other;
    ASSERT_TRUE(other.Connected());
    EXPECT_EQ(KXAPI_OK, other.Attach(SERIAL_3460, 1));
}

} // namespace
