#include "cli/CommandLine.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "cli/ExitCodes.h"
#include "radio/Scenarios.h"
#include "runcore/PortChoice.h"

namespace kestro::cli {

namespace {

std::string Footer() {
    std::string text =
        "Scenarios of --simulate:\n";
    for (const auto& s : Scenarios()) {
        text += "  " + std::string(s.name) + ": " + std::string(s.description) + "\n";
    }
    text +=
        "\nkestro-upgrade history [--serial S] [--since DATE] [--json | --csv] [--latest]:\n"
        "  the runs of this PC's history, newest first (kestro-upgrade history --help)\n"
        "\nkestro-upgrade report --from SOURCE... [--fleet SERIALS.csv] --html OUT.html [--csv OUT.csv]:\n"
        "  the campaign report over history servers, history files and CSV logs\n";
    text +=
        "\nkestro-upgrade --check [--port P ... | --all | --simulate=...] [--json]: a read-only check; exit\n"
        "  status 0 when every radio could be read (whatever its verdict), 1 when one could not\n";
    text +=
        "\nExit status:\n"
        "  0    every radio was upgraded\n"
        "  1    a radio was not upgraded (the message and the summary say which and why)\n"
        "  2    usage error\n"
        "  3    the firmware file could not be used; no port was opened\n"
        "  4    one radio: its port could not be opened\n"
        "  5    one radio: the kit could not run (no thread, no pseudo-terminal)\n"
        "  6    a radio still reports its old firmware after its upgrade (not confirmed)\n"
        "  130  a run was interrupted by Ctrl-C, SIGTERM or SIGHUP (the first spares radios being\n"
        "       programmed, which finish; a second stops them too)\n";
    return text;
}

std::vector<std::string> SplitScenarios(const std::string& value) {
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start <= value.size()) {
        const std::size_t comma = std::min(value.find(',', start), value.size());
        names.push_back(value.substr(start, comma - start));
        start = comma + 1;
    }
    return names;
}

}  // namespace

std::string ScenarioList() {
    std::string list;
    for (const auto& s : Scenarios()) list += (list.empty() ? "" : ", ") + std::string(s.name);
    return list;
}

std::optional<CommandLine> ParseCommandLine(int argc, const char* const* argv, int& exitCode) {
    CommandLine options;
    CLI::App app{"Upgrades the firmware of a Kestro radio over its programming cable."};
    app.name("kestro-upgrade");
    app.footer(Footer());
    app.set_version_flag("--version", std::string("kestro-upgrade ") + KESTRO_VERSION_TEXT);

    std::vector<std::string> scenarios;
    for (const auto& s : Scenarios()) scenarios.emplace_back(s.name);

    std::string simulateValue;
    auto* port = app.add_option("--port", options.ports,
                                "auto (find the cable, the default), COMn, or a device path; "
                                "repeat it for several radios at once")
                     ->expected(1)
                     ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
                     // Every port is checked here, before any file is created or port opened.
                     ->check(PortFormProblem, "PORT");
    auto* all = app.add_flag("--all", options.all, "every connected programming cable at once");
    app.add_option("--firmware", options.firmware, "firmware file (default: the kit's own)");
    app.add_option("--log", options.log, "CSV log of runs (default: the kit's log)");
    app.add_flag("--recovery", options.recovery,
                 "go straight to programming, on every port: finishes a radio left between erase "
                 "and boot swap");
    auto* simulate =
        app.add_option("--simulate", simulateValue,
                       "upgrade simulated radios on pseudo-terminals, one per scenario "
                       "(comma-separated); SCENARIO defaults to normal")
            ->expected(0, 1)
            ->type_name("[SCENARIO[,SCENARIO...]]")
            ->check([&scenarios](const std::string& value) -> std::string {
                if (value.empty()) return {};
                for (const std::string& name : SplitScenarios(value)) {
                    if (std::find(scenarios.begin(), scenarios.end(), name) == scenarios.end()) {
                        return "unknown scenario \"" + name + "\"; the scenarios are: " +
                               ScenarioList();
                    }
                }
                return {};
            });
    app.add_flag("--trace", options.trace, "print every frame sent and received to standard error");
    auto* confirmWait = app.add_option("--confirm-wait", options.confirmWait,
                                       "seconds the radio may take to restart and answer on its new firmware "
                                       "(default 15)")
                            ->check(CLI::Range(1, 600));
    app.add_flag("--no-confirm", options.noConfirm,
                 "end at the end of programming, without asking the restarted radio what it runs")
        ->excludes(confirmWait);
    auto* check = app.add_flag("--check", options.check,
                               "read each radio and say what an upgrade would do (run, stop and why, or "
                               "restore the codeplug); reads only: it sends nothing that writes, restores, "
                               "resets or programs the radio, and writes no log line");
    app.add_flag("--json", options.json,
                 "one JSON object per line on standard output, for scripts and test stations");
    app.add_option("--history-server", options.historyServer,
                   "also send each run to this PostgreSQL history server (a libpq connection "
                   "string or URI; default: $KESTRO_HISTORY_SERVER)")
        ->type_name("CONNINFO");
    for (const char* name : {"--firmware", "--recovery", "--no-confirm", "--confirm-wait", "--log"}) {
        check->excludes(app.get_option(name));
    }
    simulate->excludes(port);
    simulate->excludes(all);
    all->excludes(port);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        exitCode = code == 0 ? kExitCompleted : kExitUsage;
        return std::nullopt;
    }
    options.simulate = simulate->count() > 0;
    if (options.simulate) {
        options.scenarios =
            simulateValue.empty() ? std::vector<std::string>{"normal"} : SplitScenarios(simulateValue);
    }
    return options;
}

std::string HistoryServerOf(const std::string& commandLine) {
    if (!commandLine.empty()) return commandLine;
    const char* environment = std::getenv("KESTRO_HISTORY_SERVER");
    return environment != nullptr ? environment : "";
}

}  // namespace kestro::cli
