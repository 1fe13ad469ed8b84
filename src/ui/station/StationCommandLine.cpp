#include "ui/station/StationCommandLine.h"

#include <algorithm>
#include <string_view>

#include "history/RunHistory.h"
#include "radio/Scenarios.h"

namespace kestro::station {

namespace {

constexpr const char* kOptions =
    "Usage: kestro-upgrade-station [--simulate[=SCENARIO,...]] [--plug=SCENARIO,...] [--settle-ms=N]\n"
    "                              [--firmware=FILE] [--log=FILE]\n"
    "  --simulate    simulated radios instead of the programming cables present, one per scenario\n"
    "                (default: normal); Simulate > Plug in (Ctrl+N) adds more, Unplug (Ctrl+D) pulls one\n"
    "  --plug        the scenarios that Plug in brings, in turn (default: normal)\n"
    "  --settle-ms   the wait from a cable's arrival to its run's start (default: 2000)\n"
    "  --firmware    the firmware file (default: the kit's own)\n"
    "  --log         the CSV log of runs (default: the kit's log)\n";

// The options, then every scenario with what it sets up.
std::string Usage() {
    std::string usage = kOptions;
    usage += "Scenarios:\n";
    for (const auto& s : Scenarios()) {
        std::string line = "  " + std::string(s.name);
        line.resize(std::max<std::size_t>(line.size() + 1, 22), ' ');
        usage += line + std::string(s.description) + "\n";
    }
    return usage;
}

bool KnownScenario(const std::string& name) {
    for (const auto& s : Scenarios()) {
        if (s.name == name) return true;
    }
    return false;
}

// "a,b,c" as its names; false when one is no scenario.
bool ScenarioList(const std::string& value, std::vector<std::string>& names, std::string& error) {
    names.clear();
    std::size_t start = 0;
    while (start <= value.size()) {
        const std::size_t comma = std::min(value.find(',', start), value.size());
        names.push_back(value.substr(start, comma - start));
        if (!KnownScenario(names.back())) {
            error = "no such scenario: \"" + names.back() + "\"";
            return false;
        }
        start = comma + 1;
    }
    return true;
}

}  // namespace

bool AsksForHelp(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") return true;
    }
    return false;
}

std::optional<StationOptions> ParseStationCommandLine(const std::vector<std::string>& args, std::string& error) {
    StationOptions options;
    options.settings.historyFrontEnd = kFrontEndStation;
    for (const std::string& arg : args) {
        const std::size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        const std::string value = equals == std::string::npos ? std::string() : arg.substr(equals + 1);
        const bool hasValue = equals != std::string::npos;
        if (name == "--help" || name == "-h") {
            error = Usage();
            return std::nullopt;
        }
        if (name == "--simulate") {
            options.simulation = true;
            options.simulated = {"normal"};
            if (hasValue && !ScenarioList(value, options.simulated, error)) return std::nullopt;
        } else if (name == "--plug" && hasValue) {
            if (!ScenarioList(value, options.plugScenarios, error)) return std::nullopt;
        } else if (name == "--settle-ms" && hasValue && !value.empty() &&
                   value.find_first_not_of("0123456789") == std::string::npos && value.size() < 7) {
            options.settle = std::chrono::milliseconds(std::stoi(value));
        } else if (name == "--firmware" && hasValue) {
            options.settings.firmware = value;
        } else if (name == "--log" && hasValue) {
            options.settings.log = value;
        } else {
            error = "kestro-upgrade-station: unknown or incomplete option \"" + arg + "\"\n" + Usage();
            return std::nullopt;
        }
    }
    return options;
}

}  // namespace kestro::station
