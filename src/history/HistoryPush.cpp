// A push of the unsent runs to the history server, and the thread that runs pushes for a front
// end.

#include "history/HistoryPush.h"

#include <utility>

#include "history/Pq.h"

namespace kestro {

namespace {
constexpr std::size_t kPushBatch = 500;
}

PushResult PushUnsent(SqliteHistory& local, ServerHistory& server) {
    PushResult out;
    // No history yet is nothing to send; the file is made by a run, never by a push.
    if (std::error_code ec; !std::filesystem::exists(local.File(), ec)) return out;
    for (;;) {
        HistoryRuns unsent = local.Unsent(kPushBatch);
        if (!unsent.Ok()) {
            out.error = unsent.error;
            break;
        }
        if (unsent.runs.empty()) break;
        const ServerSent sent = server.AddAll(unsent.runs);
        if (!sent.runIds.empty()) {
            if (HistoryResult marked = local.MarkSent(sent.runIds); !marked.Ok()) {
                out.error = marked.error;
                break;
            }
            out.sent += sent.runIds.size();
        }
        if (!sent.Ok()) {
            out.error = sent.error;
            break;
        }
        if (unsent.runs.size() < kPushBatch) break;
    }
    const HistoryCount left = local.UnsentCount();
    out.unsent = left.count;
    if (out.error.empty()) out.error = left.error;
    return out;
}

HistoryPusher::HistoryPusher(std::filesystem::path local, std::string conninfo)
    : m_local(std::move(local)), m_conninfo(std::move(conninfo)), m_shown(pq::MaskedConninfo(m_conninfo)) {
    m_thread = std::thread([this] { Loop(); });
}

HistoryPusher::~HistoryPusher() {
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void HistoryPusher::Request() {
    {
        const std::lock_guard lock(m_mutex);
        m_asked = true;
    }
    m_changed.notify_all();
}

bool HistoryPusher::WaitIdle(std::chrono::milliseconds limit) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, limit, [this] { return !m_asked && !m_busy; });
}

PushResult HistoryPusher::Last() {
    const std::lock_guard lock(m_mutex);
    return m_last;
}

void HistoryPusher::Loop() {
    // One connection for the pusher's life, opened again after a failure.
    SqliteHistory local(m_local);
    ServerHistory server(m_conninfo);
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_asked || m_stop; });
        if (!m_asked) return;
        m_asked = false;
        m_busy = true;
        lock.unlock();
        PushResult result = PushUnsent(local, server);
        lock.lock();
        m_busy = false;
        m_last = std::move(result);
        m_changed.notify_all();
    }
}

}  // namespace kestro
