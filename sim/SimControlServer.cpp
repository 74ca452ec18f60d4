#include "SimControlServer.h"

#include <cstdlib>
#include <cstring>

#include "CritSecAutoLock.h"
#include "KxServiceDefs.h"
#include "KxWire.h"
#include "PipeServerImpl.h"
#include "SimControlProtocol.h"
#include "SimScenario.h"

namespace {

const char* FAMILY_NAMES[KX_FAMILY_COUNT] = {"pcie-legacy", "usb", "pcie-block"};

class SimControlHandler : public PipeServerImpl {
public:
    SimControlHandler(SimControlServer* pServer, IXpPipeConnection* pConnection)
        : PipeServerImpl(pConnection), m_pServer(pServer)
    {
    }

private:
    bool ServeRequest(const char* pBody, int size) override
    {
        std::string reply;
        m_pServer->Handle(pBody, size, reply);
        return reply.empty() || WriteMsg(reply.data(), static_cast<int>(reply.size()));
    }

    SimControlServer* m_pServer;
};

} // namespace

SimControlServer::SimControlServer(SimCardRack* pRack, uint64_t seed)
    : m_pRack(pRack), m_Seed(seed), m_Acceptor([this](IXpPipeConnection* pConnection) -> PipeServerImpl* {
          return new SimControlHandler(this, pConnection);
      })
{
}

SimControlServer::~SimControlServer()
{
    Stop();
}

bool SimControlServer::Start()
{
    return m_Acceptor.Init(SIM_CONTROL_PIPE_NAME) && m_Acceptor.Start();
}

void SimControlServer::Stop()
{
    m_Acceptor.Close();
}

void SimControlServer::Handle(const char* pBody, int size, std::string& reply)
{
    reply.clear();
    if (size < 4)
        return; // too short to carry a command: no reply
    const uint32_t command = KxGetU32(pBody, 0);
    KXAPI_RESULT result = KXAPI_E_INVALID_PARS;
    std::string answer;
    switch (command) {
    case SIM_CTRL_PLUG:
        if (size > 4 && static_cast<uint32_t>(size) - 4 <= SIM_CTRL_MAX_TEXT) {
            std::shared_ptr<SimCard> card;
            std::string error;
            result = SimParseCard(std::string(pBody + 4, static_cast<size_t>(size) - 4), m_Seed, card, error);
            if (result == KXAPI_OK)
                result = m_pRack->Plug(card);
            else
                answer = error;
        }
        break;
    case SIM_CTRL_UNPLUG:
        if (size == 12)
            result = m_pRack->Unplug(KxGetI64(pBody, 4));
        break;
    case SIM_CTRL_POWER:
        if (size == 16)
            result = m_pRack->RaisePowerEvent(KxGetI64(pBody, 4), KxGetU32(pBody, 12) != 0 ? SIM_DRIVER_POWER_ON : SIM_DRIVER_POWER_OFF);
        break;
    case SIM_CTRL_CARRIER:
        result = Carrier(pBody, size);
        break;
    case SIM_CTRL_LIST:
        if (size == 4) {
            for (const auto& card : m_pRack->Cards()) {
                answer += std::to_string(card->m_Model) + " " + std::to_string(card->m_SubType) + " " +
                          std::to_string(card->m_Serial) + " " + FAMILY_NAMES[card->m_Family] + "\n";
            }
            result = KXAPI_OK;
        }
        break;
    case SIM_CTRL_USAGE:
        if (size == 4) {
            uint64_t cpuNs = 0, requests = 0;
            m_pRack->NodeUsage(cpuNs, requests);
            answer.assign(16, '\0');
            KxPutU64(answer.data(), 0, cpuNs);
            KxPutU64(answer.data(), 8, requests);
            result = KXAPI_OK;
        }
        break;
    default:
        result = KXAPI_E_NOT_SUPPORTED;
        break;
    }
    reply.assign(SIM_CTRL_REPLY_HEADER, '\0');
    KxPutU32(reply.data(), 0, command);
    KxPutU32(reply.data(), 4, result);
    reply += answer;
}

KXAPI_RESULT SimControlServer::Carrier(const char* pBody, int size)
{
    if (size < static_cast<int>(SIM_CTRL_CARRIER_HEADER) ||
        static_cast<uint32_t>(size) - SIM_CTRL_CARRIER_HEADER > SIM_CTRL_MAX_TEXT)
        return KXAPI_E_INVALID_PARS;
    std::shared_ptr<SimCard> card = m_pRack->Find(KxGetI64(pBody, 4));
    if (!card)
        return KXAPI_E_NOT_FOUND;
    const int input = KxGetI32(pBody, 12);
    const uint32_t operation = KxGetU32(pBody, 16);
    const int64_t freqHz = KxGetI64(pBody, 20);
    const int64_t newFreqHz = KxGetI64(pBody, 28);
    if (input < 0 || input >= 64)
        return KXAPI_E_INVALID_ARG;
    SimCarrier added;
    if (operation == SIM_CARRIER_ADD) {
        std::string error;
        const std::string text(pBody + SIM_CTRL_CARRIER_HEADER, static_cast<size_t>(size) - SIM_CTRL_CARRIER_HEADER);
        if (SimParseCarrier(text, added, error) != KXAPI_OK)
            return KXAPI_E_INVALID_PARS;
    }
    // The chip models read the scene under the card's lock.
    CritSecAutoLock lock(card->Lock());
    std::vector<SimCarrier>& carriers = card->Scene().Carriers(input);
    switch (operation) {
    case SIM_CARRIER_ADD:
        if (carriers.size() >= 256)
            return KXAPI_E_OUT_OF_RESOURCES;
        carriers.push_back(added);
        return KXAPI_OK;
    case SIM_CARRIER_REMOVE:
    case SIM_CARRIER_MOVE:
        for (auto it = carriers.begin(); it != carriers.end(); ++it) {
            if (it->m_FreqHz != freqHz)
                continue;
            if (operation == SIM_CARRIER_REMOVE)
                carriers.erase(it);
            else
                it->m_FreqHz = newFreqHz;
            return KXAPI_OK;
        }
        return KXAPI_E_NOT_FOUND;
    case SIM_CARRIER_CLEAR:
        carriers.clear();
        return KXAPI_OK;
    default:
        return KXAPI_E_INVALID_ARG;
    }
}
