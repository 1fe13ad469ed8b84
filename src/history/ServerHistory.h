#pragma once
// The shared history of runs on a PostgreSQL server (the project's schema, server-schema.sql):
// every bench's runs in one table, each run once by its run id. Each call connects on first use
// and again after a failure, within a bounded time, and says what went wrong in its result;
// nothing throws, and no text of it ever shows the connection's password.

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "history/RunHistory.h"

namespace kestro {

namespace pq {
class Connection;
class Result;
struct Param;
}

struct ServerSent {
    std::vector<std::string> runIds;  // the runs the server now holds (new there or held before)
    std::string error;                // "" when every run was taken
    bool Ok() const { return error.empty(); }
};

class ServerHistory final : public IRunHistory {
public:
    // How long a connect may take where the connection string sets no connect_timeout.
    static constexpr int kConnectTimeoutSeconds = 3;

    // `conninfo`: a libpq connection string or URI ("service=kestro", "host=db1 dbname=shop",
    // "postgresql://bench2@db1/shop?sslmode=require"); connects on first use.
    explicit ServerHistory(std::string conninfo);
    ~ServerHistory() override;
    ServerHistory(const ServerHistory&) = delete;
    ServerHistory& operator=(const ServerHistory&) = delete;

    // Adds the run unless the server holds its run id already: a run sent again changes nothing.
    HistoryResult Add(const HistoryRun& run) override;
    // Adds each run that way, many in one statement; a run the server refuses is named in the
    // error and left out, the others go on.
    ServerSent AddAll(const std::vector<HistoryRun>& runs);
    HistoryRuns Runs(const HistoryFilter& filter) override;

    // Applies the schema (idempotent); refuses a server whose schema is newer than this kit's.
    HistoryResult InitSchema();

    // The connection string as it may be shown (password masked).
    std::string Shown() const;

private:
    HistoryResult ConnectLocked();
    pq::Result ExecLocked(const std::string& sql, const std::vector<pq::Param>& params);
    std::string Failure(const std::string& what, const std::string& why) const;

    std::string m_conninfo;
    std::mutex m_mutex;
    std::unique_ptr<pq::Connection> m_connection;
};

// The server's newest run of one radio (none where it holds none): what a bench shows once it
// has read a radio's serial number. Connects for this one question.
HistoryRuns LatestServerRun(const std::string& conninfo, const std::string& serial);

}  // namespace kestro
