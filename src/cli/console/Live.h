#pragma once
// The Live format, for a terminal: one line per radio redrawn in place and fitted to the width;
// messages and notes print above those lines, which are then drawn again below them.

#include <memory>

#include "cli/console/RadioState.h"
#include "cli/console/Sink.h"

namespace kestro::cli::console {

// `columns`: the width of the lines and the summary; 0 asks the terminal (80 if it does not tell).
std::unique_ptr<IConsoleSink> MakeLiveSink(ConsoleState& state, int columns);

}  // namespace kestro::cli::console
