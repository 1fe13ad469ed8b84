#pragma once
// How a run ended, as a value: front ends decide what to show, count and exit with from its kind,
// never from the wording of a message.

#include <string>

namespace kestro {

enum class RunEndKind {
    Upgraded,              // the new firmware is in place
    Failed,                // a check or a step failed; the radio's firmware still works
    NoAnswer,              // no radio answered its detection: none there, or one left without firmware
    NeedsRecovery,         // a failure left the radio between erase and boot swap: it has no working firmware
    Stopped,               // asked to stop, the run ended before the erase: the radio is untouched
    StoppedNeedsRecovery,  // asked to stop between erase and boot swap
    NotStarted,            // the firmware file or the port could not be used, or the kit could not run
};

struct RunEnd {
    RunEndKind kind = RunEndKind::NotStarted;
    std::string message;  // the whole text of the message that ended the run; "" when upgraded

    bool Upgraded() const { return kind == RunEndKind::Upgraded; }
    bool NeedsRecovery() const { return kind == RunEndKind::NeedsRecovery || kind == RunEndKind::StoppedNeedsRecovery; }
    bool Stopped() const { return kind == RunEndKind::Stopped || kind == RunEndKind::StoppedNeedsRecovery; }
};

// "completed", "failed", "interrupted" or "not started": the outcome as the command line's JSON
// names it.
const char* OutcomeName(RunEndKind kind);

}  // namespace kestro
