// Serves the control FIFO of KxapiServiceSim over the card rack.
#pragma once

#include <cstdint>
#include <string>

#include "ClientAcceptor.h"
#include "SimCardRack.h"
#include "KxNonCopyable.h"

class SimControlServer : private KxNonCopyable {
public:
    // seed: the scenario's seed, for cards plugged later.
    SimControlServer(SimCardRack* pRack, uint64_t seed);
    ~SimControlServer();

    // Creates the control FIFO and starts accepting; false when either fails.
    bool Start();
    void Stop();

    // Carries out one request; the reply (command, result, answer) goes to reply.
    void Handle(const char* pBody, int size, std::string& reply);

private:
    KXAPI_RESULT Carrier(const char* pBody, int size);

    SimCardRack* m_pRack;
    uint64_t m_Seed;
    ClientAcceptor m_Acceptor;
};
