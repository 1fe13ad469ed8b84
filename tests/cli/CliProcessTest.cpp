// kestro-upgrade as a user runs it: a separate process with its exit status, its output, and
// Ctrl-C in the middle of programming. The simulated radio serves a pseudo-terminal in real
// time, so a run takes a few seconds.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <poll.h>
#include <pty.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>

#include "cli/TerminalText.h"
#include "serial/FakeSysfs.h"
#include "cli/ExitCodes.h"
#include "history/SqliteHistory.h"
#include "radio/posix/PtyRadioServer.h"
#include "upgrade/UpgradeTestSupport.h"

namespace kestro::cli {
namespace {

struct Result {
    int status = -1;  // the exit status, or 128 + the signal that ended it
    std::string output;  // standard output and standard error, interleaved
};

// What stops the kit: once the output contains the first text, a signal; once it then contains
// the second (if given), the signal again. Signals sent at once would merge into one.
struct Stops {
    std::string first;
    std::string second;
    int burst = 1;             // signals sent each time, 5 ms apart (a hang-up told twice)
    bool keepSending = false;  // after the second, the signal again every 250 ms until the end
    bool nohup = false;        // the kit started with SIGHUP ignored, as nohup starts it
    bool Due(const std::string& output, int sent) const {
        const std::string& at = sent == 0 ? first : sent == 1 ? second : std::string{};
        return !at.empty() && output.find(at) != std::string::npos;
    }
    void Send(pid_t pid, int signal) const {
        for (int i = 0; i < burst; ++i) {
            if (i > 0) ::usleep(5000);
            ::kill(pid, signal);
        }
    }
};

// Reads what the kit at `pid` writes to `fd` until it ends, sending `signal` as `stops` says;
// then its exit status. The time limit only guards against a hang.
Result Watch(int fd, pid_t pid, const Stops& stops, int signal) {
    Result result;
    int sent = 0;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::minutes(3);
    auto lastSent = std::chrono::steady_clock::now();
    char buffer[4096];
    while (std::chrono::steady_clock::now() < limit) {
        const auto now = std::chrono::steady_clock::now();
        if (stops.keepSending && sent >= 2 && now - lastSent > std::chrono::milliseconds(250)) {
            stops.Send(pid, signal);
            lastSent = std::chrono::steady_clock::now();
        }
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 200) <= 0) continue;
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) break;  // a pseudo-terminal: EIO once the program has ended
        result.output.append(buffer, static_cast<std::size_t>(n));
        if (stops.Due(result.output, sent)) {
            ++sent;
            stops.Send(pid, signal);
            lastSent = std::chrono::steady_clock::now();
        }
    }
    ::close(fd);
    if (std::chrono::steady_clock::now() >= limit) ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

// Runs kestro-upgrade with `args`; sends `signal` as `stops` says. `stateHome`, when given, is
// the XDG_STATE_HOME of the run, `env` more of its environment; `homeless` runs it with neither XDG_STATE_HOME nor HOME.
Result RunKit(const std::vector<std::string>& args, const Stops& stops = {}, int signal = SIGINT,
              const std::string& stateHome = {}, const std::map<std::string, std::string>& env = {},
              bool homeless = false) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeFds[1], 1);
        ::dup2(pipeFds[1], 2);
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        std::vector<char*> argv;
        std::string program = KESTRO_UPGRADE_EXE;
        argv.push_back(program.data());
        std::vector<std::string> copies = args;
        for (auto& a : copies) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::setenv("KESTRO_SYSFS_ROOT", "/nonexistent-sysfs", 1);  // no cable to find
        if (!stateHome.empty()) ::setenv("XDG_STATE_HOME", stateHome.c_str(), 1);
        for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
        if (homeless) {
            ::unsetenv("XDG_STATE_HOME");
            ::unsetenv("HOME");
        }
        if (stops.nohup) ::signal(SIGHUP, SIG_IGN);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    return Watch(pipeFds[0], pid, stops, signal);
}

// The same on a pseudo-terminal of `columns` columns, as a user at a terminal runs it, with
// Ctrl-C as `stops` says.
Result RunKitOnTerminal(const std::vector<std::string>& args, int columns, const Stops& stops = {}) {
    winsize size{};
    size.ws_row = 50;
    size.ws_col = static_cast<unsigned short>(columns);
    int master = -1;
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, &size);
    if (pid == 0) {
        std::vector<std::string> copies = args;
        std::string program = KESTRO_UPGRADE_EXE;
        std::vector<char*> argv{program.data()};
        for (auto& a : copies) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::setenv("KESTRO_SYSFS_ROOT", "/nonexistent-sysfs", 1);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    if (pid < 0) return {};
    return Watch(master, pid, stops, SIGINT);
}

// What the kit says at the first stop.
constexpr const char* kFirstStopNote = "Stopping every radio before its erase";

class KitProcess : public ::testing::Test {
protected:
    void SetUp() override {
        firmware = (dir.path() / "firmware.pvx").string();
        log = (dir.path() / "runs.csv").string();
        test::SmallFirmware(60).WriteTo(firmware);
    }
    std::vector<std::string> Simulate(const std::string& scenario) const {
        return {"--simulate=" + scenario, "--firmware", firmware, "--log", log};
    }

    test::TempDir dir;
    std::string firmware;
    std::string log;
};

TEST_F(KitProcess, ACompletedUpgradeExitsWithZeroAndLogsOk) {
    const Result r = RunKit(Simulate("codeplug-restore"));
    EXPECT_EQ(r.status, kExitCompleted) << r.output;
    EXPECT_NE(r.output.find("Completed the program firmware file.\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("\nBoot Writing 100%\n"), std::string::npos);
    const auto lines = test::LogLines(log);
    ASSERT_EQ(lines.size(), 1U);
    EXPECT_NE(lines[0].find(",R0103,Yes,OK"), std::string::npos) << lines[0];
}

TEST_F(KitProcess, EachKindOfFailureHasItsOwnExitStatus) {
    Result r = RunKit(Simulate("battery-low"));
    EXPECT_EQ(r.status, kExitRadioFailed) << r.output;
    EXPECT_NE(r.output.find("[Kestro Upgrade Kit] error: Read Error #8"), std::string::npos);

    r = RunKit({"--simulate", "--firmware", (dir.path() / "missing.pvx").string(), "--log", log});
    EXPECT_EQ(r.status, kExitFirmware) << r.output;
    // Which file and why, before any simulated radio is started.
    EXPECT_NE(r.output.find("missing.pvx: it does not exist"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("Simulated radio"), std::string::npos) << r.output;

    // One real port: the run itself refuses a damaged file, before it opens the port.
    const auto damaged = dir.path() / "damaged.pvx";
    std::ofstream(damaged, std::ios::binary) << ":10000000ZZ\r\n:00000001FF\r\n";
    r = RunKit({"--port", "COM200", "--firmware", damaged.string(), "--log", log});
    EXPECT_EQ(r.status, kExitFirmware) << r.output;
    EXPECT_NE(r.output.find("damaged (line 1"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("damaged.pvx"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("No device detected."), std::string::npos) << r.output;

    r = RunKit({"--port", "COM200", "--firmware", firmware, "--log", log});
    EXPECT_EQ(r.status, kExitPort) << r.output;
    EXPECT_NE(r.output.find("No device detected."), std::string::npos);
    EXPECT_NE(r.output.find("COM200"), std::string::npos) << r.output;

    r = RunKit({"--port", "nowhere"});
    EXPECT_EQ(r.status, kExitUsage) << r.output;
}

// A run that loads its firmware and then finds no port has nothing to log: it writes nothing.
TEST_F(KitProcess, ARunThatStopsAtThePortWritesNothing) {
    const auto state = dir.path() / "state";
    const auto unused = dir.path() / "logs" / "runs.csv";
    const Result r = RunKit({"--port", "/dev/nonexistent", "--firmware", firmware, "--log", unused.string()}, {},
                            SIGINT, state.string());
    EXPECT_EQ(r.status, kExitPort) << r.output;
    EXPECT_NE(r.output.find("No device detected."), std::string::npos) << r.output;
    EXPECT_FALSE(std::filesystem::exists(unused.parent_path()));
    EXPECT_FALSE(std::filesystem::exists(state));
}

TEST_F(KitProcess, ABadPortAmongGoodOnesIsAUsageErrorBeforeAnyFileOrPortIsTouched) {
    PtyRadioServer radio;
    std::string error;
    ASSERT_TRUE(radio.Start(&error)) << error;
    const std::string state = (dir.path() / "state").string();
    const Result r = RunKit({"--port", radio.SlavePath(), "--port", "COM3", "--port", "nowhere", "--firmware",
                             firmware, "--log", log},
                            {}, SIGINT, state);
    EXPECT_EQ(r.status, kExitUsage) << r.output;
    EXPECT_FALSE(std::filesystem::exists(log));
    EXPECT_FALSE(std::filesystem::exists(state));
    // Only the usage error: which value, and where to read more.
    std::istringstream lines(r.output);
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        EXPECT_TRUE(line.find("\"nowhere\"") != std::string::npos || line.find("--help") != std::string::npos)
            << r.output;
    }
    EXPECT_EQ(count, 2) << r.output;
    EXPECT_EQ(radio.WithRadio([](SimRadio& sim) { return sim.CountOf(REQ_DETECT); }), 0U);
}

TEST_F(KitProcess, DuringProgrammingAFirstStopLetsTheRadioFinishAndASecondEndsItAtTheNextWait) {
    // SIGHUP (the terminal gone) as the first Ctrl-C: the radio being programmed finishes.
    Result r = RunKit(Simulate("normal"), {"Please Don't Power Off.", {}}, SIGHUP);
    EXPECT_EQ(r.status, kExitCompleted) << r.output;
    EXPECT_NE(r.output.find(kFirstStopNote), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Completed the program firmware file."), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("--recovery"), std::string::npos) << r.output;

    // Ctrl-C again once the first was told: the presses that come a second after it stop the
    // radio too.
    r = RunKit(Simulate("normal"), {"Please Don't Power Off.", kFirstStopNote, 1, true});
    EXPECT_EQ(r.status, kExitInterrupted) << r.output;
    EXPECT_NE(r.output.find("Upgrade interrupted."), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("--recovery"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("Completed the program firmware file."), std::string::npos);
}

// The terminal closed in the middle of programming: the shell and the kernel each pass the
// hang-up on, a few milliseconds apart. That is one act: the radio finishes. Started under nohup
// the kit is not stopped at all.
TEST_F(KitProcess, AHangUpToldTwiceIsOneStopAndUnderNohupNone) {
    Result r = RunKit(Simulate("normal"), {"Please Don't Power Off.", {}, 2}, SIGHUP);
    EXPECT_EQ(r.status, kExitCompleted) << r.output;
    EXPECT_NE(r.output.find(kFirstStopNote), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Completed the program firmware file."), std::string::npos) << r.output;

    // Sent before the erase, where a stop would end the run.
    r = RunKit(Simulate("normal"), {"Simulated radio", {}, 2, false, true}, SIGHUP);
    EXPECT_EQ(r.status, kExitCompleted) << r.output;
    EXPECT_EQ(r.output.find(kFirstStopNote), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Completed the program firmware file."), std::string::npos) << r.output;
}

std::set<std::string> FilesUnder(const std::filesystem::path& folder) {
    std::set<std::string> names;
    std::error_code ec;
    for (std::filesystem::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        names.insert(it->path().string());
    }
    return names;
}

// Without a home there is no folder of the user's own for the log and the records: the run is
// refused with what to set, and nothing goes to a shared folder instead.
TEST_F(KitProcess, WithoutAHomeNoRunStartsAndNothingIsWrittenElsewhere) {
    const std::filesystem::path shared = std::filesystem::temp_directory_path() / "kestro-upgrade-kit";
    const auto before = FilesUnder(shared);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--port", "COM200", "--firmware", firmware},
          std::vector<std::string>{"--simulate=normal", "--firmware", firmware}}) {
        const Result r = RunKit(args, {}, SIGINT, {}, {}, true);
        EXPECT_EQ(r.status, kExitKit) << r.output;
        EXPECT_NE(r.output.find("neither XDG_STATE_HOME nor HOME is set"), std::string::npos) << r.output;
        EXPECT_EQ(r.output.find("No device detected."), std::string::npos) << r.output;
    }
    EXPECT_EQ(FilesUnder(shared), before);
}

// Another user's folder in the state folder's place, or another user's link in the log's: the
// kit writes nothing through them, and the radio is never touched.
TEST_F(KitProcess, AStateFolderOrLogOfAnotherUserIsRefused) {
    if (::geteuid() != 0) GTEST_SKIP() << "making files of another user needs root";
    const passwd* nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    const auto foreign = dir.path() / "foreign";
    std::filesystem::create_directories(foreign);
    ASSERT_EQ(::chown(foreign.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    const auto state = dir.path() / "state";
    std::filesystem::create_directories(state);
    std::filesystem::create_directory_symlink(foreign, state / "kestro-upgrade-kit");

    PtyRadioServer radio;
    std::string error;
    ASSERT_TRUE(radio.Start(&error)) << error;
    Result r = RunKit({"--port", radio.SlavePath(), "--firmware", firmware, "--log", log}, {}, SIGINT,
                      state.string());
    EXPECT_NE(r.status, kExitCompleted) << r.output;
    EXPECT_NE(r.output.find("leads to a folder of another user"), std::string::npos) << r.output;
    EXPECT_EQ(radio.WithRadio([](SimRadio& sim) { return sim.RequestsSeen(); }), 0U);
    EXPECT_TRUE(std::filesystem::is_empty(foreign));

    // A state folder of the kit's own making is the user's alone; another user's link as its
    // log then takes no line.
    std::filesystem::remove(state / "kestro-upgrade-kit");
    r = RunKit({"--simulate=normal", "--firmware", firmware}, {}, SIGINT, state.string());
    EXPECT_EQ(r.status, kExitCompleted) << r.output;
    struct stat made {};
    ASSERT_EQ(::stat((state / "kestro-upgrade-kit").c_str(), &made), 0);
    EXPECT_EQ(made.st_mode & 07777, 0700U);
    const auto target = foreign / "target";
    std::ofstream(target) << "kept\n";
    const auto planted = state / "kestro-upgrade-kit" / "Kestro_UpdateKit_log.csv";
    std::filesystem::remove(planted);
    std::filesystem::create_symlink(target, planted);
    ASSERT_EQ(::lchown(planted.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    r = RunKit({"--simulate=normal", "--firmware", firmware}, {}, SIGINT, state.string());
    EXPECT_NE(r.output.find("symbolic link of another user"), std::string::npos) << r.output;
    std::ifstream in(target);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "kept\n");
}

TEST_F(KitProcess, ARecoveryRunFinishesARadioLeftWithoutFirmware) {
    const Result r = RunKit({"--simulate=needs-recovery", "--recovery", "--trace", "--firmware",
                             firmware, "--log", log});
    EXPECT_EQ(r.status, kExitCompleted) << r.output;
    EXPECT_EQ(r.output.find("Checking the Battery status"), std::string::npos);
    // The trace shows the frames both ways with their time stamps.
    EXPECT_NE(r.output.find(" ms  -> 01 "), std::string::npos) << r.output.substr(0, 2000);
    EXPECT_NE(r.output.find(" ms  <- 01 "), std::string::npos);
}

// Several simulated radios: each has a serial number of its own, each trace line names its port,
// and a radio left needing recovery is not sent to a pseudo-terminal that is gone.
TEST_F(KitProcess, SimulatedRadiosAreToldApartInTheTraceTheSummaryAndTheLog) {
    const Result r = RunKit({"--simulate=normal,cable-pulled", "--trace", "--firmware", firmware, "--log", log});
    EXPECT_EQ(r.status, kExitRadioFailed) << r.output;
    std::smatch found;
    std::vector<std::string> ports;
    for (auto it = r.output.cbegin();
         std::regex_search(it, r.output.cend(), found, std::regex("(/dev/[^ ]+): simulated radio, scenario"));
         it = found.suffix().first) {
        ports.push_back(found[1]);
    }
    ASSERT_EQ(ports.size(), 2U) << r.output;
    std::map<std::string, std::set<std::string>> framesByPort;
    std::istringstream lines(r.output);
    int traced = 0;
    for (std::string line; std::getline(lines, line);) {
        const std::size_t arrow = line.find(" ms  ");
        if (arrow == std::string::npos) continue;
        ++traced;
        const std::string port = line.substr(0, line.find(": "));
        EXPECT_TRUE(port == ports[0] || port == ports[1]) << line;
        framesByPort[port].insert(line.substr(arrow + 5));
    }
    EXPECT_GT(traced, 100);
    // The first request of a run is the same for both radios: only the port tells them apart.
    const std::string first = *std::find_if(framesByPort[ports[0]].begin(), framesByPort[ports[0]].end(),
                                            [](const std::string& frame) { return frame.starts_with("-> "); });
    EXPECT_EQ(framesByPort[ports[1]].count(first), 1U) << first;

    const std::string summary = r.output.substr(r.output.find("PORT "));
    EXPECT_NE(summary.find(ports[0] + "  KS24001735"), std::string::npos) << summary;
    EXPECT_NE(summary.find(ports[1] + "  KS24001736"), std::string::npos) << summary;
    EXPECT_EQ(summary.find("--port"), std::string::npos) << summary;
    EXPECT_NE(summary.find("kestro-upgrade --recovery --simulate=needs-recovery --firmware"), std::string::npos)
        << summary;
    const auto logged = test::LogLines(log);
    ASSERT_EQ(logged.size(), 1U);
    EXPECT_NE(logged[0].find(",KS24001735,"), std::string::npos) << logged[0];
}

TEST_F(KitProcess, JsonGivesOneObjectPerLineForEachRadioAndASummary) {
    const Result r = RunKit({"--simulate=normal,battery-low", "--json", "--firmware", firmware, "--log", log});
    EXPECT_EQ(r.status, kExitRadioFailed) << r.output;
    std::map<std::string, int> events;
    std::map<std::string, std::string> outcomes;
    nlohmann::json last;
    std::size_t start = 0;
    for (std::size_t end; (end = r.output.find('\n', start)) != std::string::npos; start = end + 1) {
        const auto object = nlohmann::json::parse(r.output.substr(start, end - start));  // throws if not one
        ASSERT_TRUE(object.is_object());
        const std::string event = object.at("event");
        ++events[event];
        if (event != "summary") {
            EXPECT_TRUE(object.at("port").is_string()) << object.dump();
        }
        if (event == "end") outcomes[object.at("port")] = object.at("result");
        if (event == "message") {
            EXPECT_EQ(object.at("title"), "Kestro Upgrade Kit");
        }
        if (event == "progress") {
            EXPECT_LE(object.at("percent").get<int>(), 100);
        }
        last = object;
    }
    EXPECT_EQ(start, r.output.size()) << "a last line without its end";
    EXPECT_EQ(events["start"], 2);
    EXPECT_EQ(events["end"], 2);
    EXPECT_GT(events["progress"], 100);
    ASSERT_EQ(outcomes.size(), 2U);
    EXPECT_EQ(outcomes.begin()->second, "upgraded");  // the first pseudo-terminal: normal
    EXPECT_EQ(last.at("event"), "summary");
    EXPECT_EQ(last.at("exit_status"), kExitRadioFailed);
    EXPECT_EQ(last.at("radios").size(), 2U);
}

TEST_F(KitProcess, OnATerminalTheLiveLinesNeverWrapAndCtrlCLeavesAWholeLastLine) {
    for (const int columns : {40, 200}) {
        // At 200 columns the run is stopped twice while the rows are being written.
        const Result r = RunKitOnTerminal({"--simulate=normal,normal,battery-low", "--firmware", firmware,
                                           "--log", log},
                                          columns,
                                          columns == 200 ? Stops{"  30%  ", kFirstStopNote, 1, true} : Stops{});
        EXPECT_EQ(r.status, columns == 200 ? kExitInterrupted : kExitRadioFailed) << r.output;
        const std::string live = r.output.substr(0, r.output.find("PORT "));
        ASSERT_NE(live.size(), r.output.size()) << "no summary: " << r.output;
        int liveLines = 0;
        for (const std::string& line : test::VisibleLines(live)) {
            // Messages and notes carry "port: " and may wrap; the live lines never do.
            if (!line.starts_with("/dev/") || line.find(": ") < line.find("  ")) continue;
            ++liveLines;
            EXPECT_LE(line.size(), static_cast<std::size_t>(columns - 1)) << line;
        }
        EXPECT_GT(liveLines, 3) << r.output;
        // The percent comes before the phase, so a narrow line keeps it.
        EXPECT_TRUE(std::regex_search(live, std::regex("KS2400173[5-7]  [0-9]+%"))) << live;
        // The summary's rows fit too: columns are shortened or left out, never wrapped.
        int rows = 0;
        for (const std::string& line : test::VisibleLines(r.output.substr(live.size()))) {
            if (!line.starts_with("PORT") && !line.starts_with("/dev/")) continue;
            ++rows;
            EXPECT_LE(line.size(), static_cast<std::size_t>(columns - 1)) << line;
        }
        EXPECT_EQ(rows, 4) << r.output;
        // After the summary nothing is drawn again, and the output ends with a whole line.
        const std::string after = r.output.substr(live.size());
        EXPECT_EQ(after.find('\033'), std::string::npos) << after;
        EXPECT_TRUE(r.output.ends_with("\n")) << r.output;
        if (columns == 200) {
            EXPECT_NE(after.find("interrupted"), std::string::npos) << after;
        }
    }
}

std::vector<std::string> Words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}

// A kit killed outright in the middle of the rows leaves a record; the next kit on that port
// names it with the command that finishes the radio, and that command does, removing the record.
TEST_F(KitProcess, AKitKilledMidRunLeavesARecordThatTheNextKitNamesWithItsCommand) {
    SimRadioConfig config;
    config.latency = SimMillis{0};
    PtyRadioServer radio(config);
    std::string error;
    ASSERT_TRUE(radio.Start(&error)) << error;
    const std::string state = (dir.path() / "state").string();
    const std::vector<std::string> run = {"--port", radio.SlavePath(), "--firmware", firmware,
                                          "--log", log};

    Result r = RunKit(run, {"Please Don't Power Off.", {}}, SIGKILL, state);
    ASSERT_EQ(r.status, 128 + SIGKILL) << r.output;
    const auto records = [&] {
        return CRecoveryRecords(dir.path() / "state" / "kestro-upgrade-kit").All().size();
    };
    ASSERT_EQ(records(), 1U);
    // The technician switches the radio off and on: without firmware it answers no checks.
    radio.WithRadio([](SimRadio& sim) { sim.Reconnect(); });
    // Beside the record, a file that only looks like one: one line about it, and no refusal.
    std::ofstream(dir.path() / "state" / "kestro-upgrade-kit" / "recovery-junk.state") << "\x01\x02junk";

    r = RunKit(run, {}, SIGINT, state);
    EXPECT_EQ(r.status, kExitRadioFailed) << r.output;  // the radio takes no checks as it is
    EXPECT_NE(r.output.find("ignoring the recovery record"), std::string::npos) << r.output;
    std::smatch found;
    ASSERT_TRUE(std::regex_search(r.output, found,
                                  std::regex("the radio KS24001735 on " + radio.SlavePath() +
                                             " stopped .* finish it with: (kestro-upgrade [^\n]*)\n")))
        << r.output;
    const auto command = Words(found[1]);
    ASSERT_NE(std::find(command.begin(), command.end(), "--recovery"), command.end());

    r = RunKit(std::vector<std::string>(command.begin() + 1, command.end()), {}, SIGINT, state);
    EXPECT_EQ(r.status, kExitCompleted) << r.output;
    EXPECT_EQ(records(), 0U);
    EXPECT_TRUE(radio.WithRadio([](SimRadio& sim) {
        return sim.State() == RadioState::Normal && sim.BootSwaps() == 1 && sim.BootSwapMatched();
    }));
}

// Two cables: X, the one found automatically, holds radio A, which an earlier run left without
// firmware (its record says so), and another program holds X; Y, the fall-back cable, holds a
// healthy radio B. A recovery run opens X or nothing: A's record stays and is named, and B hears
// no update start. A plain run on the busy port says it is busy and nothing of the records.
TEST_F(KitProcess, ARecoveryForABusyCableTriesNoOtherCableAndKeepsItsRecord) {
    PtyRadioServer a;
    PtyRadioServer b;
    std::string error;
    ASSERT_TRUE(a.Start(&error) && b.Start(&error)) << error;
    a.WithRadio([](SimRadio& radio) { radio.EnterNeedsRecovery(); });
    test::FakeSysfs sysfs;
    sysfs.AddUsbTty("ttyUSB0", {.serial = "0006", .devName = a.SlavePath().substr(5)});
    sysfs.AddUsbTty("ttyUSB1", {.serial = "0001", .devName = b.SlavePath().substr(5)});
    const std::map<std::string, std::string> env = {
        {"KESTRO_SYSFS_ROOT", sysfs.Root().string()},
        {"KESTRO_PORT_MAP", "97=" + a.SlavePath() + ",98=" + b.SlavePath()}};
    const auto state = dir.path() / "state";
    const CRecoveryRecords records(state / "kestro-upgrade-kit");
    ASSERT_TRUE(records.Mark({"COM97", a.SlavePath(), "KS24001735", firmware, 1, {}, {}, {}}));
    const int held = ::open(a.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);

    Result r = RunKit({"--recovery", "--firmware", firmware, "--log", log}, {}, SIGINT, state.string(), env);
    EXPECT_EQ(r.status, kExitPort) << r.output;
    EXPECT_NE(r.output.find("the recovery run is for the radio KS24001735 on COM97 (" + a.SlavePath() + ")"),
              std::string::npos)
        << r.output;
    EXPECT_EQ(records.All().size(), 1U);
    EXPECT_EQ(b.WithRadio([](SimRadio& radio) { return radio.CountOf(REQ_UPDATE_START); }), 0U);

    r = RunKit({"--port", a.SlavePath(), "--firmware", firmware, "--log", log}, {}, SIGINT, state.string(), env);
    EXPECT_EQ(r.status, kExitPort) << r.output;
    EXPECT_NE(r.output.find("busy"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("KS24001735"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("recovery"), std::string::npos) << r.output;
    EXPECT_EQ(records.All().size(), 1U);
    ::close(held);
}

// Two radios left on one cable: the radio now on it cannot tell its serial number before its
// boot swap, and the newest record names it. --recovery finishes that one and keeps the other.
TEST_F(KitProcess, RecoveryFinishesTheRadioOfTheNewestRecordOnThePortAndKeepsTheOlder) {
    PtyRadioServer radio;
    std::string error;
    ASSERT_TRUE(radio.Start(&error)) << error;
    radio.WithRadio([](SimRadio& sim) { sim.EnterNeedsRecovery(); });
    const auto state = dir.path() / "state";
    const CRecoveryRecords records(state / "kestro-upgrade-kit");
    // The newer serial number sorts first, so that neither name nor file order can pass for age.
    for (const auto& [serial, since] : {std::pair{"KS24009999", 1000}, std::pair{"KS24000001", 2000}}) {
        ASSERT_TRUE(records.Mark({radio.SlavePath(), radio.SlavePath(), serial, firmware, since, {}, {}, {}}, error)) << error;
    }
    const Result r = RunKit({"--recovery", "--port", radio.SlavePath(), "--firmware", firmware, "--log", log},
                            {}, SIGINT, state.string());
    EXPECT_EQ(r.status, kExitCompleted) << r.output;
    const auto left = records.All();
    ASSERT_EQ(left.size(), 1U);
    EXPECT_EQ(left[0].serial, "KS24009999");
    const auto lines = test::LogLines(log);
    ASSERT_EQ(lines.size(), 1U);
    EXPECT_NE(lines[0].find(",KS24000001,"), std::string::npos) << lines[0];
}

TEST_F(KitProcess, HistoryListsTheRunsAddedThroughTheInterfaceNewestFirst) {
    using namespace std::chrono;
    const std::string stateHome = (dir.path() / "state").string();
    const auto day = sys_days{2026y / 12 / 1};
    struct Added {
        std::string serial;
        UtcSeconds started;
        RunKind kind;
    };
    const Added added[] = {
        {"KS1", day + 9h, RunKind::NeedsRecovery},
        {std::string("KS\x00\xFF", 4), day + 10h, RunKind::NotConfirmedNoAnswer},
        {"KS1", day + 24h + 8h, RunKind::Confirmed},
        {"KS2", day + 11h, RunKind::FailedBeforeErase},
    };
    {
        SqliteHistory history(std::filesystem::path(stateHome) / "kestro-upgrade-kit" / kHistoryFileName);
        for (const Added& a : added) {
            HistoryRun run;
            run.runId = NewRunId();
            run.serial = a.serial;
            run.started = run.ended = a.started;
            run.kind = a.kind;
            run.message = "line one\r\n\r\nline two";
            ASSERT_TRUE(history.Add(run).Ok());
        }
    }
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> serialsHex;  // the lines, in order
        std::vector<std::string> kinds;
    };
    const Case cases[] = {
        {{"history", "--json"},
         {"4b5331", "4b5332", "4b5300ff", "4b5331"},
         {"confirmed", "failed_before_erase", "not_confirmed_no_answer", "needs_recovery"}},
        {{"history", "--json", "--latest"},
         {"4b5331", "4b5332", "4b5300ff"},
         {"confirmed", "failed_before_erase", "not_confirmed_no_answer"}},
        {{"history", "--json", "--serial", "KS\\x00\\xFF"}, {"4b5300ff"}, {"not_confirmed_no_answer"}},
        {{"history", "--json", "--serial", "KS1", "--since", "2026-12-01T09:00:01Z"}, {"4b5331"}, {"confirmed"}},
    };
    for (const Case& c : cases) {
        const Result r = RunKit(c.args, {}, SIGINT, stateHome);
        ASSERT_EQ(r.status, kExitCompleted) << r.output;
        std::vector<std::string> serials, kinds;
        std::istringstream lines(r.output);
        for (std::string line; std::getline(lines, line);) {
            const auto object = nlohmann::json::parse(line);  // throws if not one object
            serials.push_back(object.at("serial_hex"));
            kinds.push_back(object.at("kind"));
            EXPECT_EQ(object.at("message"), "line one\r\n\r\nline two");
        }
        EXPECT_EQ(serials, c.serialsHex) << c.args.back();
        EXPECT_EQ(kinds, c.kinds) << c.args.back();
    }
    const Result csv = RunKit({"history", "--csv"}, {}, SIGINT, stateHome);
    EXPECT_EQ(std::count(csv.output.begin(), csv.output.end(), '\n'), 5) << "a header and a line a run";
    EXPECT_EQ(RunKit({"history", "--since", "last week"}, {}, SIGINT, stateHome).status, kExitUsage);
}

// Every run of a fleet leaves its row in the history, with its own serial number and kind; a
// history that cannot be written is said once, and the upgrades and the CSV log go on as ever.
TEST_F(KitProcess, EachRunOfAFleetAddsItsRowToTheHistoryAndAnUnwritableOneIsSaidOnce) {
    const std::string stateHome = (dir.path() / "state").string();
    Result r = RunKit(Simulate("normal,battery-low,cable-pulled,keeps-old-firmware"), {}, SIGINT, stateHome);
    EXPECT_EQ(r.status, kExitRadioFailed) << r.output;
    r = RunKit({"history", "--json"}, {}, SIGINT, stateHome);
    ASSERT_EQ(r.status, kExitCompleted) << r.output;
    std::map<std::string, std::string> kinds;  // serial -> kind
    std::istringstream lines(r.output);
    for (std::string line; std::getline(lines, line);) {
        const auto object = nlohmann::json::parse(line);
        kinds[object.at("serial")] = object.at("kind");
    }
    const std::map<std::string, std::string> expected = {{"KS24001735", "confirmed"},
                                                         {"", "failed_before_erase"},
                                                         {"KS24001737", "needs_recovery"},
                                                         {"KS24001738", "not_confirmed_old_version"}};
    EXPECT_EQ(kinds, expected) << r.output;

    const std::string blocked = (dir.path() / "blocked").string();
    std::filesystem::create_directories(std::filesystem::path(blocked) / "kestro-upgrade-kit" / "history.sqlite");
    r = RunKit(Simulate("normal,normal"), {}, SIGINT, blocked);
    EXPECT_EQ(r.status, kExitCompleted) << r.output;
    std::size_t said = 0;
    for (std::size_t at = 0; (at = r.output.find("history of runs was not written", at)) != std::string::npos; ++at) ++said;
    EXPECT_EQ(said, 1U) << r.output;
    // Two of the first fleet upgraded (a radio stopped by its battery and one that lost its
    // cable while programming have no line), and these two.
    EXPECT_EQ(test::LogLines(log).size(), 2U + 2U);
}

}  // namespace
}  // namespace kestro::cli
