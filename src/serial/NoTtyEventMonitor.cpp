// A build without a device monitor: the caller looks for cables on a timer.

#include "serial/TtyEventMonitor.h"

namespace kestro {

std::unique_ptr<TtyEventMonitor> TtyEventMonitor::Open(std::string& reason) {
    reason = "this build has no device monitor";
    return nullptr;
}

}  // namespace kestro
