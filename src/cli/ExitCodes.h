#pragma once
// Exit statuses of kestro-upgrade, documented in its --help text, the manual page and the README.
// With several radios a port that cannot be opened counts as a radio not upgraded (1); 4 and 5
// are given only when there is one radio.

namespace kestro::cli {

inline constexpr int kExitCompleted = 0;     // every radio was upgraded
inline constexpr int kExitRadioFailed = 1;   // a radio was not upgraded; the summary says why
inline constexpr int kExitUsage = 2;         // the command line was wrong
inline constexpr int kExitFirmware = 3;      // the firmware file could not be used; no port opened
inline constexpr int kExitPort = 4;          // one radio: its port could not be opened or served
inline constexpr int kExitKit = 5;           // one radio: the kit could not run (no thread, no pty)
inline constexpr int kExitNotConfirmed = 6;  // a radio still reports its old firmware after its upgrade
inline constexpr int kExitInterrupted = 130; // Ctrl-C or SIGTERM ended the runs at their next wait

}  // namespace kestro::cli
