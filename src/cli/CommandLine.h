#pragma once
// The command line of kestro-upgrade: its options, their parsing (CLI11) and the port choice,
// turned into the settings each radio's hub reads.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/Settings.h"
#include "runcore/PortChoice.h"

namespace kestro::cli {

struct CommandLine {
    std::vector<std::string> ports;      // each --port: auto, COMn or a device path; none: auto
    bool all = false;                    // every connected programming cable
    std::filesystem::path firmware;      // empty: the kit's fixed firmware file
    std::filesystem::path log;           // empty: the kit's log path
    bool recovery = false;               // go straight to programming, on every port
    bool simulate = false;               // simulated radios behind pseudo-terminals
    std::vector<std::string> scenarios;  // one simulated radio each (--simulate alone: normal)
    bool trace = false;                  // frames to standard error
    bool json = false;                   // one JSON object per line on standard output
    int confirmWait = 15;                // seconds a radio may take to restart and answer after it
    bool noConfirm = false;              // end at the end of programming, as the window does
    bool check = false;                  // read the radios only, and say what an upgrade would do
    std::string historyServer;           // --history-server: libpq connection string; "" none given
};

// The history server's connection string: --history-server where given, else the environment's
// KESTRO_HISTORY_SERVER; "" where neither sets one (no server: nothing is sent).
std::string HistoryServerOf(const std::string& commandLine);

// Parses argv. Returns the options, or nullopt with `exitCode` set when the program should end
// at once (0 after --help or --version, kExitUsage after a usage error, already reported).
std::optional<CommandLine> ParseCommandLine(int argc, const char* const* argv, int& exitCode);

// The scenarios of --simulate, "a, b, c".
std::string ScenarioList();

}  // namespace kestro::cli
