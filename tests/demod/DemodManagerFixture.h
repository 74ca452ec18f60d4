// A demod manager serving virtual cards in this process: private FIFO directory, a rack of
// virtual 3460 cards, and raw demod FIFO clients that speak the connection commands.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "DemodManager.h"
#include "DemodSvcLayouts.h"
#include "DemodSvcProtocol.h"
#include "KxServiceDefs.h"
#include "KxWire.h"
#include "PipeMessenger.h"
#include "SimEnvironment.h"
#include "SimScenario.h"
#include "TestSupport.h"

namespace demodtest {

constexpr long long SERIAL_3460 = 3460000001;
constexpr unsigned int REPLY_TIMEOUT_MS = 5000;
// Long enough for every initialisation, hot-plug and power event of these tests.
constexpr unsigned int EVENT_TIMEOUT_MS = 15000;

// One virtual 3460 card (one port, carrier at 474 MHz). initDelayMs > 0 makes the card's
// initialisation take that long.
inline std::string Card3460(long long serial, int initDelayMs = 0)
{
    std::string delay;
    if (initDelayMs > 0)
        delay = ", {\"name\": \"SIM_INIT_DELAY_MS\", \"value\": " + std::to_string(initDelayMs) + "}";
    return "{\"model\": 3460, \"subType\": 0, \"serial\": " + std::to_string(serial) +
           ", \"firmware\": 5, \"firmwareStatus\": \"ok\", \"properties\": ["
           "{\"name\": \"MOD_FREQ_MIN\", \"value\": 42}, {\"name\": \"MOD_FREQ_MAX\", \"value\": 870},"
           "{\"name\": \"MOD_FREQ_ABSMIN\", \"value\": 42}, {\"name\": \"MOD_FREQ_ABSMAX\", \"value\": 870}" +
           delay +
           "], \"tables\": [], \"vpd\": [{\"keyword\": \"EC\", \"text\": \"A1\"}], \"i2c\": [],"
           "\"inputs\": [[{\"freqHz\": 474000000, \"standard\": \"DVB-T\", \"constellation\": 64,"
           "\"bandwidthHz\": 7610000, \"levelDbm\": -50.0, \"cnDb\": 26.0}]]}";
}

inline std::string Scenario(const std::vector<std::string>& cards)
{
    std::string text = "{\"seed\": 20261205, \"cards\": [";
    for (size_t i = 0; i < cards.size(); i++)
        text += (i == 0 ? "" : ",") + cards[i];
    return text + "]}";
}

// A raw client of "DemodRecvPipe".
class RawClient {
public:
    RawClient()
    {
        KXAPI_RESULT result = KXAPI_OK;
        m_pMessenger.reset(PipeConnectService(DEMOD_SERVICE_PIPE_NAME, result));
    }
    bool Connected() const { return m_pMessenger != nullptr; }

    bool Send(const std::vector<uint8_t>& body)
    {
        std::vector<uint8_t> copy = body;
        return m_pMessenger->WriteMsg(reinterpret_cast<char*>(copy.data()), static_cast<int>(copy.size()));
    }
    // Empty when no reply arrived within timeoutMs (or the connection failed).
    std::vector<uint8_t> Receive(unsigned int timeoutMs = REPLY_TIMEOUT_MS)
    {
        char* body = nullptr;
        int size = 0;
        if (!m_pMessenger->ReadMsg(body, size, timeoutMs))
            return {};
        std::vector<uint8_t> reply(body, body + size);
        free(body);
        return reply;
    }
    std::vector<uint8_t> Transfer(const std::vector<uint8_t>& body)
    {
        if (!Send(body))
            return {};
        return Receive();
    }
    // Result of an 8-byte connection-command reply for `command`; KXAPI_E_INTERNAL when the
    // reply is missing or malformed.
    KXAPI_RESULT Result(const std::vector<uint8_t>& body, uint32_t command)
    {
        std::vector<uint8_t> reply = Transfer(body);
        if (reply.size() != 8 || KxGetU32(reply.data(), 0) != command)
            return KXAPI_E_INTERNAL;
        return KxGetU32(reply.data(), 4);
    }
    KXAPI_RESULT Attach(long long serial, int port)
    {
        return Result(Kxapi::DemodBuildAttach(serial, port, 0), Kxapi::DEMOD_CMD_ATTACH);
    }
    KXAPI_RESULT Detach() { return Result(Kxapi::DemodBuildCodeOnly(Kxapi::DEMOD_CMD_DETACH), Kxapi::DEMOD_CMD_DETACH); }
    // Retries the attach until it answers OK (a device still initialising answers
    // KXAPI_E_NO_SUCH_DEVICE); the last result.
    KXAPI_RESULT AttachWhenReady(long long serial, int port, unsigned int timeoutMs = EVENT_TIMEOUT_MS)
    {
        KXAPI_RESULT result = KXAPI_E_INTERNAL;
        kxtest::WaitUntil([&] { return (result = Attach(serial, port)) == KXAPI_OK; }, timeoutMs);
        return result;
    }
    // A port command that every port answers itself (InitDemodulator): the reply's result,
    // KXAPI_E_INTERNAL when it is missing or malformed.
    KXAPI_RESULT PortCommand()
    {
        std::vector<uint8_t> reply = Transfer(Kxapi::DemodBuildCodeOnly(Kxapi::DEMOD_CMD_INIT_DEMODULATOR));
        if (reply.size() < 8 || KxGetU32(reply.data(), 0) != Kxapi::DEMOD_CMD_INIT_DEMODULATOR)
            return KXAPI_E_INTERNAL;
        return KxGetU32(reply.data(), 4);
    }
    void Close()
    {
        Send(Kxapi::DemodBuildCodeOnly(KXAPI_SVC_CMD_CLOSE));
        m_pMessenger.reset();
    }
    void Drop() { m_pMessenger.reset(); }

private:
    std::unique_ptr<PipeMessenger> m_pMessenger;
};

// Manager started on a rack of the given cards (default: one 3460), which is initialised.
class DemodManagerFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_EQ(KXAPI_OK, m_Env.LoadText(Scenario(Cards()), error)) << error;
        ASSERT_TRUE(m_Manager.Init());
        ASSERT_TRUE(m_Manager.Start());
        ASSERT_TRUE(WaitForController(SERIAL_3460));
    }
    virtual std::vector<std::string> Cards() { return {Card3460(SERIAL_3460)}; }

    bool WaitForController(long long serial)
    {
        DemodManager::ControllerInfo info;
        return kxtest::WaitUntil([&] { return m_Manager.GetControllerInfo(serial, info) && !info.m_Removed; },
                                 EVENT_TIMEOUT_MS);
    }
    bool WaitForNoController(long long serial)
    {
        DemodManager::ControllerInfo info;
        return kxtest::WaitUntil([&] { return !m_Manager.GetControllerInfo(serial, info); }, EVENT_TIMEOUT_MS);
    }
    DemodManager::ControllerInfo Info(long long serial)
    {
        DemodManager::ControllerInfo info;
        info.m_RefCount = -1;
        m_Manager.GetControllerInfo(serial, info);
        return info;
    }
    KXAPI_RESULT Plug(const std::string& cardJson)
    {
        std::shared_ptr<SimCard> card;
        std::string error;
        KXAPI_RESULT result = SimParseCard(cardJson, m_Env.Seed(), card, error);
        if (result != KXAPI_OK)
            return result;
        return m_Env.Rack().Plug(card);
    }

    kxtest::ScopedIpcDirectory m_Ipc;
    SimEnvironment m_Env;
    DemodManager m_Manager;
};

} // namespace demodtest
