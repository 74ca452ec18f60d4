// kxctl demod lnb: the LNB supply and DiSEqC of a satellite port.
#include <cstdio>
#include <cstring>
#include <vector>

#include "CmdDemod.h"
#include "KxctlCommand.h"

using namespace KxctlDemod;
using Kxapi::DemodPortClient;

namespace {

bool ParseOnOff(const char* pText, bool& on)
{
    if (strcmp(pText, "on") == 0 || strcmp(pText, "1") == 0)
        on = true;
    else if (strcmp(pText, "off") == 0 || strcmp(pText, "0") == 0)
        on = false;
    else
        return false;
    return true;
}

bool ParseHexBytes(const char* pText, std::vector<uint8_t>& bytes)
{
    size_t length = strlen(pText);
    if (length == 0 || length % 2 != 0 || length / 2 > Kxapi::DEMOD_MAX_DISEQC_BYTES)
        return false;
    for (size_t i = 0; i < length; i += 2) {
        unsigned int byte = 0;
        if (sscanf(pText + i, "%2x", &byte) != 1)
            return false;
        bytes.push_back(static_cast<uint8_t>(byte));
    }
    return true;
}

int RunLnb(int argc, char** argv)
{
    if (argc < 3)
        return Usage("lnb", "lnb needs SERIAL PORT and an operation");
    const char* pOperation = argv[2];
    bool on = false;
    int32_t value = 0;
    int32_t replyCapacity = 0;
    std::vector<uint8_t> message;
    bool valid = false;
    if ((strcmp(pOperation, "enable") == 0 || strcmp(pOperation, "tone") == 0) && argc == 4)
        valid = ParseOnOff(argv[3], on);
    else if ((strcmp(pOperation, "voltage") == 0 || strcmp(pOperation, "burst") == 0) && argc == 4)
        valid = ParseI32(argv[3], value) && value >= 0;
    else if (strcmp(pOperation, "diseqc") == 0 && (argc == 4 || argc == 5))
        valid = ParseHexBytes(argv[3], message) &&
                (argc == 4 || (ParseI32(argv[4], replyCapacity) && replyCapacity >= 0 &&
                               replyCapacity <= Kxapi::DEMOD_MAX_DISEQC_BYTES));
    if (!valid)
        return Usage("lnb", "operations: enable on|off, voltage CODE, tone on|off, burst 0|1, diseqc HEX [REPLY_BYTES]");
    DemodPortClient client;
    if (int status = OpenPort(argv[0], argv[1], client))
        return status;
    Kxapi::DemodSvcClient& svc = client.Svc();
    KXAPI_RESULT result = KXAPI_OK;
    std::vector<uint8_t> reply;
    if (strcmp(pOperation, "enable") == 0)
        result = svc.LnbEnable(on);
    else if (strcmp(pOperation, "tone") == 0)
        result = svc.LnbToneEnable(on);
    else if (strcmp(pOperation, "voltage") == 0)
        result = svc.LnbVoltageSet(static_cast<uint32_t>(value));
    else if (strcmp(pOperation, "burst") == 0)
        result = svc.LnbBurstSend(static_cast<uint32_t>(value));
    else
        result = svc.LnbDiseqcSend(message, replyCapacity, reply);
    if (result != KXAPI_OK)
        return KxctlFail("lnb", result);
    if (strcmp(pOperation, "diseqc") == 0) {
        std::string bytes;
        char hex[4];
        for (uint8_t byte : reply) {
            snprintf(hex, sizeof(hex), " %02x", byte);
            bytes += hex;
        }
        KxctlPrint({{"lnb", pOperation}, {"sent_bytes", message.size()}, {"reply", reply}},
                   "DiSEqC message of " + std::to_string(message.size()) + " bytes sent; reply of " +
                       std::to_string(reply.size()) + " bytes:" + bytes);
    } else {
        KxctlPrint({{"lnb", pOperation}, {"value", argv[3]}, {"result", "KXAPI_OK"}},
                   std::string("lnb ") + pOperation + " " + argv[3] + ": done");
    }
    return KXCTL_EXIT_OK;
}

DemodSubRegistrar g_Lnb({"lnb",
                         "SERIAL PORT enable on|off | voltage CODE | tone on|off | burst 0|1 | diseqc HEX [REPLY_BYTES]",
                         "LNB supply, 22 kHz tone, tone burst and DiSEqC messages", RunLnb});

} // namespace
