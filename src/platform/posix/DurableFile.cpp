#include "platform/DurableFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

namespace kestro {

namespace {

std::string Reason(const std::string& what, const std::filesystem::path& where, int error) {
    return what + " " + where.string() + ": " + std::strerror(error);
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// A rename or an unlink is on the disk only once its folder is.
bool SyncFolder(const std::filesystem::path& folder, std::string& error) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        error = Reason("cannot open the folder", folder, errno);
        return false;
    }
    const bool synced = ::fsync(fd) == 0 || errno == EINVAL;  // some file systems cannot
    const int saved = errno;
    ::close(fd);
    if (!synced) error = Reason("cannot flush the folder", folder, saved);
    return synced;
}

}  // namespace

bool WriteFileDurably(const std::filesystem::path& path, std::string_view bytes, std::string& error) {
    if (!CreateFolderOf(path, error)) return false;
    const std::filesystem::path folder = FolderOf(path);
    std::string temporary = path.string() + ".tmpXXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        error = Reason("cannot create a file in", folder, errno);
        return false;
    }
    bool ok = WriteAll(fd, bytes);
    if (!ok) error = Reason("cannot write", temporary, errno);
    if (ok && ::fsync(fd) != 0) {
        error = Reason("cannot flush", temporary, errno);
        ok = false;
    }
    ::fchmod(fd, 0644);
    if (::close(fd) != 0 && ok) {
        error = Reason("cannot close", temporary, errno);
        ok = false;
    }
    if (ok && ::rename(temporary.c_str(), path.c_str()) != 0) {
        error = Reason("cannot rename a file to", path, errno);
        ok = false;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        return false;
    }
    return SyncFolder(folder, error);
}

bool RemoveFileDurably(const std::filesystem::path& path, std::string& error) {
    if (::unlink(path.c_str()) != 0) {
        if (errno == ENOENT) return true;
        error = Reason("cannot remove", path, errno);
        return false;
    }
    return SyncFolder(FolderOf(path), error);
}

}  // namespace kestro
