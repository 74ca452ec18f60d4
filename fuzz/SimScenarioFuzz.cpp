// Fuzz target: the scenario JSON of KxapiServiceSim (a whole scenario, and the card and
// carrier objects the control FIFO takes). Whatever parses must describe cards of known
// models with their ports.
#include <string>

#include "FuzzSupport.h"
#include "SimScenario.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string error;
    SimScenario scenario;
    if (SimParseScenario(text, scenario, error) == KXAPI_OK) {
        for (const auto& card : scenario.m_Cards) {
            kxfuzz::Check(card != nullptr);
            KxDriverFamily family;
            int ports = 0;
            kxfuzz::Check(SimModelInfo(card->m_Model, card->m_SubType, family, ports));
            kxfuzz::Check(family == card->m_Family);
        }
    } else {
        kxfuzz::Check(!error.empty());
    }
    std::shared_ptr<SimCard> card;
    if (SimParseCard(text, scenario.m_Seed, card, error) == KXAPI_OK)
        kxfuzz::Check(card != nullptr);
    SimCarrier carrier;
    SimParseCarrier(text, carrier, error);
    return 0;
}
