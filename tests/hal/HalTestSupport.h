// A virtual rack with a device access object attached to one of its cards, for HAL tests.
#pragma once

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "DemodHal.h"
#include "KxDevice.h"
#include "SimEnvironment.h"
#include "TestSupport.h"

namespace haltest {

constexpr int64_t SERIAL_3460 = 3460000001;
constexpr int64_t SERIAL_3470 = 3470000001;

class VirtualCardFixture : public ::testing::Test {
protected:
    // Loads the default scenario (or scenarioText) and attaches to serial.
    void Attach(int64_t serial, const char* scenarioText = nullptr)
    {
        std::string error;
        if (scenarioText == nullptr)
            ASSERT_EQ(KXAPI_OK, m_Environment.Load(nullptr, error)) << error;
        else
            ASSERT_EQ(KXAPI_OK, m_Environment.LoadText(scenarioText, error)) << error;
        ASSERT_EQ(KXAPI_OK, m_Device.AttachToSerial(serial));
        m_pCard = m_Environment.Rack().Find(serial);
        ASSERT_NE(nullptr, m_pCard);
    }

    kxtest::ScopedIpcDirectory m_Ipc;
    SimEnvironment m_Environment;
    Kxapi::KxDeviceInt m_Device;
    std::shared_ptr<SimCard> m_pCard;
};

} // namespace haltest
