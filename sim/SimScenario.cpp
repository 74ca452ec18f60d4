#include "SimScenario.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

#include <nlohmann/json.hpp>

#include "KxModelTable.h"
#include "SimCardModel.h"
#include "SimPortTemplate.h"

using nlohmann::json;

namespace {

constexpr size_t MAX_TABLE_ENTRIES = 4096;
constexpr int MAX_STREAM_ID = 255; // input stream identifiers are one byte
constexpr int MAX_MODCOD = 255;
constexpr size_t MAX_VPD_BYTES = 512;
constexpr int MAX_I2C_DEVICE_BYTES = 65536;
// Numbers written with a fraction or an exponent are read into integer fields too (a level in
// dBm, but also a model number); such a number must fit every integer field it may land in.
// Larger values (frequencies in Hz, serials) are written as integers.
constexpr double MAX_FLOAT_MAGNITUDE = 2147483647.0;

// Parses the text and refuses (std::out_of_range) any floating-point number that is not
// finite or whose magnitude exceeds MAX_FLOAT_MAGNITUDE: converting it to an integer field
// would be undefined. The one parser of every scenario, card and carrier text.
json ParseJson(const std::string& text)
{
    json j = json::parse(text);
    std::vector<const json*> pending{&j};
    while (!pending.empty()) {
        const json* node = pending.back();
        pending.pop_back();
        if (node->is_number_float()) {
            const double value = node->get<double>();
            if (!std::isfinite(value) || std::fabs(value) > MAX_FLOAT_MAGNITUDE)
                throw std::out_of_range("number out of range: " + node->dump());
        } else if (node->is_structured()) {
            for (const json& child : *node)
                pending.push_back(&child);
        }
    }
    return j;
}

bool ParseHex(const std::string& hex, std::vector<unsigned char>& bytes)
{
    if (hex.size() % 2 != 0)
        return false;
    bytes.clear();
    for (size_t i = 0; i < hex.size(); i += 2) {
        unsigned int byte = 0;
        if (sscanf(hex.c_str() + i, "%2x", &byte) != 1)
            return false;
        bytes.push_back(static_cast<unsigned char>(byte));
    }
    return true;
}

SimCarrier CarrierFromJson(const json& j)
{
    SimCarrier c;
    c.m_FreqHz = j.at("freqHz").get<int64_t>();
    c.m_Standard = j.value("standard", std::string("QAM"));
    c.m_Constellation = j.value("constellation", 4);
    c.m_SymbolRateBd = j.value("symbolRateBd", int64_t(0));
    c.m_BandwidthHz = j.value("bandwidthHz", int64_t(0));
    c.m_RollOffPercent = j.value("rollOffPercent", 20);
    c.m_LevelDbm = j.value("levelDbm", -40.0);
    c.m_CnDb = j.value("cnDb", 20.0);
    c.m_ModCod = j.value("modCod", 0);
    c.m_SpectrumInverted = j.value("spectrumInverted", false);
    if (j.contains("streams"))
        c.m_StreamIds = j.at("streams").get<std::vector<int>>();
    c.m_Coding = j.value("coding", std::string("CCM"));
    if (c.m_Coding != "CCM" && c.m_Coding != "VCM" && c.m_Coding != "ACM")
        throw std::invalid_argument("carrier coding must be CCM, VCM or ACM");
    if (j.contains("streamModCods"))
        c.m_StreamModCods = j.at("streamModCods").get<std::vector<int>>();
    if (!c.m_StreamModCods.empty() && c.m_StreamModCods.size() != c.m_StreamIds.size())
        throw std::invalid_argument("carrier streamModCods needs one MODCOD per stream");
    if (c.m_Coding != "CCM" && c.m_StreamModCods.empty())
        throw std::invalid_argument("a VCM or ACM carrier needs streamModCods");
    for (int isi : c.m_StreamIds)
        if (isi < 0 || isi > MAX_STREAM_ID)
            throw std::invalid_argument("carrier stream id out of range");
    for (int modCod : c.m_StreamModCods)
        if (modCod < 0 || modCod > MAX_MODCOD)
            throw std::invalid_argument("carrier MODCOD out of range");
    if (c.m_SymbolRateBd <= 0 && c.m_BandwidthHz <= 0)
        throw std::invalid_argument("carrier needs symbolRateBd or bandwidthHz");
    if (c.m_Constellation < 2 || c.m_Constellation > 4096)
        throw std::invalid_argument("carrier constellation out of range");
    return c;
}

// Publishes the block tree in the property store the way the block driver does: per instance
// "<name>_TYPE", "<name>_UUID", optional "<name>_ROLE" and children "<name>.1", "<name>.2", ...;
// the function instances of a port are the children of "DEVICE" (port-filtered).
void PublishBlock(SimCard& card, const SimBlock& block, const std::string& role)
{
    card.SetProperty(block.m_Port, block.m_Name + "_TYPE", block.m_TypeCode);
    card.SetProperty(block.m_Port, block.m_Name + "_UUID", block.m_Uuid);
    if (!role.empty())
        card.SetStringProperty(block.m_Port, block.m_Name + "_ROLE", role);
    for (size_t i = 0; i < block.m_Children.size(); i++)
        card.SetStringProperty(block.m_Port, block.m_Name + "." + std::to_string(i + 1), block.m_Children[i]);
    card.AddBlock(block);
}

std::shared_ptr<SimCard> CardFromJson(const json& entry, uint64_t seed)
{
    auto card = std::make_shared<SimCard>();
    card->m_Model = entry.at("model").get<int>();
    card->m_SubType = entry.value("subType", 0);
    card->m_Serial = entry.at("serial").get<int64_t>();
    card->m_FirmwareVersion = entry.value("firmware", 1);
    const std::string status = entry.value("firmwareStatus", std::string("ok"));
    card->m_FirmwareStatus = status == "tainted" ? 1 : (status == "obsolete" ? 2 : 0);
    KxDriverFamily family;
    int ports = 0;
    if (!SimModelInfo(card->m_Model, card->m_SubType, family, ports))
        throw std::invalid_argument("unknown model " + std::to_string(card->m_Model));
    const SimCardModel* pCardModel = SimFindCardModel(card->m_Model, card->m_SubType);
    if (pCardModel == nullptr)
        throw std::invalid_argument("no virtual card for model " + std::to_string(card->m_Model));
    const json j = SimExpandPortTemplate(entry, ports);
    card->m_Family = family;
    card->m_NumPorts = j.value("ports", ports);
    if (card->m_NumPorts < 1 || card->m_NumPorts > SIM_MAX_PORTS)
        throw std::invalid_argument("ports out of range");
    // Drivers of the day unless the card says otherwise.
    static const int DEFAULT_DRIVER[KX_FAMILY_COUNT][4] = {{4, 12, 0, 112}, {4, 9, 1, 80}, {1, 10, 2, 0}};
    for (int i = 0; i < 4; i++)
        card->m_DriverVersion[i] = DEFAULT_DRIVER[family][i];
    if (j.contains("driver")) {
        const auto version = j.at("driver").get<std::vector<int>>();
        if (version.size() != 4)
            throw std::invalid_argument("driver needs four numbers");
        for (int i = 0; i < 4; i++)
            card->m_DriverVersion[i] = version[static_cast<size_t>(i)];
    }
    card->SetProperty(-1, "NUM_PORTS", card->m_NumPorts);
    for (const json& p : j.value("properties", json::array())) {
        const int port = p.value("port", -1);
        const std::string name = p.at("name").get<std::string>();
        if (name.size() > 49)
            throw std::invalid_argument("property name too long: " + name);
        if (p.contains("text"))
            card->SetStringProperty(port, name, p.at("text").get<std::string>());
        else
            card->SetProperty(port, name, p.at("value").get<int64_t>());
    }
    for (const json& t : j.value("tables", json::array())) {
        std::vector<std::pair<int64_t, int64_t>> entries;
        for (const json& e : t.at("entries")) {
            if (entries.size() >= MAX_TABLE_ENTRIES)
                throw std::invalid_argument("table too long");
            entries.emplace_back(e.at(0).get<int64_t>(), e.at(1).get<int64_t>());
        }
        card->SetTable(t.value("port", -1), t.at("name").get<std::string>(), entries);
    }
    for (const json& v : j.value("vpd", json::array())) {
        std::vector<unsigned char> data;
        if (v.contains("hex")) {
            if (!ParseHex(v.at("hex").get<std::string>(), data))
                throw std::invalid_argument("bad VPD hex");
        } else {
            const std::string text = v.at("text").get<std::string>();
            data.assign(text.begin(), text.end());
        }
        const std::string keyword = v.at("keyword").get<std::string>();
        if (data.size() > MAX_VPD_BYTES || keyword.empty() || keyword.size() > 4)
            throw std::invalid_argument("bad VPD item");
        card->SetVpd(v.value("port", -1), keyword, data);
    }
    for (const json& d : j.value("i2c", json::array())) {
        const int size = d.value("size", 256);
        if (size < 1 || size > MAX_I2C_DEVICE_BYTES)
            throw std::invalid_argument("bad I2C device size");
        // Owned here until the card takes it: any member below may still be malformed.
        auto device = std::make_unique<SimI2cRegisterFile>(size);
        std::vector<unsigned char> contents;
        if (d.contains("hex") && ParseHex(d.at("hex").get<std::string>(), contents)) {
            for (size_t i = 0; i < contents.size() && i < device->Memory().size(); i++)
                device->Memory()[i] = contents[i];
        }
        const int bus = d.value("bus", -1);
        const int address = d.at("address").get<int>();
        card->AddI2cDevice(bus, address, device.release());
    }
    for (const json& b : j.value("blocks", json::array())) {
        SimBlock block;
        block.m_Name = b.at("name").get<std::string>();
        block.m_TypeCode = b.at("type").get<int>();
        block.m_Uuid = b.at("uuid").get<uint32_t>();
        block.m_Port = b.value("port", -1);
        block.m_Children = b.value("children", std::vector<std::string>());
        PublishBlock(*card, block, b.value("role", std::string()));
    }
    pCardModel->m_pFit(*card);
    // The function instances ("AF_...") of each port hang under "DEVICE".
    for (const json& root : j.value("functions", json::array())) {
        const int port = root.value("port", -1);
        const auto names = root.at("names").get<std::vector<std::string>>();
        for (size_t i = 0; i < names.size(); i++)
            card->SetStringProperty(port, "DEVICE." + std::to_string(i + 1), names[i]);
    }
    const json inputs = j.value("inputs", json::array());
    card->Scene().SetNumInputs(static_cast<int>(inputs.size()));
    for (size_t input = 0; input < inputs.size(); input++) {
        for (const json& c : inputs[input])
            card->Scene().Carriers(static_cast<int>(input)).push_back(CarrierFromJson(c));
    }
    // Each card draws from its own stream, fixed by the scenario's seed and its serial.
    card->Random().Seed(seed ^ (static_cast<uint64_t>(card->m_Serial) * 0x9E3779B97F4A7C15ull));
    return card;
}

} // namespace

bool SimModelInfo(int model, int subType, KxDriverFamily& family, int& numPorts)
{
    const KxModelInfo* pModel = KxFindModel(model, subType);
    if (pModel == nullptr)
        return false;
    family = pModel->m_Family;
    numPorts = pModel->m_NumPorts;
    return true;
}

KXAPI_RESULT SimParseScenario(const std::string& text, SimScenario& scenario, std::string& error,
                              const SimCardFileReader& reader)
{
    scenario = SimScenario();
    std::string where; // the card file and card an error is about
    try {
        const json j = ParseJson(text);
        scenario.m_Seed = j.value("seed", uint64_t(1));
        int index = 0;
        for (const json& c : j.at("cards")) {
            index++;
            where = "card " + std::to_string(index) + ": ";
            if (!c.is_string()) {
                if (c.is_object() && c.contains("serial"))
                    where = "card " + c.at("serial").dump() + ": ";
                scenario.m_Cards.push_back(CardFromJson(c, scenario.m_Seed));
                continue;
            }
            // A card of its own file, named by one component of [A-Za-z0-9_.-].
            const std::string name = c.get<std::string>();
            where = name + ": ";
            if (!SimIsCardFileName(name))
                throw std::invalid_argument("not a card file name");
            std::string cardText;
            if (!reader || !reader(name, cardText))
                throw std::invalid_argument("card file not found");
            scenario.m_Cards.push_back(CardFromJson(ParseJson(cardText), scenario.m_Seed));
        }
    } catch (const std::exception& e) {
        error = where + e.what();
        scenario = SimScenario();
        return KXAPI_E_INVALID_FORMAT;
    }
    return KXAPI_OK;
}

bool SimIsCardFileName(const std::string& name)
{
    if (name.empty() || name == "." || name == "..")
        return false;
    for (char ch : name) {
        const bool letterOrDigit = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9');
        if (!letterOrDigit && ch != '_' && ch != '.' && ch != '-')
            return false;
    }
    return true;
}

bool SimReadTextFile(const std::string& path, std::string& text)
{
    std::ifstream file(path);
    if (!file)
        return false;
    std::stringstream contents;
    contents << file.rdbuf();
    text = contents.str();
    return true;
}

KXAPI_RESULT SimLoadScenarioFile(const char* pPath, SimScenario& scenario, std::string& error)
{
    std::string text;
    if (!SimReadTextFile(pPath, text)) {
        error = std::string("cannot open ") + pPath;
        return KXAPI_E_FILE_OPEN;
    }
    // Card files sit beside the scenario file.
    const std::string path(pPath);
    const size_t slash = path.rfind('/');
    const std::string directory = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    return SimParseScenario(text, scenario, error, [&directory](const std::string& name, std::string& cardText) {
        return SimReadTextFile(directory + name, cardText);
    });
}

KXAPI_RESULT SimLoadDefaultScenario(SimScenario& scenario, std::string& error)
{
    auto find = [](const std::string& name, std::string& text) {
        for (const SimScenarioFile& file : SimDefaultScenarioFiles()) {
            if (name == file.m_pName) {
                text = file.m_pText;
                return true;
            }
        }
        return false;
    };
    std::string text;
    if (!find(SIM_SCENARIO_INDEX, text)) {
        error = std::string("no ") + SIM_SCENARIO_INDEX + " among the embedded scenario files";
        return KXAPI_E_FILE_OPEN;
    }
    KXAPI_RESULT result = SimParseScenario(text, scenario, error, find);
    if (result != KXAPI_OK)
        error = std::string("default scenario: ") + error;
    return result;
}

KXAPI_RESULT SimParseCard(const std::string& text, uint64_t seed, std::shared_ptr<SimCard>& card, std::string& error)
{
    card.reset();
    try {
        card = CardFromJson(ParseJson(text), seed);
    } catch (const std::exception& e) {
        error = e.what();
        card.reset();
        return KXAPI_E_INVALID_FORMAT;
    }
    return KXAPI_OK;
}

KXAPI_RESULT SimParseCarrier(const std::string& text, SimCarrier& carrier, std::string& error)
{
    try {
        carrier = CarrierFromJson(ParseJson(text));
    } catch (const std::exception& e) {
        error = e.what();
        return KXAPI_E_INVALID_FORMAT;
    }
    return KXAPI_OK;
}
