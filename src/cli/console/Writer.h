#pragma once
// The console's one writer thread and its queue of events. The other threads only post events
// to it: a post holds a lock just long enough to queue the event, never across a write, so a
// reader that stalls (a pager, a full pipe, a stuck terminal) never holds up a radio. While the
// writer is behind, a radio's queued percent is replaced by its latest one; every other event
// is written, in order. The writer brings the radios' state up to date with each event and
// hands the event to its sink, which writes it in its format. The thread starts when told
// (Start: once a radio's port is open); until then events wait in the queue, and a waiter or
// the end writes them on its own thread, so a run that stops before any port starts no thread.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cli/console/RadioState.h"
#include "cli/console/Sink.h"

namespace kestro::cli::console {

struct ConsoleEvent {
    enum class Kind : std::uint8_t {
        AddRadio, Rename, Started, Status, Serial, ShowProgress, Progress, Message, Note,
        Finishing, Trace, Ended, Tick, Finish, Summary
    };
    Kind kind = Kind::Tick;
    int radio = -1;
    std::string text;  // port, scenario, status, serial, label, message, note or trace line
    int number = 0;    // percent, 1/0 for ShowProgress, or the exit status for Summary
    RunMessage message;  // Message
    std::chrono::steady_clock::time_point at{};  // when it was posted
    std::vector<RadioSummary> radios;  // Ended: one; Summary: all
    RecoveryAdvice advice;
};

class Writer {
public:
    // `state`: the radios and the output, which only the writer touches once it runs.
    Writer(ConsoleState& state, std::unique_ptr<IConsoleSink> sink);
    // Writes what is still queued.
    ~Writer();
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    // Starts the writer thread; later calls do nothing. Without a thread every post is then
    // written at once by the thread that posts it.
    void Start();
    // Whether a writer thread runs (false before Start, and where none could be made).
    bool Threaded() const;
    // Queues a new radio on `port`; returns its index.
    int AddRadio(const std::string& port);
    std::size_t RadioCount() const;
    // Queues `event` for the writer; returns its sequence number.
    std::uint64_t Post(ConsoleEvent event);
    // Returns once the event numbered `sequence` has been written.
    void WaitWritten(std::uint64_t sequence);

private:
    void Loop();
    // The writer's side: only the writer thread runs it, or, while there is none, a thread that
    // holds m_queueLock.
    void Handle(ConsoleEvent& event);
    std::deque<ConsoleEvent> TakeQueued();  // the queue emptied into the result, under m_queueLock
    void WriteQueued();                     // the queue, on the calling thread, under m_queueLock

    ConsoleState& m_state;
    std::unique_ptr<IConsoleSink> m_sink;

    // Shared with the posting threads, under m_queueLock.
    mutable std::mutex m_queueLock;
    std::condition_variable m_wake;     // the writer: events are queued, or the end
    std::condition_variable m_written;  // the waiters of WaitWritten()
    std::deque<ConsoleEvent> m_queue;
    std::vector<ConsoleEvent*> m_queuedProgress;  // per radio: its last queued event when a percent
    bool m_tickQueued = false;
    std::size_t m_radioCount = 0;
    std::uint64_t m_posted = 0;
    std::uint64_t m_writtenCount = 0;
    bool m_closing = false;
    enum class State { NotYet, Running, None };  // None: no thread could be made
    State m_threadState = State::NotYet;

    std::thread m_thread;  // joinable once Start has made it
};

}  // namespace kestro::cli::console
