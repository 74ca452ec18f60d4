// A virtual rack with a device access object attached to one of its cards, for HAL tests.
#pragma once

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "DemodHal.h"
#include "KxDevice.h"
#include "KxModelTable.h"
#include "SimEnvironment.h"
#include "TestSupport.h"

namespace haltest {

constexpr int64_t SERIAL_3460 = 3460000001;
constexpr int64_t SERIAL_3470 = 3470000001;
constexpr int64_t SERIAL_3490 = 3490000001;
constexpr int64_t SERIAL_3530 = 3530000001;

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

    // Loads the default scenario and attaches to its first card of model (its row of the model
    // table); fails the test when the scenario has none.
    void AttachFirstCardOf(const KxModelInfo& model)
    {
        std::string error;
        ASSERT_EQ(KXAPI_OK, m_Environment.Load(nullptr, error)) << error;
        for (const std::shared_ptr<SimCard>& card : m_Environment.Rack().Cards()) {
            if (KxFindModel(card->m_Model, card->m_SubType) == &model) {
                m_pCard = card;
                break;
            }
        }
        ASSERT_NE(nullptr, m_pCard) << "the default scenario has no " << model.m_pName;
        ASSERT_EQ(KXAPI_OK, m_Device.AttachToSerial(m_pCard->m_Serial));
    }

    kxtest::ScopedIpcDirectory m_Ipc;
    SimEnvironment m_Environment;
    Kxapi::KxDeviceInt m_Device;
    std::shared_ptr<SimCard> m_pCard;
};

} // namespace haltest
