#include "platform/RealClock.h"

#include <thread>

#include "platform/ManualResetEvent.h"

namespace kestro {

Millis RealClock::Now() {
    return std::chrono::duration_cast<Millis>(std::chrono::steady_clock::now().time_since_epoch());
}

bool RealClock::Sleep(Millis duration, const ManualResetEvent* interrupt) {
    if (interrupt != nullptr) {
        return interrupt->WaitFor(duration);
    }
    std::this_thread::sleep_for(duration);
    return false;
}

bool RealClock::WaitFor(const ManualResetEvent& event, Millis timeout) {
    return event.WaitFor(timeout);
}

void RealClock::Wait(const ManualResetEvent& event) { event.Wait(); }

RealClock& RealClock::Instance() {
    static RealClock clock;
    return clock;
}

}  // namespace kestro
