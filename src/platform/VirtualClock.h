#pragma once
// A discrete-event clock for tests and the soak: waits and pauses advance virtual time at once,
// running the actions scheduled up to the instant they end. Every wait and pause is recorded
// with its virtual duration, so tests can assert exact retry timings in microseconds of real time.
// Single-threaded: the code under test and the scheduled actions run on the caller's thread.

#include <cstdint>
#include <functional>
#include <queue>
#include <vector>

#include "platform/Clock.h"

namespace kestro {

class VirtualClock final : public IClock {
public:
    struct Record {
        enum class Kind { Wait, Pause };
        Kind kind;
        Millis start;      // virtual instant the wait or pause began
        Millis requested;  // its time-out or duration
        Millis elapsed;    // how long it really lasted
        bool signalled;    // the wait ended by its event (or the pause by its interrupt)
    };

    Millis Now() override { return m_now; }
    bool Sleep(Millis duration, const ManualResetEvent* interrupt = nullptr) override;
    bool WaitFor(const ManualResetEvent& event, Millis timeout) override;
    // Throws std::logic_error when nothing is scheduled that could ever set the event.
    void Wait(const ManualResetEvent& event) override;

    // Runs `action` at the absolute virtual instant `at` (or now, when `at` has passed).
    // Actions at the same instant run in the order they were scheduled.
    void ScheduleAt(Millis at, std::function<void()> action);
    void ScheduleAfter(Millis delay, std::function<void()> action) {
        ScheduleAt(m_now + delay, std::move(action));
    }

    // Advances time to `until`, running every action due by then.
    void RunUntil(Millis until);
    std::size_t PendingActions() const { return m_queue.size(); }

    const std::vector<Record>& Records() const { return m_records; }
    std::vector<Record> Waits() const;
    std::vector<Record> Pauses() const;
    void ClearRecords() { m_records.clear(); }
    void SetRecording(bool on) { m_recording = on; }

private:
    struct Item {
        Millis at;
        std::uint64_t sequence;
        std::function<void()> action;
    };
    struct Later {
        bool operator()(const Item& a, const Item& b) const {
            return a.at != b.at ? a.at > b.at : a.sequence > b.sequence;
        }
    };

    // Runs due actions until `done` holds or `deadline` is reached; returns whether `done` held.
    bool RunUntilOr(Millis deadline, const std::function<bool()>& done);
    void Note(Record::Kind kind, Millis start, Millis requested, bool signalled);

    Millis m_now{0};
    std::uint64_t m_sequence = 0;
    std::priority_queue<Item, std::vector<Item>, Later> m_queue;
    std::vector<Record> m_records;
    bool m_recording = true;
};

}  // namespace kestro
