#pragma once
// Where the kit finds its files: its own program file, the firmware file it ships with and the
// upgrade log. The rules differ per platform; each back end (posix/, win32/) implements them.

#include <filesystem>
#include <string>

namespace kestro {

// Full path of the running program file; empty when it cannot be found.
std::filesystem::path ExecutablePath();

// The fixed firmware file. Linux: <prefix>/share/kestro-upgrade-kit/samples/zqt_upg.pvx, with
// <prefix> the parent of the program's bin/ folder (a build tree has the same shape).
// Windows: the Program Files path, chosen by whether the process runs under WOW64.
std::filesystem::path DefaultFirmwarePath();

// The upgrade log file. Linux: $XDG_STATE_HOME/kestro-upgrade-kit/Kestro_UpdateKit_log.csv
// (default ~/.local/state/...). Windows: beside the program file; where the program's folder is
// not writable (a per-machine install), %LOCALAPPDATA%\Kestro Upgrade Kit\.
std::filesystem::path DefaultLogPath();

// Whether DefaultLogPath() (and the recovery records in its folder) left the program's folder
// because that folder is not writable. Always false on Linux, where the log never lives there.
bool DefaultLogLeftProgramFolder();

inline constexpr const char* kFirmwareFileName = "zqt_upg.pvx";
inline constexpr const char* kLogFileName = "Kestro_UpdateKit_log.csv";
inline constexpr const char* kLocalStateFolderName = "Kestro Upgrade Kit";

}  // namespace kestro
