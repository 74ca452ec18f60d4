// The virtual driver families of a process: a rack loaded from a scenario and installed as the
// driver-node factory for as long as the object lives.
#pragma once

#include <string>

#include "SimCardRack.h"
#include "SimScenario.h"
#include "KxNonCopyable.h"

class SimEnvironment : private KxNonCopyable {
public:
    SimEnvironment() = default;
    // Restores the real nodes when it had installed the rack.
    ~SimEnvironment();

    // Loads the scenario (the embedded default when pPath is null), plugs its cards and
    // installs the rack. KXAPI_E_INVALID_FORMAT / KXAPI_E_FILE_OPEN with a message in error.
    KXAPI_RESULT Load(const char* pPath, std::string& error);
    KXAPI_RESULT LoadText(const std::string& text, std::string& error);

    SimCardRack& Rack() { return m_Rack; }
    uint64_t Seed() const { return m_Seed; }

private:
    KXAPI_RESULT Install(SimScenario& scenario);

    SimCardRack m_Rack;
    uint64_t m_Seed = 1;
    bool m_Installed = false;
    IXpDriverNodeFactory* m_pPrevious = nullptr;
};
