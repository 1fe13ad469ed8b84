// libpq's handles owned once, the connect with its time limit, statements with parameters, and
// the connection string masked for showing.

#include "history/Pq.h"

#include <libpq-fe.h>

namespace kestro::pq {

void Result::Clear::operator()(pg_result* result) const { PQclear(result); }

bool Result::Ok() const {
    if (!m_result) return false;
    const ExecStatusType status = PQresultStatus(m_result.get());
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

std::string Result::SqlState() const {
    const char* state = m_result ? PQresultErrorField(m_result.get(), PG_DIAG_SQLSTATE) : nullptr;
    return state != nullptr ? state : "";
}

std::string Result::Error() const {
    if (!m_result) return "no result";
    std::string text = PQresultErrorMessage(m_result.get());
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

int Result::Rows() const { return m_result ? PQntuples(m_result.get()) : 0; }

std::string Result::Text(int row, int column) const {
    return std::string(PQgetvalue(m_result.get(), row, column),
                       static_cast<std::size_t>(PQgetlength(m_result.get(), row, column)));
}

bool Result::IsNull(int row, int column) const { return PQgetisnull(m_result.get(), row, column) != 0; }

std::string Result::Bytes(int row, int column) const {
    std::size_t length = 0;
    unsigned char* bytes = PQunescapeBytea(
        reinterpret_cast<const unsigned char*>(PQgetvalue(m_result.get(), row, column)), &length);
    if (bytes == nullptr) return {};
    std::string out(reinterpret_cast<const char*>(bytes), length);
    PQfreemem(bytes);
    return out;
}

void Connection::Finish::operator()(pg_conn* conn) const { PQfinish(conn); }

bool Connection::Connect(const std::string& conninfo, int timeoutSeconds) {
    const std::string timeout = std::to_string(timeoutSeconds);
    // Entries before the expanded dbname are defaults that the user's own string overrides.
    const char* keywords[] = {"connect_timeout", "application_name", "client_encoding", "dbname", nullptr};
    const char* values[] = {timeout.c_str(), "kestro-upgrade", "UTF8", conninfo.c_str(), nullptr};
    m_conn.reset(PQconnectdbParams(keywords, values, 1));
    // The server's notices ("already exists, skipping") are no business of the kit's output.
    if (m_conn) PQsetNoticeProcessor(m_conn.get(), [](void*, const char*) {}, nullptr);
    return IsOpen();
}

bool Connection::IsOpen() const { return m_conn && PQstatus(m_conn.get()) == CONNECTION_OK; }

std::string Connection::Error() const {
    if (!m_conn) return "out of memory";
    std::string text = PQerrorMessage(m_conn.get());
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    // libpq's messages name hosts and users, never the password.
    for (auto& c : text) if (c == '\n') c = ' ';
    return text;
}

Result Connection::Exec(const std::string& sql, const std::vector<Param>& params) {
    std::vector<const char*> values;
    std::vector<int> lengths;
    std::vector<int> formats;
    for (const Param& p : params) {
        values.push_back(p.value ? p.value->data() : nullptr);
        lengths.push_back(p.value ? static_cast<int>(p.value->size()) : 0);
        formats.push_back(p.binary ? 1 : 0);
    }
    return Result(PQexecParams(m_conn.get(), sql.c_str(), static_cast<int>(params.size()), nullptr,
                               values.data(), lengths.data(), formats.data(), 0));
}

Result Connection::ExecScript(const std::string& sql) { return Result(PQexec(m_conn.get(), sql.c_str())); }

std::string MaskedConninfo(const std::string& conninfo) {
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(conninfo.c_str(), &error);
    if (error != nullptr) PQfreemem(error);
    if (options == nullptr) return "(unreadable connection string)";
    std::string out;
    for (const PQconninfoOption* o = options; o->keyword != nullptr; ++o) {
        if (o->val == nullptr || o->val[0] == '\0') continue;
        const std::string keyword = o->keyword;
        out += (out.empty() ? "" : " ") + keyword + "=" + (keyword == "password" ? "********" : o->val);
    }
    PQconninfoFree(options);
    return out;
}

}  // namespace kestro::pq
