#include "platform/ManualResetEvent.h"

namespace kestro {

void ManualResetEvent::Set() {
    {
        std::lock_guard lock(m_mutex);
        m_signalled = true;
    }
    m_changed.notify_all();
}

void ManualResetEvent::Reset() {
    std::lock_guard lock(m_mutex);
    m_signalled = false;
}

bool ManualResetEvent::IsSet() const {
    std::lock_guard lock(m_mutex);
    return m_signalled;
}

bool ManualResetEvent::WaitFor(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [this] { return m_signalled; });
}

void ManualResetEvent::Wait() const {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_signalled; });
}

}  // namespace kestro
