// The SQLite history: every field comes back as it went in, the query's order and filters, no
// run lost when two processes add runs at once, and errors (never a crash or a throw) for a
// history that cannot be opened.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "history/SqliteHistory.h"
#include "upgrade/UpgradeTestSupport.h"  // TempDir

namespace kestro {
namespace {

using namespace std::chrono;

HistoryRun MakeRun(std::string serial, UtcSeconds started, RunKind kind = RunKind::Upgraded) {
    HistoryRun run;
    run.runId = NewRunId();
    run.started = started;
    run.ended = started + 95s;
    run.serial = std::move(serial);
    run.kind = kind;
    return run;
}

TEST(SqliteHistory, KeepsEveryFieldExactly) {
    test::TempDir folder;
    HistoryRun run;
    run.runId = NewRunId();
    run.started = sys_days{2026y / 12 / 1} + 9h + 5min + 7s;
    run.ended = run.started + 98s;
    run.frontEnd = kFrontEndStation;
    run.pcName = "BENCH-3";
    run.kitVersion = "R01.04";
    run.firmwareFile = "zqt_upg.pvx";
    run.firmwareSha256 = "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318";
    run.port = "/dev/ttyUSB0";
    run.cable = "usb:10c4:ea60:0001";
    run.serial = std::string("KS\x00\xFF" "24'; DROP TABLE runs;--", 27);
    run.model = "QXM27TPL4RC8ZN";
    run.versionBefore = "R01.03";
    run.codeplugRestored = CodeplugRestored::Yes;
    run.kind = RunKind::NotConfirmedOtherSerial;
    run.message = "Not confirmed: another radio answered.\r\n\r\n\"quoted\", comma";
    run.versionAfter = "R01.04";
    run.rowsWritten = 4352;
    run.durationMs = 98123;
    {
        SqliteHistory history(folder.path() / kHistoryFileName);
        ASSERT_TRUE(history.Add(run).Ok());
    }
    // A second connection, as a later process reads it.
    SqliteHistory reader(folder.path() / kHistoryFileName);
    const HistoryRuns read = reader.Runs({});
    ASSERT_TRUE(read.Ok()) << read.error;
    ASSERT_EQ(read.runs.size(), 1U);
    EXPECT_EQ(read.runs[0], run);
    EXPECT_EQ(read.runs[0].serial.size(), 27U);

    // Every kind and every codeplug value by its stored name.
    for (int k = 0; k <= static_cast<int>(RunKind::NotStarted); ++k) {
        HistoryRun other = MakeRun("KS" + std::to_string(k), run.started, static_cast<RunKind>(k));
        other.codeplugRestored = static_cast<CodeplugRestored>(k % 3);
        ASSERT_TRUE(reader.Add(other).Ok());
        const HistoryRuns latest = reader.Latest(other.serial);
        ASSERT_EQ(latest.runs.size(), 1U) << RunKindName(other.kind);
        EXPECT_EQ(latest.runs[0], other);
    }
    EXPECT_TRUE(reader.Add(run).Ok()) << "a run added again is kept once";
    EXPECT_EQ(reader.Runs({}).runs.size(), 11U);
}

TEST(SqliteHistory, NewestFirstWithSerialAndSinceFilters) {
    test::TempDir folder;
    SqliteHistory history(folder.path() / kHistoryFileName);
    const UtcSeconds day = sys_days{2026y / 12 / 1};
    // Added out of order; two runs of KS1 start in the same second.
    const std::vector<HistoryRun> runs = {
        MakeRun("KS1", day + 10h),                       // 0
        MakeRun("KS2", day - 24h),                       // 1
        MakeRun("KS1", day + 12h, RunKind::Confirmed),   // 2
        MakeRun("KS1", day + 10h, RunKind::NeedsRecovery),  // 3: same start as 0, added later
        MakeRun("KS12", day + 11h),                      // 4: a serial with KS1 as its prefix
        MakeRun(std::string("KS1\0", 4), day + 13h),     // 5: KS1 and a NUL byte is another radio
    };
    for (const HistoryRun& run : runs) ASSERT_TRUE(history.Add(run).Ok());

    const auto ids = [&](const HistoryFilter& filter) {
        const HistoryRuns read = history.Runs(filter);
        EXPECT_TRUE(read.Ok()) << read.error;
        std::vector<std::size_t> order;
        for (const HistoryRun& run : read.runs) {
            for (std::size_t i = 0; i < runs.size(); ++i) {
                if (runs[i].runId == run.runId) order.push_back(i);
            }
        }
        return order;
    };
    struct Case {
        const char* what;
        HistoryFilter filter;
        std::vector<std::size_t> expected;
    };
    const Case cases[] = {
        {"all", {}, {5, 2, 4, 3, 0, 1}},
        {"serial", {.serial = "KS1"}, {2, 3, 0}},
        {"since", {.since = day + 11h}, {5, 2, 4}},
        {"since, to the second", {.since = day + 10h}, {5, 2, 4, 3, 0}},
        {"serial and since", {.serial = "KS1", .since = day + 10h + 1s}, {2}},
        {"latest", {.serial = "KS1", .limit = 1}, {2}},
        {"no such radio", {.serial = "KS9"}, {}},
    };
    for (const Case& c : cases) EXPECT_EQ(ids(c.filter), c.expected) << c.what;
}

#if !defined(_WIN32)
TEST(SqliteHistory, TwoProcessesAddingAtOnceLoseNoRun) {
    test::TempDir folder;
    const auto file = folder.path() / kHistoryFileName;  // created by the writers themselves
    constexpr int kRuns = 200;
    int gate[2];
    ASSERT_EQ(::pipe(gate), 0);
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = ::fork();
        ASSERT_GE(children[c], 0);
        if (children[c] == 0) {
            ::close(gate[1]);
            char byte;
            (void)::read(gate[0], &byte, 1);  // both start when the gate closes
            SqliteHistory history(file);
            for (int i = 0; i < kRuns; ++i) {
                HistoryRun run = MakeRun("W" + std::to_string(c) + "-" + std::to_string(i),
                                     sys_days{2026y / 12 / 1} + seconds{i});
                if (!history.Add(run).Ok()) ::_exit(1);
            }
            ::_exit(0);
        }
    }
    ::close(gate[0]);
    ::close(gate[1]);
    for (const pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a writer was refused";
    }
    SqliteHistory reader(file);
    const HistoryRuns read = reader.Runs({});
    ASSERT_TRUE(read.Ok()) << read.error;
    std::set<std::string> serials;
    for (const HistoryRun& run : read.runs) serials.insert(run.serial);
    EXPECT_EQ(read.runs.size(), 2U * kRuns);
    EXPECT_EQ(serials.size(), 2U * kRuns);
}
#endif

TEST(SqliteHistory, AHistoryThatCannotBeOpenedGivesAnErrorText) {
    test::TempDir folder;
    std::ofstream(folder.path() / "a-file") << "not a folder";
    std::ofstream(folder.path() / "foreign.sqlite") << std::string(4096, 'x');
    std::filesystem::create_directories(folder.path() / "a-folder.sqlite");
    // Running as root defeats permission bits, so each case is a path no one can use.
    const std::filesystem::path paths[] = {
        folder.path() / "a-file" / kHistoryFileName,  // its folder is a file
        folder.path() / "a-folder.sqlite",            // it is a folder
        folder.path() / "foreign.sqlite",             // it is no database
    };
    for (const auto& path : paths) {
        SqliteHistory history(path);
        const HistoryResult added = history.Add(MakeRun("KS1", sys_days{2026y / 12 / 1}));
        EXPECT_FALSE(added.Ok()) << path;
        EXPECT_NE(added.error.find(path.string()), std::string::npos) << added.error;
        const HistoryRuns read = history.Runs({});
        EXPECT_FALSE(read.Ok()) << path;
        EXPECT_TRUE(read.runs.empty());
    }
}

}  // namespace
}  // namespace kestro
