// The history's PostgreSQL back end: the schema applied once, the idempotent insert (many runs a
// statement, one by one when the server refuses a batch), and the newest-first query.

#include "history/ServerHistory.h"

#include <utility>

#include "history/Pq.h"
#include "history/ServerSchema.h"

namespace kestro {

namespace {

constexpr int kColumnCount = 19;
constexpr std::size_t kBatch = 100;  // runs a statement: 1 900 parameters

constexpr const char* kInsertHead =
    "INSERT INTO kestro.runs (run_id, started, ended, front_end, pc_name, kit_version, "
    "firmware_file, firmware_sha256, port, cable, serial, model, version_before, "
    "codeplug_restored, kind, message, version_after, rows_written, duration_ms) VALUES ";

// Which parameters are bytes (the radio's own texts); the others are text.
constexpr bool kBinary[kColumnCount] = {false, false, false, false, false, false, false,
                                        false, false, false, true,  true,  true,  false,
                                        false, true,  true,  false, false};

constexpr const char* kSelect =
    "SELECT run_id, to_char(started AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"'), "
    "to_char(ended AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"'), front_end, pc_name, "
    "kit_version, firmware_file, firmware_sha256, port, cable, serial, model, version_before, "
    "codeplug_restored, kind, message, version_after, rows_written, duration_ms "
    "FROM kestro.runs WHERE ($1::bytea IS NULL OR serial = $1::bytea) AND "
    "($2::timestamptz IS NULL OR started >= $2::timestamptz) "
    "ORDER BY started DESC, seq DESC LIMIT $3::bigint";

void AppendParams(const HistoryRun& run, std::vector<pq::Param>& params) {
    const std::string values[kColumnCount] = {
        run.runId, FormatUtc(run.started), FormatUtc(run.ended), run.frontEnd, run.pcName,
        run.kitVersion, run.firmwareFile, run.firmwareSha256, run.port, run.cable, run.serial,
        run.model, run.versionBefore, std::string(CodeplugRestoredName(run.codeplugRestored)),
        std::string(RunKindName(run.kind)), run.message, run.versionAfter,
        std::to_string(run.rowsWritten), std::to_string(run.durationMs)};
    for (int i = 0; i < kColumnCount; ++i) params.push_back({values[i], kBinary[i]});
}

std::string InsertSql(std::size_t runs) {
    std::string sql = kInsertHead;
    int n = 0;
    for (std::size_t r = 0; r < runs; ++r) {
        sql += r == 0 ? "(" : ", (";
        for (int c = 0; c < kColumnCount; ++c) {
            sql += (c == 0 ? "$" : ", $") + std::to_string(++n);
            if (c == 1 || c == 2) sql += "::timestamptz";
            if (c == 17 || c == 18) sql += "::bigint";
        }
        sql += ")";
    }
    return sql + " ON CONFLICT (run_id) DO NOTHING";
}

}  // namespace

ServerHistory::ServerHistory(std::string conninfo) : m_conninfo(std::move(conninfo)) {}

ServerHistory::~ServerHistory() = default;

std::string ServerHistory::Shown() const { return pq::MaskedConninfo(m_conninfo); }

std::string ServerHistory::Failure(const std::string& what, const std::string& why) const {
    return "the history server (" + Shown() + ") " + what + ": " + why;
}

HistoryResult ServerHistory::ConnectLocked() {
    if (m_connection && m_connection->IsOpen()) return {};
    auto c = std::make_unique<pq::Connection>();
    if (!c->Connect(m_conninfo, kConnectTimeoutSeconds)) return {Failure("cannot be reached", c->Error())};
    m_connection = std::move(c);
    return {};
}

pq::Result ServerHistory::ExecLocked(const std::string& sql, const std::vector<pq::Param>& params) {
    pq::Result result = m_connection->Exec(sql, params);
    // A connection the server dropped (a restart since the last call) is made again once; what
    // this class sends may be sent twice (a read, or an insert of runs the server keeps once).
    if (!result.Ok() && !m_connection->IsOpen()) {
        m_connection.reset();
        if (ConnectLocked().Ok()) result = m_connection->Exec(sql, params);
    }
    return result;
}

HistoryResult ServerHistory::Add(const HistoryRun& run) {
    ServerSent sent = AddAll({run});
    return {sent.error};
}

ServerSent ServerHistory::AddAll(const std::vector<HistoryRun>& runs) {
    const std::lock_guard lock(m_mutex);
    ServerSent out;
    if (HistoryResult connected = ConnectLocked(); !connected.Ok()) {
        out.error = connected.error;
        return out;
    }
    const auto send = [this](const HistoryRun* first, std::size_t count) {
        std::vector<pq::Param> params;
        params.reserve(count * kColumnCount);
        for (std::size_t i = 0; i < count; ++i) AppendParams(first[i], params);
        return ExecLocked(InsertSql(count), params);
    };
    for (std::size_t at = 0; at < runs.size(); at += kBatch) {
        const std::size_t count = std::min(kBatch, runs.size() - at);
        pq::Result batch = send(&runs[at], count);
        if (batch.Ok()) {
            for (std::size_t i = 0; i < count; ++i) out.runIds.push_back(runs[at + i].runId);
            continue;
        }
        if (!m_connection || !m_connection->IsOpen()) {
            out.error = Failure("was lost", m_connection ? m_connection->Error() : batch.Error());
            m_connection.reset();
            return out;
        }
        // The server refused the batch: one run at a time, so that one it refuses holds up
        // no other.
        for (std::size_t i = 0; i < count; ++i) {
            pq::Result one = send(&runs[at + i], 1);
            if (one.Ok()) {
                out.runIds.push_back(runs[at + i].runId);
            } else if (out.error.empty()) {
                out.error = Failure("refused the run " + runs[at + i].runId, one.Error());
            }
            if (!m_connection || !m_connection->IsOpen()) {
                if (out.error.empty()) out.error = Failure("was lost", one.Error());
                m_connection.reset();
                return out;
            }
        }
    }
    return out;
}

HistoryRuns ServerHistory::Runs(const HistoryFilter& filter) {
    const std::lock_guard lock(m_mutex);
    HistoryRuns out;
    if (HistoryResult connected = ConnectLocked(); !connected.Ok()) {
        out.error = connected.error;
        return out;
    }
    std::vector<pq::Param> params;
    params.push_back({filter.serial, true});
    params.push_back({filter.since ? std::optional(FormatUtc(*filter.since)) : std::nullopt});
    params.push_back({filter.limit == 0 ? std::nullopt : std::optional(std::to_string(filter.limit))});
    const pq::Result r = ExecLocked(kSelect, params);
    if (!r.Ok()) {
        out.error = Failure("cannot be read", r.Error());
        if (m_connection && !m_connection->IsOpen()) m_connection.reset();
        return out;
    }
    for (int row = 0; row < r.Rows(); ++row) {
        HistoryRun run;
        run.runId = r.Text(row, 0);
        const auto started = ParseUtc(r.Text(row, 1));
        const auto ended = ParseUtc(r.Text(row, 2));
        run.frontEnd = r.Text(row, 3);
        run.pcName = r.Text(row, 4);
        run.kitVersion = r.Text(row, 5);
        run.firmwareFile = r.Text(row, 6);
        run.firmwareSha256 = r.Text(row, 7);
        run.port = r.Text(row, 8);
        run.cable = r.Text(row, 9);
        run.serial = r.Bytes(row, 10);
        run.model = r.Bytes(row, 11);
        run.versionBefore = r.Bytes(row, 12);
        const auto restored = CodeplugRestoredFromName(r.Text(row, 13));
        const auto kind = RunKindFromName(r.Text(row, 14));
        run.message = r.Bytes(row, 15);
        run.versionAfter = r.Bytes(row, 16);
        run.rowsWritten = std::stoll(r.Text(row, 17));
        run.durationMs = std::stoll(r.Text(row, 18));
        if (!started || !ended || !restored || !kind) {
            out.error = Failure("holds a run this kit cannot read", run.runId);
            out.runs.clear();
            return out;
        }
        run.started = *started;
        run.ended = *ended;
        run.codeplugRestored = *restored;
        run.kind = *kind;
        out.runs.push_back(std::move(run));
    }
    return out;
}

HistoryResult ServerHistory::InitSchema() {
    const std::lock_guard lock(m_mutex);
    if (HistoryResult connected = ConnectLocked(); !connected.Ok()) return connected;
    const pq::Result version = m_connection->Exec(
        "SELECT max(version) FROM kestro.schema_version");
    if (version.Ok() && version.Rows() == 1 && !version.IsNull(0, 0) &&
        std::stoi(version.Text(0, 0)) > kServerSchemaVersion) {
        return {Failure("has a newer schema", "version " + version.Text(0, 0) + "; this kit knows " +
                                                  std::to_string(kServerSchemaVersion))};
    }
    const pq::Result applied = m_connection->ExecScript(kServerSchemaSql);
    if (!applied.Ok()) {
        m_connection->ExecScript("ROLLBACK");
        return {Failure("did not take the schema", applied.Error())};
    }
    return {};
}

HistoryRuns LatestServerRun(const std::string& conninfo, const std::string& serial) {
    ServerHistory server(conninfo);
    return server.Latest(serial);
}

}  // namespace kestro
