#include "SimEnvironment.h"

SimEnvironment::~SimEnvironment()
{
    if (m_Installed)
        XpDriverNodes::InstallFactory(m_pPrevious);
}

KXAPI_RESULT SimEnvironment::Load(const char* pPath, std::string& error)
{
    SimScenario scenario;
    KXAPI_RESULT result = pPath == nullptr ? SimLoadDefaultScenario(scenario, error)
                                           : SimLoadScenarioFile(pPath, scenario, error);
    if (result != KXAPI_OK)
        return result;
    return Install(scenario);
}

KXAPI_RESULT SimEnvironment::LoadText(const std::string& text, std::string& error)
{
    SimScenario scenario;
    KXAPI_RESULT result = SimParseScenario(text, scenario, error);
    if (result != KXAPI_OK)
        return result;
    return Install(scenario);
}

KXAPI_RESULT SimEnvironment::Install(SimScenario& scenario)
{
    m_Seed = scenario.m_Seed;
    for (auto& card : scenario.m_Cards) {
        KXAPI_RESULT result = m_Rack.Plug(card);
        if (result != KXAPI_OK)
            return result;
    }
    if (!m_Installed) {
        m_pPrevious = XpDriverNodes::InstallFactory(&m_Rack);
        m_Installed = true;
    }
    return KXAPI_OK;
}
