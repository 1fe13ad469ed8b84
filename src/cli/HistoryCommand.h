#pragma once
// `kestro-upgrade history`: the runs in the history, newest first, one line a run (text, JSON
// Lines or CSV), or with --latest each radio's latest run; read only, no port opened.

#include <filesystem>
#include <ostream>

namespace kestro::cli {

// argv[0] is "history". Writes the runs to `out` and any complaint to `err`; returns the exit
// status (0, kExitRadioFailed when the history cannot be read, kExitUsage).
int RunHistoryCommand(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                      const std::filesystem::path& file);

}  // namespace kestro::cli
