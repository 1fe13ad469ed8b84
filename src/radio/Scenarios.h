#pragma once
// Named set-ups of the simulated radio, shared by kestro-radio-sim --scenario and the
// command-line kit's --simulate, so that both offer the same list with the same meaning.

#include <span>
#include <string_view>

#include "radio/SimRadio.h"

namespace kestro {

struct ScenarioInfo {
    std::string_view name;
    std::string_view description;  // one line, for --help texts
};

// Every scenario, "normal" first.
std::span<const ScenarioInfo> Scenarios();

// Configures `radio` for the scenario `name`; false (and the radio untouched) for an unknown name.
// Meant for a freshly created radio: it sets values and faults but resets nothing else.
bool ApplyScenario(SimRadio& radio, std::string_view name);

}  // namespace kestro
