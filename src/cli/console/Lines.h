#pragma once
// The Lines format: whole lines, each prefixed with its port (no prefix when there is one radio).

#include <memory>

#include "cli/console/RadioState.h"
#include "cli/console/Sink.h"

namespace kestro::cli::console {

std::unique_ptr<IConsoleSink> MakeLinesSink(ConsoleState& state);

}  // namespace kestro::cli::console
