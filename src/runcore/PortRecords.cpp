#include "runcore/PortRecords.h"

#include "upgrade/UpgradeHub.h"

namespace kestro {

PortRecords RecordsOfPort(const PortTarget& target) {
    PortRecords found;
    const RecoveryRecord port = CUpgradeHub::TargetKey(target);
    found.records = CRecoveryRecords(DefaultRecoveryFolder()).ForPort(port);
    if (!found.records.empty() && CUpgradeHub::HeldElsewhere(port)) {
        found.heldElsewhere = true;
        found.records.clear();
    }
    return found;
}

}  // namespace kestro
