// Scenario files: the virtual cards and their RF scenes, as JSON (format in sim/README.md).
#pragma once

#include <cstdint>
#include <memory>
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

// Parses JSON text; KXAPI_E_INVALID_FORMAT with a message in error for anything malformed.
KXAPI_RESULT SimParseScenario(const std::string& text, SimScenario& scenario, std::string& error);
KXAPI_RESULT SimLoadScenarioFile(const char* pPath, SimScenario& scenario, std::string& error);
// The embedded default scenario: one card of every receiver model with carriers for each.
const char* SimDefaultScenarioText();
// Parses one card object (the control FIFO's plug command uses the same format).
KXAPI_RESULT SimParseCard(const std::string& text, uint64_t seed, std::shared_ptr<SimCard>& card, std::string& error);
// Parses one carrier object.
KXAPI_RESULT SimParseCarrier(const std::string& text, SimCarrier& carrier, std::string& error);
