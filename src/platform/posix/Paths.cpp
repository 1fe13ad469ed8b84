#include "platform/Paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
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

std::filesystem::path StateFolder() {
    std::filesystem::path state;
    if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg != nullptr && xdg[0] == '/') {
        state = xdg;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        state = std::filesystem::path{home} / ".local" / "state";
    } else {
        return {};
    }
    return state / "kestro-upgrade-kit";
}

bool PrepareStateFolder(std::string& error) {
    const std::filesystem::path folder = StateFolder();
    if (folder.empty()) {
        error = kNoStateFolder;
        return false;
    }
    std::error_code ec;
    std::filesystem::create_directories(folder.parent_path(), ec);
    // Only its owner may put, replace or remove a record or the log there.
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        error = "cannot create the folder " + folder.string() + ": " + std::strerror(errno);
        return false;
    }
    struct stat entry {};
    struct stat target {};
    if (::lstat(folder.c_str(), &entry) != 0 || ::stat(folder.c_str(), &target) != 0) {
        error = "cannot use the folder " + folder.string() + ": " + std::strerror(errno);
        return false;
    }
    const uid_t me = ::geteuid();
    if (S_ISLNK(entry.st_mode) && entry.st_uid != me && entry.st_uid != 0) {
        error = "the folder " + folder.string() + " is a symbolic link of another user: remove it";
        return false;
    }
    if (!S_ISDIR(target.st_mode) || target.st_uid != me) {
        error = "the folder " + folder.string() + (S_ISLNK(entry.st_mode) ? " leads to" : " is") +
                (S_ISDIR(target.st_mode) ? " a folder of another user" : " not a folder") +
                ": remove it, or set XDG_STATE_HOME to a folder of your own";
        return false;
    }
    return true;
}

std::filesystem::path DefaultLogPath() {
    const std::filesystem::path folder = StateFolder();
    return folder.empty() ? folder : folder / kLogFileName;
}

bool DefaultLogLeftProgramFolder() { return false; }

}  // namespace kestro
