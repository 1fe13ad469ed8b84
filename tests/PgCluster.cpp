// The tests' own PostgreSQL cluster: made with initdb, served on a socket in its folder.

#include "PgCluster.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace kestro::test {

namespace {

std::string Quoted(const std::string& text) {
    std::string out = "'";
    for (const char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

}  // namespace

std::string PgCluster::BinDir() {
    std::error_code ec;
    std::string best;
    // Debian keeps each major version's server programs under /usr/lib/postgresql/N/bin.
    for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/postgresql", ec)) {
        const auto bin = entry.path() / "bin";
        if (std::filesystem::exists(bin / "initdb") && std::filesystem::exists(bin / "pg_ctl") &&
            bin.string() > best) {
            best = bin.string();
        }
    }
    return best;
}

PgCluster::PgCluster() : m_bin(BinDir()) {
    char folder[] = "/tmp/kpg-XXXXXX";
    if (::mkdtemp(folder) == nullptr) {
        m_error = "no temporary folder";
        return;
    }
    m_folder = folder;
    if (m_bin.empty()) {
        m_error = "the PostgreSQL server (initdb, pg_ctl) is not installed";
        return;
    }
    if (::geteuid() == 0 && !Run("chown nobody " + Quoted(m_folder.string()))) return;
    if (!Run(Quoted(m_bin + "/initdb") + " -D " + Quoted((m_folder / "data").string()) +
             " -U kestro_admin --auth=trust --no-locale -E UTF8 --no-sync")) {
        return;
    }
    Start();
}

PgCluster::~PgCluster() {
    if (m_running) Stop();
    std::error_code ec;
    if (!m_folder.empty()) std::filesystem::remove_all(m_folder, ec);
}

bool PgCluster::Start() {
    const std::string options = "-k " + m_folder.string() + " -c listen_addresses= -p 5432 -c fsync=off";
    m_running = Run(Quoted(m_bin + "/pg_ctl") + " -D " + Quoted((m_folder / "data").string()) + " -l " +
                    Quoted((m_folder / "server.log").string()) + " -w -o " + Quoted(options) + " start");
    return m_running;
}

bool PgCluster::Stop() {
    const bool stopped = Run(Quoted(m_bin + "/pg_ctl") + " -D " + Quoted((m_folder / "data").string()) +
                             " -w -m fast stop");
    if (stopped) m_running = false;
    return stopped;
}

std::string PgCluster::Conninfo(const std::string& user, const std::string& dbname) const {
    return "host=" + m_folder.string() + " port=5432 user=" + user + " dbname=" + dbname;
}

bool PgCluster::Run(const std::string& command) {
    // PostgreSQL's programs refuse to run as root.
    const std::string as = ::geteuid() == 0 && command.rfind("chown", 0) != 0 ? "runuser -u nobody -- " : "";
    const std::string output = (m_folder / "command.out").string();
    const int status = std::system((as + command + " >" + Quoted(output) + " 2>&1").c_str());
    if (status == 0) return true;
    std::ifstream in(output);
    std::stringstream text;
    text << in.rdbuf();
    m_error = "`" + command + "` failed: " + text.str();
    return false;
}

}  // namespace kestro::test
