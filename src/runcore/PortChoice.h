#pragma once
// The one reading of a port as a user names it (the command line's --port, a station's row, a
// port added by hand): "auto" finds the cable, "COMn" (any case, n >= 1) is port n, a device path
// is that device, with its number by the port rule where it has one.

#include <optional>
#include <string>

#include "protocol/PortEngine.h"

namespace kestro {

// The port `port` names, as a run opens it; nullopt with a reason in `error` for anything else.
std::optional<PortTarget> PortTargetFor(const std::string& port, std::string& error);

// Why `port` is no form a port is named in; "" when it is one.
std::string PortFormProblem(const std::string& port);

}  // namespace kestro
