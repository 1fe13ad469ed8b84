#pragma once
// Sending this PC's runs to the history server: every run is committed to the local history
// first (SqliteHistory), then sent; the local history remembers which runs the server has taken,
// so a PC that cannot reach the server keeps working and sends what is unsent at its next push.
// The server keeps each run once by its run id, so a run sent twice (two pushes at once, a
// push cut off before it was marked) is harmless.

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include "history/ServerHistory.h"
#include "history/SqliteHistory.h"

namespace kestro {

struct PushResult {
    std::size_t sent = 0;    // runs the server took in this push
    std::size_t unsent = 0;  // runs still waiting afterwards
    std::string error;       // "" when everything was sent
    bool Ok() const { return error.empty(); }
};

// One push: the unsent runs, oldest first, in batches, each batch marked sent once the server
// holds it. Stops at the first batch the server cannot take.
PushResult PushUnsent(SqliteHistory& local, ServerHistory& server);

// Pushes on a thread of its own, so that nobody who asks for a push waits for the server: a
// front end asks after each run it adds (and the station every minute); asks made while a push
// is under way are answered by one more push.
class HistoryPusher {
public:
    HistoryPusher(std::filesystem::path local, std::string conninfo);
    // Finishes a push under way or asked for, then stops.
    ~HistoryPusher();
    HistoryPusher(const HistoryPusher&) = delete;
    HistoryPusher& operator=(const HistoryPusher&) = delete;

    void Request();
    // Waits, at most `limit`, until no push is under way or asked for; false if one still is.
    bool WaitIdle(std::chrono::milliseconds limit);
    // How the last push ended (a default result before the first one).
    PushResult Last();
    std::string Shown() const { return m_shown; }

private:
    void Loop();

    std::filesystem::path m_local;
    std::string m_conninfo;
    std::string m_shown;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_asked = false;
    bool m_busy = false;
    bool m_stop = false;
    PushResult m_last;
    std::thread m_thread;
};

}  // namespace kestro
