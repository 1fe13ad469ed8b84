#pragma once
// What the recovery records say of one port before any run starts there: the radios that earlier
// runs (here or in another kit) left between erase and boot swap, unless a run that is alive
// holds the port, whose records are its own. For front ends that show a port before running it.

#include "protocol/PortEngine.h"
#include "runcore/RunObserver.h"

namespace kestro {

struct PortRecords {
    RememberedRadios remembered;  // none while another run holds the port
    bool heldElsewhere = false;   // another run has the port open now
};

// The records of `target` (a named port, not the cable found automatically) in the kit's state
// folder.
PortRecords RecordsOfPort(const PortTarget& target);

}  // namespace kestro
