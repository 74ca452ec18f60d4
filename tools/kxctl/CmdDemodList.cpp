// kxctl demod list: the receiver cards and their ports.
//
// Without options the cards of a running KxapiServiceSim are listed (its control FIFO, in
// --fifo-dir), or, when no simulator answers, the cards this machine's drivers report
// (device scan through the library). --virtual [SCENARIO] scans the virtual cards of a
// scenario in this process instead (the embedded default scenario when none is given).
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "CmdDemod.h"
#include "KxDevice.h"
#include "KxModelTable.h"
#include "KxctlCommand.h"
#include "SimControlProtocol.h"
#include "SimEnvironment.h"
#include "SimScenario.h"

using namespace KxctlDemod;

namespace {

constexpr int MAX_DEVICES = 150; // 50 nodes of each of the three families

struct CardRow {
    int64_t m_Serial = 0;
    int m_Model = 0;
    int m_SubType = 0;
    int m_Firmware = -1; // -1: not reported
};

int PortsOf(int model, int subType)
{
    const KxModelInfo* pModel = KxFindModel(model, subType);
    return pModel != nullptr ? pModel->m_NumPorts : 0;
}

const char* ModelNameOf(int model, int subType)
{
    const KxModelInfo* pModel = KxFindModel(model, subType);
    return pModel != nullptr ? pModel->m_pName : "?";
}

void PrintRows(const std::vector<CardRow>& rows, const char* pSource)
{
    if (KxctlJsonOutput()) {
        for (const CardRow& row : rows) {
            KxctlJson card = {{"serial", row.m_Serial},
                              {"model", row.m_Model},
                              {"sub_type", row.m_SubType},
                              {"name", ModelNameOf(row.m_Model, row.m_SubType)},
                              {"ports", PortsOf(row.m_Model, row.m_SubType)}};
            card["firmware"] = row.m_Firmware < 0 ? KxctlJson() : KxctlJson(row.m_Firmware);
            KxctlEmit(card);
        }
        return;
    }
    printf("%-12s %-9s %-6s %-8s %-8s %-6s %s\n", "serial", "name", "model", "sub-type", "firmware", "ports",
           "port indexes");
    for (const CardRow& row : rows) {
        int ports = PortsOf(row.m_Model, row.m_SubType);
        std::string firmware = row.m_Firmware < 0 ? "-" : std::to_string(row.m_Firmware);
        std::string indexes = ports > 0 ? "0.." + std::to_string(ports - 1) : "(not a receiver)";
        printf("%-12" PRId64 " %-9s %-6d %-8d %-8s %-6d %s\n", row.m_Serial, ModelNameOf(row.m_Model, row.m_SubType),
               row.m_Model, row.m_SubType, firmware.c_str(), ports, indexes.c_str());
    }
    printf("%zu card(s), %s\n", rows.size(), pSource);
}

KXAPI_RESULT ScanThroughLibrary(std::vector<CardRow>& rows)
{
    std::vector<KxDeviceDesc> descs(MAX_DEVICES);
    int found = 0;
    KXAPI_RESULT result = KxapiDeviceScan(MAX_DEVICES, found, descs.data(), false, 1);
    if (result != KXAPI_OK && result != KXAPI_E_BUF_TOO_SMALL)
        return result;
    for (int i = 0; i < found && i < MAX_DEVICES; i++) {
        CardRow row;
        row.m_Serial = descs[static_cast<size_t>(i)].m_Serial;
        row.m_Model = descs[static_cast<size_t>(i)].m_TypeNumber;
        row.m_SubType = descs[static_cast<size_t>(i)].m_SubType;
        row.m_Firmware = descs[static_cast<size_t>(i)].m_FirmwareVersion;
        rows.push_back(row);
    }
    return KXAPI_OK;
}

// "model sub-type serial family" lines of the simulator's list.
bool ParseSimList(const std::string& text, std::vector<CardRow>& rows)
{
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        CardRow row;
        long long serial = 0;
        if (sscanf(line.c_str(), "%d %d %lld", &row.m_Model, &row.m_SubType, &serial) != 3)
            continue;
        row.m_Serial = serial;
        rows.push_back(row);
    }
    return true;
}

// The cards of a running simulator, else of this machine's drivers; false when neither answers.
bool ListCards(std::vector<CardRow>& rows, const char*& pSource)
{
    SimControlClient simulator;
    std::string text;
    if (simulator.List(text) == KXAPI_OK && ParseSimList(text, rows)) {
        pSource = "virtual cards of the running KxapiServiceSim";
        return true;
    }
    pSource = "found by the device scan of this machine's drivers";
    return ScanThroughLibrary(rows) == KXAPI_OK;
}

int RunList(int argc, char** argv)
{
    std::vector<CardRow> rows;
    if (argc >= 1 && strcmp(argv[0], "--virtual") == 0) {
        if (argc > 2)
            return Usage("list", "list takes --virtual [SCENARIO]");
        SimEnvironment environment;
        std::string error;
        KXAPI_RESULT result = environment.Load(argc == 2 ? argv[1] : nullptr, error);
        if (result != KXAPI_OK) {
            fprintf(stderr, "kxctl: scenario: %s\n", error.c_str());
            return KxctlFail("list --virtual", result);
        }
        result = ScanThroughLibrary(rows);
        if (result != KXAPI_OK)
            return KxctlFail("device scan", result);
        PrintRows(rows, "virtual cards of the scenario, found by the library's device scan");
        return 0;
    }
    if (argc != 0)
        return Usage("list", "list takes no arguments except --virtual [SCENARIO]");
    const char* pSource = nullptr;
    if (!ListCards(rows, pSource))
        return KxctlFail("device scan", KXAPI_E_NO_DEVICE);
    PrintRows(rows, pSource);
    return 0;
}

} // namespace

std::string KxctlDemod::DescribeMissingCard(int64_t serial)
{
    std::vector<CardRow> rows;
    const char* pSource = nullptr;
    if (!ListCards(rows, pSource))
        return "";
    for (const CardRow& row : rows) {
        if (row.m_Serial != serial)
            continue;
        const KxModelInfo* pModel = KxFindModel(row.m_Model, row.m_SubType);
        if (pModel == nullptr || pModel->m_NumPorts == 0)
            return "card " + std::to_string(serial) + " (model " + std::to_string(row.m_Model) + ") is not a receiver";
        return "card " + std::to_string(serial) + " is a " + pModel->m_pName +
               " the service does not serve: either this build does not drive that model, or the card is "
               "still initialising ('kxctl demod wait " + std::to_string(serial) + "' waits for it)";
    }
    return "no card has serial " + std::to_string(serial) + ": 'kxctl demod list' shows the cards";
}

namespace {

DemodSubRegistrar g_List({"list", "[--virtual [SCENARIO]]", "receiver cards with their ports", RunList});

} // namespace
