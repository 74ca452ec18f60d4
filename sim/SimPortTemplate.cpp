#include "SimPortTemplate.h"

#include <cstdint>
#include <set>
#include <stdexcept>
#include <string>

using nlohmann::json;

namespace {

// The members a port's entry may have; each list member takes the port from the template.
const char* const PORT_LISTS[] = {"properties", "tables", "vpd", "blocks"};
const char* const PORT_MEMBERS[] = {"properties", "tables", "vpd", "blocks", "functions", "input"};
const std::string PORT_PLACEHOLDER = "{port}";

[[noreturn]] void Refuse(const std::string& what)
{
    throw std::invalid_argument("port template: " + what);
}

void CheckMembers(const json& entry, const char* pWhere, bool portAllowed)
{
    if (!entry.is_object())
        Refuse(std::string(pWhere) + " must be an object");
    for (const auto& member : entry.items()) {
        bool known = portAllowed && member.key() == "port";
        for (const char* pName : PORT_MEMBERS)
            known = known || member.key() == pName;
        if (!known)
            Refuse(std::string("unknown member \"") + member.key() + "\" in " + pWhere);
    }
}

// Every "{port}" in every text of value becomes the port index.
void Substitute(json& value, const std::string& port)
{
    if (value.is_string()) {
        std::string text = value.get<std::string>();
        for (size_t at = text.find(PORT_PLACEHOLDER); at != std::string::npos;
             at = text.find(PORT_PLACEHOLDER, at + port.size()))
            text.replace(at, PORT_PLACEHOLDER.size(), port);
        value = text;
    } else if (value.is_structured()) {
        for (json& child : value)
            Substitute(child, port);
    }
}

json& ListOf(json& card, const char* pName)
{
    if (!card.contains(pName))
        card[pName] = json::array();
    if (!card[pName].is_array())
        throw std::invalid_argument(std::string(pName) + " must be a list");
    return card[pName];
}

// A template block's instance id is its port 0 id plus uuidStep per port.
void PlaceBlock(json& block, int port)
{
    const std::string name = block.value("name", std::string("?"));
    if (!block.contains("uuid") || !block.contains("uuidStep"))
        Refuse("block " + name + " needs uuid and uuidStep");
    // Both fit 32 bits before they are added: a port count of at most SIM_MAX_PORTS cannot
    // overflow the sum.
    const int64_t first = block.at("uuid").get<int64_t>();
    const int64_t step = block.at("uuidStep").get<int64_t>();
    if (step < 1 || step > UINT32_MAX)
        Refuse("block " + name + ": uuidStep out of range 1..4294967295");
    const int64_t uuid = first < 0 || first > UINT32_MAX ? -1 : first + port * step;
    if (uuid < 0 || uuid > UINT32_MAX)
        Refuse("block " + name + ": uuid out of range at port " + std::to_string(port));
    block["uuid"] = uuid;
    block.erase("uuidStep");
}

} // namespace

json SimExpandPortTemplate(const json& card, int defaultPorts)
{
    if (!card.contains("ports") || !card.at("ports").is_object())
        return card;
    const json& ports = card.at("ports");
    for (const auto& member : ports.items()) {
        if (member.key() != "count" && member.key() != "template" && member.key() != "overrides")
            Refuse("unknown member \"" + member.key() + "\" in ports");
    }
    const int count = ports.value("count", defaultPorts);
    if (count < 1 || count > SIM_MAX_PORTS)
        Refuse("count " + std::to_string(count) + " outside 1.." + std::to_string(SIM_MAX_PORTS));
    const json portTemplate = ports.value("template", json::object());
    CheckMembers(portTemplate, "the template", false);

    // Overrides: one per port at most, each replacing the template's members it names.
    std::vector<json> perPort(static_cast<size_t>(count), portTemplate);
    std::set<int> overridden;
    const json overrides = ports.value("overrides", json::array());
    if (!overrides.is_array())
        Refuse("overrides must be a list");
    for (const json& entry : overrides) {
        CheckMembers(entry, "an override", true);
        const int port = entry.contains("port") ? entry.at("port").get<int>() : -1;
        if (port < 0 || port >= count)
            Refuse("override for port " + (entry.contains("port") ? entry.at("port").dump() : std::string("(none)")) +
                   " outside 0.." + std::to_string(count - 1));
        if (!overridden.insert(port).second)
            Refuse("two overrides for port " + std::to_string(port));
        for (const auto& member : entry.items()) {
            if (member.key() != "port")
                perPort[static_cast<size_t>(port)][member.key()] = member.value();
        }
    }
    // A port's functions and its RF input come from one place.
    if (card.contains("inputs") && portTemplate.contains("input"))
        Refuse("inputs given both for the card and in the template");
    for (int port = 0; port < count; port++) {
        const json& entry = perPort[static_cast<size_t>(port)];
        if (entry.contains("functions") && card.contains("functions"))
            Refuse("functions of port " + std::to_string(port) + " given both for the card and in the template");
        if (entry.contains("input") != portTemplate.contains("input"))
            Refuse("port " + std::to_string(port) + " has an input while the template has none");
    }

    json out = card;
    out["ports"] = count;
    for (int port = 0; port < count; port++) {
        json& entry = perPort[static_cast<size_t>(port)];
        Substitute(entry, std::to_string(port));
        for (const char* pList : PORT_LISTS) {
            if (!entry.contains(pList))
                continue;
            if (!entry.at(pList).is_array())
                Refuse(std::string(pList) + " must be a list");
            for (json item : entry.at(pList)) {
                if (!item.is_object() || item.contains("port"))
                    Refuse(std::string("an entry of ") + pList + " must be an object without a port");
                item["port"] = port;
                if (std::string(pList) == "blocks")
                    PlaceBlock(item, port);
                ListOf(out, pList).push_back(item);
            }
        }
        if (entry.contains("functions"))
            ListOf(out, "functions").push_back({{"port", port}, {"names", entry.at("functions")}});
        if (entry.contains("input"))
            ListOf(out, "inputs").push_back(entry.at("input"));
    }
    return out;
}
