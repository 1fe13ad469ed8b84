#pragma once
// Exit statuses of kestro-upgrade, documented in its --help text, the manual page and the README.

namespace kestro::cli {

inline constexpr int kExitCompleted = 0;     // the radio was upgraded
inline constexpr int kExitRadioFailed = 1;   // a check or a step failed at the radio
inline constexpr int kExitUsage = 2;         // the command line was wrong
inline constexpr int kExitFirmware = 3;      // the firmware file could not be used
inline constexpr int kExitPort = 4;          // the port could not be opened or served
inline constexpr int kExitKit = 5;           // the kit itself could not run (no thread, no pty)
inline constexpr int kExitInterrupted = 130; // Ctrl-C or SIGTERM ended the run at its next wait

}  // namespace kestro::cli
