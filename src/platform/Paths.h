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

// The kit's state folder, which holds the default log and the recovery records. Linux:
// $XDG_STATE_HOME/kestro-upgrade-kit (default ~/.local/state/kestro-upgrade-kit); empty when
// neither XDG_STATE_HOME nor HOME is set: there is no safe place then (a shared folder such as
// /tmp would let another user plant or remove files there). Windows: beside the program file;
// where the program's folder is not writable (a per-machine install),
// %LOCALAPPDATA%\Kestro Upgrade Kit\.
std::filesystem::path StateFolder();

// Makes the state folder ready before anything is written there: created when missing (Linux:
// mode 0700, its parents as usual). False with `error` saying what to do when there is no state
// folder, when it cannot be created, or when it (or a symbolic link in its place, or the folder
// that link leads to) belongs to another user.
bool PrepareStateFolder(std::string& error);

// The upgrade log file: Kestro_UpdateKit_log.csv in the state folder; empty when there is none.
std::filesystem::path DefaultLogPath();

// Whether DefaultLogPath() (and the recovery records in its folder) left the program's folder
// because that folder is not writable. Always false on Linux, where the log never lives there.
bool DefaultLogLeftProgramFolder();

inline constexpr const char* kNoStateFolder =
    "there is no folder for the log and the recovery records: neither XDG_STATE_HOME nor HOME is "
    "set (set one of them, e.g. HOME=/home/technician)";
inline constexpr const char* kFirmwareFileName = "zqt_upg.pvx";
inline constexpr const char* kLogFileName = "Kestro_UpdateKit_log.csv";
inline constexpr const char* kLocalStateFolderName = "Kestro Upgrade Kit";

}  // namespace kestro
