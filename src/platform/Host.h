#pragma once
// The name of the PC the kit runs on, as the history of runs records it.

#include <string>

namespace kestro {

// The host's name ("BENCH-2"); "" when the system does not tell it.
std::string ComputerName();

}  // namespace kestro
