// Several radios at once, in one process: each simulated radio behind its own pseudo-terminal,
// each run through its own real serial engine and worker, in real time. Every radio must end as
// it ends alone, whatever the others do.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <atomic>
#include <cstdio>
#include <memory>
#include <thread>
#include <map>
#include <random>
#include <set>

#include "upgrade/UpgradeTestSupport.h"
#include "cli/TerminalText.h"
#include "soak/FaultPlan.h"
#include "cli/ExitCodes.h"
#include "cli/Fleet.h"
#include "firmware/FirmwareLoader.h"
#include "platform/RealClock.h"
#include "radio/Scenarios.h"
#include "radio/posix/PtyRadioServer.h"
#include "upgrade/Texts.h"

namespace kestro::cli {
namespace {

// How a run ended, as far as another radio could ever change it.
struct End {
    std::string outcome;
    std::string result;
    bool needsRecovery = false;
    bool operator==(const End&) const = default;
};

std::ostream& operator<<(std::ostream& out, const End& end) {
    return out << end.outcome << " / " << end.result << (end.needsRecovery ? " / needs recovery" : "");
}

constexpr int kApplicationRows = 40;

End EndOf(const RadioSummary& r) { return {OutcomeName(r.end.kind), r.result, r.NeedsRecovery()}; }

class Fleet : public ::testing::Test {
protected:
    void SetUp() override {
        // Recovery records of radios left between erase and boot swap stay with this test.
        ::setenv("XDG_STATE_HOME", (dir.path() / "state").c_str(), 1);
        firmware = dir.path() / "firmware.pvx";
        log = dir.path() / "runs.csv";
        test::SmallFirmware(kApplicationRows).WriteTo(firmware);
        CFirmwareLoader loader;
        loader.LoadFirmwareFile(firmware, image, [](const std::string&) {});
        ASSERT_EQ(loader.m_firmwareLoadFailed, 0);
    }

    // A simulated radio on a pseudo-terminal of its own, set up by `setUp`.
    template <typename SetUp>
    PtyRadioServer& Serve(SetUp&& setUp, SimRadioConfig config = {}) {
        servers.push_back(std::make_unique<PtyRadioServer>(config));
        servers.back()->WithRadio(setUp);
        std::string error;
        EXPECT_TRUE(servers.back()->Start(&error)) << error;
        return *servers.back();
    }
    PtyRadioServer& Serve(const char* scenario) {
        return Serve([scenario](SimRadio& radio) { ApplyScenario(radio, scenario); });
    }

    // Runs the fleet on `ports`; its output goes to `output`.
    FleetResult Run(const std::vector<std::string>& ports, bool recovery = false) {
        std::vector<RadioTarget> radios;
        for (const auto& port : ports) radios.push_back({port, ""});
        RunSettings settings{firmware, log, recovery, false};
        std::FILE* out = std::tmpfile();
        FleetConsole console(out, OutputMode::Lines);
        FleetResult result = RunFleet(radios, settings, console);
        std::rewind(out);
        output.clear();
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, out)) > 0;) output.append(buffer, n);
        std::fclose(out);
        return result;
    }

    ::testing::AssertionResult HoldsFirmware(PtyRadioServer& server) {
        return server.WithRadio([this](SimRadio& radio) { return test::RadioHoldsFirmware(image, radio); });
    }

    test::TempDir dir;
    std::filesystem::path firmware;
    std::filesystem::path log;
    CCommFile image;
    std::vector<std::unique_ptr<PtyRadioServer>> servers;
    std::string output;
};

TEST_F(Fleet, FourRadiosAtOnceAreEachUpgradedAndLoggedUnderOneHeader) {
    std::vector<std::string> ports;
    for (int i = 0; i < 4; ++i) {
        // Each radio has its own serial number, so that its log line can be told apart.
        const std::string serial = "KS2400000" + std::to_string(i);
        ports.push_back(Serve([&serial](SimRadio& radio) {
                            ApplyScenario(radio, "normal");
                            std::copy(serial.begin(), serial.end(), radio.Config().serial.begin());
                        }).SlavePath());
    }
    const FleetResult result = Run(ports);
    EXPECT_EQ(result.exitStatus, kExitCompleted) << output;
    ASSERT_EQ(result.radios.size(), 4U);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(result.radios[i].port, ports[i]);
        EXPECT_EQ(result.radios[i].result, "upgraded") << output;
        EXPECT_EQ(result.radios[i].serial, "KS2400000" + std::to_string(i));
        EXPECT_TRUE(HoldsFirmware(*servers[i])) << ports[i];
    }
    const std::string text = test::ReadFile(log);
    EXPECT_EQ(text.find(kLogHeader), 0U);
    EXPECT_EQ(text.find(kLogHeader, 1), std::string::npos);
    const auto lines = test::LogLines(log);
    ASSERT_EQ(lines.size(), 4U) << text;
    for (int i = 0; i < 4; ++i) {
        const std::string serial = "KS2400000" + std::to_string(i);
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                [&](const std::string& line) {
                                    return line.find("," + serial + ",R0103,No,OK") != std::string::npos;
                                }),
                  1)
            << serial << "\n" << text;
    }
}

TEST_F(Fleet, AMixedFleetEndsEachRadioAsItEndsAloneAndRecoveryFinishesThePulledOne) {
    const std::vector<const char*> scenarios = {"normal", "battery-low", "cable-pulled", "silent"};
    std::vector<End> alone;
    std::vector<std::size_t> aloneLogLines;
    for (const char* scenario : scenarios) {
        const std::size_t before = test::LogLines(log).size();
        const FleetResult result = Run({Serve(scenario).SlavePath()});
        ASSERT_EQ(result.radios.size(), 1U);
        alone.push_back(EndOf(result.radios[0]));
        aloneLogLines.push_back(test::LogLines(log).size() - before);
    }
    EXPECT_EQ(alone[0].result, "upgraded");
    EXPECT_EQ(alone[1].result, "Read Error #8");
    EXPECT_EQ(alone[2], (End{"failed", "Write Error #4", true}));
    EXPECT_EQ(alone[3].result, "Communication Error #1");

    servers.clear();
    std::filesystem::remove(log);
    std::vector<std::string> ports;
    for (const char* scenario : scenarios) ports.push_back(Serve(scenario).SlavePath());
    const FleetResult fleet = Run(ports);
    EXPECT_EQ(fleet.exitStatus, kExitRadioFailed);
    ASSERT_EQ(fleet.radios.size(), 4U);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(EndOf(fleet.radios[i]), alone[i]) << scenarios[i];
        // The summary names each radio by its port, with its result.
        EXPECT_NE(output.find(ports[i] + "  "), std::string::npos) << output;
    }
    EXPECT_TRUE(HoldsFirmware(*servers[0]));
    // Only the completed radio logs a line, here as alone.
    EXPECT_EQ(test::LogLines(log).size(), aloneLogLines[0] + aloneLogLines[1] + aloneLogLines[2] + aloneLogLines[3]);
    EXPECT_NE(output.find("Finish them with: kestro-upgrade --recovery --port " + ports[2]),
              std::string::npos)
        << output;

    // The pulled cable is plugged back in: the radio shows up on a new line, and a recovery
    // run on it finishes it.
    PtyRadioServer& pulled = *servers[2];
    pulled.Stop();
    pulled.WithRadio([](SimRadio& radio) {
        radio.Reconnect();
        radio.Config().loseCableAt = 0;
    });
    std::string error;
    ASSERT_TRUE(pulled.Start(&error)) << error;
    const FleetResult recovery = Run({pulled.SlavePath()}, true);
    EXPECT_EQ(recovery.exitStatus, kExitCompleted) << output;
    EXPECT_TRUE(HoldsFirmware(pulled));
}

// A check reads each radio as a run would before it changes anything, tells its verdict, and
// leaves radio, log and records as they were, with no firmware file at all.
TEST_F(Fleet, ACheckOnlyReadsEachRadioAndTellsWhatAnUpgradeWouldDo) {
    struct Case {
        const char* scenario;
        RunEndKind end;
        CheckVerdict verdict;
        const char* said;
    };
    const std::vector<Case> cases = {
        {"normal", RunEndKind::Checked, CheckVerdict::WouldUpgrade, "firmware R01.03, battery OK, codeplug byte 6F: an upgrade would run."},
        {"battery-low", RunEndKind::Checked, CheckVerdict::BatteryLow, "battery LOW"},
        {"new-firmware", RunEndKind::Checked, CheckVerdict::AlreadyNewer, "firmware R01.05"},
        {"codeplug-restore", RunEndKind::Checked, CheckVerdict::WouldRestoreCodeplug, "codeplug byte 00"},
        {"silent", RunEndKind::NoAnswer, CheckVerdict::NoAnswer, "no radio answered"},
    };
    std::vector<std::string> ports;
    for (const Case& c : cases) ports.push_back(Serve(c.scenario).SlavePath());
    std::vector<RadioTarget> radios;
    for (const auto& port : ports) radios.push_back({port, ""});
    RunSettings settings{dir.path() / "no-such-firmware.pvx", log, false, false};
    settings.checkOnly = true;
    settings.historyFrontEnd = "command line";
    settings.history = dir.path() / "history.sqlite";
    std::FILE* out = std::tmpfile();
    FleetConsole console(out, OutputMode::Lines);
    const FleetResult result = RunFleet(radios, settings, console);
    console.Finish();
    std::rewind(out);
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, out)) > 0;) output.append(buffer, n);
    std::fclose(out);

    EXPECT_EQ(result.exitStatus, kExitRadioFailed) << "the silent radio could not be checked\n" << output;
    ASSERT_EQ(result.radios.size(), cases.size()) << output;
    const std::set<RequestId> reads = {REQ_DETECT, REQ_BATTERY, REQ_MODEL, REQ_FW_VERSION,
                                       REQ_SERIAL, REQ_CP_CHECK, REQ_CP_READ};
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const RadioSummary& r = result.radios[i];
        SCOPED_TRACE(cases[i].scenario);
        EXPECT_EQ(r.end.kind, cases[i].end);
        ASSERT_TRUE(r.check.has_value());
        EXPECT_EQ(r.check->verdict, cases[i].verdict);
        EXPECT_NE(output.find(ports[i] + ": " + (cases[i].end == RunEndKind::Checked ? "KS24001735: " : "")),
                  std::string::npos) << output;
        EXPECT_NE(output.find(cases[i].said), std::string::npos) << output;
        servers[i]->WithRadio([&](SimRadio& radio) {
            for (const auto& request : radio.Requests()) {
                EXPECT_TRUE(reads.count(request.id)) << "request " << request.id << " changes the radio";
            }
            if (cases[i].end == RunEndKind::Checked) {
                EXPECT_GT(radio.CountOf(REQ_CP_READ), 0U);
            }
            EXPECT_EQ(radio.CodeplugByte(0x3197), std::string(cases[i].scenario) == "codeplug-restore" ? 0x00 : 0x6F);
        });
    }
    EXPECT_FALSE(std::filesystem::exists(log)) << "a check writes no log line";
    EXPECT_FALSE(std::filesystem::exists(settings.history)) << "nor a history row";
}

TEST_F(Fleet, ABadPortBesideAGoodOneIsNamedByItsPathAndTheGoodRadioIsUpgradedOnce) {
    const std::string bad = (dir.path() / "no-such-port").string();
    PtyRadioServer& good = Serve("normal");
    const FleetResult result = Run({bad, good.SlavePath()});
    EXPECT_EQ(result.exitStatus, kExitRadioFailed);
    ASSERT_EQ(result.radios.size(), 2U);
    EXPECT_EQ(result.radios[0].port, bad);
    EXPECT_EQ(result.radios[0].end.kind, RunEndKind::NotStarted);
    EXPECT_EQ(result.radios[1].result, "upgraded");
    EXPECT_TRUE(HoldsFirmware(good));
    good.WithRadio([](SimRadio& radio) {
        EXPECT_EQ(radio.CountOf(REQ_UPDATE_START), 1U);
        EXPECT_EQ(radio.BootSwaps(), 1U);
    });
    EXPECT_NE(output.find(bad + ": "), std::string::npos) << output;
    EXPECT_EQ(output.find("COM9"), std::string::npos) << output;
}

// Each radio's lines, its port replaced by its index, without the percents (a console that
// falls behind keeps only a radio's latest one).
std::vector<std::vector<std::string>> LinesByRadio(const std::string& output, const std::vector<std::string>& ports) {
    std::vector<std::vector<std::string>> lines(ports.size());
    std::size_t start = 0;
    for (std::size_t end; (end = output.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = output.substr(start, end - start);
        for (std::size_t i = 0; i < ports.size(); ++i) {
            if (line.starts_with(ports[i] + ": ") && !line.ends_with("%")) {
                lines[i].push_back(line.substr(ports[i].size()));
            }
        }
    }
    return lines;
}

TEST_F(Fleet, AnOutputPipeThatNobodyReadsHoldsUpNoRadioAndLosesNoLine) {
    std::vector<std::string> ports;
    for (int i = 0; i < 4; ++i) ports.push_back(Serve("normal").SlavePath());
    Run(ports);
    const auto readAsItWent = LinesByRadio(output, ports);

    servers.clear();
    std::filesystem::remove(log);
    ports.clear();
    std::vector<RadioTarget> radios;
    for (int i = 0; i < 4; ++i) {
        ports.push_back(Serve("normal").SlavePath());
        radios.push_back({ports.back(), ""});
    }
    // A pipe full before the fleet starts: not one byte can be written until it is read.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::fcntl(fds[1], F_SETPIPE_SZ, 4096);
    ::fcntl(fds[1], F_SETFL, O_NONBLOCK);
    const std::string filler(4096, 'x');
    std::size_t filled = 0;
    for (ssize_t n; (n = ::write(fds[1], filler.data(), filler.size())) > 0;) filled += static_cast<std::size_t>(n);
    ::fcntl(fds[1], F_SETFL, 0);
    FleetResult result;
    std::thread fleet([&] {
        std::FILE* out = ::fdopen(fds[1], "w");
        {
            FleetConsole console(out, OutputMode::Lines);
            result = RunFleet(radios, {firmware, log, false, false}, console);
        }
        std::fclose(out);
    });
    // Every radio goes through to its log line while nothing is read (the limit only guards
    // against a hang).
    const auto limit = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (test::LogLines(log).size() < 4 && std::chrono::steady_clock::now() < limit) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(test::LogLines(log).size(), 4U) << "the radios waited for the reader";
    for (auto& server : servers) EXPECT_TRUE(HoldsFirmware(*server));

    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
    ::close(fds[0]);
    fleet.join();
    ASSERT_GE(text.size(), filled);
    EXPECT_EQ(result.exitStatus, kExitCompleted);
    const auto readLate = LinesByRadio(text.substr(filled), ports);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(readLate[i], readAsItWent[i]) << "radio " << i;
        ASSERT_FALSE(readLate[i].empty());
        EXPECT_EQ(readLate[i].back(), ": upgraded");
    }
}

// Waits until `done` holds; the limit only guards against a hang.
template <typename Done>
bool Await(Done&& done) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (!done() && std::chrono::steady_clock::now() < limit) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return done();
}

TEST_F(Fleet, AFirstStopSparesTheRadiosBeingProgrammedAndASecondStopsThemToo) {
    // The first radio misses six codeplug checks (six seconds of retries) and is still in its
    // checks when the others erase; the third's slow replies make its rows last long enough for
    // the second radio to finish before the second stop.
    std::vector<std::string> ports;
    for (const int latency : {3, 3, 20}) {
        SimRadioConfig config;
        config.latency = SimMillis{latency};
        if (ports.empty()) config.faultsByKind[REQ_CP_CHECK] = Fault{.kind = FaultKind::Silence, .times = 6};
        ports.push_back(Serve([](SimRadio& radio) { ApplyScenario(radio, "normal"); }, config).SlavePath());
    }
    auto erased = [this](std::size_t i) {
        return servers[i]->WithRadio([](SimRadio& radio) { return radio.CountOf(REQ_ERASE_FLASH) > 0; });
    };
    std::vector<RadioTarget> radios;
    for (const auto& port : ports) radios.push_back({port, ""});
    std::FILE* out = std::tmpfile();
    // Every signal an act of its own: the acts' own rules are StopActs' tests.
    StopSignalCounts signals;
    StopActs stops(signals, RealClock::Instance(), Millis{0});
    FleetResult result;
    std::thread fleet([&] {
        FleetConsole console(out, OutputMode::Live, 200);
        result = RunFleet(radios, {firmware, log, false, false}, console, &stops);
    });
    ASSERT_TRUE(Await([&] { return erased(1) && erased(2); }));
    EXPECT_FALSE(erased(0));
    signals.stops = 1;
    EXPECT_TRUE(Await([&] { return test::LogLines(log).size() == 1; })) << "the second radio did not finish";
    signals.stops = 2;
    fleet.join();

    ASSERT_EQ(result.radios.size(), 3U);
    EXPECT_EQ(EndOf(result.radios[0]), (End{"interrupted", "interrupted", false}));
    EXPECT_EQ(EndOf(result.radios[1]), (End{"completed", "upgraded", false}));
    EXPECT_EQ(EndOf(result.radios[2]), (End{"interrupted", "interrupted", true}));
    EXPECT_EQ(result.exitStatus, kExitInterrupted);
    EXPECT_FALSE(erased(0));
    EXPECT_TRUE(HoldsFirmware(*servers[1]));
    std::rewind(out);
    std::string text;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, out)) > 0;) text.append(buffer, n);
    std::fclose(out);
    const auto lines = test::VisibleLines(text);
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
        return line.starts_with(ports[1] + "  ") && line.find("finishing: do not unplug") != std::string::npos;
    })) << text;
    EXPECT_NE(text.find("Finish them with: kestro-upgrade --recovery --port " + ports[2] + " "), std::string::npos)
        << text;
}

// The end of a run of `plan` alone, in virtual time, through the same hub and worker, on the
// same firmware.
End AloneInVirtualTime(const soak::FaultPlan& plan) {
    test::VirtualRun run(kApplicationRows);
    run.radio.Reset(plan.radio);
    if (plan.codeplugNeedsRestore) run.radio.SetCodeplugByte(0x3197, 0x00);
    run.Upgrade();
    const CUpgradeHub& hub = *run.hub;
    End end;
    switch (hub.LastOutcome()) {
        case RunOutcome::Completed: end = {"completed", "upgraded", false}; break;
        case RunOutcome::Interrupted: end = {"interrupted", "interrupted", false}; break;
        default: {
            const std::string title = FleetConsole::MessageTitle(hub.LastMessage());
            end = {"failed", title.empty() ? "failed" : title, false};
        }
    }
    end.needsRecovery = hub.RecoveryFlag() == 1;
    return end;
}

TEST_F(Fleet, EightRadiosWithRandomFaultsEachEndAsTheirPlanEndsAlone) {
    // The soak's fault plans, without the line's own damage (a pseudo-terminal does not damage
    // requests) and without late replies, whose end turns on a millisecond of real time.
    std::mt19937 random(20261209);
    auto timingFree = [](const soak::FaultPlan& plan) {
        for (const auto& [number, fault] : plan.radio.faultsByNumber) {
            if (fault.kind == FaultKind::Late) return false;
        }
        for (const auto& [id, fault] : plan.radio.faultsByKind) {
            if (fault.kind == FaultKind::Late) return false;
        }
        return true;
    };
    std::set<std::string> ends;
    for (int round = 0; round < 2; ++round) {
        servers.clear();
        // Plans that end in many different ways: at most two of a kind per round.
        std::vector<soak::FaultPlan> plans;
        std::vector<End> alone;
        std::map<std::string, int> kinds;
        for (int draws = 0; plans.size() < 8; ++draws) {
            soak::FaultPlan plan = soak::DrawFaultPlan(random, 60);
            if (!timingFree(plan)) continue;
            const End end = AloneInVirtualTime(plan);
            if (kinds[end.result] >= 2 && draws < 2000) continue;
            ++kinds[end.result];
            plans.push_back(std::move(plan));
            alone.push_back(end);
        }
        std::vector<std::string> ports;
        for (const soak::FaultPlan& plan : plans) {
            ports.push_back(Serve(
                                [&plan](SimRadio& radio) {
                                    if (plan.codeplugNeedsRestore) radio.SetCodeplugByte(0x3197, 0x00);
                                },
                                plan.radio)
                                .SlavePath());
        }
        const FleetResult fleet = Run(ports);
        ASSERT_EQ(fleet.radios.size(), 8U);
        for (std::size_t i = 0; i < 8; ++i) {
            EXPECT_EQ(EndOf(fleet.radios[i]), alone[i])
                << "round " << round << ", radio " << i << ": " << plans[i].description;
            ends.insert(fleet.radios[i].result);
        }
    }
    // The plans drawn end in several different ways, the completed one among them.
    EXPECT_GE(ends.size(), 5U);
    EXPECT_EQ(ends.count("upgraded"), 1U);
}

}  // namespace
}  // namespace kestro::cli
