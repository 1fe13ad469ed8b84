#pragma once
// `kestro-upgrade report`: the campaign report over history servers, PCs' history files and CSV
// logs of runs, as one HTML page (and a CSV of each radio's latest state).

#include <ostream>

namespace kestro::cli {

// argv[0] is "report". Returns the exit status (0 written, kExitRadioFailed when a source
// cannot be read or an output written, kExitUsage).
int RunReportCommand(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace kestro::cli
