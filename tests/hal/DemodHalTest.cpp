// The model table, the HALs registered for its rows and NewDemodHal built on both, and what
// every receiver HAL inherits: frequency attributes from port properties, property tables
// re-read at the reported size, and the RF-level tables.
#include <memory>

#include <gtest/gtest.h>

#include "DemodHalRegistry.h"
#include "HalTestSupport.h"
#include "KxDriverRequests.h"
#include "KxModelTable.h"
#include "KxRfCal.h"
#include "Kxa3460Hal.h"
#include "UnavailableHal.h"

using namespace Kxapi;
using haltest::SERIAL_3460;
using haltest::SERIAL_3470;

namespace {

// A 3460 without frequency properties or tables.
const char BARE_3460_SCENARIO[] = R"({"cards": [{"model": 3460, "serial": 3460000005}]})";

class DemodHalTest : public haltest::VirtualCardFixture {};

int CountRequests(SimCard& card, uint32_t request)
{
    int count = 0;
    for (const SimCard::LoggedRequest& logged : card.TakeRequestLog())
        count += logged.m_Request == request ? 1 : 0;
    return count;
}

} // namespace

TEST(ModelTableTest, SubTypeRowsComeBeforeTheRowForAnySubType)
{
    struct Lookup {
        int m_Type;
        int m_SubType;
        const char* m_pClass; // null: not a receiver
    };
    const Lookup lookups[] = {
        {3530, 2, "Kxa3530BHal"}, {3530, 3, "Kxa3530CHal"}, {3530, 1, "Kx3530Hal"}, {3530, 0, "Kx3530Hal"},
        {3530, 7, "Kx3530Hal"},   {830, 1, "Kxu830Hal"},    {3460, 0, "Kxa3460Hal"}, {3999, 0, nullptr},
        {0, 0, nullptr},          {2111, 0, nullptr},       {3530, -2, "Kx3530Hal"},
    };
    for (const Lookup& lookup : lookups) {
        const KxModelInfo* pModel = KxFindModel(lookup.m_Type, lookup.m_SubType);
        if (lookup.m_pClass == nullptr) {
            EXPECT_EQ(nullptr, pModel) << lookup.m_Type;
            continue;
        }
        ASSERT_NE(nullptr, pModel) << lookup.m_Type;
        EXPECT_STREQ(lookup.m_pClass, pModel->m_pHalClass) << lookup.m_Type << "/" << lookup.m_SubType;
        EXPECT_EQ(lookup.m_Type, pModel->m_TypeNumber);
    }
    // Every row is reachable: no row for any sub-type hides a later row of the same type, and
    // no two rows name the same model.
    const auto table = KxModelTable();
    for (size_t i = 0; i < table.size(); i++) {
        const int probe = table[i].m_SubType == KX_MODEL_ANY_SUBTYPE ? 1000 : table[i].m_SubType;
        EXPECT_EQ(&table[i], KxFindModel(table[i].m_TypeNumber, probe)) << table[i].m_pName;
        EXPECT_GE(table[i].m_NumPorts, 1) << table[i].m_pName;
        for (size_t j = 0; j < i; j++)
            EXPECT_STRNE(table[j].m_pName, table[i].m_pName);
    }
}

TEST(HalRegistryTest, NewDemodHalBuildsEveryModelOfTheTableWithItsRegisteredHal)
{
    kxtest::ScopedIpcDirectory ipc;
    KxDeviceInt device; // not attached: construction touches no hardware
    for (const KxModelInfo& model : KxModelTable()) {
        const int subType = model.m_SubType == KX_MODEL_ANY_SUBTYPE ? 0 : model.m_SubType;
        std::unique_ptr<DemodHal> hal(NewDemodHal(model.m_TypeNumber, subType, 42, device));
        ASSERT_NE(nullptr, hal) << model.m_pName;
        EXPECT_EQ(model.m_NumPorts, hal->NumDemodPorts()) << model.m_pName;
        EXPECT_EQ(42, hal->Serial());
        if (const DemodHalDescriptor* pRegistered = FindRegisteredDemodHal(model)) {
            std::unique_ptr<DemodHal> made(pRegistered->m_pMake(1, device));
            ASSERT_NE(nullptr, made);
            EXPECT_EQ(typeid(*made), typeid(*hal)) << model.m_pName;
            EXPECT_EQ(&model, made->Model());
            continue;
        }
        auto* unavailable = dynamic_cast<UnavailableHal*>(hal.get());
        ASSERT_NE(nullptr, unavailable) << model.m_pName;
        EXPECT_STREQ(model.m_pHalClass, unavailable->ClassName()) << model.m_pName;
        EXPECT_EQ(KXAPI_E_NOT_SUPPORTED, hal->Init()) << model.m_pName;
    }
    // Every registered HAL names a row of the table, and no row has two.
    ASSERT_FALSE(RegisteredDemodHals().empty());
    for (const DemodHalDescriptor* pHal : RegisteredDemodHals()) {
        ASSERT_NE(nullptr, pHal->Model()) << pHal->m_TypeNumber << "/" << pHal->m_SubType;
        EXPECT_EQ(pHal, FindRegisteredDemodHal(*pHal->Model())) << pHal->Model()->m_pName << " is registered twice";
    }
    std::unique_ptr<DemodHal> tuner(NewDemodHal(3460, 0, SERIAL_3460, device));
    EXPECT_NE(nullptr, dynamic_cast<Kxa3460Hal*>(tuner.get()));
    EXPECT_EQ(nullptr, NewDemodHal(3999, 0, 1, device));
}

TEST_F(DemodHalTest, FrequencyAttributesComeFromThePortProperties)
{
    Attach(SERIAL_3460);
    Kxa3460Hal hal(SERIAL_3460, m_Device);
    const int expected[][2] = {{DEMOD_ATTR_MOD_FREQ_ABSMAX, 870}, {DEMOD_ATTR_MOD_FREQ_ABSMIN, 42},
                               {DEMOD_ATTR_MOD_FREQ_MAX, 870}, {DEMOD_ATTR_MOD_FREQ_MIN, 42}};
    for (const auto& row : expected) {
        int value = -5;
        EXPECT_EQ(KXAPI_OK, hal.GetAttribute(1, row[0], value, false));
        EXPECT_EQ(row[1], value) << row[0];
    }
    // HAL port 1 is port index 0 of the device.
    m_pCard->SetProperty(0, "MOD_FREQ_MAX", 860);
    m_pCard->SetProperty(1, "MOD_FREQ_MAX", 850);
    int value = 0;
    EXPECT_EQ(KXAPI_OK, hal.GetAttribute(1, DEMOD_ATTR_MOD_FREQ_MAX, value, false));
    EXPECT_EQ(860, value);
    value = 77;
    EXPECT_EQ(KXAPI_E_NOT_SUPPORTED, hal.GetAttribute(1, 8, value, false));
    EXPECT_EQ(KXAPI_E_NOT_SUPPORTED, hal.GetAttribute(1, 3, value, false));
    EXPECT_EQ(77, value);
}

TEST_F(DemodHalTest, MissingFrequencyPropertyLeavesTheValue)
{
    Attach(3460000005, BARE_3460_SCENARIO);
    Kxa3460Hal hal(3460000005, m_Device);
    int value = 1234;
    EXPECT_EQ(KXAPI_OK, hal.GetAttribute(1, DEMOD_ATTR_MOD_FREQ_ABSMAX, value, false));
    EXPECT_EQ(1234, value);
}

TEST_F(DemodHalTest, TableIsReadAgainAtTheReportedSize)
{
    Attach(SERIAL_3460);
    std::vector<std::pair<int64_t, int64_t>> rows;
    for (int i = 0; i < 20; i++)
        rows.emplace_back(100 + i, -3 * i);
    m_pCard->SetTable(0, "TEST_TABLE", rows);
    Kxa3460Hal hal(SERIAL_3460, m_Device);

    m_pCard->EnableRequestLog(true);
    std::vector<KxTableEntry> entries;
    ASSERT_EQ(KXAPI_OK, hal.GetTable(1, "TEST_TABLE", entries));
    EXPECT_EQ(2, CountRequests(*m_pCard, KXA_REQ_TABLE));
    ASSERT_EQ(20u, entries.size());
    for (int i = 0; i < 20; i++) {
        EXPECT_EQ(100 + i, entries[i].X);
        EXPECT_EQ(-3 * i, entries[i].Y);
    }
    // A list that is large enough is used as it is: one call.
    ASSERT_EQ(KXAPI_OK, hal.GetTable(1, "TEST_TABLE", entries));
    EXPECT_EQ(1, CountRequests(*m_pCard, KXA_REQ_TABLE));
    EXPECT_EQ(20u, entries.size());

    EXPECT_TRUE(KxapiFailed(hal.GetTable(1, "NO_SUCH_TABLE", entries)));
    EXPECT_TRUE(entries.empty());
}

TEST_F(DemodHalTest, RfLevelTablesOfBothPorts)
{
    Attach(SERIAL_3470);
    std::unique_ptr<DemodHal> hal(NewDemodHal(3470, 0, SERIAL_3470, m_Device));
    ASSERT_NE(nullptr, hal);
    KxRfCalV1 cal;
    ASSERT_EQ(KXAPI_OK, hal->GetRfLevelTables(1, &cal));
    ASSERT_EQ(2, cal.NumTables());
    EXPECT_EQ(950, cal.m_StartFreqMHz);
    EXPECT_EQ(100, cal.m_FreqStepMHz);
    ASSERT_EQ(13, cal.NumFrequencies());
    EXPECT_EQ(-30, cal.m_Tables[0].m_Power);
    EXPECT_EQ(-60, cal.m_Tables[1].m_Power);
    // Offsets are the table's tenths cut to whole units: 50, 53, ..., 86 -> 5, 5, 5, 5, 6, ...
    const int8_t first[13] = {5, 5, 5, 5, 6, 6, 6, 7, 7, 7, 8, 8, 8};
    for (int j = 0; j < 13; j++)
        EXPECT_EQ(first[j], cal.m_Tables[0].m_Offsets[static_cast<size_t>(j)]) << j;
    EXPECT_EQ(12, cal.m_Tables[1].m_Offsets[0]);

    // Port 2 reads port index 1's tables.
    std::vector<std::pair<int64_t, int64_t>> port1Table;
    ASSERT_TRUE(m_pCard->GetTable(1, "DEMOD_FREQ_COMP00", port1Table));
    m_pCard->SetTable(1, "DEMOD_FREQ_COMP00", {{950, 250}, {1000, 90}});
    KxRfCalV1 cal2;
    ASSERT_EQ(KXAPI_OK, hal->GetRfLevelTables(2, &cal2));
    EXPECT_EQ(50, cal2.m_FreqStepMHz);
    EXPECT_EQ(2, cal2.NumFrequencies());
    EXPECT_EQ(25, cal2.m_Tables[0].m_Offsets[0]);
}

TEST_F(DemodHalTest, RfLevelTablesStopAtTheFirstMissingTable)
{
    Attach(SERIAL_3460);
    Kxa3460Hal hal(SERIAL_3460, m_Device);
    KxRfCalV1 cal;
    cal.SetNumFrequencies(3);
    cal.SetNumTables(1);
    // No index table: the set is cleared and the device's answer returned.
    EXPECT_TRUE(KxapiFailed(hal.GetRfLevelTables(1, &cal)));
    EXPECT_EQ(0, cal.NumTables());
    EXPECT_EQ(0, cal.NumFrequencies());

    m_pCard->SetTable(0, "DEMOD_FREQ_COMP_TABLES", {{0, -205}, {7, -400}});
    m_pCard->SetTable(0, "DEMOD_FREQ_COMP00", {{100, 11}, {120, -19}, {140, 30}});
    EXPECT_TRUE(KxapiFailed(hal.GetRfLevelTables(1, &cal)));
    ASSERT_EQ(2, cal.NumTables());
    EXPECT_EQ(-20, cal.m_Tables[0].m_Power); // -20.5 truncated
    EXPECT_EQ(1, cal.m_Tables[0].m_Offsets[0]);
    EXPECT_EQ(-1, cal.m_Tables[0].m_Offsets[1]);
    EXPECT_EQ(3, cal.m_Tables[0].m_Offsets[2]);
    EXPECT_EQ(0, cal.m_Tables[1].m_Power) << "the missing table stays empty";

    m_pCard->SetTable(0, "DEMOD_FREQ_COMP07", {{100, 40}, {120, 50}, {140, 60}});
    ASSERT_EQ(KXAPI_OK, hal.GetRfLevelTables(1, &cal));
    EXPECT_EQ(-40, cal.m_Tables[1].m_Power);
    EXPECT_EQ(6, cal.m_Tables[1].m_Offsets[2]);
    EXPECT_EQ(20, cal.m_FreqStepMHz);
}
