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
    Checked,               // a read-only check read everything it asks for (RadioSummary.check)
    // After an upgrade, when a confirmation was asked for:
    Confirmed,               // the same radio answers with the kit's version
    NotConfirmedOldVersion,  // the same radio still reports another version: the upgrade did not take
    NotConfirmedNoAnswer,    // no radio answered within the wait
    NotConfirmedOtherSerial, // a radio with another serial number answers
};

struct RunEnd {
    RunEndKind kind = RunEndKind::NotStarted;
    std::string message;  // the whole text of the message that ended the run; "" when upgraded
    std::string serialAfter;   // what the radio told after its restart, where it was asked
    std::string versionAfter;

    // The programming completed and nothing says the new firmware did not take.
    bool Upgraded() const {
        return kind == RunEndKind::Upgraded || kind == RunEndKind::Confirmed ||
               kind == RunEndKind::NotConfirmedNoAnswer || kind == RunEndKind::NotConfirmedOtherSerial;
    }
    bool Confirmed() const { return kind == RunEndKind::Confirmed; }
    // A confirmation was asked for and has its answer.
    bool ConfirmationAsked() const { return kind >= RunEndKind::Confirmed; }
    bool NeedsRecovery() const { return kind == RunEndKind::NeedsRecovery || kind == RunEndKind::StoppedNeedsRecovery; }
    bool Stopped() const { return kind == RunEndKind::Stopped || kind == RunEndKind::StoppedNeedsRecovery; }
};

// "completed", "failed", "interrupted" or "not started": the outcome as the command line's JSON
// names it.
const char* OutcomeName(RunEndKind kind);

}  // namespace kestro
