// A port whose reads keep failing with an error that is not a hang-up: the engine reports it
// once and stops watching the port, instead of reporting every failure of a line that the wait
// keeps showing as readable. The test links with --wrap=read, so that reads of a terminal fail
// on demand while everything else reads as usual.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

#include "serial/CSerialPort.h"
#include "serial/PortNames.h"

namespace {
std::atomic<bool> g_failTtyReads{false};
std::atomic<int> g_failedReads{0};
}  // namespace

extern "C" ssize_t __real_read(int fd, void* buffer, size_t count);
extern "C" ssize_t __wrap_read(int fd, void* buffer, size_t count) {
    if (g_failTtyReads.load() && ::isatty(fd) != 0) {
        ++g_failedReads;
        errno = EPROTO;
        return -1;
    }
    return __real_read(fd, buffer, count);
}

namespace kestro {
namespace {

using namespace std::chrono_literals;

struct CountingOwner final : IPortOwner {
    void OnSerialRxChar(std::uint8_t, int) override { ++bytes; }
    void OnPortError(const std::string&, int) override { ++errors; }
    std::atomic<int> bytes{0};
    std::atomic<int> errors{0};
};

TEST(SerialReadFailure, APortThatKeepsFailingIsReportedOnceAndNoLongerWatched) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    constexpr int kPort = 98;
    RegisterPortDevice(kPort, ::ptsname(master));

    CountingOwner owner;
    CSerialPort port;
    ASSERT_TRUE(port.OpenPort(&owner, kPort)) << port.LastOpenError();
    ASSERT_TRUE(port.StartPortThread());

    std::this_thread::sleep_for(100ms);  // past the purge the port thread makes as it starts
    g_failTtyReads = true;
    const std::uint8_t byte = 0x5A;
    ASSERT_EQ(::write(master, &byte, 1), 1);
    // The byte stays queued, so a port still watched would wake the thread at once, over and over.
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(owner.errors.load(), 1);
    EXPECT_EQ(g_failedReads.load(), 2);
    EXPECT_EQ(owner.bytes.load(), 0);

    g_failTtyReads = false;
    port.ClosePort();  // the stop handshake still works
    UnregisterPortDevice(kPort);
    ::close(master);
}

}  // namespace
}  // namespace kestro
