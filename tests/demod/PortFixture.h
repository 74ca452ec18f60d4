// A port controller on the scripted HAL (port 1), with the requests, replies and event FIFO
// registrations its tests send through it.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>

#include "DemodPortController.h"
#include "DemodSvcProtocol.h"
#include "PortTestSupport.h"
#include "TestDemodHal.h"

namespace kxtest {

class PortFixture : public ::testing::Test {
protected:
    // Carriers at `carriersHz`, then the port initialised.
    void InitPort(std::initializer_list<long long> carriersHz)
    {
        for (long long freqHz : carriersHz)
            m_Hal.AddCarrier(freqHz);
        ASSERT_TRUE(m_Port.Init(1, &m_Hal));
    }
    void TearDown() override { m_Port.CleanUp(); }

    void Send(RecordingPortClient& client, const Kxapi::DemodMsg& msg)
    {
        m_Port.ProcessDemodMsg(msg.data(), static_cast<int>(msg.size()), &client);
    }
    // Sends and returns the reply this request produced.
    Kxapi::DemodMsg Request(RecordingPortClient& client, const Kxapi::DemodMsg& msg)
    {
        const size_t before = client.Count();
        Send(client, msg);
        EXPECT_TRUE(WaitUntil([&] { return client.Count() > before; }, m_ReplyWithinMs)) << KxGetU32(msg.data(), 0);
        return client.Last();
    }
    KXAPI_RESULT Result(RecordingPortClient& client, const Kxapi::DemodMsg& msg)
    {
        Kxapi::DemodMsg reply = Request(client, msg);
        return reply.size() >= 8 ? KxGetU32(reply.data(), 4) : 0xFFFFFFFFu;
    }
    KXAPI_RESULT RegisterResult(RecordingPortClient& client, EventSink& sink, uint64_t mask)
    {
        Kxapi::DemodMsg msg;
        EXPECT_EQ(Kxapi::DemodBuildEventRegisterReq(sink.WideName(), mask, msg), KXAPI_OK);
        return Result(client, msg);
    }
    void Register(RecordingPortClient& client, EventSink& sink, uint64_t mask)
    {
        ASSERT_EQ(RegisterResult(client, sink, mask), KXAPI_OK);
        ASSERT_TRUE(WaitUntil([&] { return sink.Connected(); }, 2000));
    }

    unsigned int m_ReplyWithinMs = 5000;
    ScopedIpcDirectory m_Ipc;
    TestDemodHal m_Hal;
    DemodPortController m_Port;
};

} // namespace kxtest
