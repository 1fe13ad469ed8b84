#include "runcore/RunEnd.h"

namespace kestro {

const char* OutcomeName(RunEndKind kind) {
    switch (kind) {
        case RunEndKind::Upgraded:
        case RunEndKind::Confirmed:
        case RunEndKind::NotConfirmedNoAnswer:
        case RunEndKind::NotConfirmedOtherSerial: return "completed";
        case RunEndKind::NotConfirmedOldVersion:
        case RunEndKind::Failed:
        case RunEndKind::NoAnswer:
        case RunEndKind::NeedsRecovery: return "failed";
        case RunEndKind::Stopped:
        case RunEndKind::StoppedNeedsRecovery: return "interrupted";
        case RunEndKind::Checked: return "checked";
        case RunEndKind::NotStarted: break;
    }
    return "not started";
}

}  // namespace kestro
