// The history's SQLite back end: schema, durable inserts that wait out other writers for a
// bounded time, and the newest-first query.

#include "history/SqliteHistory.h"

#include <system_error>
#include <utility>
#include <thread>

#include "history/Sqlite.h"
#include "platform/Paths.h"

namespace kestro {

namespace {

// Schema 2. A later schema raises user_version and upgrades a file of an earlier one in Open.
constexpr int kSchemaVersion = 2;
constexpr const char* kSchema =
    "CREATE TABLE runs ("
    " seq INTEGER PRIMARY KEY,"
    " run_id TEXT NOT NULL UNIQUE,"
    " started_utc TEXT NOT NULL,"
    " ended_utc TEXT NOT NULL,"
    " front_end TEXT NOT NULL,"
    " pc_name TEXT NOT NULL,"
    " kit_version TEXT NOT NULL,"
    " firmware_file TEXT NOT NULL,"
    " firmware_sha256 TEXT NOT NULL,"
    " port TEXT NOT NULL,"
    " cable TEXT NOT NULL,"
    " serial BLOB NOT NULL,"
    " model TEXT NOT NULL,"
    " version_before TEXT NOT NULL,"
    " codeplug_restored TEXT NOT NULL,"
    " kind TEXT NOT NULL,"
    " message TEXT NOT NULL,"
    " version_after TEXT NOT NULL,"
    " rows_written INTEGER NOT NULL,"
    " duration_ms INTEGER NOT NULL);"
    "CREATE INDEX runs_by_serial ON runs(serial, started_utc);"
    "CREATE INDEX runs_by_start ON runs(started_utc);"
    "PRAGMA user_version = 1;";

// Schema 2: which runs the history server has not yet confirmed. A file of schema 1 holds runs
// that no server has seen, so they are all unsent: a PC pointed at a server sends its past too.
constexpr const char* kUpgradeTo2 =
    "ALTER TABLE runs ADD COLUMN sent INTEGER NOT NULL DEFAULT 0;"
    "CREATE INDEX runs_unsent ON runs(seq) WHERE sent = 0;"
    "PRAGMA user_version = 2;";

constexpr const char* kColumns =
    "run_id, started_utc, ended_utc, front_end, pc_name, kit_version, firmware_file, "
    "firmware_sha256, port, cable, serial, model, version_before, codeplug_restored, kind, "
    "message, version_after, rows_written, duration_ms";

// A run added twice (a caller that retries after an error it could not judge) is kept once.
const std::string kInsert = std::string("INSERT INTO runs (") + kColumns +
                            ") VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, "
                            "?14, ?15, ?16, ?17, ?18, ?19) ON CONFLICT(run_id) DO NOTHING";
const std::string kSelect = std::string("SELECT ") + kColumns +
                            " FROM runs WHERE (?1 IS NULL OR serial = ?1) AND "
                            "(?2 IS NULL OR started_utc >= ?2) "
                            "ORDER BY started_utc DESC, seq DESC LIMIT ?3";
const std::string kSelectUnsent =
    std::string("SELECT ") + kColumns + " FROM runs WHERE sent = 0 ORDER BY seq LIMIT ?1";
constexpr const char* kCountUnsent = "SELECT count(*) FROM runs WHERE sent = 0";
constexpr const char* kMarkSent = "UPDATE runs SET sent = 1 WHERE run_id = ?1";

// The text columns by their index in kColumns (the other columns are handled one by one).
constexpr std::pair<int, std::string HistoryRun::*> kTextColumns[] = {
    {0, &HistoryRun::runId},          {3, &HistoryRun::frontEnd},
    {4, &HistoryRun::pcName},         {5, &HistoryRun::kitVersion},
    {6, &HistoryRun::firmwareFile},   {7, &HistoryRun::firmwareSha256},
    {8, &HistoryRun::port},           {9, &HistoryRun::cable},
    {11, &HistoryRun::model},         {12, &HistoryRun::versionBefore},
    {15, &HistoryRun::message},       {16, &HistoryRun::versionAfter},
};

// Each statement waits this long inside SQLite for a lock; the budget bounds the retries.
constexpr int kBusyTimeoutMs = 1000;

bool Busy(int rc) { return (rc & 0xFF) == sqlite::kBusy || (rc & 0xFF) == sqlite::kLocked; }

// Runs `attempt` until it is not refused for another writer's lock, or the budget is spent.
template <class Attempt>
int WhileBusy(Attempt attempt) {
    const auto deadline = std::chrono::steady_clock::now() + SqliteHistory::kBusyBudget;
    for (;;) {
        const int rc = attempt();
        if (!Busy(rc) || std::chrono::steady_clock::now() >= deadline) return rc;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

}  // namespace

struct SqliteHistory::Connection {
    sqlite::Database db;
    sqlite::Statement insert;
    sqlite::Statement select;
    sqlite::Statement selectUnsent;
    sqlite::Statement countUnsent;
    sqlite::Statement markSent;
};

std::filesystem::path DefaultHistoryPath() { return DefaultLogPath().parent_path() / kHistoryFileName; }

SqliteHistory::SqliteHistory(std::filesystem::path file) : m_file(std::move(file)) {}

SqliteHistory::~SqliteHistory() = default;

HistoryResult SqliteHistory::Open() {
    const std::lock_guard lock(m_mutex);
    return OpenLocked();
}

HistoryResult SqliteHistory::OpenLocked() {
    if (m_connection) return {};
    const auto failed = [this](const std::string& why) {
        return HistoryResult{"the history " + m_file.string() + " cannot be opened: " + why};
    };
    std::error_code ec;
    if (m_file.has_parent_path()) std::filesystem::create_directories(m_file.parent_path(), ec);
    if (ec) return failed(ec.message());

    auto c = std::make_unique<Connection>();
    if (c->db.Open(m_file.string()) != sqlite::kOk) return failed(c->db.Error());
    c->db.SetBusyTimeout(kBusyTimeoutMs);
    // WAL lets readers and one writer work at once; FULL puts each commit on the disk.
    if (WhileBusy([&] { return c->db.Exec("PRAGMA journal_mode = WAL"); }) != sqlite::kOk ||
        c->db.Exec("PRAGMA synchronous = FULL") != sqlite::kOk) {
        return failed(c->db.Error());
    }
    int version = 0;
    const int rc = WhileBusy([&] {
        // IMMEDIATE: two processes creating the file at once take turns, and the second finds
        // the schema made.
        int step = c->db.Exec("BEGIN IMMEDIATE");
        if (step != sqlite::kOk) return step;
        sqlite::Statement read;
        step = read.Prepare(c->db, "PRAGMA user_version");
        if (step == sqlite::kOk) step = read.Step();
        if (step == sqlite::kRow) {
            version = static_cast<int>(read.Int64(0));
            read.Reset();
            if (version == 0) step = c->db.Exec(kSchema);
            if (step == sqlite::kRow || step == sqlite::kOk) step = version < 2 ? c->db.Exec(kUpgradeTo2) : sqlite::kOk;
        }
        if (step == sqlite::kOk) step = c->db.Exec("COMMIT");
        if (step != sqlite::kOk) c->db.Exec("ROLLBACK");
        return step;
    });
    if (rc != sqlite::kOk) return failed(c->db.Error());
    if (version > kSchemaVersion) {
        return failed("it was written by a newer kit (schema " + std::to_string(version) + ")");
    }
    if (c->insert.Prepare(c->db, kInsert.c_str()) != sqlite::kOk ||
        c->select.Prepare(c->db, kSelect.c_str()) != sqlite::kOk ||
        c->selectUnsent.Prepare(c->db, kSelectUnsent.c_str()) != sqlite::kOk ||
        c->countUnsent.Prepare(c->db, kCountUnsent) != sqlite::kOk ||
        c->markSent.Prepare(c->db, kMarkSent) != sqlite::kOk) {
        return failed(c->db.Error());
    }
    m_connection = std::move(c);
    return {};
}

HistoryResult SqliteHistory::Add(const HistoryRun& run) {
    const std::lock_guard lock(m_mutex);
    if (HistoryResult opened = OpenLocked(); !opened.Ok()) return opened;
    sqlite::Statement& s = m_connection->insert;
    const std::string started = FormatUtc(run.started);
    const std::string ended = FormatUtc(run.ended);
    const int rc = WhileBusy([&] {
        s.Reset();
        for (const auto& [column, member] : kTextColumns) s.BindText(column + 1, run.*member);
        s.BindText(2, started);
        s.BindText(3, ended);
        s.BindBlob(11, run.serial);
        s.BindText(14, CodeplugRestoredName(run.codeplugRestored));
        s.BindText(15, RunKindName(run.kind));
        s.BindInt64(18, run.rowsWritten);
        s.BindInt64(19, run.durationMs);
        return s.Step();
    });
    std::string error;
    if (rc != sqlite::kDone) error = "the history " + m_file.string() + " cannot be written: " +
                                     m_connection->db.Error();
    s.Reset();
    if (!error.empty()) m_connection.reset();  // the next run opens it afresh
    return {error};
}

HistoryRuns SqliteHistory::Runs(const HistoryFilter& filter) {
    const std::lock_guard lock(m_mutex);
    if (HistoryResult opened = OpenLocked(); !opened.Ok()) return {{}, opened.error};
    sqlite::Statement& s = m_connection->select;
    s.Reset();
    if (filter.serial) s.BindBlob(1, *filter.serial);
    if (filter.since) s.BindText(2, FormatUtc(*filter.since));
    s.BindInt64(3, filter.limit == 0 ? -1 : static_cast<std::int64_t>(filter.limit));
    return ReadRunsLocked(s);
}

HistoryRuns SqliteHistory::Unsent(std::size_t limit) {
    const std::lock_guard lock(m_mutex);
    if (HistoryResult opened = OpenLocked(); !opened.Ok()) return {{}, opened.error};
    sqlite::Statement& s = m_connection->selectUnsent;
    s.Reset();
    s.BindInt64(1, limit == 0 ? -1 : static_cast<std::int64_t>(limit));
    return ReadRunsLocked(s);
}

HistoryCount SqliteHistory::UnsentCount() {
    const std::lock_guard lock(m_mutex);
    if (HistoryResult opened = OpenLocked(); !opened.Ok()) return {0, opened.error};
    sqlite::Statement& s = m_connection->countUnsent;
    s.Reset();
    HistoryCount out;
    if (s.Step() == sqlite::kRow) {
        out.count = static_cast<std::size_t>(s.Int64(0));
    } else {
        out.error = "the history " + m_file.string() + " cannot be read: " + m_connection->db.Error();
    }
    s.Reset();
    return out;
}

HistoryResult SqliteHistory::MarkSent(const std::vector<std::string>& runIds) {
    const std::lock_guard lock(m_mutex);
    if (HistoryResult opened = OpenLocked(); !opened.Ok()) return opened;
    sqlite::Database& db = m_connection->db;
    sqlite::Statement& s = m_connection->markSent;
    // One transaction: one commit on the disk for a whole push.
    const int rc = WhileBusy([&] {
        int step = db.Exec("BEGIN IMMEDIATE");
        for (std::size_t i = 0; step == sqlite::kOk && i < runIds.size(); ++i) {
            s.Reset();
            s.BindText(1, runIds[i]);
            step = s.Step();
            if (step == sqlite::kDone) step = sqlite::kOk;
        }
        s.Reset();
        if (step == sqlite::kOk) step = db.Exec("COMMIT");
        if (step != sqlite::kOk) db.Exec("ROLLBACK");
        return step;
    });
    if (rc == sqlite::kOk) return {};
    std::string error = "the history " + m_file.string() + " cannot be written: " + db.Error();
    m_connection.reset();
    return {error};
}

HistoryRuns SqliteHistory::ReadRunsLocked(sqlite::Statement& s) {
    HistoryRuns out;
    int rc = sqlite::kRow;
    while ((rc = s.Step()) == sqlite::kRow) {
        HistoryRun run;
        for (const auto& [column, member] : kTextColumns) run.*member = s.Text(column);
        const auto started = ParseUtc(s.Text(1));
        const auto ended = ParseUtc(s.Text(2));
        run.serial = s.Text(10);
        const auto restored = CodeplugRestoredFromName(s.Text(13));
        const auto kind = RunKindFromName(s.Text(14));
        run.rowsWritten = s.Int64(17);
        run.durationMs = s.Int64(18);
        if (!started || !ended || !restored || !kind) {
            out.error = "the history " + m_file.string() + " holds a run this kit cannot read (" +
                        run.runId + ")";
            break;
        }
        run.started = *started;
        run.ended = *ended;
        run.codeplugRestored = *restored;
        run.kind = *kind;
        out.runs.push_back(std::move(run));
    }
    if (out.error.empty() && rc != sqlite::kDone) {
        // A reader in WAL mode waits for no writer; what stops it is a damaged or foreign file.
        out.error = "the history " + m_file.string() + " cannot be read: " + m_connection->db.Error();
    }
    s.Reset();
    if (!out.error.empty()) out.runs.clear();
    return out;
}

}  // namespace kestro
