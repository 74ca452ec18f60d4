// Port templates of the scenario format: a card's per-port entries written once for all ports
// ("ports": {"count", "template", "overrides"}, see README.md) and expanded here into the
// plain form, one entry per port.
#pragma once

#include <nlohmann/json.hpp>

// Largest number of receiver ports a virtual card may have.
constexpr int SIM_MAX_PORTS = 64;

// The card with its port template expanded: "ports" becomes the count, each port's entries are
// appended to the card's lists (after the card's own) with "port" set, and each port's "input"
// becomes its RF input. A card without a template comes back as it is. defaultPorts is the
// model's port count. Throws std::invalid_argument, naming what is wrong, for a bad template.
nlohmann::json SimExpandPortTemplate(const nlohmann::json& card, int defaultPorts);
