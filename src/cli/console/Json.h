#pragma once
// The Json format: one JSON object per line, each with its port.

#include <memory>

#include "cli/console/RadioState.h"
#include "cli/console/Sink.h"

namespace kestro::cli::console {

std::unique_ptr<IConsoleSink> MakeJsonSink(ConsoleState& state);

}  // namespace kestro::cli::console
