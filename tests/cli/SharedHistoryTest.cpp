// Two PCs (two state folders) run simulated fleets of the real kit against one PostgreSQL server
// that the test starts and stops: every run arrives once, runs made while the server is away
// are said to be pending and arrive with the next run, and the campaign report counts each
// radio once with its latest state. The report's page is rendered in headless Chromium.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "PgCluster.h"
#include "history/ServerHistory.h"
#include "history/SqliteHistory.h"
#include "upgrade/UpgradeTestSupport.h"

namespace kestro {
namespace {

std::string Read(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

class SharedHistory : public ::testing::Test {
protected:
    void SetUp() override {
        firmware = (dir.path() / "firmware.pvx").string();
        test::SmallFirmware(60).WriteTo(firmware);
    }
    // Runs the kit on one "PC" (its own state folder); returns its exit status, `output` its text.
    int Kit(const std::string& pc, const std::string& args, std::string& output) {
        const auto out = dir.path() / (pc + ".out");
        const std::string command = "KESTRO_SYSFS_ROOT=/nonexistent XDG_STATE_HOME=" + Quoted((dir.path() / pc).string()) +
                                    " " + KESTRO_UPGRADE_EXE + " " + args +
                                    (args.rfind("--simulate", 0) == 0
                                         ? " --firmware " + Quoted(firmware) + " --log " +
                                               Quoted((dir.path() / (pc + ".csv")).string())
                                         : std::string()) +
                                    " >" +
                                    Quoted(out.string()) + " 2>&1";
        const int status = std::system(command.c_str());
        output = Read(out);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::set<std::string> LocalIds(const std::string& pc) {
        SqliteHistory local(dir.path() / pc / "kestro-upgrade-kit" / kHistoryFileName);
        std::set<std::string> ids;
        for (const HistoryRun& run : local.Runs({}).runs) ids.insert(run.runId);
        return ids;
    }

    test::TempDir dir;
    std::string firmware;
};

TEST_F(SharedHistory, TwoPcsSendEachRunOnceThroughAnOutageAndTheReportCountsEachRadioOnce) {
    if (test::PgCluster::BinDir().empty()) GTEST_SKIP() << "PostgreSQL server not installed";
    test::PgCluster cluster;
    ASSERT_EQ(cluster.Error(), "");
    const std::string server = cluster.Conninfo();
    std::string out;
    ASSERT_EQ(Kit("a", "history --init-server " + Quoted(server), out), 0) << out;

    // PC a first runs with no server set: the server gets nothing. Then with the server in its
    // environment: that run and the two before it go.
    ASSERT_EQ(Kit("a", "--simulate=normal,keeps-old-firmware", out), 1) << out;
    ServerHistory shared(server);
    EXPECT_EQ(shared.Runs({}).runs.size(), 0U) << "a server given nowhere gets nothing";
    ::setenv("KESTRO_HISTORY_SERVER", server.c_str(), 1);
    EXPECT_EQ(Kit("a", "--simulate=normal", out), 0) << out;
    ::unsetenv("KESTRO_HISTORY_SERVER");
    EXPECT_EQ(out.find("pending"), std::string::npos) << out;
    EXPECT_EQ(shared.Runs({}).runs.size(), 3U);

    // PC b names the server on its command line; the server is away for its first fleet.
    ASSERT_TRUE(cluster.Stop()) << cluster.Error();
    Kit("b", "--simulate=battery-low,normal --history-server " + Quoted(server), out);
    EXPECT_NE(out.find("pending: 2 runs not yet sent"), std::string::npos) << out;
    ASSERT_TRUE(cluster.Start()) << cluster.Error();
    EXPECT_EQ(Kit("b", "--simulate=keeps-old-firmware --history-server " + Quoted(server), out), 6) << out;
    EXPECT_EQ(out.find("pending"), std::string::npos) << out;

    std::set<std::string> all = LocalIds("a");
    const std::set<std::string> b = LocalIds("b");
    EXPECT_EQ(all.size(), 3U);
    EXPECT_EQ(b.size(), 3U);
    all.insert(b.begin(), b.end());
    const HistoryRuns onServer = shared.Runs({});
    ASSERT_TRUE(onServer.Ok()) << onServer.error;
    std::multiset<std::string> ids;
    for (const HistoryRun& run : onServer.runs) ids.insert(run.runId);
    EXPECT_EQ(ids, std::multiset<std::string>(all.begin(), all.end())) << "every run there, once";

    std::ofstream(dir.path() / "fleet.csv") << "serial,site\nKS24001735,north\nKS24001736,north\nKS24009999,south\n";
    const auto csv = dir.path() / "report.csv";
    ASSERT_EQ(Kit("a", "report --from " + Quoted(server) + " --fleet " + Quoted((dir.path() / "fleet.csv").string()) +
                           " --html " + Quoted((dir.path() / "report.html").string()) + " --csv " + Quoted(csv.string()),
                  out),
              0)
        << out;
    EXPECT_EQ(out.find(server), std::string::npos) << "the report names its server masked";
    // KS24001735: confirmed on a, confirmed again on a, then kept its old firmware on b.
    // KS24001736: kept its old firmware on a, then confirmed on b. The battery-low radio has no
    // serial and is no radio of the report.
    std::istringstream lines(Read(csv));
    std::map<std::string, std::pair<std::string, std::string>> states;  // serial -> state, runs
    std::string line;
    std::getline(lines, line);
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const auto first = line.find(',');
        const auto last = line.rfind(',');
        const auto stateEnd = line.find("\",", first + 2);
        states[line.substr(0, first)] = {line.substr(first + 2, stateEnd - first - 2), line.substr(last + 1)};
    }
    const std::map<std::string, std::pair<std::string, std::string>> expected = {
        {"KS24001735", {"upgraded, not confirmed", "3"}},
        {"KS24001736", {"confirmed", "2"}},
        {"KS24009999", {"not yet seen", "0"}}};
    EXPECT_EQ(states, expected) << Read(csv);

    // At bench a, a check of KS24001735 tells its last run there and, from the server, the one
    // bench b made since.
    ASSERT_EQ(Kit("a", "--check --simulate=normal --history-server " + Quoted(server), out), 0) << out;
    EXPECT_NE(out.find("Latest run on this PC: upgraded "), std::string::npos) << out;
    EXPECT_NE(out.find(", confirmed R01.04."), std::string::npos) << out;
    EXPECT_NE(out.find("Latest run in the shared history: upgraded at "), std::string::npos) << out;
    EXPECT_NE(out.find("but still reported R01.03 after it."), std::string::npos) << out;
}

}  // namespace
}  // namespace kestro
