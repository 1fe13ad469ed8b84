#pragma once
// How the station is set up: the settings of its runs, and which cables it follows (real or
// simulated), how often it looks for them and whether their arrival starts a run.

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "runcore/RadioTarget.h"

namespace kestro::station {

struct StationOptions {
    RunSettings settings;                  // firmware and log of every run
    bool simulation = false;               // simulated cables only; the real ones are not looked for
    std::vector<std::string> simulated;    // the simulated radios plugged in at the start
    std::vector<std::string> plugScenarios{"normal"};  // what a simulated plug brings, in turn
    bool autoStart = false;                // each cable that arrives starts its run once settled
    std::chrono::milliseconds settle{2000};  // from a cable's arrival to its run's start
    std::chrono::milliseconds scanInterval{1000};  // where no device monitor tells of cables
    std::filesystem::path sysfsRoot;       // empty: DefaultSysfsRoot()
};

}  // namespace kestro::station
