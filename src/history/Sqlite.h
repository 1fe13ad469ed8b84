#pragma once
// A thin owner of SQLite's two handles, a connection and a prepared statement, so that every one
// is closed or finalised exactly once whatever path a caller takes. Result codes come back as
// SQLite gives them; nothing here throws. Only the history's back end uses it.

#include <cstdint>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace kestro::sqlite {

// SQLite's own result codes that callers act on (sqlite3.h stays out of this header).
inline constexpr int kOk = 0;
inline constexpr int kBusy = 5;
inline constexpr int kLocked = 6;
inline constexpr int kRow = 100;
inline constexpr int kDone = 101;

class Database {
public:
    Database() = default;
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Opens (creating) the file for reading and writing; on failure the handle is closed again
    // and Error() says why.
    int Open(const std::string& path);
    bool IsOpen() const { return m_db != nullptr; }
    void SetBusyTimeout(int milliseconds);
    // Runs SQL text that has no values in it (schema, pragmas, transaction control).
    int Exec(const char* sql);
    std::string Error() const;
    sqlite3* Handle() const { return m_db; }

private:
    sqlite3* m_db = nullptr;
    std::string m_openError;
};

class Statement {
public:
    Statement() = default;
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    int Prepare(Database& db, const char* sql);
    // Parameters count from 1, as in SQL's ?1.
    int BindText(int index, std::string_view text);
    int BindBlob(int index, std::string_view bytes);
    int BindInt64(int index, std::int64_t value);
    int Step();
    // Ready for the next binding and step; every binding is cleared.
    void Reset();

    // Columns count from 0. A NULL column reads as empty text or 0.
    std::string Text(int column) const;
    std::int64_t Int64(int column) const;

private:
    sqlite3_stmt* m_stmt = nullptr;
};

}  // namespace kestro::sqlite
