// The order in which a durable write reaches the disk, seen through the system calls themselves:
// this program is linked with fsync, rename and unlink wrapped (-Wl,--wrap), so every call the
// durable-file layer makes is recorded before it is passed on.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/DurableFile.h"

extern "C" int __real_fsync(int fd);
extern "C" int __real_rename(const char* from, const char* to);
extern "C" int __real_unlink(const char* path);

namespace {

std::vector<std::string> g_calls;

// "sync file <bytes>", "sync folder <inode>", "rename <to>", "unlink <path>".
std::string Describe(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return "sync ?";
    if (S_ISDIR(st.st_mode)) return "sync folder " + std::to_string(st.st_ino);
    std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
    if (::pread(fd, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())) return "sync file ?";
    return "sync file " + bytes;
}

}  // namespace

extern "C" int __wrap_fsync(int fd) {
    g_calls.push_back(Describe(fd));
    return __real_fsync(fd);
}
extern "C" int __wrap_rename(const char* from, const char* to) {
    g_calls.push_back(std::string("rename ") + to);
    return __real_rename(from, to);
}
extern "C" int __wrap_unlink(const char* path) {
    g_calls.push_back(std::string("unlink ") + path);
    return __real_unlink(path);
}

namespace kestro {
namespace {

std::string FolderInode(const std::filesystem::path& folder) {
    struct stat st {};
    ::stat(folder.c_str(), &st);
    return std::to_string(st.st_ino);
}

TEST(DurableFile, TheBytesAreOnTheDiskBeforeTheRenameAndTheFolderAfterIt) {
    const auto folder = std::filesystem::temp_directory_path() / ("kestro-durable-" + std::to_string(::getpid()));
    const auto file = folder / "record.state";
    std::string error;
    g_calls.clear();
    ASSERT_TRUE(WriteFileDurably(file, "port=COM3\n", error)) << error;
    const std::string synced = "sync folder " + FolderInode(folder);
    EXPECT_EQ(g_calls, (std::vector<std::string>{"sync file port=COM3\n", "rename " + file.string(), synced}));

    g_calls.clear();
    ASSERT_TRUE(RemoveFileDurably(file, error)) << error;
    EXPECT_EQ(g_calls, (std::vector<std::string>{"unlink " + file.string(), synced}));
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace kestro
