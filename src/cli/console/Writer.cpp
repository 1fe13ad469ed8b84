// The console's writer thread: queues what the other threads post, coalesces a radio's queued
// percent, and hands each event to the sink.
#include "cli/console/Writer.h"

#include <algorithm>
#include <system_error>

namespace kestro::cli::console {

using Kind = ConsoleEvent::Kind;

Writer::Writer(ConsoleState& state, std::unique_ptr<IConsoleSink> sink) : m_state(state), m_sink(std::move(sink)) {}

void Writer::Start() {
    std::lock_guard lock(m_queueLock);
    if (m_threadState != State::NotYet) return;
    try {
        m_thread = std::thread([this] { Loop(); });
        m_threadState = State::Running;
    } catch (const std::system_error&) {
        // No thread: each post is written at once, by the thread that posts it.
        m_threadState = State::None;
        WriteQueued();
    }
}

bool Writer::Threaded() const {
    std::lock_guard lock(m_queueLock);
    return m_threadState == State::Running;
}

Writer::~Writer() {
    {
        std::lock_guard lock(m_queueLock);
        m_closing = true;
        if (m_threadState != State::Running) WriteQueued();
    }
    m_wake.notify_one();
    if (m_thread.joinable()) m_thread.join();
}

std::deque<ConsoleEvent> Writer::TakeQueued() {
    std::deque<ConsoleEvent> batch;
    batch.swap(m_queue);
    std::fill(m_queuedProgress.begin(), m_queuedProgress.end(), nullptr);
    m_tickQueued = false;
    return batch;
}

void Writer::WriteQueued() {
    for (ConsoleEvent& e : TakeQueued()) Handle(e);
    m_state.WriteOut();
    m_writtenCount = m_posted;
}

int Writer::AddRadio(const std::string& port) {
    int index = 0;
    {
        std::lock_guard lock(m_queueLock);
        index = static_cast<int>(m_radioCount++);
    }
    ConsoleEvent event;
    event.kind = Kind::AddRadio;
    event.text = port;
    Post(std::move(event));
    return index;
}

std::size_t Writer::RadioCount() const {
    std::lock_guard lock(m_queueLock);
    return m_radioCount;
}

std::uint64_t Writer::Post(ConsoleEvent event) {
    event.at = std::chrono::steady_clock::now();
    std::unique_lock lock(m_queueLock);
    if (event.kind == Kind::Progress && m_queuedProgress[event.radio] != nullptr &&
        m_queuedProgress[event.radio]->number <= event.number) {
        // Not yet written: the latest percent takes its place (but never a new stretch's first).
        ConsoleEvent& queued = *m_queuedProgress[event.radio];
        queued.number = event.number;
        queued.text.swap(event.text);
        queued.at = event.at;
        return m_posted;
    }
    if (event.kind == Kind::Tick) {
        if (m_tickQueued) return m_posted;
        m_tickQueued = true;
    }
    const int radio = event.radio;
    const bool progress = event.kind == Kind::Progress;
    if (event.kind == Kind::AddRadio) m_queuedProgress.push_back(nullptr);
    m_queue.push_back(std::move(event));
    // A deque keeps its elements in place while others are added at its end.
    if (radio >= 0) m_queuedProgress[radio] = progress ? &m_queue.back() : nullptr;
    const std::uint64_t sequence = ++m_posted;
    if (m_threadState != State::Running) {
        // Not yet: the writer, once started, or a waiter takes it. None: written at once.
        if (m_threadState == State::None) WriteQueued();
        return sequence;
    }
    lock.unlock();
    m_wake.notify_one();
    return sequence;
}

void Writer::WaitWritten(std::uint64_t sequence) {
    std::unique_lock lock(m_queueLock);
    if (m_threadState != State::Running) return WriteQueued();
    m_written.wait(lock, [&] { return m_writtenCount >= sequence; });
}

void Writer::Loop() {
    std::deque<ConsoleEvent> batch;
    for (;;) {
        {
            std::unique_lock lock(m_queueLock);
            m_wake.wait(lock, [this] { return !m_queue.empty() || m_closing; });
            if (m_queue.empty()) return;  // closing, and everything written
            batch = TakeQueued();
        }
        for (ConsoleEvent& event : batch) Handle(event);
        m_state.WriteOut();
        {
            std::lock_guard lock(m_queueLock);
            m_writtenCount += batch.size();
        }
        m_written.notify_all();
        batch.clear();
    }
}

void Writer::Handle(ConsoleEvent& e) {
    if (e.kind == Kind::AddRadio) {
        RadioState added;
        added.port = e.text;
        m_state.radios.push_back(std::move(added));
        return;
    }
    // An event brings its radio's state up to date first; the sink then writes it.
    RadioState* radio = e.radio >= 0 ? &m_state.radios[e.radio] : nullptr;
    switch (e.kind) {
        case Kind::AddRadio: break;
        case Kind::Rename:
            radio->port = e.text;
            m_sink->Changed(e.radio);
            break;
        case Kind::Started: m_sink->Started(e.radio, e.text); break;
        case Kind::Status:
            radio->status = Trimmed(e.text);
            m_sink->Status(e.radio, e.text);
            break;
        case Kind::Serial:
            radio->serial = e.text;
            m_sink->Changed(e.radio);
            break;
        case Kind::ShowProgress:
            if (radio->ShowProgress(e.number != 0, e.at)) m_sink->Changed(e.radio);
            break;
        case Kind::Progress:
            radio->Progress(e.number, e.text, e.at);
            if (radio->progressShown) m_sink->Progress(e.radio);
            break;
        case Kind::Message: m_sink->Message(e.radio, e.message); break;
        case Kind::Note: m_sink->Note(e.radio, e.text); break;
        case Kind::Finishing:
            radio->finishing = true;
            m_sink->Changed(e.radio);
            break;
        case Kind::Trace: m_sink->Trace(e.radio, e.text); break;
        case Kind::Ended:
            radio->End(e.radios.front());
            m_sink->Ended(e.radio, e.radios.front());
            break;
        case Kind::Tick: m_sink->Tick(); break;
        case Kind::Finish: m_sink->Finish(); break;
        case Kind::Summary: m_sink->Summary(e.radios, e.advice, e.number); break;
    }
}

}  // namespace kestro::cli::console
