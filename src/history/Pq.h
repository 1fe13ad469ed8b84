#pragma once
// A thin owner of libpq's two handles, a connection and a result, so that each is finished or
// cleared exactly once whatever path a caller takes, and the few calls the server history makes
// (connect with a time limit, a statement with parameters). Nothing here throws. Only the server
// back end of the history uses it; libpq-fe.h stays out of this header.

#include <memory>
#include <optional>
#include <string>
#include <vector>

struct pg_conn;
struct pg_result;

namespace kestro::pq {

// One parameter of a statement: nullopt is SQL NULL; `binary` sends the bytes as they are (for
// bytea columns, so that a radio's bytes need be no valid text).
struct Param {
    std::optional<std::string> value;
    bool binary = false;
};

class Result {
public:
    Result() = default;
    explicit Result(pg_result* result) : m_result(result) {}
    // True for a command that worked (with or without rows).
    bool Ok() const;
    // The five-character SQLSTATE ("42501": insufficient privilege), "" where there is none.
    std::string SqlState() const;
    std::string Error() const;
    int Rows() const;
    std::string Text(int row, int column) const;
    bool IsNull(int row, int column) const;
    // A bytea column read in text form, back to its bytes.
    std::string Bytes(int row, int column) const;

private:
    struct Clear {
        void operator()(pg_result* result) const;
    };
    std::unique_ptr<pg_result, Clear> m_result;
};

class Connection {
public:
    Connection() = default;
    // Connects through libpq's own rules: a connection string or URI, the PG* environment, a
    // service file, a password file. `timeoutSeconds` bounds the connect where the connection
    // string gives no connect_timeout of its own.
    bool Connect(const std::string& conninfo, int timeoutSeconds);
    bool IsOpen() const;
    std::string Error() const;
    Result Exec(const std::string& sql, const std::vector<Param>& params = {});
    // SQL text of several statements, without parameters (a schema file).
    Result ExecScript(const std::string& sql);

private:
    struct Finish {
        void operator()(pg_conn* conn) const;
    };
    std::unique_ptr<pg_conn, Finish> m_conn;
};

// The connection string as it may be shown: keyword form, the password (if any) as "********".
// A string libpq cannot read comes back as "(unreadable connection string)".
std::string MaskedConninfo(const std::string& conninfo);

}  // namespace kestro::pq
