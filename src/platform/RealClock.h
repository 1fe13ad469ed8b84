#pragma once
// The production clock: steady time and real waits.

#include "platform/Clock.h"

namespace kestro {

class RealClock final : public IClock {
public:
    Millis Now() override;
    bool Sleep(Millis duration, const ManualResetEvent* interrupt = nullptr) override;
    bool WaitFor(const ManualResetEvent& event, Millis timeout) override;
    void Wait(const ManualResetEvent& event) override;

    // One process-wide instance for components that are not given a clock.
    static RealClock& Instance();
};

}  // namespace kestro
