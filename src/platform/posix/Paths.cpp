#include "platform/Paths.h"

#include <unistd.h>

#include <cstdlib>
#include <system_error>

namespace kestro {

std::filesystem::path ExecutablePath() {
    std::error_code ec;
    auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path{} : path;
}

std::filesystem::path DefaultFirmwarePath() {
    const auto exe = ExecutablePath();
    const auto prefix = exe.empty() ? std::filesystem::path{"."} : exe.parent_path().parent_path();
    return prefix / "share" / "kestro-upgrade-kit" / "samples" / kFirmwareFileName;
}

std::filesystem::path DefaultLogPath() {
    std::filesystem::path state;
    if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg != nullptr && xdg[0] == '/') {
        state = xdg;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
        state = std::filesystem::path{home} / ".local" / "state";
    } else {
        state = std::filesystem::temp_directory_path();
    }
    return state / "kestro-upgrade-kit" / kLogFileName;
}

bool DefaultLogLeftProgramFolder() { return false; }

}  // namespace kestro
