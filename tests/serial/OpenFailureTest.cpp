// The engine's ways out of a failed open and out of an interrupted send, on a pseudo-terminal.
// The test links with --wrap for tcsetattr, write and poll, so that the line set-up fails, a
// write comes up short and a wait is cut by a signal on demand, for this terminal only.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

#include "serial/CSerialPort.h"
#include "serial/PortNames.h"

namespace {

std::atomic<dev_t> g_device{0};            // the terminal the faults apply to
std::atomic<bool> g_refuseSetup{false};    // tcsetattr fails
std::atomic<int> g_shortWrites{0};         // writes left to cut: 2 = one byte, then "full"
std::atomic<bool> g_interruptWait{false};  // the next wait for room ends with EINTR

bool IsTheDevice(int fd) {
    struct stat info {};
    return g_device.load() != 0 && ::fstat(fd, &info) == 0 && S_ISCHR(info.st_mode) &&
           info.st_rdev == g_device.load();
}

}  // namespace

extern "C" int __real_tcsetattr(int fd, int action, const termios* settings);
extern "C" int __wrap_tcsetattr(int fd, int action, const termios* settings) {
    if (g_refuseSetup.load() && IsTheDevice(fd)) {
        errno = EINVAL;
        return -1;
    }
    return __real_tcsetattr(fd, action, settings);
}

extern "C" ssize_t __real_write(int fd, const void* bytes, size_t count);
extern "C" ssize_t __wrap_write(int fd, const void* bytes, size_t count) {
    if (g_shortWrites.load() > 0 && IsTheDevice(fd)) {
        if (g_shortWrites.fetch_sub(1) == 2) return __real_write(fd, bytes, 1);
        errno = EAGAIN;
        return -1;
    }
    return __real_write(fd, bytes, count);
}

extern "C" int __real_poll(pollfd* fds, nfds_t count, int timeout);
extern "C" int __wrap_poll(pollfd* fds, nfds_t count, int timeout) {
    if (count == 1 && (fds[0].events & POLLOUT) != 0 && IsTheDevice(fds[0].fd) &&
        g_interruptWait.exchange(false)) {
        errno = EINTR;
        return -1;
    }
    return __real_poll(fds, count, timeout);
}

namespace kestro {
namespace {

using namespace std::chrono_literals;

struct QuietOwner final : IPortOwner {
    void OnSerialRxChar(std::uint8_t, int) override {}
    void OnPortError(const std::string&, int) override {}
};

constexpr int kPort = 97;

class OpenFailure : public ::testing::Test {
  protected:
    void SetUp() override {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(master, 0);
        ASSERT_EQ(::grantpt(master), 0);
        ASSERT_EQ(::unlockpt(master), 0);
        path = ::ptsname(master);
        struct stat info {};
        ASSERT_EQ(::stat(path.c_str(), &info), 0);
        g_device = info.st_rdev;
        RegisterPortDevice(kPort, path);
        // The test's own view of the device, to see its lock and exclusive flag.
        probe = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(probe, 0);
    }
    void TearDown() override {
        g_device = 0;
        UnregisterPortDevice(kPort);
        ::close(probe);
        ::close(master);
    }
    int Exclusive() const {
        int flag = -1;
        ::ioctl(probe, TIOCGEXCL, &flag);
        return flag;
    }

    int master = -1;
    int probe = -1;
    std::string path;
    QuietOwner owner;
};

TEST_F(OpenFailure, AFailedOpenLeavesTheDeviceAsItFoundIt) {
    // A line that cannot be set up is let go: no lock, no exclusive flag, and the next engine
    // (another run or another kit) opens it.
    {
        CSerialPort port;
        g_refuseSetup = true;
        EXPECT_FALSE(port.OpenPort(&owner, kPort));
        g_refuseSetup = false;
        EXPECT_NE(port.LastOpenError().find("cannot configure"), std::string::npos);
        EXPECT_EQ(Exclusive(), 0);
        CSerialPort next;
        EXPECT_TRUE(next.OpenPort(&owner, kPort)) << next.LastOpenError();
    }
    // A device another program has locked: the flag stays as that program left it.
    for (const int holderFlag : {0, 1}) {
        ASSERT_EQ(::ioctl(probe, holderFlag != 0 ? TIOCEXCL : TIOCNXCL), 0);
        ASSERT_EQ(::flock(probe, LOCK_EX | LOCK_NB), 0);
        CSerialPort port;
        port.SetCableFallback(false);
        EXPECT_FALSE(port.OpenPort(&owner, kPort));
        EXPECT_EQ(Exclusive(), holderFlag);
        ::flock(probe, LOCK_UN);
        ::ioctl(probe, TIOCNXCL);
    }
}

// A frame the line takes in part, whose wait for room is cut by a signal, still goes out whole.
TEST_F(OpenFailure, ASignalWhileWaitingForRoomDoesNotDropTheRestOfTheFrame) {
    CSerialPort port;
    ASSERT_TRUE(port.OpenPort(&owner, kPort)) << port.LastOpenError();
    ASSERT_TRUE(port.StartPortThread());
    std::this_thread::sleep_for(50ms);  // past the purge the port thread makes as it starts

    const std::string frame = "\x02KESTRO-FRAME\x03";
    g_interruptWait = true;
    g_shortWrites = 2;
    port.HandOff(reinterpret_cast<const std::uint8_t*>(frame.data()), frame.size());

    std::string received;
    for (int i = 0; i < 200 && received.size() < frame.size(); ++i) {
        char buffer[64];
        const ssize_t got = ::read(master, buffer, sizeof buffer);
        if (got > 0) {
            received.append(buffer, static_cast<std::size_t>(got));
        } else {
            std::this_thread::sleep_for(5ms);
        }
    }
    EXPECT_EQ(received, frame);
    EXPECT_FALSE(g_interruptWait.load());  // the wait was interrupted indeed
    port.ClosePort();
}

}  // namespace
}  // namespace kestro
