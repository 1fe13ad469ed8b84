// libpq's handles for a build without the PostgreSQL client library: every connect fails and
// says so, so that a history server set on such a build is reported, never silently ignored.

#include "history/Pq.h"

namespace kestro::pq {

namespace {
constexpr const char* kAbsent = "this build of the kit has no PostgreSQL client (libpq)";
}

void Result::Clear::operator()(pg_result*) const {}
bool Result::Ok() const { return false; }
std::string Result::SqlState() const { return {}; }
std::string Result::Error() const { return kAbsent; }
int Result::Rows() const { return 0; }
std::string Result::Text(int, int) const { return {}; }
bool Result::IsNull(int, int) const { return true; }
std::string Result::Bytes(int, int) const { return {}; }

void Connection::Finish::operator()(pg_conn*) const {}
bool Connection::Connect(const std::string&, int) { return false; }
bool Connection::IsOpen() const { return false; }
std::string Connection::Error() const { return kAbsent; }
Result Connection::Exec(const std::string&, const std::vector<Param>&) { return {}; }
Result Connection::ExecScript(const std::string&) { return {}; }

std::string MaskedConninfo(const std::string& conninfo) {
    // Without libpq's parser, nothing of the string is shown: it may hold a password.
    return conninfo.empty() ? "" : "(connection string)";
}

}  // namespace kestro::pq
