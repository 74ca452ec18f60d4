// Fuzz target: the control FIFO of KxapiServiceSim. The input is split into messages the way
// the FIFO frames them (2-byte length, then the body; what is left at the end is one more
// body); each goes to a control server over a fresh card rack with one card plugged.
#include <memory>
#include <string>

#include "FuzzSupport.h"
#include "KxWire.h"
#include "SimCardRack.h"
#include "SimControlProtocol.h"
#include "SimControlServer.h"
#include "SimScenario.h"

namespace {

const char* const CARD =
    R"({"model": 3460, "subType": 0, "serial": 3460000001, "firmware": 5, "firmwareStatus": "ok",
        "properties": [], "tables": [], "vpd": [], "i2c": [],
        "inputs": [[{"freqHz": 474000000, "standard": "DVB-T", "constellation": 64,
                     "bandwidthHz": 7610000, "levelDbm": -50.0, "cnDb": 26.0}]]})";

void HandleOne(SimControlServer& server, const uint8_t* body, size_t size)
{
    std::string reply;
    server.Handle(reinterpret_cast<const char*>(body), static_cast<int>(size), reply);
    if (size < 4) {
        kxfuzz::Check(reply.empty());
        return;
    }
    kxfuzz::Check(reply.size() >= SIM_CTRL_REPLY_HEADER);
    kxfuzz::Check(KxGetU32(reply.data(), 0) == KxGetU32(body, 0));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SimCardRack rack;
    std::shared_ptr<SimCard> card;
    std::string error;
    kxfuzz::Check(SimParseCard(CARD, 1, card, error) == KXAPI_OK);
    kxfuzz::Check(rack.Plug(card) == KXAPI_OK);
    SimControlServer server(&rack, 1);
    size_t pos = 0;
    while (pos + 2 <= size) {
        const size_t length = data[pos] | (static_cast<size_t>(data[pos + 1]) << 8);
        pos += 2;
        const size_t take = length < size - pos ? length : size - pos;
        HandleOne(server, data + pos, take);
        pos += take;
    }
    return 0;
}
