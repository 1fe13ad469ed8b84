// kestro-upgrade: the kit's upgrade run without a window, for scripts, for test stations and for
// a first look with --simulate; one radio or several at once. Each radio's run is the window's
// run: the same hub, worker, checks, texts and log.

#include <csignal>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string_view>

#include "cli/CommandLine.h"
#include "cli/ExitCodes.h"
#include "cli/Fleet.h"
#include "cli/HistoryCommand.h"
#include "cli/ReportCommand.h"
#include "history/HistoryPush.h"
#include "history/SqliteHistory.h"
#include "platform/Paths.h"
#include "platform/RealClock.h"
#include "platform/StopActs.h"
#include "platform/StopRequests.h"
#include "platform/Terminal.h"
#include "serial/PortDiscovery.h"

using namespace kestro;
using namespace kestro::cli;

namespace {

// Waits a little for the last push, then says what is still to be sent. The runs themselves are
// safe in this PC's history either way.
void ReportPush(HistoryPusher& pusher, std::ostream& err) {
    if (!pusher.WaitIdle(std::chrono::seconds(ServerHistory::kConnectTimeoutSeconds * 3))) {
        err << "kestro-upgrade: the history server (" << pusher.Shown()
            << ") is slow to answer: runs not yet sent are sent with a later run\n";
        return;
    }
    const PushResult last = pusher.Last();
    if (!last.Ok()) err << "kestro-upgrade: " << last.error << "\n";
    if (last.unsent > 0) {
        err << "kestro-upgrade: pending: " << last.unsent << (last.unsent == 1 ? " run" : " runs")
            << " not yet sent to the history server; they are sent with a later run\n";
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string_view(argv[1]) == "history") {
        return RunHistoryCommand(argc - 1, argv + 1, std::cout, std::cerr, DefaultHistoryPath());
    }
    if (argc > 1 && std::string_view(argv[1]) == "report") {
        return RunReportCommand(argc - 1, argv + 1, std::cout, std::cerr);
    }
    int exitCode = kExitCompleted;
    const auto options = ParseCommandLine(argc, argv, exitCode);
    if (!options) return exitCode;

    std::vector<RadioTarget> radios;
    if (options->simulate) {
        for (const std::string& scenario : options->scenarios) radios.push_back({"", scenario});
    } else if (options->all) {
        for (std::string& port : FindCablePortsIn(DefaultSysfsRoot())) radios.push_back({port, ""});
        if (radios.empty()) {
            std::fprintf(stderr, "kestro-upgrade: --all found no programming cable (USB 10C4:EA60)\n");
            return kExitUsage;
        }
    } else if (options->ports.empty()) {
        radios.push_back({"auto", ""});
    } else {
        for (const std::string& port : options->ports) radios.push_back({port, ""});
    }

    const OutputMode mode = options->json          ? OutputMode::Json
                            : IsTerminal(stdout) ? OutputMode::Live
                                                   : OutputMode::Lines;
    FleetConsole console(stdout, mode);
    RunSettings settings;
    settings.firmware = options->firmware;
    settings.log = options->log;
    settings.recovery = options->recovery;
    settings.trace = options->trace;
    settings.historyFrontEnd = kFrontEndCommandLine;
    settings.confirmWait = options->noConfirm ? std::chrono::milliseconds(0) : std::chrono::seconds(options->confirmWait);
    settings.checkOnly = options->check;
    if (settings.checkOnly) settings.confirmWait = std::chrono::milliseconds(0);

    if (!settings.checkOnly && settings.log.empty() && DefaultLogLeftProgramFolder()) {
        // A per-machine install run by a standard user: say where the technician's records go.
        std::fprintf(stderr,
                     "kestro-upgrade: the program's folder is not writable: the log is %s, and "
                     "recovery records are kept beside it\n",
                     DefaultLogPath().string().c_str());
    }

    StopActs stops(CountStopRequests(), RealClock::Instance());
#ifdef SIGPIPE
    // A line or helper pipe whose far end has gone must give an error, not end the program.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    // Each run goes to this PC's history first; the pusher sends it on to the server, if one is
    // set, without holding up any run.
    std::unique_ptr<HistoryPusher> pusher;
    if (const std::string server = HistoryServerOf(options->historyServer); !server.empty()) {
        settings.historyServer = server;
        pusher = std::make_unique<HistoryPusher>(DefaultHistoryPath(), server);
        settings.historyAdded = [&pusher] { pusher->Request(); };
    }
    const int status = RunFleet(radios, settings, console, &stops).exitStatus;
    if (pusher) ReportPush(*pusher, std::cerr);
    return status;
}
