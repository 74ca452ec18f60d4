// The scenario's card files and port templates: the embedded default scenario, the card files
// a scenario names, the expansion of a port template and the refusal of bad ones.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <set>
#include <string>

#include "KxModelTable.h"
#include "SimCardModel.h"
#include "SimScenario.h"
#include "TestSupport.h"

namespace {

std::string Text(SimCard& card, int port, const std::string& name)
{
    bool isString = false;
    int64_t value = 0;
    std::string text;
    if (!card.GetProperty(port, name, isString, value, text))
        return "(missing)";
    return isString ? text : std::to_string(value);
}

TEST(ScenarioFiles, TheIndexListsEveryEmbeddedCardFileOnce)
{
    std::set<std::string> cardFiles;
    std::string index;
    for (const SimScenarioFile& file : SimDefaultScenarioFiles()) {
        if (std::string(file.m_pName) == SIM_SCENARIO_INDEX)
            index = file.m_pText;
        else
            cardFiles.insert(file.m_pName);
    }
    ASSERT_FALSE(index.empty());
    std::set<std::string> listed;
    SimScenario scenario;
    std::string error;
    auto reader = [&listed](const std::string& name, std::string& text) {
        EXPECT_TRUE(listed.insert(name).second) << name << " listed twice";
        for (const SimScenarioFile& file : SimDefaultScenarioFiles()) {
            if (name == file.m_pName) {
                text = file.m_pText;
                return true;
            }
        }
        return false;
    };
    ASSERT_EQ(KXAPI_OK, SimParseScenario(index, scenario, error, reader)) << error;
    EXPECT_EQ(cardFiles, listed) << "a card file the index does not name is never loaded";
    EXPECT_EQ(cardFiles.size(), scenario.m_Cards.size());
}

TEST(ScenarioFiles, EveryCardHasAVirtualCardModelAndAModelTableRow)
{
    SimScenario scenario;
    std::string error;
    ASSERT_EQ(KXAPI_OK, SimLoadDefaultScenario(scenario, error)) << error;
    for (const auto& card : scenario.m_Cards) {
        EXPECT_NE(nullptr, SimFindCardModel(card->m_Model, card->m_SubType)) << card->m_Serial;
        const KxModelInfo* pRow = KxFindModel(card->m_Model, card->m_SubType);
        ASSERT_NE(nullptr, pRow) << card->m_Serial;
        EXPECT_EQ(pRow->m_NumPorts, card->m_NumPorts) << card->m_Serial;
        EXPECT_EQ(pRow->m_Family, card->m_Family) << card->m_Serial;
    }
    // Every registered model is a row of the table, and every row has a registered model.
    std::set<std::pair<int, int>> seen;
    for (const SimCardModel& model : SimCardModels()) {
        const KxModelInfo* pRow = KxFindModel(model.m_Model, model.m_SubType);
        ASSERT_NE(nullptr, pRow) << model.m_Model;
        EXPECT_EQ(model.m_SubType, pRow->m_SubType) << model.m_Model << ": the row of exactly this sub-type";
        EXPECT_TRUE(seen.insert({model.m_Model, model.m_SubType}).second) << model.m_Model << " listed twice";
    }
    for (const KxModelInfo& row : KxModelTable())
        EXPECT_TRUE(seen.count({row.m_TypeNumber, row.m_SubType})) << row.m_pName << " has no virtual-card model";
}

// A twelve-port card written once: every port gets the template, port 3 its own input and
// port 11 its own tables.
const char* const TWELVE_PORTS = R"({"model": 3530, "subType": 2, "serial": 3530000077,
  "properties": [{"name": "MOD_FREQ_MAX", "value": 1002}],
  "ports": {
    "template": {
      "properties": [{"name": "LABEL", "text": "port {port}"}],
      "tables": [{"name": "DEMOD_FREQ_COMP_TABLES", "entries": [[0, -300]]}],
      "blocks": [{"name": "BC_I2CM_{port}", "type": 8, "uuid": 1001, "uuidStep": 2},
                 {"name": "AF_I2CM_{port}", "type": 9, "uuid": 5002, "uuidStep": 2, "children": ["BC_I2CM_{port}"]}],
      "functions": ["AF_I2CM_{port}"],
      "input": [{"freqHz": 474000000, "bandwidthHz": 7610000}]
    },
    "overrides": [
      {"port": 3, "input": [{"freqHz": 522000000, "bandwidthHz": 7770000}, {"freqHz": 618000000, "bandwidthHz": 7610000}]},
      {"port": 11, "tables": [{"name": "DEMOD_FREQ_COMP_TABLES", "entries": [[0, -100], [1, -200]]}]}
    ]
  }})";

TEST(ScenarioFiles, ATemplateGivesEveryPortItsEntriesWithTheOverridesApplied)
{
    std::shared_ptr<SimCard> card;
    std::string error;
    ASSERT_EQ(KXAPI_OK, SimParseCard(TWELVE_PORTS, 1, card, error)) << error;
    ASSERT_EQ(12, card->m_NumPorts);
    ASSERT_EQ(12, card->Scene().NumInputs());
    EXPECT_EQ("1002", Text(*card, -1, "MOD_FREQ_MAX")) << "the card's own entries stay";
    for (int port = 0; port < 12; port++) {
        SCOPED_TRACE(port);
        EXPECT_EQ("port " + std::to_string(port), Text(*card, port, "LABEL"));
        std::vector<std::pair<int64_t, int64_t>> entries;
        ASSERT_TRUE(card->GetTable(port, "DEMOD_FREQ_COMP_TABLES", entries));
        EXPECT_EQ(port == 11 ? 2u : 1u, entries.size());
        SimBlock block;
        ASSERT_TRUE(card->FindBlock(static_cast<uint32_t>(1001 + 2 * port), block));
        EXPECT_EQ("BC_I2CM_" + std::to_string(port), block.m_Name);
        EXPECT_EQ(port, block.m_Port);
        ASSERT_TRUE(card->FindBlock(static_cast<uint32_t>(5002 + 2 * port), block));
        EXPECT_EQ(std::vector<std::string>{"BC_I2CM_" + std::to_string(port)}, block.m_Children);
        EXPECT_EQ("AF_I2CM_" + std::to_string(port), Text(*card, port, "DEVICE.1"));
        EXPECT_EQ(std::to_string(1001 + 2 * port), Text(*card, port, "BC_I2CM_" + std::to_string(port) + "_UUID"));
        const auto& carriers = card->Scene().Carriers(port);
        ASSERT_EQ(port == 3 ? 2u : 1u, carriers.size());
        EXPECT_EQ(port == 3 ? 522000000 : 474000000, carriers[0].m_FreqHz);
    }
    SimBlock block;
    EXPECT_FALSE(card->FindBlock(1001 + 2 * 12, block)) << "no thirteenth port";
}

TEST(ScenarioFiles, BadTemplatesAreRefusedNamingTheCardAndTheFault)
{
    struct Row {
        const char* m_pPorts;
        const char* m_pCardExtra;
        const char* m_pReason;
    };
    const Row rows[] = {
        {R"({"count": 0})", "", "count 0"},
        {R"({"count": 65})", "", "count 65"},
        {R"({"size": 2})", "", "\"size\""},
        {R"({"template": {"inputs": []}})", "", "\"inputs\""},
        {R"({"template": {"tables": [{"port": 1, "name": "T", "entries": []}]}})", "", "without a port"},
        {R"({"template": {"blocks": [{"name": "B_{port}", "type": 8, "uuid": 1}]}})", "", "B_0 needs uuid and uuidStep"},
        {R"({"template": {"blocks": [{"name": "B", "type": 8, "uuid": 1, "uuidStep": 0}]}})", "", "uuidStep out of range"},
        {R"({"template": {"blocks": [{"name": "B", "type": 8, "uuid": 4294967295, "uuidStep": 1}]}})", "",
         "uuid out of range at port 1"},
        {R"({"count": 2, "overrides": [{"port": 2}]})", "", "port 2 outside 0..1"},
        {R"({"overrides": [{"tables": []}]})", "", "port (none)"},
        {R"({"overrides": [{"port": 1}, {"port": 1}]})", "", "two overrides for port 1"},
        {R"({"overrides": [{"port": 1, "input": []}]})", "", "port 1 has an input"},
        {R"({"template": {"input": []}})", R"(, "inputs": [[], []])", "inputs given both"},
        {R"({"template": {"functions": ["AF"]}})", R"(, "functions": [{"port": 0, "names": ["AF"]}])",
         "functions of port 0 given both"},
        {R"({"overrides": [{"port": 1, "functions": ["AF"]}]})", R"(, "functions": [{"port": 0, "names": ["AF"]}])",
         "functions of port 1 given both"},
    };
    for (const Row& row : rows) {
        const std::string card = std::string(R"({"model": 3490, "serial": 3490000066, "ports": )") + row.m_pPorts +
                                 row.m_pCardExtra + "}";
        SimScenario scenario;
        std::string error;
        EXPECT_EQ(KXAPI_E_INVALID_FORMAT, SimParseScenario("{\"cards\": [" + card + "]}", scenario, error)) << card;
        EXPECT_NE(std::string::npos, error.find("card 3490000066: port template:")) << error;
        EXPECT_NE(std::string::npos, error.find(row.m_pReason)) << error;
        EXPECT_TRUE(scenario.m_Cards.empty());
    }
}

TEST(ScenarioFiles, CardFilesAreReadBesideTheScenarioAndNamedInErrors)
{
    kxtest::TempDir dir;
    std::ofstream(dir.File("scenario.json")) << R"({"seed": 3, "cards": ["a.json", {"model": 810, "serial": 81}]})";
    std::ofstream(dir.File("a.json")) << R"({"model": 3490, "serial": 34, "ports": {"template": {"input": []}}})";
    SimScenario scenario;
    std::string error;
    ASSERT_EQ(KXAPI_OK, SimLoadScenarioFile(dir.File("scenario.json").c_str(), scenario, error)) << error;
    ASSERT_EQ(2u, scenario.m_Cards.size());
    EXPECT_EQ(34, scenario.m_Cards[0]->m_Serial);
    EXPECT_EQ(2, scenario.m_Cards[0]->Scene().NumInputs());
    EXPECT_EQ(81, scenario.m_Cards[1]->m_Serial);

    // The file a fault is in is named, whichever card of it.
    std::ofstream(dir.File("a.json")) << R"({"model": 3490, "serial": 34, "ports": {"count": 99}})";
    EXPECT_EQ(KXAPI_E_INVALID_FORMAT, SimLoadScenarioFile(dir.File("scenario.json").c_str(), scenario, error));
    EXPECT_EQ(0u, error.find("a.json: port template: count 99")) << error;

    // Card file names are one plain component: valid card files outside the scenario's directory
    // are not reached. Without a reader (the control FIFO) no file is read at all.
    const std::string sub = dir.File("sub");
    ASSERT_EQ(0, mkdir(sub.c_str(), 0700));
    ASSERT_EQ(0, mkdir((sub + "/deeper").c_str(), 0700));
    std::ofstream(dir.File("a.json")) << R"({"model": 810, "serial": 82})";
    std::ofstream(sub + "/deeper/a.json") << R"({"model": 810, "serial": 83})";
    const std::string absolute = dir.File("a.json");
    const char* const names[] = {"../a.json", "deeper/a.json", absolute.c_str(), ".", "..", "", "a json", "missing.json"};
    for (const char* name : names) {
        std::ofstream(sub + "/scenario.json") << "{\"cards\": [\"" << name << "\"]}";
        EXPECT_EQ(KXAPI_E_INVALID_FORMAT, SimLoadScenarioFile((sub + "/scenario.json").c_str(), scenario, error))
            << name;
        EXPECT_TRUE(scenario.m_Cards.empty());
    }
    EXPECT_EQ(KXAPI_E_INVALID_FORMAT, SimParseScenario(R"({"cards": ["a.json"]})", scenario, error));
    EXPECT_NE(std::string::npos, error.find("card file not found")) << error;
}

TEST(ScenarioFiles, TheDefaultScenarioLoadsTheSameFromDisk)
{
    kxtest::TempDir dir;
    for (const SimScenarioFile& file : SimDefaultScenarioFiles())
        std::ofstream(dir.File(file.m_pName)) << file.m_pText;
    SimScenario embedded;
    SimScenario fromDisk;
    std::string error;
    ASSERT_EQ(KXAPI_OK, SimLoadDefaultScenario(embedded, error)) << error;
    ASSERT_EQ(KXAPI_OK, SimLoadScenarioFile(dir.File(SIM_SCENARIO_INDEX).c_str(), fromDisk, error)) << error;
    EXPECT_EQ(embedded.m_Seed, fromDisk.m_Seed);
    ASSERT_EQ(embedded.m_Cards.size(), fromDisk.m_Cards.size());
    for (size_t i = 0; i < embedded.m_Cards.size(); i++) {
        EXPECT_EQ(embedded.m_Cards[i]->m_Serial, fromDisk.m_Cards[i]->m_Serial);
        EXPECT_EQ(embedded.m_Cards[i]->m_NumPorts, fromDisk.m_Cards[i]->m_NumPorts);
        EXPECT_EQ(embedded.m_Cards[i]->Random().Next(), fromDisk.m_Cards[i]->Random().Next());
    }
}

} // namespace
