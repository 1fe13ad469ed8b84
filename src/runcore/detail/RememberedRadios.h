#pragma once
// The run core's account of recovery records, for its observers. Private to the run core: its
// public headers name no type of the layers below it.

#include <string>
#include <vector>

#include "runcore/RunObserver.h"
#include "upgrade/RecoveryRecords.h"

namespace kestro {

RememberedRadios Remembered(const std::vector<RecoveryRecord>& records, std::string skipped = {});

}  // namespace kestro
