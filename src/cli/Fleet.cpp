#include "cli/Fleet.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <system_error>
#include <thread>

#include "cli/ConsoleRadio.h"
#include "cli/ExitCodes.h"
#include "platform/Paths.h"
#include "runcore/FirmwareCheck.h"

namespace kestro::cli {

namespace {

using namespace std::chrono_literals;

std::string ShellWord(const std::string& word) {
    if (!word.empty() && word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                                "0123456789/._-=:,+@%") == std::string::npos) {
        return word;
    }
    std::string quoted = "'";
    for (const char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// A path in a printed command, absolute: the command is often run from another folder. A port
// name without a folder (COM5) stays as it is.
std::string AbsoluteWord(const std::string& path) {
    if (path.find('/') == std::string::npos) return ShellWord(path);
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(path, ec);
    return ShellWord(ec ? path : absolute.lexically_normal().string());
}

std::string WithFiles(std::string command, const RunSettings& settings) {
    if (!settings.firmware.empty()) command += " --firmware " + AbsoluteWord(settings.firmware.string());
    if (!settings.log.empty()) command += " --log " + AbsoluteWord(settings.log.string());
    return command;
}

}  // namespace

std::string RecoveryCommand(const std::vector<RadioSummary>& radios, const RunSettings& settings) {
    std::string command;
    for (const RadioSummary& r : radios) {
        if (r.NeedsRecovery() && !r.simulated) command += " --port " + AbsoluteWord(r.port);
    }
    if (command.empty()) return {};
    return WithFiles("kestro-upgrade --recovery" + command, settings);
}

std::string SimulatedRecoveryCommand(const std::vector<RadioSummary>& radios, const RunSettings& settings) {
    std::string scenarios;
    for (const RadioSummary& r : radios) {
        if (r.NeedsRecovery() && r.simulated) scenarios += scenarios.empty() ? "needs-recovery" : ",needs-recovery";
    }
    if (scenarios.empty()) return {};
    return WithFiles("kestro-upgrade --recovery --simulate=" + scenarios, settings);
}

FleetResult RunFleet(const std::vector<RadioTarget>& radios, const RunSettings& settings,
                     FleetConsole& console, StopActs* stop) {
    FleetResult result;
    const auto firmware = settings.firmware.empty() ? DefaultFirmwarePath() : settings.firmware;
    const bool decodeFirst = radios.size() != 1 || !radios.front().scenario.empty();
    if (const std::string problem = settings.checkOnly ? std::string() : FirmwareProblem(firmware, decodeFirst);
        !problem.empty()) {
        console.Note(-1, "cannot use the firmware file " + firmware.string() + ": " + problem);
        result.exitStatus = kExitFirmware;
        return result;
    }

    std::vector<std::unique_ptr<ConsoleRadio>> runs;
    for (const RadioTarget& target : radios) runs.push_back(std::make_unique<ConsoleRadio>(target, settings, console));
    for (auto& run : runs) {
        if (!run->Prepare() && run->ExitStatus() == kExitUsage) {
            result.exitStatus = kExitUsage;  // a wrong port name: nothing is started
            return result;
        }
    }
    // The console's writer thread starts with the first radio whose port is open: a run that
    // stops before that prints from this thread alone.
    for (auto& run : runs) {
        if (run->ExitStatus() == 0 && run->Start()) console.StartWriter();
    }

    // Each run goes on by itself; this thread only passes stop requests on and keeps the live
    // lines' times current. A stop never cuts a frame: each worker ends at its next wait. The
    // first act spares radios between erase and boot swap, which finish; the second stops them too.
    int actsPassed = 0;
    auto anyRunning = [&runs] {
        bool running = false;
        for (const auto& run : runs) running = run->Poll() || running;
        return running;
    };
    int ticks = 0;
    while (anyRunning()) {
        const int acts = stop != nullptr ? stop->Poll() : 0;
        if (acts > actsPassed) {
            actsPassed = acts;
            if (acts == 1) {
                console.Note(-1, "Stopping every radio before its erase; radios being programmed finish: do "
                                 "not unplug them. Stop again to stop those too (they will need recovery).");
                for (auto& run : runs) {
                    if (run->RequestStopBeforeErase()) console.Finishing(run->Index());
                }
            } else {
                console.Note(-1, "Stopping every radio at its next wait...");
                for (auto& run : runs) run->RequestStop();
            }
        }
        std::this_thread::sleep_for(20ms);
        if (++ticks % 25 == 0) console.Tick();
    }

    int completed = 0;
    bool interrupted = false;
    for (auto& run : runs) {
        result.radios.push_back(run->Summary());
        if (run->ExitStatus() == kExitCompleted) ++completed;
        if (run->ExitStatus() == kExitInterrupted) interrupted = true;
    }
    console.Finish();
    if (runs.size() == 1) {
        result.exitStatus = runs.front()->ExitStatus();
    } else if (interrupted) {
        result.exitStatus = kExitInterrupted;
    } else {
        result.exitStatus = completed == static_cast<int>(runs.size()) ? kExitCompleted : kExitRadioFailed;
    }
    console.Summary(result.radios,
                    {RecoveryCommand(result.radios, settings), SimulatedRecoveryCommand(result.radios, settings)},
                    result.exitStatus);
    return result;
}

}  // namespace kestro::cli
