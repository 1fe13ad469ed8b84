// kestro-upgrade: the kit's upgrade run without a window, for scripts and for a first look with
// --simulate. The run is the window's run: the same hub, worker, checks, texts and log.

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <thread>

#include "cli/upgrade/CommandLine.h"
#include "cli/upgrade/ConsoleReporter.h"
#include "cli/upgrade/ExitCodes.h"
#include "cli/upgrade/FrameTrace.h"
#include "platform/Settings.h"
#include "platform/Terminal.h"
#include "upgrade/PortSetting.h"
#include "upgrade/UpgradeHub.h"
#if KESTRO_HAVE_SIMULATION
#include "cli/upgrade/SimulatedLine.h"
#endif

namespace {

using namespace kestro;
using namespace kestro::cli;

volatile std::sig_atomic_t g_stopSignal = 0;

extern "C" void OnStopSignal(int /*signal*/) { g_stopSignal = 1; }

constexpr const char* kRecoveryHint =
    "The radio was left between erase and boot swap and does not start as it is. Run "
    "kestro-upgrade again with --recovery (and the same port) to finish programming it.";

// A word as the shell reads it back unchanged.
std::string ShellWord(const std::string& word) {
    if (!word.empty() && word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                                "0123456789_-./=:,+@%") == std::string::npos) {
        return word;
    }
    std::string quoted = "'";
    for (const char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// The command that finishes the radio a record names, with the files this run was given.
std::string FinishCommand(const RecoveryRecord& record, const CommandLine& options) {
    std::string command = "kestro-upgrade --port " + ShellWord(record.PortArgument());
    if (!options.firmware.empty()) command += " --firmware " + ShellWord(options.firmware.string());
    if (!options.log.empty()) command += " --log " + ShellWord(options.log.string());
    return command + " --recovery";
}

// A run that is not a recovery run, on a port where an earlier run left a radio between erase and
// boot swap: the run goes ahead as asked, and the user learns how to finish that radio.
void TellOfRememberedRecovery(const CUpgradeHub& hub, ISettings& settings,
                              const CommandLine& options, ConsoleReporter& reporter) {
    std::string note;
    const auto record = hub.RememberedRecovery(PortNumberFromSettings(settings), &note);
    if (!note.empty()) reporter.Note("kestro-upgrade: " + note);
    if (!record || options.recovery) return;
    reporter.Note("kestro-upgrade: an upgrade of the radio on " + record->Describe() +
                  " stopped between erase and boot swap on " + record->SinceText() +
                  " and may have left it without firmware; finish it with: " +
                  FinishCommand(*record, options));
}

int ExitFor(RunOutcome outcome) {
    switch (outcome) {
        case RunOutcome::Completed: return kExitCompleted;
        case RunOutcome::Failed: return kExitRadioFailed;
        case RunOutcome::Interrupted: return kExitInterrupted;
        case RunOutcome::None: break;
    }
    return kExitKit;
}

}  // namespace

int main(int argc, char** argv) {
    int exitCode = kExitCompleted;
    const auto options = ParseCommandLine(argc, argv, exitCode);
    if (!options) return exitCode;

    ConsoleReporter reporter(stdout, IsTerminal(stdout));
    MemorySettings settings;
    std::string error;
#if KESTRO_HAVE_SIMULATION
    std::unique_ptr<SimulatedLine> line;
#endif
    if (options->simulate) {
#if KESTRO_HAVE_SIMULATION
        line = std::make_unique<SimulatedLine>();
        if (!line->Start(options->scenario, error)) {
            std::fprintf(stderr, "kestro-upgrade: %s\n", error.c_str());
            return kExitKit;
        }
        reporter.Note("Simulated radio (scenario " + options->scenario + ") on " +
                      line->DevicePath() + " as " + line->PortChoice());
        ApplyPortChoice(line->PortChoice(), settings, error);
#else
        std::fprintf(stderr,
                     "kestro-upgrade: --simulate needs pseudo-terminals, which this build lacks; "
                     "run kestro-radio-sim on Linux and choose its port instead\n");
        return kExitUsage;
#endif
    } else if (!ApplyPortChoice(options->port, settings, error)) {
        std::fprintf(stderr, "kestro-upgrade: %s\n", error.c_str());
        return kExitUsage;
    }

    FrameTrace trace(stderr);
    CUpgradeHub::Options hubOptions;
    hubOptions.firmwarePath = options->firmware;
    hubOptions.logPath = options->log;
    if (options->trace) hubOptions.portOwner = &trace;
    // A simulated radio ends with the process: nothing to remember for it.
    if (!options->simulate) hubOptions.recoveryFolder = DefaultRecoveryFolder();
    CUpgradeHub hub(reporter, settings, hubOptions);
    if (options->trace) {
        trace.SetNext(&hub);
        hub.m_request.SetSendObserver([&trace](const Frame& frame) { trace.OnSent(frame.view()); });
    }

    hub.OnInitialUpdate();
    TellOfRememberedRecovery(hub, settings, *options, reporter);
    if (options->recovery) hub.SetRecoveryMode(true);
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
#ifdef SIGPIPE
    // A line or helper pipe whose far end has gone must give an error, not end the program.
    std::signal(SIGPIPE, SIG_IGN);
#endif

    switch (hub.OnUpgrade()) {
        case StartResult::Started: break;
        case StartResult::LoadFailed:
            std::fprintf(stderr, "kestro-upgrade: cannot use the firmware file %s\n",
                         options->firmware.empty() ? "of the kit"
                                                   : options->firmware.string().c_str());
            return kExitFirmware;
        case StartResult::PortFailed: {
            const std::string detail = hub.Engine().LastOpenError();
            if (!detail.empty()) std::fprintf(stderr, "kestro-upgrade: %s\n", detail.c_str());
            return kExitPort;
        }
        case StartResult::NoPortThread:
            std::fprintf(stderr, "kestro-upgrade: the port's thread could not be started\n");
            return kExitKit;
        case StartResult::NoWorker:
        case StartResult::Busy: return kExitKit;
    }

    // The worker runs; this thread waits for it and passes a stop request on. Ctrl-C never cuts
    // a frame: the worker ends at its next wait, through the end sequence of its step.
    bool stopAsked = false;
    while (hub.UpgradeRunning()) {
        if (g_stopSignal != 0 && !stopAsked) {
            stopAsked = true;
            reporter.Note("Stopping at the next wait...");
            hub.RequestStop();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    hub.JoinWorker();
    trace.Flush();

    if (hub.m_recoveryMode.load() == 1) reporter.Note(kRecoveryHint);
    return ExitFor(hub.LastOutcome());
}
