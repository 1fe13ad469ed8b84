// The run log's file handling and formats, and the mending of device texts for its columns.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "log/UpgradeLog.h"

namespace kestro {
namespace {

class UpgradeLogFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() /
              ("kestro-log-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::remove_all(dir);
        log.SetPath(dir / "state" / "kit" / "Kestro_UpdateKit_log.csv");
        log.m_localTime = [] {
            std::tm when{};
            when.tm_year = 2024 - 1900;
            when.tm_mon = 2;  // March
            when.tm_mday = 7;
            when.tm_hour = 9;
            when.tm_min = 5;
            when.tm_sec = 3;
            return when;
        };
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

// What a spreadsheet or a script sees: Python's csv reader must find one record per run, each
// with its columns, whatever the radio put in its serial number.
TEST_F(UpgradeLogFile, CsvReadersSeeOneRecordPerRunWithItsColumns) {
    const std::filesystem::path python = "/usr/bin/python3";
    if (!std::filesystem::exists(python)) GTEST_SKIP() << "no python3 to read the log with";
    ASSERT_TRUE(log.WriteHeaderIfMissing());
    const std::string serials[] = {"\"KS1", "<0A>KS2", "KS,3", "=KS4", "KS\n5", "KS6\""};
    for (const std::string& serial : serials) {
        ASSERT_TRUE(log.AppendLogLine(LogField(serial) + ",R0103,No,", "OK"));
    }
    const auto script = dir / "read.py";
    std::ofstream(script) << "import csv, sys\n"
                             "rows = list(csv.reader(open(sys.argv[1], newline='')))\n"
                             "bad = [r for r in rows[1:] if len(r) != 6 or r[5] != 'OK']\n"
                             "print(len(rows) - 1, len(bad))\n";
    const auto out = dir / "out.txt";
    const std::string command = python.string() + " " + script.string() + " " +
                                log.Path().string() + " > " + out.string();
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::ifstream result(out);
    int records = -1;
    int bad = -1;
    result >> records >> bad;
    EXPECT_EQ(records, 6);
    EXPECT_EQ(bad, 0);
}

TEST(LogField, TextsThatASpreadsheetWouldRunAsFormulasAreNeutralised) {
    EXPECT_EQ(LogField("=1+2"), "'=1+2");
    EXPECT_EQ(LogField("+A"), "'+A");
    EXPECT_EQ(LogField("-A"), "'-A");
    EXPECT_EQ(LogField("@SUM(A1)"), "'@SUM(A1)");
}

}  // namespace
}  // namespace kestro
