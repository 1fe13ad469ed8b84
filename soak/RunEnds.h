#pragma once
// The specified ends of an upgrade run, as the soak checks them: the message boxes in order, the
// status line left at the end, the log result, and what the run does to the recovery flag.
// A run whose boxes match no row has ended in a way the kit does not specify.

#include <span>
#include <string>
#include <vector>

namespace kestro::soak {

enum class RecoveryEffect { Unchanged, Set, Cleared };

struct RunEnd {
    const char* name;                     // for the tallies
    std::vector<const char*> boxes;       // message box texts, in order
    const char* status;                   // status line at the end; nullptr: the load's text
    std::vector<const char*> logResults;  // allowed results of the one log line; empty: no line
    RecoveryEffect recovery;
    bool programming;  // reached the programming entry: the progress bar stays visible
    bool completed;
};

std::span<const RunEnd> RunEnds();

// The row whose boxes are exactly `boxes`; for a run without a box, the row of the completed run
// when `completed`, else the silent failure. nullptr when no row matches.
const RunEnd* FindRunEnd(const std::vector<std::string>& boxes, bool completed);

}  // namespace kestro::soak
