#pragma once
// The longest a run may last and the most requests it may send, derived from the command table:
// every transaction at its last attempt with every pause, plus the run's own fixed pauses.
// A run that goes past either bound has not ended the way its retries allow.

#include <chrono>
#include <cstddef>

#include "protocol/CommandTable.h"

namespace kestro::soak {

struct RunBound {
    std::chrono::milliseconds time{0};
    std::size_t requests = 0;
};

// One transaction of the command table that ends in failure as late as its discipline allows.
RunBound LongestTransaction(const CommandSpec& command);

// A whole run: detection, checks, codeplug restore, reset mode and programming of
// `applicationRows` rows plus the 256 boot rows; a recovery run starts at the programming entry.
RunBound LongestRun(std::size_t applicationRows, bool recovery);

}  // namespace kestro::soak
