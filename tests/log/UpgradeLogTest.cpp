// The run log's file handling and formats, and the mending of device texts for its columns.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>
#if !defined(_WIN32)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#endif

#include "log/UpgradeLog.h"

namespace kestro {
namespace {

// 2024/03/07 09:05:03, the time every line of these tests is written at.
std::tm FixedTime() {
    std::tm when{};
    when.tm_year = 2024 - 1900;
    when.tm_mon = 2;  // March
    when.tm_mday = 7;
    when.tm_hour = 9;
    when.tm_min = 5;
    when.tm_sec = 3;
    return when;
}

class UpgradeLogFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() /
              ("kestro-log-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::remove_all(dir);
        log.SetPath(dir / "state" / "kit" / "Kestro_UpdateKit_log.csv");
        log.m_localTime = FixedTime;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::string Contents() const {
        std::ifstream in(log.Path(), std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::filesystem::path dir;
    CUpgradeLog log;
};

TEST_F(UpgradeLogFile, HeaderIsWrittenOnceIntoANewFolderAndLinesAreAppended) {
    ASSERT_TRUE(log.WriteHeaderIfMissing());
    ASSERT_TRUE(log.WriteHeaderIfMissing());
    ASSERT_TRUE(log.AppendLogLine("KS24001735,R0103,No,", "OK"));
    ASSERT_TRUE(log.AppendLogLine("KS24001735,R0103,", "Error #5"));
    ASSERT_TRUE(log.AppendLogLine("", "OK"));
    EXPECT_EQ(Contents(),
              " Date, Time, Serial Number, Pre FW Ver, CP, FW\r\n"
              "2024/03/07, 09:05:03,KS24001735,R0103,No,OK\r\n"
              "2024/03/07, 09:05:03,KS24001735,R0103,Error #5\r\n"
              "2024/03/07, 09:05:03,OK\r\n");
}

// Opening writes nothing; the header goes in with the first line, once, whoever writes first.
TEST_F(UpgradeLogFile, TheHeaderComesWithTheFirstLineAndOnlyOnce) {
    ASSERT_TRUE(log.CanOpen());
    EXPECT_TRUE(std::filesystem::exists(log.Path()));
    EXPECT_EQ(Contents(), "");
    ASSERT_TRUE(log.AppendLogLine("A,", "OK"));
    ASSERT_TRUE(log.AppendLogLine("B,", "OK"));
    EXPECT_EQ(Contents(),
              " Date, Time, Serial Number, Pre FW Ver, CP, FW\r\n"
              "2024/03/07, 09:05:03,A,OK\r\n"
              "2024/03/07, 09:05:03,B,OK\r\n");

    // Eight first lines at once into a folder not made yet.
    log.SetPath(dir / "raced" / "Kestro_UpdateKit_log.csv");
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([this, t] {
            CUpgradeLog own;
            own.SetPath(log.Path());
            own.m_localTime = FixedTime;
            own.AppendLogLine(std::to_string(t) + ",", "OK");
        });
    }
    for (auto& thread : threads) thread.join();
    std::istringstream text(Contents());
    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 9U) << Contents();
    EXPECT_EQ(lines[0], std::string(kLogHeader) + "\r");
    for (std::size_t i = 1; i < lines.size(); ++i) EXPECT_NE(lines[i], lines[0]);
}

TEST_F(UpgradeLogFile, AnExistingLogKeepsItsLinesAndGetsNoSecondHeader) {
    std::filesystem::create_directories(log.Path().parent_path());
    std::ofstream(log.Path(), std::ios::binary) << "earlier\r\n";
    ASSERT_TRUE(log.WriteHeaderIfMissing());
    ASSERT_TRUE(log.AppendLogLine("A,", "OK"));
    EXPECT_EQ(Contents(), "earlier\r\n2024/03/07, 09:05:03,A,OK\r\n");
}

TEST_F(UpgradeLogFile, AnUnopenableLogIsReportedAndNothingIsCreatedElsewhere) {
    std::filesystem::create_directories(log.Path());  // a folder in the file's place
    EXPECT_FALSE(log.WriteHeaderIfMissing());
    EXPECT_FALSE(log.AppendLogLine("A,", "OK"));
    EXPECT_TRUE(std::filesystem::is_directory(log.Path()));
}

// Eight threads of one kit, each with its own log object as each run has, write the header if
// missing and then `lines` lines tagged with `kit`, the thread and the line's number.
void AppendFromEightThreads(const std::filesystem::path& path, int kit, int lines) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&path, kit, t, lines] {
            CUpgradeLog log;
            log.SetPath(path);
            log.m_localTime = FixedTime;
            log.WriteHeaderIfMissing();
            const std::string padding(150, 'x');
            for (int n = 0; n < lines; ++n) {
                log.AppendLogLine(std::to_string(kit) + "," + std::to_string(t) + "," +
                                      std::to_string(n) + "," + padding + ",",
                                  "OK");
            }
        });
    }
    for (auto& thread : threads) thread.join();
}

TEST_F(UpgradeLogFile, ManyRunsOfTwoKitsAppendWholeLinesUnderOneHeader) {
    constexpr int kLines = 1000;
    std::filesystem::create_directories(log.Path().parent_path());
    int kits = 1;
#if defined(_WIN32)
    AppendFromEightThreads(log.Path(), 0, kLines);
#else
    // Two kit processes that start together, the log not there yet.
    kits = 2;
    int gate[2];
    ASSERT_EQ(::pipe(gate), 0);
    std::vector<pid_t> children;
    for (int kit = 0; kit < kits; ++kit) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(gate[1]);
            char c;
            (void)::read(gate[0], &c, 1);  // returns once the parent closes its end
            AppendFromEightThreads(log.Path(), kit, kLines);
            ::_exit(0);
        }
        children.push_back(pid);
    }
    ::close(gate[0]);
    ::close(gate[1]);
    for (const pid_t pid : children) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
#endif
    std::istringstream text(Contents());
    std::string line;
    ASSERT_TRUE(std::getline(text, line));
    EXPECT_EQ(line, std::string(kLogHeader) + "\r");
    std::map<std::string, int> seen;
    while (std::getline(text, line)) {
        // "2024/03/07, 09:05:03," kit "," thread "," number "," padding ",OK\r"
        ASSERT_TRUE(line.starts_with("2024/03/07, 09:05:03,")) << line;
        ASSERT_TRUE(line.ends_with("," + std::string(150, 'x') + ",OK\r")) << line;
        ++seen[line.substr(21, line.size() - 21 - 155)];
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(kits * 8 * kLines));
    for (const auto& [key, count] : seen) ASSERT_EQ(count, 1) << key;
}

TEST(LogField, PrintableTextIsUnchanged) {
    EXPECT_EQ(LogField("KS24001735"), "KS24001735");
    EXPECT_EQ(LogField("R01.03 x_y"), "R01.03 x_y");
    EXPECT_EQ(LogField(""), "");
    EXPECT_EQ(LogField("A-1"), "A-1");  // a sign inside the text is harmless
}

TEST(LogField, BytesThatWouldBreakTheRecordBecomeVisiblePlaceholders) {
    EXPECT_EQ(LogField(std::string("AB\0CD", 5)), "AB<00>CD");
    EXPECT_EQ(LogField("A,B"), "A<2C>B");
    EXPECT_EQ(LogField("A\r\nB"), "A<0D><0A>B");
    EXPECT_EQ(LogField("\x7F\x1B"), "<7F><1B>");
    EXPECT_EQ(LogField("\"A\""), "<22>A<22>");
    EXPECT_EQ(LogField("<2C>"), "<3C>2C>");  // a placeholder in the log always came from the kit
}

// What a spreadsheet or a script sees: Python's csv reader reads the log at `path`; returns the
// number of records after the header and how many of them are not six fields ending in "OK", or
// nothing when there is no reader.
std::optional<std::pair<int, int>> CsvRecords(const std::filesystem::path& path,
                                              const std::filesystem::path& scratch) {
#if defined(_WIN32)
    return std::nullopt;  // the reader runs on the Linux side only
#endif
    const std::filesystem::path python = "/usr/bin/python3";
    if (!std::filesystem::exists(python)) return std::nullopt;
    const auto script = scratch / "read.py";
    std::ofstream(script) << "import csv, sys\n"
                             "rows = list(csv.reader(open(sys.argv[1], newline='')))\n"
                             "bad = [r for r in rows[1:] if len(r) != 6 or r[5] != 'OK']\n"
                             "print(len(rows) - 1, len(bad))\n";
    const auto out = scratch / "out.txt";
    const std::string command =
        python.string() + " " + script.string() + " " + path.string() + " > " + out.string();
    if (std::system(command.c_str()) != 0) return std::pair{-1, -1};
    std::ifstream result(out);
    std::pair counts{-1, -1};
    result >> counts.first >> counts.second;
    return counts;
}

// Python's csv reader must find one record per run, each with its columns, whatever the radio
// put in its serial number.
TEST_F(UpgradeLogFile, CsvReadersSeeOneRecordPerRunWithItsColumns) {
    ASSERT_TRUE(log.WriteHeaderIfMissing());
    const std::string serials[] = {"\"KS1", "<0A>KS2", "KS,3", "=KS4", "KS\n5", "KS6\""};
    for (const std::string& serial : serials) {
        ASSERT_TRUE(log.AppendLogLine(LogField(serial) + ",R0103,No,", "OK"));
    }
    const auto records = CsvRecords(log.Path(), dir);
    if (!records) GTEST_SKIP() << "no python3 to read the log with";
    EXPECT_EQ(*records, std::pair(6, 0));
}

#if !defined(_WIN32)
// A line cut short by a file-size limit (as a full disk would) is taken back out whole, the run
// hears why, and the next run's line starts on a clean end instead of running into the torn one.
TEST_F(UpgradeLogFile, ALineCutShortLeavesTheLogAsItWasAndTheNextLineWhole) {
    ASSERT_TRUE(log.WriteHeaderIfMissing());
    ASSERT_TRUE(log.AppendLogLine("KS1,R0103,No,", "OK"));
    const std::string before = Contents();

    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // Room for part of the line only; the write past the limit fails instead of killing.
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{before.size() + 10, before.size() + 10};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(3);
        std::string failure;
        if (log.AppendLogLine("KS2,R0103,No,", "OK", &failure)) ::_exit(1);
        const std::string expected =
            "The line was not added to " + log.Path().string() + ": File too large";
        ::_exit(failure == expected ? 0 : 2);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the write did not fail, 2: the failure was not told";
    EXPECT_EQ(Contents(), before);

    ASSERT_TRUE(log.AppendLogLine("KS3,R0103,No,", "OK"));
    EXPECT_EQ(Contents(), before + "2024/03/07, 09:05:03,KS3,R0103,No,OK\r\n");
    const auto records = CsvRecords(log.Path(), dir);
    if (!records) GTEST_SKIP() << "no python3 to read the log with";
    EXPECT_EQ(*records, std::pair(2, 0));
}
#endif

TEST(LogField, TextsThatASpreadsheetWouldRunAsFormulasAreNeutralised) {
    EXPECT_EQ(LogField("=1+2"), "'=1+2");
    EXPECT_EQ(LogField("+A"), "'+A");
    EXPECT_EQ(LogField("-A"), "'-A");
    EXPECT_EQ(LogField("@SUM(A1)"), "'@SUM(A1)");
}

}  // namespace
}  // namespace kestro
