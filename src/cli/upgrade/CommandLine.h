#pragma once
// The command line of kestro-upgrade: its options, their parsing (CLI11) and the port choice,
// turned into the settings the hub reads.

#include <filesystem>
#include <optional>
#include <string>

#include "platform/Settings.h"

namespace kestro::cli {

struct CommandLine {
    std::string port = "auto";           // auto, COMn or a device path
    std::filesystem::path firmware;      // empty: the kit's fixed firmware file
    std::filesystem::path log;           // empty: the kit's log path
    bool recovery = false;               // go straight to programming
    bool simulate = false;               // a simulated radio behind a pseudo-terminal
    std::string scenario = "normal";     // its set-up
    bool trace = false;                  // frames to standard error
};

// Parses argv. Returns the options, or nullopt with `exitCode` set when the program should end
// at once (0 after --help or --version, kExitUsage after a usage error, already reported).
std::optional<CommandLine> ParseCommandLine(int argc, const char* const* argv, int& exitCode);

// Stores the port choice as the hub's "AUTO" and "COM" settings: "auto" asks for the cable to be
// found, "COMn" (any case, n >= 1) selects port n, a device path is given a port number of its
// own. Returns false with a reason in `error` for anything else.
bool ApplyPortChoice(const std::string& port, ISettings& settings, std::string& error);

}  // namespace kestro::cli
