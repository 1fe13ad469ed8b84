#pragma once
// Which ports an open tries, and in what order, for both port engines: the port the target names
// (or the programming cable found by its USB instance "0006" when it names none) and, when that
// cannot be opened and the fall-back is on, the cable found by the instance "0001" instead. The
// engines supply only the opening of one port; the policy and its wording live here once.

#include <functional>
#include <string>

#include "protocol/PortEngine.h"

namespace kestro {

inline constexpr const char* kAutomaticInstance = "0006";
inline constexpr const char* kFallbackInstance = "0001";

// One port an open tries: its number, the device to open, and how messages name it.
struct PortAttempt {
    int number = 0;
    std::string device;  // empty: the device of `number` (DevicePathForPort), or none
    std::string label;   // "COM5", or the name the user gave
};

// What an engine made of one attempt.
struct AttemptResult {
    bool opened = false;
    // The port was found but is of no use (it cannot be configured): no other is tried.
    bool final = false;
    std::string reason;  // why it failed, naming the port ("COM5: device busy: ...")
};

// The cable's port by its USB instance: n >= 1 found, 0 found without a port number, -1 absent.
using CableLookup = std::function<int(const char* instance)>;

// Opens `target` through `attempt`, with the fall-back when `fallback`. True when a port is open;
// false with `error` saying why (both reasons when the fall-back was tried too).
bool OpenWithFallback(const PortTarget& target, bool fallback, const CableLookup& findCable,
                      const std::function<AttemptResult(const PortAttempt&)>& attempt, std::string& error);

}  // namespace kestro
