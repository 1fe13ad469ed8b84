#pragma once
// A manual-reset event: once set it stays set, waking every waiter, until it is reset.
// Timed waits go through an IClock (see Clock.h) so that tests can run them in virtual time.

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace kestro {

class ManualResetEvent {
public:
    explicit ManualResetEvent(bool initiallySet = false) : m_signalled(initiallySet) {}
    ManualResetEvent(const ManualResetEvent&) = delete;
    ManualResetEvent& operator=(const ManualResetEvent&) = delete;

    void Set();
    void Reset();
    bool IsSet() const;

    // Real-time waits; prefer IClock::WaitFor in code that tests run in virtual time.
    bool WaitFor(std::chrono::milliseconds timeout) const;
    void Wait() const;

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    bool m_signalled;
};

}  // namespace kestro
