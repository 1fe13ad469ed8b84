#pragma once
// The history kept in a SQLite database file (history.sqlite in the state folder, beside the
// recovery records): WAL journal, a commit on the disk before Add returns, and several processes
// (command-line fleets and a station) adding runs at once without losing one. A history that
// cannot be opened or written says so in its result, within a bounded time; nothing throws.

#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "history/RunHistory.h"

namespace kestro {

namespace sqlite {
class Statement;
}

struct HistoryCount {
    std::size_t count = 0;
    std::string error;  // "" when it worked
    bool Ok() const { return error.empty(); }
};

inline constexpr const char* kHistoryFileName = "history.sqlite";

// The history file of this PC's user: in the folder of the default log and recovery records.
std::filesystem::path DefaultHistoryPath();

class SqliteHistory final : public IRunHistory {
public:
    // How long one Add or Runs may wait, in all, for other writers before it gives up.
    static constexpr std::chrono::milliseconds kBusyBudget{5000};

    // Opens nothing yet: Open, Add and Runs open the file (creating it, its folder and its
    // schema) on first use, and again after a failure.
    explicit SqliteHistory(std::filesystem::path file);
    ~SqliteHistory() override;
    SqliteHistory(const SqliteHistory&) = delete;
    SqliteHistory& operator=(const SqliteHistory&) = delete;

    HistoryResult Open();
    HistoryResult Add(const HistoryRun& run) override;
    HistoryRuns Runs(const HistoryFilter& filter) override;
    const std::filesystem::path& File() const { return m_file; }

    // The runs the history server has not yet taken, oldest first (0: all of them); every run
    // added is unsent until MarkSent. A run the server holds is marked, in one commit for all.
    HistoryRuns Unsent(std::size_t limit);
    HistoryCount UnsentCount();
    HistoryResult MarkSent(const std::vector<std::string>& runIds);

private:
    struct Connection;
    HistoryResult OpenLocked();
    HistoryRuns ReadRunsLocked(sqlite::Statement& statement);

    std::filesystem::path m_file;
    std::mutex m_mutex;  // one connection, shared by the runs of one process
    std::unique_ptr<Connection> m_connection;
};

}  // namespace kestro
