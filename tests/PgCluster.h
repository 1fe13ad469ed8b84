#pragma once
// A PostgreSQL cluster of the tests' own: initdb in a temporary folder, the server on a Unix
// socket in that folder (no TCP port), started and stopped by the test. Run as root, the server
// runs as the user nobody, as PostgreSQL refuses to run as root.

#include <filesystem>
#include <string>

namespace kestro::test {

class PgCluster {
public:
    // Where initdb and pg_ctl are; "" where the PostgreSQL server is not installed.
    static std::string BinDir();

    // Makes the cluster in a new temporary folder (a short path: a socket's path is short) and
    // starts it; Error() says why not. The folder goes with the object.
    PgCluster();
    ~PgCluster();
    PgCluster(const PgCluster&) = delete;
    PgCluster& operator=(const PgCluster&) = delete;

    bool Start();
    bool Stop();
    // A connection string for `user` (trust: no password) to database `dbname`.
    std::string Conninfo(const std::string& user = "kestro_admin", const std::string& dbname = "postgres") const;
    const std::string& Error() const { return m_error; }

private:
    bool Run(const std::string& command);

    std::filesystem::path m_folder;
    std::string m_bin;
    std::string m_error;
    bool m_running = false;
};

}  // namespace kestro::test
