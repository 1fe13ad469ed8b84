#include "runcore/PortRecords.h"

#include "runcore/detail/RememberedRadios.h"
#include "upgrade/UpgradeHub.h"

namespace kestro {

RememberedRadios Remembered(const std::vector<RecoveryRecord>& records, std::string skipped) {
    RememberedRadios remembered;
    remembered.count = records.size();
    remembered.skipped = std::move(skipped);
    if (records.empty()) return remembered;
    remembered.described = DescribeRadios(records);
    remembered.newest = records.back().RadioText();
    remembered.newestPort = records.back().PortArgument();
    remembered.newestSince = records.back().SinceText();
    return remembered;
}

PortRecords RecordsOfPort(const PortTarget& target) {
    PortRecords found;
    const RecoveryRecord port = CUpgradeHub::TargetKey(target);
    const auto records = CRecoveryRecords(DefaultRecoveryFolder()).ForPort(port);
    if (!records.empty() && CUpgradeHub::HeldElsewhere(port)) {
        found.heldElsewhere = true;
        return found;
    }
    found.remembered = Remembered(records);
    return found;
}

}  // namespace kestro
