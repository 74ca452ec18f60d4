// Scenario files: the virtual cards and their RF scenes, as JSON (format in sim/README.md).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "KxapiResult.h"
#include "SimCard.h"

struct SimScenario {
    uint64_t m_Seed = 1;
    std::vector<std::shared_ptr<SimCard>> m_Cards;
};

// The driver family and number of ports of a model (and sub-type); false for an unknown model.
bool SimModelInfo(int model, int subType, KxDriverFamily& family, int& numPorts);

// Reads the card file of a scenario's "cards" list by name; false when there is none.
using SimCardFileReader = std::function<bool(const std::string& name, std::string& text)>;
// The file of a scenario directory that lists its seed and card files.
constexpr const char* SIM_SCENARIO_INDEX = "scenario.json";

// Parses JSON text; KXAPI_E_INVALID_FORMAT with a message in error (naming the card file and
// card) for anything malformed. A card given by file name is read through reader; without one,
// card files are refused.
KXAPI_RESULT SimParseScenario(const std::string& text, SimScenario& scenario, std::string& error,
                              const SimCardFileReader& reader = {});
// Reads a scenario file; its card files are read from the same directory.
KXAPI_RESULT SimLoadScenarioFile(const char* pPath, SimScenario& scenario, std::string& error);
// The whole file as text; false when it cannot be opened.
bool SimReadTextFile(const std::string& path, std::string& text);
// A card file name is one path component of [A-Za-z0-9_.-] ("." and ".." are not).
bool SimIsCardFileName(const std::string& name);

// The scenario files built into the programs (sim/scenarios/default/: the index and one file
// per card), and the default scenario they make: one card of every receiver model with
// carriers for each.
struct SimScenarioFile {
    const char* m_pName;
    const char* m_pText;
};
std::span<const SimScenarioFile> SimDefaultScenarioFiles();
KXAPI_RESULT SimLoadDefaultScenario(SimScenario& scenario, std::string& error);
// Parses one card object (the control FIFO's plug command uses the same format).
KXAPI_RESULT SimParseCard(const std::string& text, uint64_t seed, std::shared_ptr<SimCard>& card, std::string& error);
// Parses one carrier object.
KXAPI_RESULT SimParseCarrier(const std::string& text, SimCarrier& carrier, std::string& error);
