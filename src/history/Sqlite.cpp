// The connection and statement owners over SQLite's C interface.

#include "history/Sqlite.h"

#include <sqlite3.h>

namespace kestro::sqlite {

static_assert(kOk == SQLITE_OK && kBusy == SQLITE_BUSY && kLocked == SQLITE_LOCKED &&
              kRow == SQLITE_ROW && kDone == SQLITE_DONE);

Database::~Database() { sqlite3_close_v2(m_db); }

int Database::Open(const std::string& path) {
    sqlite3_close_v2(m_db);
    m_db = nullptr;
    const int rc = sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                                   nullptr);
    if (rc != SQLITE_OK) {
        // A failed open may still hand back a handle, which holds the reason and must be closed.
        m_openError = m_db != nullptr ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc);
        sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
    return rc;
}

void Database::SetBusyTimeout(int milliseconds) { sqlite3_busy_timeout(m_db, milliseconds); }

int Database::Exec(const char* sql) { return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr); }

std::string Database::Error() const { return m_db != nullptr ? sqlite3_errmsg(m_db) : m_openError; }

Statement::~Statement() { sqlite3_finalize(m_stmt); }

int Statement::Prepare(Database& db, const char* sql) {
    sqlite3_finalize(m_stmt);
    m_stmt = nullptr;
    return sqlite3_prepare_v2(db.Handle(), sql, -1, &m_stmt, nullptr);
}

int Statement::BindText(int index, std::string_view text) {
    return sqlite3_bind_text64(m_stmt, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

int Statement::BindBlob(int index, std::string_view bytes) {
    // A zero-length blob rather than NULL: an unknown serial is "no bytes", not "no value".
    return bytes.empty() ? sqlite3_bind_zeroblob(m_stmt, index, 0)
                         : sqlite3_bind_blob64(m_stmt, index, bytes.data(), bytes.size(), SQLITE_TRANSIENT);
}

int Statement::BindInt64(int index, std::int64_t value) {
    return sqlite3_bind_int64(m_stmt, index, value);
}

int Statement::Step() { return sqlite3_step(m_stmt); }

void Statement::Reset() {
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
}

std::string Statement::Text(int column) const {
    // Blob first, then the length: the bytes exactly as stored, NUL bytes included.
    const void* data = sqlite3_column_blob(m_stmt, column);
    const int length = sqlite3_column_bytes(m_stmt, column);
    return data != nullptr ? std::string(static_cast<const char*>(data), static_cast<std::size_t>(length))
                           : std::string();
}

std::int64_t Statement::Int64(int column) const { return sqlite3_column_int64(m_stmt, column); }

}  // namespace kestro::sqlite
