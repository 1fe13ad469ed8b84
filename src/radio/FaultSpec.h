#pragma once
// Faults of the simulated radio written as text, so that the command-line tools can set any of
// them: "<fault>[*<times>]" where <fault> is one of
//   silence | nak[:<e1><e2>] | late:<ms> | corrupt:<index> | drop:<index>[:<count>] | twice |
//   wrong-code[:<code>] | status-first
// (<e1><e2> four hexadecimal digits, <code> two; <times> limits a fault by request kind to the
// first requests of that kind), and requests by their table names ("REQ_CP_WRITE", any case,
// "REQ_" optional).

#include <optional>
#include <string_view>

#include "protocol/Frame.h"
#include "radio/SimRadioConfig.h"

namespace kestro {

std::optional<Fault> ParseFault(std::string_view text);
std::optional<RequestId> ParseRequestName(std::string_view text);

}  // namespace kestro
