#include "platform/SharedFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <system_error>
#include <thread>

namespace kestro {

namespace {

// Writes all of `bytes`; on failure returns the error number (EIO for a write that took nothing),
// with `written` telling how many went in before it.
int WriteAll(int fd, std::string_view bytes, std::size_t& written) {
    written = 0;
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return EIO;
        bytes.remove_prefix(static_cast<std::size_t>(n));
        written += static_cast<std::size_t>(n);
    }
    return 0;
}

bool Failed(std::string* failure, const std::string& reason) {
    if (failure != nullptr) *failure = reason;
    return false;
}

std::string ErrorText(int error) {
    return std::system_category().message(error);
}

}  // namespace

CreateResult CreateFileWith(const std::filesystem::path& path, std::string_view firstBytes) {
    // Written under a private name, then linked into place: link() fails when the name is taken,
    // so of two writers starting together exactly one puts its file there, already complete.
    std::string temp = path.string() + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) return CreateResult::Failed;
    std::size_t taken = 0;
    const bool written = WriteAll(fd, firstBytes, taken) == 0 && ::fsync(fd) == 0;
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

namespace {

bool ForeignLink(const std::filesystem::path& path) {
    struct stat entry {};
    return ::lstat(path.c_str(), &entry) == 0 && S_ISLNK(entry.st_mode) && entry.st_uid != ::geteuid() &&
           entry.st_uid != 0;
}

}  // namespace

bool CanOpenForAppend(const std::filesystem::path& path, std::string* failure) {
    if (ForeignLink(path)) return Failed(failure, "it is a symbolic link of another user");
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return Failed(failure, ErrorText(errno));
    ::close(fd);
    return true;
}

bool AppendLocked(const std::filesystem::path& path, std::string_view bytes,
                  std::string* failure) {
    return AppendLockedAfterHead(path, {}, bytes, failure);
}

bool AppendLockedAfterHead(const std::filesystem::path& path, std::string_view head,
                           std::string_view bytes, std::string* failure) {
    // Another user's symbolic link in the file's place would take the bytes into any file that
    // the kit may write (as root: every file).
    if (ForeignLink(path)) return Failed(failure, "it is a symbolic link of another user");
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return Failed(failure, ErrorText(errno));
    // Writers of this kind hold the lock for one append; a program that keeps the file locked
    // longer is not waited for beyond kLockWait, and the bytes then go in without the lock.
    const auto deadline = std::chrono::steady_clock::now() + kLockWait;
    bool locked = false;
    while (!(locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0) &&
           (errno == EWOULDBLOCK || errno == EINTR) &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // Only a holder of the lock knows that the end it found is still the end when it cuts back:
    // without it, cutting could take another writer's bytes.
    struct stat before {};
    const bool sized = ::fstat(fd, &before) == 0;
    const bool canUndo = locked && sized;
    // Without the lock the size may be stale: a head is then written only to a file found empty.
    std::string withHead;
    if (!head.empty() && sized && before.st_size == 0) {
        withHead.reserve(head.size() + bytes.size());
        withHead.append(head).append(bytes);
        bytes = withHead;
    }
    std::size_t written = 0;
    const int error = WriteAll(fd, bytes, written);
    bool undone = written == 0;
    if (error != 0 && written > 0 && canUndo) undone = ::ftruncate(fd, before.st_size) == 0;
    // Closing the descriptor releases the lock.
    ::close(fd);
    if (error == 0) return true;
    std::string reason = ErrorText(error);
    if (!undone) reason += "; the file may end in part of the bytes";
    return Failed(failure, reason);
}

}  // namespace kestro
