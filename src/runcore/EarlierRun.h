#pragma once
// A radio's latest earlier run, in a few words, once its serial number is known: from this PC's
// history ("upgraded 2026-12-01, confirmed R01.04") and from the shared history server where one
// is set ("upgraded at BENCH-2 2026-12-01 10:14, confirmed R01.04").

#include <string>

#include "runcore/RadioTarget.h"

namespace kestro {

struct EarlierRuns {
    std::string here;         // "" when this PC's history holds no run of the radio
    std::string server;       // "" when no server is set or it holds none
    std::string error;        // why a history could not be read; "" when both could
};

// "R0104" as the kit writes versions: "R01.04"; another text stays as it is.
std::string VersionText(const std::string& reported);

// Reads both histories of `settings` (a history that is not kept, or not there yet, holds none;
// none is created here). The server is asked once, with its own short connect time-out.
EarlierRuns LatestEarlierRuns(const RunSettings& settings, const std::string& serial);

}  // namespace kestro
