// kestro-upgrade as a user runs it: a separate process with its exit status, its output, and
// Ctrl-C in the middle of programming. The simulated radio serves a pseudo-terminal in real
// time, so a run takes a few seconds.

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "cli/upgrade/ExitCodes.h"
#include "upgrade/UpgradeTestSupport.h"

namespace kestro::cli {
namespace {

struct Result {
    int status = -1;  // the exit status, or 128 + the signal that ended it
    std::string output;  // standard output and standard error, interleaved
};

// Runs kestro-upgrade with `args`; sends SIGINT once the output contains `interruptAt`.
// The time limit only guards against a hang.
Result RunKit(const std::vector<std::string>& args, const std::string& interruptAt = {}) {
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
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    Result result;
    bool interrupted = false;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::minutes(3);
    char buffer[4096];
    while (std::chrono::steady_clock::now() < limit) {
        pollfd p{pipeFds[0], POLLIN, 0};
        if (::poll(&p, 1, 200) <= 0) continue;
        const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
        if (n <= 0) break;
        result.output.append(buffer, static_cast<std::size_t>(n));
        if (!interruptAt.empty() && !interrupted &&
            result.output.find(interruptAt) != std::string::npos) {
            interrupted = true;
            ::kill(pid, SIGINT);
        }
    }
    ::close(pipeFds[0]);
    if (std::chrono::steady_clock::now() >= limit) ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

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

    r = RunKit({"--port", "COM200", "--firmware", firmware, "--log", log});
    EXPECT_EQ(r.status, kExitPort) << r.output;
    EXPECT_NE(r.output.find("No device detected."), std::string::npos);
    EXPECT_NE(r.output.find("COM200"), std::string::npos) << r.output;

    r = RunKit({"--port", "nowhere"});
    EXPECT_EQ(r.status, kExitUsage) << r.output;
}

TEST_F(KitProcess, CtrlCDuringProgrammingEndsAtTheNextWaitAndAsksForRecovery) {
    const Result r = RunKit(Simulate("normal"), "Please Don't Power Off.");
    EXPECT_EQ(r.status, kExitInterrupted) << r.output;
    EXPECT_NE(r.output.find("Upgrade interrupted."), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("--recovery"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("Completed the program firmware file."), std::string::npos);
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

}  // namespace
}  // namespace kestro::cli
