#include "platform/SharedFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

namespace kestro {

namespace {

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

CreateResult CreateFileWith(const std::filesystem::path& path, std::string_view firstBytes) {
    // Written under a private name, then linked into place: link() fails when the name is taken,
    // so of two writers starting together exactly one puts its file there, already complete.
    std::string temp = path.string() + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) return CreateResult::Failed;
    const bool written = WriteAll(fd, firstBytes) && ::fsync(fd) == 0;
    ::fchmod(fd, 0644);
    ::close(fd);
    CreateResult result = CreateResult::Failed;
    if (written) {
        if (::link(temp.c_str(), path.c_str()) == 0) {
            result = CreateResult::Created;
        } else if (errno == EEXIST) {
            result = CreateResult::Exists;
        }
    }
    ::unlink(temp.c_str());
    return result;
}

bool AppendLocked(const std::filesystem::path& path, std::string_view bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    // Writers of this kind hold the lock for one write; a program that keeps the file locked
    // longer is not waited for beyond kLockWait, and the line goes in one appending write.
    const auto deadline = std::chrono::steady_clock::now() + kLockWait;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0 && (errno == EWOULDBLOCK || errno == EINTR) &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const bool written = WriteAll(fd, bytes);
    // Closing the descriptor releases the lock.
    ::close(fd);
    return written;
}

}  // namespace kestro
