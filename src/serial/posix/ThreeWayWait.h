#pragma once
// The port thread's wait on the stop event, the port and the send event at once. The set is
// registered once (epoll), so each wait costs the system no more than the wake-up itself; where
// epoll is refused, each wait polls the three descriptors instead.

#include <array>
#include <cstdint>

#include "serial/posix/PortEvent.h"

namespace kestro::posix {

class ThreeWayWait {
public:
    enum Slot { kStop = 0, kPort = 1, kSend = 2 };
    // What each descriptor reported, as poll() flags (POLLIN, POLLHUP, ...), by Slot.
    using Readiness = std::array<short, 3>;

    ThreeWayWait(int stopFd, int portFd, int sendFd);
    ThreeWayWait(const ThreeWayWait&) = delete;
    ThreeWayWait& operator=(const ThreeWayWait&) = delete;

    // Leaves the port out from now on (a hung-up line would report itself forever).
    void ForgetPort();
    // Waits without time-out. False when the wait failed or was interrupted.
    bool Wait(Readiness& ready);

private:
    std::array<int, 3> m_fds;
    PortHandle m_epoll;
};

}  // namespace kestro::posix
