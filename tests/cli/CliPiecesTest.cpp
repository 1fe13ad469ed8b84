// The command-line kit's pieces: how it prints what the run reports, how it reads its options
// and how a port choice becomes the settings the hub reads.

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#include <tlhelp32.h>
#endif

#include <cstdio>
#include <filesystem>
#include <iterator>
#include <string>

#include "cli/CommandLine.h"
#include "cli/Fleet.h"
#include "cli/TerminalText.h"
#include "cli/FleetConsole.h"
#include "cli/ExitCodes.h"
#include "serial/PortNames.h"
#include "upgrade/PortSetting.h"
#include "upgrade/Reporter.h"
#include "upgrade/Texts.h"

namespace kestro::cli {
namespace {

// Everything written to a temporary stream.
class Captured {
public:
    Captured() : m_file(std::tmpfile()) {}
    ~Captured() { std::fclose(m_file); }
    std::FILE* file() { return m_file; }
    std::string Text() {
        std::fflush(m_file);
        std::rewind(m_file);
        std::string text;
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, m_file)) > 0) text.append(buffer, n);
        return text;
    }

private:
    std::FILE* m_file;
};

// The threads of this process, where the system tells; -1 where it does not. On Windows the
// system's own thread list: under Wine, /proc/self/task shows a Windows program one thread only.
long ThreadCount() {
#ifdef _WIN32
    const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    long count = 0;
    for (BOOL more = ::Thread32First(snapshot, &entry); more; more = ::Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == ::GetCurrentProcessId()) ++count;
    }
    ::CloseHandle(snapshot);
    return count;
#else
    std::error_code ec;
    std::filesystem::directory_iterator tasks("/proc/self/task", ec);
    return ec ? -1 : static_cast<long>(std::distance(tasks, std::filesystem::directory_iterator{}));
#endif
}

// No thread before a port is open: what is posted until then is written, in order, once the
// writer has started or at the end.
TEST(FleetConsole, StartsItsWriterOnlyWhenToldAndLosesNothingPostedBefore) {
    Captured out;
    const long threads = ThreadCount();
    {
        FleetConsole console(out.file(), OutputMode::Lines);
        console.Note(-1, "first");
        EXPECT_EQ(ThreadCount(), threads);
        EXPECT_FALSE(console.WriterThreaded());
        console.StartWriter();
        // At least the writer (a sanitizer may start a helper thread of its own with it). Where
        // the system refused the thread, the posts are written by their posters instead.
        if (threads > 0 && console.WriterThreaded()) {
            EXPECT_GE(ThreadCount(), threads + 1);
        }
        console.Note(-1, "second");
        console.Finish();
    }
    {
        FleetConsole console(out.file(), OutputMode::Lines);
        console.Note(-1, "never started");
    }
    EXPECT_EQ(out.Text(), "first\nsecond\nnever started\n");
}

TEST(FleetConsole, OneRadioPrintsPlainLinesAndThePercentOncePerProgressLine) {
    Captured out;
    FleetConsole console(out.file(), OutputMode::Lines);
    const int radio = console.AddRadio("/dev/ttyUSB0");
    console.Message(radio, RunMessage{texts::kWriteError4, TitleText(TitleKind::Kit), IconName(Icon::Error)});
    console.Message(radio, RunMessage{"a\r\nb\n\nc", TitleText(TitleKind::PortError), IconName(Icon::Warning)});
    console.Progress(radio, 5, "Firmware Writing  5%");  // hidden: nothing
    console.ShowProgress(radio, true);
    console.Progress(radio, 1, "Firmware Writing  1%");
    console.Progress(radio, 1, "Firmware Writing  1%");
    console.Progress(radio, 101, "x");  // out of range: ignored
    console.Status(radio, "Boot Writing !");
    console.Progress(radio, 0, "Firmware Writing 100%");  // the label lags behind the stretch
    console.Finish();  // written: a later percent can no longer take its place
    console.Progress(radio, 2, "Boot Writing  2%");
    console.Finish();
    EXPECT_EQ(out.Text(),
              "[Kestro Upgrade Kit] error: Write Error #4 Unable to write. Please try again.\n"
              "[Application Error] warning: a b c\n"
              "Firmware Writing  1%\n"
              "Boot Writing !\n"
              "progress 0%\n"
              "Boot Writing  2%\n");
}

TEST(FleetConsole, SeveralRadiosOnATerminalKeepOneFittedLineEachBelowTheMessages) {
    Captured out;
    FleetConsole console(out.file(), OutputMode::Live, 40);
    const int a = console.AddRadio("/dev/ttyUSB0");
    const int b = console.AddRadio("/dev/ttyUSB1");
    console.Serial(a, "KS24001735");
    console.ShowProgress(b, true);
    console.Progress(b, 40, "Firmware Writing 40% and a label far too long for the line");
    console.Message(a, RunMessage{texts::kReadError8, TitleText(TitleKind::Kit), IconName(Icon::Error)});
    console.Finish();
    console.Progress(b, 41, "Firmware Writing 41%");  // after the end: never drawn again
    console.Finish();
    const std::string text = out.Text();
    EXPECT_EQ(text.find("41%"), std::string::npos);
    // Every live line fits 39 columns (a message above them may wrap: it is never redrawn); the
    // message has its port, and the output ends at the start of a fresh line.
    for (const std::string& line : kestro::test::VisibleLines(text)) {
        if (line.find("] error: ") == std::string::npos) {
            EXPECT_LE(line.size(), 39U) << line;
        }
    }
    EXPECT_TRUE(text.ends_with("\n"));
    EXPECT_NE(text.find("/dev/ttyUSB0: [Kestro Upgrade Kit] error: Read Error #8"), std::string::npos);
    // The percent stands before the phase, which the width cuts.
    const std::string fitted = FleetConsole::Fit("/dev/ttyUSB1  40%  Firmware Writing 40% and a label far", 40);
    EXPECT_EQ(fitted.size(), 39U);
    EXPECT_NE(text.find("\033[2K" + fitted + "\n"), std::string::npos) << text;
}

// Each form of --port becomes one target, handed to the hub as it is: no port number is made up
// for a device, and messages name the port as the user gave it.
TEST(PortChoice, EachFormBecomesItsTarget) {
    struct Case {
        const char* choice;
        int number;
        const char* device;
        const char* name;
    };
    const Case cases[] = {
        {"auto", 0, "", ""}, {"AUTO", 0, "", ""}, {"COM5", 5, "", "COM5"}, {"com12", 12, "", "com12"},
#ifndef _WIN32
        // The Linux port-number rule, and a device without a number.
        {"/dev/ttyUSB0", 33, "/dev/ttyUSB0", "/dev/ttyUSB0"},
        {"/dev/ttyACM1", 66, "/dev/ttyACM1", "/dev/ttyACM1"},
        {"/tmp/kestro-line", 0, "/tmp/kestro-line", "/tmp/kestro-line"},
#endif
    };
    for (const Case& c : cases) {
        std::string error;
        const auto target = PortTargetFor(c.choice, error);
        ASSERT_TRUE(target.has_value()) << c.choice << ": " << error;
        EXPECT_EQ(target->number, c.number) << c.choice;
        EXPECT_EQ(target->device, c.device) << c.choice;
        EXPECT_EQ(target->name, c.name) << c.choice;
    }
    EXPECT_TRUE(PortMappings().empty());  // nothing registered on the way
    for (const char* bad : {"", "COM", "COM0", "COMx", "5", "COM5x", "ttyUSB0", "COM99999999999"}) {
        std::string error;
        EXPECT_FALSE(PortTargetFor(bad, error).has_value()) << bad;
        EXPECT_NE(error.find("--port"), std::string::npos) << bad;
    }
}

std::optional<CommandLine> Parse(std::vector<const char*> args, int& code) {
    args.insert(args.begin(), "kestro-upgrade");
    code = -1;
    return ParseCommandLine(static_cast<int>(args.size()), args.data(), code);
}

TEST(CommandLineOptions, SimulateTakesKnownScenariosAndPortRepeats) {
    int code;
    auto options = Parse({"--simulate"}, code);
    ASSERT_TRUE(options);
    EXPECT_TRUE(options->simulate);
    EXPECT_EQ(options->scenarios, std::vector<std::string>{"normal"});
    options = Parse({"--simulate=battery-low,normal,battery-low", "--trace", "--recovery", "--json"}, code);
    ASSERT_TRUE(options);
    EXPECT_EQ(options->scenarios, (std::vector<std::string>{"battery-low", "normal", "battery-low"}));
    EXPECT_TRUE(options->trace);
    EXPECT_TRUE(options->recovery);
    EXPECT_TRUE(options->json);
    options = Parse({"--port", "COM4", "--port", "/dev/ttyUSB1", "--firmware", "f.pvx", "--log", "l.csv"},
                    code);
    ASSERT_TRUE(options);
    EXPECT_FALSE(options->simulate);
    EXPECT_EQ(options->ports, (std::vector<std::string>{"COM4", "/dev/ttyUSB1"}));
    EXPECT_EQ(options->firmware, "f.pvx");
    EXPECT_EQ(options->log, "l.csv");
}

TEST(CommandLineOptions, UsageErrorsEndWithTheUsageCodeAndHelpWithZero) {
    int code;
    ::testing::internal::CaptureStderr();
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(Parse({"--simulate=normal,nonsense"}, code));
    EXPECT_EQ(code, kExitUsage);
    EXPECT_FALSE(Parse({"--all", "--port", "COM3"}, code));
    EXPECT_EQ(code, kExitUsage);
    EXPECT_FALSE(Parse({"--simulate", "--port", "COM3"}, code));
    EXPECT_EQ(code, kExitUsage);
    EXPECT_FALSE(Parse({"--frobnicate"}, code));
    EXPECT_EQ(code, kExitUsage);
    EXPECT_FALSE(Parse({"--help"}, code));
    EXPECT_EQ(code, kExitCompleted);
    const std::string help = ::testing::internal::GetCapturedStdout();
    // The refusal of an unknown scenario lists the scenarios there are.
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("the scenarios are: normal, "),
              std::string::npos);
    EXPECT_NE(help.find("130"), std::string::npos);
    EXPECT_NE(help.find("cable-pulled"), std::string::npos);
}

#ifndef _WIN32
// The command that finishes a radio names every path absolutely, so that it works from any folder.
TEST(RecoveryCommand, NamesThePortAndTheFilesByAbsolutePaths) {
    RadioSummary left;
    left.end.kind = RunEndKind::NeedsRecovery;
    left.port = "../ttyX";
    RunSettings settings;
    settings.firmware = "fw/zqt.pvx";
    settings.log = "/var/log/../tmp/runs.csv";
    const auto here = std::filesystem::current_path();
    EXPECT_EQ(RecoveryCommand({left}, settings),
              "kestro-upgrade --recovery --port " + (here.parent_path() / "ttyX").string() + " --firmware " +
                  (here / "fw" / "zqt.pvx").string() + " --log /var/tmp/runs.csv");
    left.port = "COM5";
    settings = {};
    EXPECT_EQ(RecoveryCommand({left}, settings), "kestro-upgrade --recovery --port COM5");
}
#endif

}  // namespace
}  // namespace kestro::cli
