// Naming parameters on the command line: by name (case-insensitive, a unique
// prefix will do) or by index, with values normalised to 0..1.
#pragma once

#include <string>
#include <vector>

namespace quor::cli {

class Plugin;

// The index `key` names among `names`. An exact (case-insensitive) name wins,
// then a decimal index, then a prefix shared by exactly one name. Throws Error
// for an unknown or ambiguous key.
int findParameter(const std::vector<std::string>& names, const std::string& key);

struct ParameterSetting {
    std::string key;
    float value = 0.0f;
};

// Splits "NAME=VALUE" at its last '='; the value must be a number in 0..1.
ParameterSetting parseSetting(const std::string& text);

// Applies every "NAME=VALUE" in order.
void applySettings(const Plugin& plugin, const std::vector<std::string>& settings);

} // namespace quor::cli
