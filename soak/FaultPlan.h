#pragma once
// The faults of one soak case, drawn from a seeded generator: damage to reply and request bytes
// at chosen rates, refusals, silences, late replies near the time-outs, doubled and wrong
// replies and status reports, faults aimed at one request kind, a cable lost at a random
// request, and now and then a radio whose own values end the run early.

#include <cstddef>
#include <random>
#include <string>

#include "radio/SimRadioConfig.h"

namespace kestro::soak {

struct FaultPlan {
    SimRadioConfig radio;               // what the simulated radio reports and how it misbehaves
    bool codeplugNeedsRestore = false;  // the deciding codeplug byte is wrong at the start
    double requestCorruptRate = 0.0;
    double requestDropRate = 0.0;
    std::string description;  // one line, for --verbose and violation reports
};

// `requests` is the number of requests of a fault-free run of this case's image.
FaultPlan DrawFaultPlan(std::mt19937& random, std::size_t requests);

}  // namespace kestro::soak
