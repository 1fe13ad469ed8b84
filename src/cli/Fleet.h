#pragma once
// kestro-upgrade's whole job: the firmware file checked once, then one complete, independent run
// per radio, all at once, watched until each has ended; then the summary and the exit status.

#include <vector>

#include "cli/FleetConsole.h"
#include "platform/StopActs.h"
#include "runcore/RadioSummary.h"
#include "runcore/RadioTarget.h"

namespace kestro::cli {

struct FleetResult {
    std::vector<RadioSummary> radios;
    int exitStatus = 0;
};

// Runs every radio of `radios`. `stop` tells the user's acts of stopping and is polled: at the
// first every run that has not reached its erase is asked to end at its next wait, while those
// between erase and boot swap finish; at the second every run is. With one radio the exit status is that
// radio's own (4 for a port that could not be opened, 5 when the kit could not run); with
// several: 0 when every radio was upgraded, 130 when a run was interrupted, else 1.
FleetResult RunFleet(const std::vector<RadioTarget>& radios, const RunSettings& settings,
                     FleetConsole& console, StopActs* stop = nullptr);

// "kestro-upgrade --recovery --port P --port Q [--firmware F] [--log L]" for the ports whose
// radios were left needing recovery; empty when there are none. Simulated radios are left out:
// their pseudo-terminals are gone once the run has ended.
std::string RecoveryCommand(const std::vector<RadioSummary>& radios, const RunSettings& settings);
// "kestro-upgrade --recovery --simulate=needs-recovery,... [--firmware F] [--log L]": the same
// recovery on fresh simulated radios, one for each simulated radio left needing recovery; empty
// when there are none.
std::string SimulatedRecoveryCommand(const std::vector<RadioSummary>& radios, const RunSettings& settings);

}  // namespace kestro::cli
