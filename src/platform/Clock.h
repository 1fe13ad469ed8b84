#pragma once
// The clock interface: every pause and every timed wait of the kit goes through it, so that
// production runs on the real clock and tests on a virtual one (VirtualClock.h).

#include <chrono>

namespace kestro {

class ManualResetEvent;

using Millis = std::chrono::milliseconds;

class IClock {
public:
    virtual ~IClock() = default;

    // Milliseconds since an arbitrary, fixed origin; never goes backwards.
    virtual Millis Now() = 0;

    // Pauses for `duration`. When `interrupt` is given and becomes set, the pause ends early
    // and the result is true.
    virtual bool Sleep(Millis duration, const ManualResetEvent* interrupt = nullptr) = 0;

    // Waits until `event` is set or `timeout` has passed. True when the event was set.
    virtual bool WaitFor(const ManualResetEvent& event, Millis timeout) = 0;

    // Waits without time-out until `event` is set.
    virtual void Wait(const ManualResetEvent& event) = 0;
};

}  // namespace kestro
