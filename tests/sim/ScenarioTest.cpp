// Scenario files: the default scenario's contents and the refusal of malformed files.
#include <gtest/gtest.h>

#include <set>

#include "SimScenario.h"

namespace {

TEST(Scenario, DefaultListsEveryModelWithCarriers)
{
    SimScenario scenario;
    std::string error;
    ASSERT_EQ(KXAPI_OK, SimLoadDefaultScenario(scenario, error)) << error;
    std::set<std::pair<int, int>> models;
    for (const auto& card : scenario.m_Cards) {
        models.insert({card->m_Model, card->m_Model == 3530 || card->m_Model == 830 ? card->m_SubType : 0});
        ASSERT_GE(card->Scene().NumInputs(), 1) << card->m_Model;
        EXPECT_FALSE(card->Scene().Carriers(0).empty()) << card->m_Model;
        EXPECT_EQ(card->m_NumPorts, card->Scene().NumInputs()) << "one RF input per port: " << card->m_Model;
    }
    const std::set<std::pair<int, int>> expected = {{3460, 0}, {3470, 0}, {3480, 0}, {3490, 0}, {3510, 0},
                                                    {3520, 0}, {3530, 1}, {3530, 2}, {3530, 3}, {810, 0},
                                                    {820, 0},  {830, 0},  {830, 1},  {850, 0}};
    EXPECT_EQ(expected, models);
}

TEST(Scenario, FamiliesFollowTheModelTable)
{
    KxDriverFamily family;
    int ports = 0;
    ASSERT_TRUE(SimModelInfo(3470, 0, family, ports));
    EXPECT_EQ(KX_FAMILY_PCIE, family);
    EXPECT_EQ(2, ports);
    ASSERT_TRUE(SimModelInfo(3530, 1, family, ports));
    EXPECT_EQ(KX_FAMILY_KXA, family);
    ASSERT_TRUE(SimModelInfo(3530, 3, family, ports));
    EXPECT_EQ(KX_FAMILY_PCIE, family);
    EXPECT_EQ(12, ports);
    ASSERT_TRUE(SimModelInfo(850, 0, family, ports));
    EXPECT_EQ(KX_FAMILY_KXU, family);
    EXPECT_FALSE(SimModelInfo(9999, 0, family, ports));
}

TEST(Scenario, MalformedFilesAreRefusedWithAReason)
{
    const char* bad[] = {
        "",
        "{",
        "{\"cards\": 5}",
        "{\"cards\": [{\"model\": 9999, \"serial\": 1}]}",
        "{\"cards\": [{\"model\": 3490}]}",
        "{\"cards\": [{\"model\": 3490, \"serial\": 1, \"inputs\": [[{\"freqHz\": 1}]]}]}",
        "{\"cards\": [{\"model\": 3490, \"serial\": 1, \"vpd\": [{\"keyword\": \"TOOLONG\", \"text\": \"x\"}]}]}",
        "{\"cards\": [{\"model\": 3490, \"serial\": 1, \"ports\": 0}]}",
        // An I2C device whose address is missing or not a number (nothing of it may stay behind).
        "{\"cards\": [{\"model\": 3490, \"serial\": 1, \"i2c\": [{\"size\": 16}]}]}",
        "{\"cards\": [{\"model\": 3490, \"serial\": 1, \"i2c\": [{\"address\": \"a0\", \"hex\": \"01\"}]}]}",
        "{\"cards\": [{\"model\": \"3490\", \"serial\": 1}]}",
        // Numbers with a fraction or exponent beyond the integer fields they land in.
        "{\"cards\": [{\"model\": 3.49e9, \"serial\": 1}]}",
        "{\"cards\": [{\"model\": 3490, \"serial\": 1e300}]}",
        "{\"seed\": -1e19, \"cards\": []}",
    };
    for (const char* text : bad) {
        SimScenario scenario;
        std::string error;
        EXPECT_EQ(KXAPI_E_INVALID_FORMAT, SimParseScenario(text, scenario, error)) << text;
        EXPECT_FALSE(error.empty()) << text;
        EXPECT_TRUE(scenario.m_Cards.empty());
    }
}

TEST(Scenario, CarrierNumbersMustFitTheirFields)
{
    struct Row {
        const char* m_pText;
        KXAPI_RESULT m_Result;
    };
    const Row rows[] = {
        {"{\"freqHz\": 474000000, \"bandwidthHz\": 8000000, \"levelDbm\": -50.5, \"cnDb\": 26.0}", KXAPI_OK},
        {"{\"freqHz\": 12000000000, \"symbolRateBd\": 27500000, \"levelDbm\": -50.5}", KXAPI_OK},
        {"{\"freqHz\": 4.82e74, \"bandwidthHz\": 8000000}", KXAPI_E_INVALID_FORMAT},
        {"{\"freqHz\": 474000000, \"bandwidthHz\": -1e10}", KXAPI_E_INVALID_FORMAT},
        {"{\"freqHz\": 474000000, \"bandwidthHz\": 8000000, \"streams\": [1, 2e12]}", KXAPI_E_INVALID_FORMAT},
        // Streams of a DVB-S2 carrier: one MODCOD per stream for VCM and ACM, ids and MODCODs in a byte.
        {"{\"freqHz\": 1e9, \"symbolRateBd\": 1e6, \"streams\": [1, 2], \"coding\": \"VCM\", \"streamModCods\": [4, 17]}",
         KXAPI_OK},
        {"{\"freqHz\": 1e9, \"symbolRateBd\": 1e6, \"streams\": [1, 2], \"coding\": \"ACM\", \"streamModCods\": [4]}",
         KXAPI_E_INVALID_FORMAT},
        {"{\"freqHz\": 1e9, \"symbolRateBd\": 1e6, \"streams\": [1, 2], \"coding\": \"ACM\"}", KXAPI_E_INVALID_FORMAT},
        {"{\"freqHz\": 1e9, \"symbolRateBd\": 1e6, \"streams\": [1], \"coding\": \"XCM\"}", KXAPI_E_INVALID_FORMAT},
        {"{\"freqHz\": 1e9, \"symbolRateBd\": 1e6, \"streams\": [255, 0]}", KXAPI_OK},
        {"{\"freqHz\": 1e9, \"symbolRateBd\": 1e6, \"streams\": [256]}", KXAPI_E_INVALID_FORMAT},
        {"{\"freqHz\": 1e9, \"symbolRateBd\": 1e6, \"streams\": [-1]}", KXAPI_E_INVALID_FORMAT},
        {"{\"freqHz\": 1e9, \"symbolRateBd\": 1e6, \"streams\": [1], \"coding\": \"VCM\", \"streamModCods\": [256]}",
         KXAPI_E_INVALID_FORMAT},
    };
    for (const Row& row : rows) {
        SimCarrier carrier;
        std::string error;
        EXPECT_EQ(row.m_Result, SimParseCarrier(row.m_pText, carrier, error)) << row.m_pText;
    }
}

TEST(Scenario, CardFieldsReachTheCard)
{
    const char* text = R"({"seed": 9, "cards": [{"model": 830, "subType": 1, "serial": 77, "firmware": 3,
        "firmwareStatus": "obsolete", "properties": [{"name": "A", "value": 5}, {"port": 0, "name": "B", "text": "t"}],
        "tables": [{"port": 0, "name": "T", "entries": [[1, 2], [3, 4]]}],
        "vpd": [{"keyword": "EC", "hex": "0a0b"}], "i2c": [{"address": 160, "hex": "01"}],
        "inputs": [[{"freqHz": 306000000, "symbolRateBd": 6900000, "constellation": 256}]]}]})";
    SimScenario scenario;
    std::string error;
    ASSERT_EQ(KXAPI_OK, SimParseScenario(text, scenario, error)) << error;
    ASSERT_EQ(1u, scenario.m_Cards.size());
    SimCard& card = *scenario.m_Cards[0];
    EXPECT_EQ(9u, scenario.m_Seed);
    EXPECT_EQ(2, card.m_FirmwareStatus);
    bool isString = false;
    int64_t value = 0;
    std::string textValue;
    ASSERT_TRUE(card.GetProperty(-1, "A", isString, value, textValue));
    EXPECT_EQ(5, value);
    ASSERT_TRUE(card.GetProperty(0, "B", isString, value, textValue));
    EXPECT_TRUE(isString);
    EXPECT_EQ("t", textValue);
    std::vector<std::pair<int64_t, int64_t>> entries;
    ASSERT_TRUE(card.GetTable(0, "T", entries));
    EXPECT_EQ(2u, entries.size());
    std::vector<unsigned char> vpd;
    ASSERT_TRUE(card.GetVpd(-1, "EC", vpd));
    EXPECT_EQ((std::vector<unsigned char>{0x0a, 0x0b}), vpd);
    ASSERT_NE(nullptr, card.I2cDevice(-1, 0xA1)) << "read address finds the same device";
    ASSERT_NE(nullptr, card.Scene().CarrierAt(0, 306000000));
}

} // namespace
