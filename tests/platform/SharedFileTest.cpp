// The log's lock as another writer meets it: a writer of this kind that holds the lock while it
// writes a line in pieces is waited for, so no other line goes into the middle of it.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/SharedFile.h"

namespace kestro {
namespace {

TEST(SharedFile, AnAppendWaitsForTheWriterThatHoldsTheLock) {
    const auto log = std::filesystem::temp_directory_path() / ("kestro-shared-" + std::to_string(::getpid()));
    ASSERT_EQ(CreateFileWith(log, "header\n"), CreateResult::Created);
    // The other writer: its own open file, so its lock is its own even in this process.
    const int fd = ::open(log.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    const auto locked = std::chrono::steady_clock::now();
    ASSERT_EQ(::write(fd, "first half, ", 12), 12);

    std::atomic<bool> appending{false};
    bool appended = false;
    std::thread other([&] {
        appending = true;
        appended = AppendLocked(log, "another line\n");
    });
    while (!appending) std::this_thread::yield();
    // Time for the append to go in, were it not held up.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_EQ(::write(fd, "second half\n", 12), 12);
    const auto held = std::chrono::steady_clock::now() - locked;
    ::close(fd);
    other.join();

    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    std::filesystem::remove(log);
    EXPECT_TRUE(appended);
    // A lock held longer than kLockWait is not waited for: the machine was too slow to tell.
    if (held >= kLockWait) GTEST_SKIP() << "the lock was held past kLockWait";
    EXPECT_EQ(text.str(), "header\nfirst half, second half\nanother line\n");
}

}  // namespace
}  // namespace kestro
