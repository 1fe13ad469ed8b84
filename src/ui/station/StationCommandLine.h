#pragma once
// The options of kestro-upgrade-station, turned into the station's options.

#include <optional>
#include <string>
#include <vector>

#include "ui/station/Station.h"

namespace kestro::station {

// nullopt with `error` set for an option it does not take ("" after --help, with the usage in
// `error`).
// --help or -h among the arguments: the usage is printed before any display is opened.
bool AsksForHelp(int argc, char** argv);

std::optional<StationOptions> ParseStationCommandLine(const std::vector<std::string>& args, std::string& error);

}  // namespace kestro::station
