#include "platform/VirtualClock.h"

#include <stdexcept>

#include "platform/ManualResetEvent.h"

namespace kestro {

void VirtualClock::ScheduleAt(Millis at, std::function<void()> action) {
    if (at < m_now) {
        at = m_now;
    }
    m_queue.push(Item{at, m_sequence++, std::move(action)});
}

bool VirtualClock::RunUntilOr(Millis deadline, const std::function<bool()>& done) {
    while (true) {
        if (done && done()) {
            return true;
        }
        if (m_queue.empty() || m_queue.top().at > deadline) {
            break;
        }
        // Copy out before popping: the action may schedule more actions.
        Item item = m_queue.top();
        m_queue.pop();
        m_now = item.at;
        item.action();
    }
    if (m_now < deadline) {
        m_now = deadline;
    }
    return done && done();
}

void VirtualClock::RunUntil(Millis until) { RunUntilOr(until, {}); }

bool VirtualClock::Sleep(Millis duration, const ManualResetEvent* interrupt) {
    const Millis start = m_now;
    bool interrupted = false;
    if (interrupt != nullptr) {
        interrupted = RunUntilOr(start + duration, [interrupt] { return interrupt->IsSet(); });
    } else {
        RunUntilOr(start + duration, {});
    }
    Note(Record::Kind::Pause, start, duration, interrupted);
    return interrupted;
}

bool VirtualClock::WaitFor(const ManualResetEvent& event, Millis timeout) {
    const Millis start = m_now;
    const bool signalled = RunUntilOr(start + timeout, [&event] { return event.IsSet(); });
    Note(Record::Kind::Wait, start, timeout, signalled);
    return signalled;
}

void VirtualClock::Wait(const ManualResetEvent& event) {
    const Millis start = m_now;
    while (!event.IsSet()) {
        if (m_queue.empty()) {
            throw std::logic_error("VirtualClock::Wait: the event can never be set");
        }
        Item item = m_queue.top();
        m_queue.pop();
        m_now = item.at;
        item.action();
    }
    Note(Record::Kind::Wait, start, Millis{-1}, true);
}

void VirtualClock::Note(Record::Kind kind, Millis start, Millis requested, bool signalled) {
    if (m_recording) {
        m_records.push_back(Record{kind, start, requested, m_now - start, signalled});
    }
}

std::vector<VirtualClock::Record> VirtualClock::Waits() const {
    std::vector<Record> out;
    for (const auto& r : m_records) {
        if (r.kind == Record::Kind::Wait) out.push_back(r);
    }
    return out;
}

std::vector<VirtualClock::Record> VirtualClock::Pauses() const {
    std::vector<Record> out;
    for (const auto& r : m_records) {
        if (r.kind == Record::Kind::Pause) out.push_back(r);
    }
    return out;
}

}  // namespace kestro
