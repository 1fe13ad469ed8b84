// The port engine against pseudo-terminal pairs: the engine opens the slave side through a
// registered port number, the test plays the radio on the master side.

#include <gtest/gtest.h>

#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <atomic>
#include <chrono>
#include <cstring>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "serial/CSerialPort.h"
#include "serial/PortEngineShared.h"
#include "serial/FakeSysfs.h"
#include "serial/PortDiscovery.h"
#include "serial/PortNames.h"

namespace kestro {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

constexpr int kPtyPort = 97;

class PtyPair {
public:
    PtyPair() {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
            return;
        }
        char name[128] = {};
        if (::ptsname_r(m_master, name, sizeof name) == 0) {
            m_slavePath = name;
        }
    }
    ~PtyPair() { CloseMaster(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool Ok() const { return m_master >= 0 && !m_slavePath.empty(); }
    int Master() const { return m_master; }
    const std::string& SlavePath() const { return m_slavePath; }
    void CloseMaster() {
        if (m_master >= 0) {
            ::close(m_master);
            m_master = -1;
        }
    }

    void Write(const Bytes& bytes) const {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(m_master, bytes.data() + done, bytes.size() - done);
            ASSERT_GT(n, 0);
            done += static_cast<std::size_t>(n);
        }
    }

    // Reads what the engine sent until `count` bytes came or `timeout` passed.
    Bytes Read(std::size_t count, std::chrono::milliseconds timeout) const {
        Bytes got;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (got.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                break;
            }
            pollfd p{m_master, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
                break;
            }
            std::uint8_t chunk[512];
            const ssize_t n = ::read(m_master, chunk, std::min(sizeof chunk, count - got.size()));
            if (n <= 0) {
                break;
            }
            got.insert(got.end(), chunk, chunk + n);
        }
        return got;
    }

    // Reads up to and including the first `last` byte.
    Bytes ReadUntil(std::uint8_t last, std::chrono::milliseconds timeout) const {
        Bytes got;
        while (got.empty() || got.back() != last) {
            const Bytes one = Read(1, timeout);
            if (one.empty()) {
                break;
            }
            got.push_back(one[0]);
        }
        return got;
    }

    // In packet mode: one read, which is either a status byte or 00 followed by data.
    Bytes ReadPacket(std::chrono::milliseconds timeout) const {
        pollfd p{m_master, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) {
            return {};
        }
        std::uint8_t chunk[512];
        const ssize_t n = ::read(m_master, chunk, sizeof chunk);
        return n > 0 ? Bytes(chunk, chunk + n) : Bytes{};
    }

private:
    int m_master = -1;
    std::string m_slavePath;
};

// The engine must leave the device as it found it: not locked, not in exclusive mode (which
// would keep every program but root's out while the other side stays open).
void ExpectDeviceFree(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0) << path << ": " << std::strerror(errno);
    int exclusive = -1;
    EXPECT_EQ(::ioctl(fd, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0) << path << " was left in exclusive mode";
    EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0) << path << " is still locked";
    ::close(fd);
}

class RecordingOwner final : public IPortOwner {
public:
    void OnSerialRxChar(std::uint8_t byte, int portNumber) override {
        std::function<void(std::uint8_t)> hook;
        {
            std::lock_guard lock(m_lock);
            m_bytes.push_back(byte);
            m_ports.push_back(portNumber);
            hook = m_onByte;
        }
        m_changed.notify_all();
        if (hook) {
            hook(byte);
        }
    }
    void OnPortError(const std::string& text, int portNumber) override {
        {
            std::lock_guard lock(m_lock);
            m_errors.push_back(text);
            m_errorPorts.push_back(portNumber);
        }
        m_changed.notify_all();
    }

    // Runs on the port thread inside each delivery, after the byte has been recorded.
    void SetHook(std::function<void(std::uint8_t)> hook) {
        std::lock_guard lock(m_lock);
        m_onByte = std::move(hook);
    }
    bool WaitForBytes(std::size_t count, std::chrono::milliseconds timeout = 10s) {
        std::unique_lock lock(m_lock);
        return m_changed.wait_for(lock, timeout, [&] { return m_bytes.size() >= count; });
    }
    bool WaitForErrors(std::size_t count, std::chrono::milliseconds timeout = 10s) {
        std::unique_lock lock(m_lock);
        return m_changed.wait_for(lock, timeout, [&] { return m_errors.size() >= count; });
    }
    Bytes BytesSeen() const {
        std::lock_guard lock(m_lock);
        return m_bytes;
    }
    std::vector<int> PortsSeen() const {
        std::lock_guard lock(m_lock);
        return m_ports;
    }
    std::vector<std::string> Errors() const {
        std::lock_guard lock(m_lock);
        return m_errors;
    }

private:
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    Bytes m_bytes;
    std::vector<int> m_ports;
    std::vector<std::string> m_errors;
    std::vector<int> m_errorPorts;
    std::function<void(std::uint8_t)> m_onByte;
};

class SerialPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_pty.Ok());
        ClearRegisteredPortDevices();
        ::unsetenv(kPortMapVariable);
        // No cable may be found on the machine running the tests.
        ::setenv(kSysfsRootVariable, m_sysfs.Root().c_str(), 1);
        RegisterPortDevice(kPtyPort, m_pty.SlavePath());
    }
    void TearDown() override {
        ClearRegisteredPortDevices();
        ::unsetenv(kSysfsRootVariable);
    }
    void OpenAndStart() {
        ASSERT_TRUE(m_port.OpenPort(&m_owner, kPtyPort)) << m_port.LastOpenError();
        ASSERT_TRUE(m_port.StartPortThread());
        Settle(m_port, m_pty);
    }
    // The port thread purges both queues when it starts, so bytes the radio side writes before
    // that are lost by design. A probe frame seen on the other side proves the thread has passed
    // its start (and the probe's own purge); from then on every byte written is delivered.
    static void Settle(CSerialPort& port, const PtyPair& pty) {
        const Bytes probe = {0x5A, 0xA5, 0x3C, 0xC3};
        port.HandOff(probe.data(), probe.size());
        ASSERT_EQ(pty.Read(probe.size(), 10s), probe) << "the port thread never sent the probe";
    }

    test::FakeSysfs m_sysfs;
    PtyPair m_pty;
    RecordingOwner m_owner;
    CSerialPort m_port;  // destroyed first: it stops its thread before the owner goes
};

Bytes Frame(std::size_t length, std::uint8_t first) {
    Bytes frame(length);
    std::iota(frame.begin(), frame.end(), first);
    return frame;
}

TEST_F(SerialPortTest, OpensRawAtExactlyTheLineRateAndExclusively) {
    ASSERT_TRUE(m_port.OpenPort(&m_owner, kPtyPort)) << m_port.LastOpenError();
    EXPECT_EQ(m_port.PortNumber(), kPtyPort);
    EXPECT_EQ(m_port.LastOpenError(), "");

    // A pty master reads back the settings of its slave.
    struct termios2 line {};
    ASSERT_EQ(::ioctl(m_pty.Master(), TCGETS2, &line), 0);
    EXPECT_EQ(line.c_ospeed, kLineRate);
    EXPECT_EQ(line.c_ispeed, kLineRate);
    EXPECT_EQ(line.c_cflag & CBAUD, static_cast<tcflag_t>(BOTHER));
    EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(line.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_NE(line.c_cflag & CLOCAL, 0u);
    EXPECT_EQ(line.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0u);
    EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(line.c_oflag & OPOST, 0u);

    RecordingOwner other;
    CSerialPort second;
    EXPECT_FALSE(second.OpenPort(&other, kPtyPort));
    EXPECT_NE(second.LastOpenError().find("device busy"), std::string::npos)
        << second.LastOpenError();

    // Once closed, the device is free again.
    m_port.ClosePort();
    EXPECT_TRUE(second.OpenPort(&other, kPtyPort)) << second.LastOpenError();
}

TEST_F(SerialPortTest, DeliversEveryByteOnceInArrivalOrder) {
    OpenAndStart();
    Bytes stream;
    for (int round = 0; round < 8; ++round) {
        for (int value = 0; value < 256; ++value) {
            stream.push_back(static_cast<std::uint8_t>(value));
        }
    }
    for (std::size_t at = 0; at < stream.size(); at += 300) {
        m_pty.Write(Bytes(stream.begin() + at,
                          stream.begin() + std::min(at + 300, stream.size())));
    }
    ASSERT_TRUE(m_owner.WaitForBytes(stream.size()));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(m_owner.BytesSeen(), stream);
    EXPECT_EQ(m_owner.PortsSeen(), std::vector<int>(stream.size(), kPtyPort));
    EXPECT_TRUE(m_owner.Errors().empty());
}

TEST_F(SerialPortTest, SendWritesExactlyTheHandedOffLength) {
    OpenAndStart();
    const Bytes longFrame = Frame(24, 0x40);
    m_port.HandOff(longFrame.data(), longFrame.size());
    EXPECT_EQ(m_pty.Read(24, 10s), longFrame);

    // The buffer still holds the long frame's tail; none of it may follow the short one. The
    // marker frame sent next would arrive behind any such stray bytes.
    const Bytes shortFrame = Frame(6, 0x01);
    m_port.HandOff(shortFrame.data(), shortFrame.size());
    EXPECT_EQ(m_pty.Read(6, 10s), shortFrame);
    const Bytes marker = {0xEE};
    m_port.HandOff(marker.data(), marker.size());
    EXPECT_EQ(m_pty.ReadUntil(0xEE, 10s), marker);

    // The whole buffer, and not a byte more of a longer hand-off.
    const Bytes full = Frame(256, 0x00);
    m_port.HandOff(full.data(), full.size());
    EXPECT_EQ(m_pty.Read(256, 10s), full);
    const Bytes tooLong = Frame(300, 0x10);
    m_port.HandOff(tooLong.data(), tooLong.size());
    EXPECT_EQ(m_pty.Read(256, 10s), Bytes(tooLong.begin(), tooLong.begin() + 256));
    m_port.HandOff(marker.data(), marker.size());
    EXPECT_EQ(m_pty.ReadUntil(0xEE, 10s), marker);
}

TEST_F(SerialPortTest, EachSendPurgesBothQueuesBeforeWriting) {
    // Packet mode makes the master see the slave's flushes as status bytes.
    int packet = 1;
    ASSERT_EQ(::ioctl(m_pty.Master(), TIOCPKT, &packet), 0);
    ASSERT_TRUE(m_port.OpenPort(&m_owner, kPtyPort)) << m_port.LastOpenError();
    ASSERT_TRUE(m_port.StartPortThread());

    // Collects the data of one send, skipping the status of the purges before it.
    const auto readData = [&](std::size_t count) {
        Bytes data;
        while (data.size() < count) {
            const Bytes packetBytes = m_pty.ReadPacket(10s);
            if (packetBytes.empty()) {
                break;
            }
            if (packetBytes[0] == TIOCPKT_DATA) {
                data.insert(data.end(), packetBytes.begin() + 1, packetBytes.end());
            }
        }
        return data;
    };
    // Once the probe's data is in, the purges at open and at thread start have been reported.
    const Bytes probe = Frame(6, 0x60);
    m_port.HandOff(probe.data(), probe.size());
    ASSERT_EQ(readData(probe.size()), probe);

    for (int send = 0; send < 3; ++send) {
        const Bytes frame = Frame(10, static_cast<std::uint8_t>(0x20 + send));
        m_port.HandOff(frame.data(), frame.size());
        // The two flushes may be reported in one status byte or in two.
        int flushed = 0;
        Bytes data;
        while (data.empty()) {
            const Bytes packetBytes = m_pty.ReadPacket(10s);
            ASSERT_FALSE(packetBytes.empty()) << "send " << send << " never arrived";
            if (packetBytes[0] == TIOCPKT_DATA) {
                data.assign(packetBytes.begin() + 1, packetBytes.end());
            } else {
                flushed |= packetBytes[0];
            }
        }
        EXPECT_EQ(flushed & (TIOCPKT_FLUSHREAD | TIOCPKT_FLUSHWRITE),
                  TIOCPKT_FLUSHREAD | TIOCPKT_FLUSHWRITE)
            << "send " << send << ": data came before the purge of both queues";
        if (data.size() < frame.size()) {
            const Bytes rest = readData(frame.size() - data.size());
            data.insert(data.end(), rest.begin(), rest.end());
        }
        EXPECT_EQ(data, frame);
    }
}

// One small write from the radio side reaches the engine's input queue whole, so while the first
// byte is being delivered the others are already waiting.
Bytes MarkerThen(std::uint8_t marker, const Bytes& rest) {
    Bytes bytes{marker};
    bytes.insert(bytes.end(), rest.begin(), rest.end());
    return bytes;
}

TEST_F(SerialPortTest, SendRequestedDuringADrainGoesOutAfterIt) {
    OpenAndStart();
    const Bytes frame = Frame(11, 0x30);
    const Bytes stream = MarkerThen('A', Frame(40, 0x80));
    m_owner.SetHook([&](std::uint8_t byte) {
        if (byte == 'A') {
            m_port.HandOff(frame.data(), frame.size());
        }
    });
    m_pty.Write(stream);

    // Had the send gone first, its purge would have thrown away the other 40 bytes.
    ASSERT_TRUE(m_owner.WaitForBytes(stream.size()));
    EXPECT_EQ(m_owner.BytesSeen(), stream);
    EXPECT_EQ(m_pty.Read(frame.size(), 10s), frame);
}

// Bursts larger than one read, delivered to a slow owner, while the requester's thread hands off
// a frame: the owner is never entered twice at once, no byte is lost or reordered, and the frame
// (whose purge would drop whatever is still waiting) goes out only once the burst is drained.
TEST_F(SerialPortTest, BurstsArriveOneByteAtATimeAndASendFromAnotherThreadWaitsForTheDrain) {
    OpenAndStart();
    constexpr std::size_t kBurst = 700;
    // Shared with the hook, which may outlive this body when an assertion ends it early.
    struct Deliveries {
        std::atomic<int> inside{0};
        std::atomic<bool> overlapped{false};
    };
    const auto deliveries = std::make_shared<Deliveries>();
    m_owner.SetHook([deliveries](std::uint8_t) {
        if (deliveries->inside.fetch_add(1) != 0) {
            deliveries->overlapped.store(true);
        }
        std::this_thread::sleep_for(20us);
        deliveries->inside.fetch_sub(1);
    });
    Bytes stream;
    for (std::size_t i = 0; i < 3 * kBurst; ++i) {
        stream.push_back(static_cast<std::uint8_t>(i * 13 + i / 256));
    }
    const Bytes frame = Frame(9, 0x70);

    m_pty.Write(Bytes(stream.begin(), stream.begin() + kBurst));
    ASSERT_TRUE(m_owner.WaitForBytes(100));
    m_port.HandOff(frame.data(), frame.size());
    for (int burst = 1; burst < 3; ++burst) {
        std::this_thread::sleep_for(2ms);
        m_pty.Write(Bytes(stream.begin() + burst * kBurst, stream.begin() + (burst + 1) * kBurst));
    }

    EXPECT_EQ(m_pty.Read(frame.size(), 10s), frame);
    EXPECT_GE(m_owner.BytesSeen().size(), kBurst) << "the frame went out during the first burst";
    ASSERT_TRUE(m_owner.WaitForBytes(stream.size()));
    EXPECT_EQ(m_owner.BytesSeen(), stream);
    EXPECT_FALSE(deliveries->overlapped.load()) << "two deliveries ran at once";
}

TEST_F(SerialPortTest, SendPendingAtAStopGoesFirstAndDropsWaitingBytes) {
    OpenAndStart();
    const Bytes frame = Frame(6, 0x50);
    m_owner.SetHook([&](std::uint8_t byte) {
        if (byte == 'A') {
            // Both are pending when the delivery returns: the stop ends the drain, the send
            // still goes out (its purge discarding the waiting bytes), then the thread ends.
            m_port.HandOff(frame.data(), frame.size());
            m_port.ClosePort();
        }
    });
    m_pty.Write(MarkerThen('A', Frame(20, 0x80)));
    EXPECT_EQ(m_pty.Read(frame.size(), 10s), frame);
    m_port.ClosePort();  // waits for the thread's end
    EXPECT_EQ(m_owner.BytesSeen(), Bytes{'A'});
    EXPECT_FALSE(m_port.StartPortThread()) << "the port thread should have closed the port";
    ExpectDeviceFree(m_pty.SlavePath());
}

TEST_F(SerialPortTest, ClosingFromAnotherThreadWhileBytesFlowDeliversAPrefixOnly) {
    OpenAndStart();
    Bytes stream;
    for (int i = 0; i < 3000; ++i) {
        stream.push_back(static_cast<std::uint8_t>(i * 7));
    }
    std::atomic<bool> closed{false};
    std::atomic<int> lateDeliveries{0};
    m_owner.SetHook([&](std::uint8_t) {
        if (closed.load()) {
            ++lateDeliveries;
        }
        std::this_thread::sleep_for(100us);  // a slow owner, so the stop tends to come mid-way
    });
    m_pty.Write(stream);  // fits the line's buffers: does not block
    ASSERT_TRUE(m_owner.WaitForBytes(100));
    m_port.ClosePort();  // from this thread, while the port thread delivers
    closed.store(true);

    const Bytes seen = m_owner.BytesSeen();
    ASSERT_LE(seen.size(), stream.size());
    EXPECT_EQ(seen, Bytes(stream.begin(), stream.begin() + static_cast<long>(seen.size())));
    EXPECT_EQ(lateDeliveries.load(), 0);
}

TEST_F(SerialPortTest, ReopeningStopsTheRunningThreadFirst) {
    OpenAndStart();
    ASSERT_TRUE(m_port.OpenPort(&m_owner, kPtyPort)) << m_port.LastOpenError();
    EXPECT_TRUE(m_port.StartPortThread());
    Settle(m_port, m_pty);
    m_pty.Write({0x11, 0x00, 0x22});
    ASSERT_TRUE(m_owner.WaitForBytes(3));
    EXPECT_EQ(m_owner.BytesSeen(), (Bytes{0x11, 0x00, 0x22}));
    EXPECT_FALSE(m_port.StartPortThread()) << "a second thread on one port";
}

TEST_F(SerialPortTest, ClosingWithoutThreadAndNeverOpenedIsHarmless) {
    {
        CSerialPort never;  // no thread to stop, no buffer: destruction returns at once
        never.HandOff(Frame(6, 0).data(), 6);
        EXPECT_FALSE(never.StartPortThread());
        never.ClosePort();
        never.ClosePort();
    }
    ASSERT_TRUE(m_port.OpenPort(&m_owner, kPtyPort));
    m_port.ClosePort();
    m_port.ClosePort();
    EXPECT_FALSE(m_port.StartPortThread());
    // The descriptor, its lock and its exclusive mode are gone: another engine can take it.
    ExpectDeviceFree(m_pty.SlavePath());
    CSerialPort next;
    EXPECT_TRUE(next.OpenPort(&m_owner, kPtyPort)) << next.LastOpenError();
    ASSERT_TRUE(next.StartPortThread());
    Settle(next, m_pty);
    m_pty.Write({0x00, 0x7E});
    ASSERT_TRUE(m_owner.WaitForBytes(2));
    next.ClosePort();
    next.ClosePort();
    EXPECT_EQ(m_owner.BytesSeen(), (Bytes{0x00, 0x7E}));
}

double ProcessCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

TEST_F(SerialPortTest, HangUpIsReportedOnceWithoutSpinning) {
    OpenAndStart();
    m_pty.Write(Frame(32, 0x00));
    ASSERT_TRUE(m_owner.WaitForBytes(32));
    m_pty.CloseMaster();

    ASSERT_TRUE(m_owner.WaitForErrors(1));
    const double before = ProcessCpuSeconds();
    std::this_thread::sleep_for(500ms);
    const double used = ProcessCpuSeconds() - before;
    EXPECT_LT(used, 0.2) << "the port thread keeps running after the hang-up";

    const auto errors = m_owner.Errors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].rfind("WARNING:  ReadFile() Failed with the following error: \n", 0), 0u)
        << errors[0];
    EXPECT_NE(errors[0].find("\nPort: 97\n"), std::string::npos) << errors[0];

    // Sends on the dead line fail silently; the stop still ends the thread.
    const Bytes frame = Frame(6, 0x10);
    m_port.HandOff(frame.data(), frame.size());
    m_port.HandOff(frame.data(), frame.size());
    m_port.ClosePort();
    EXPECT_EQ(m_owner.Errors().size(), 1u);
    EXPECT_EQ(m_owner.BytesSeen().size(), 32u);
}

// The cable's bridge sits on a fake sysfs tree whose tty node is a pseudo-terminal, reachable
// under a registered port number: the lookup then names exactly the device the engine opens.
class SerialPortFallbackTest : public SerialPortTest {
protected:
    static constexpr int kCablePort = 98;

    void PlugCable(const char* instance) {
        ASSERT_TRUE(m_cablePty.Ok());
        m_sysfs.AddUsbTty("ttyUSB5",
                          {.serial = instance, .devName = m_cablePty.SlavePath().substr(5)});
        RegisterPortDevice(kCablePort, m_cablePty.SlavePath());
    }
    void ExpectBytesFromTheCable() {
        ASSERT_TRUE(m_port.StartPortThread());
        Settle(m_port, m_cablePty);
        m_cablePty.Write({0x42, 0x00});
        ASSERT_TRUE(m_owner.WaitForBytes(2));
        EXPECT_EQ(m_owner.BytesSeen(), (Bytes{0x42, 0x00}));
        EXPECT_EQ(m_owner.PortsSeen(), (std::vector<int>{kCablePort, kCablePort}));
    }

    PtyPair m_cablePty;
};

TEST_F(SerialPortFallbackTest, AutomaticPortIsTheCableWithInstance0006) {
    m_sysfs.AddUsbTty("ttyACM2", {.serial = "0001"});  // COM67: no such node here
    PlugCable("0006");
    ASSERT_TRUE(m_port.OpenPort(&m_owner, 0)) << m_port.LastOpenError();
    EXPECT_EQ(m_port.PortNumber(), kCablePort);
    ExpectBytesFromTheCable();
}

TEST_F(SerialPortFallbackTest, AnAutomaticCableThatCannotBeOpenedFallsBackToInstance0001) {
    m_sysfs.AddUsbTty("ttyUSB0", {.serial = "0006"});  // COM33: /dev/ttyUSB0 is not there
    PlugCable("0001");
    ASSERT_TRUE(m_port.OpenPort(&m_owner, 0)) << m_port.LastOpenError();
    EXPECT_EQ(m_port.PortNumber(), kCablePort);
    ExpectBytesFromTheCable();
}

TEST_F(SerialPortFallbackTest, UnopenablePortFallsBackToInstance0001) {
    PlugCable("0001");
    ASSERT_TRUE(m_port.OpenPort(&m_owner, 99)) << m_port.LastOpenError();
    EXPECT_EQ(m_port.PortNumber(), kCablePort);
    ExpectBytesFromTheCable();

    // The fall-back port is busy as well: both reasons are given.
    CSerialPort second;
    EXPECT_FALSE(second.OpenPort(&m_owner, 99));
    EXPECT_NE(second.LastOpenError().find("COM99 names no device"), std::string::npos)
        << second.LastOpenError();
    EXPECT_NE(second.LastOpenError().find("device busy"), std::string::npos)
        << second.LastOpenError();
}

TEST_F(SerialPortFallbackTest, APortInUseFallsBackToInstance0001UnlessTheFallBackIsOff) {
    PlugCable("0001");
    CSerialPort holder;  // another program has the stored port
    ASSERT_TRUE(holder.OpenPort(&m_owner, kPtyPort)) << holder.LastOpenError();

    // A port named by the user is that port alone: its reason, and the cable left untouched.
    CSerialPort named;
    named.SetCableFallback(false);
    EXPECT_FALSE(named.OpenPort(&m_owner, kPtyPort));
    EXPECT_NE(named.LastOpenError().find("device busy"), std::string::npos) << named.LastOpenError();
    EXPECT_EQ(named.LastOpenError().find("cable"), std::string::npos) << named.LastOpenError();

    ASSERT_TRUE(m_port.OpenPort(&m_owner, kPtyPort)) << m_port.LastOpenError();
    EXPECT_EQ(m_port.PortNumber(), kCablePort);
    ExpectBytesFromTheCable();
}

TEST_F(SerialPortFallbackTest, NoFallBackBridgeLeavesThePortClosed) {
    CSerialPort holder;
    ASSERT_TRUE(holder.OpenPort(&m_owner, kPtyPort)) << holder.LastOpenError();
    EXPECT_FALSE(m_port.OpenPort(&m_owner, kPtyPort));
    EXPECT_NE(m_port.LastOpenError().find("device busy"), std::string::npos)
        << m_port.LastOpenError();
    EXPECT_FALSE(m_port.StartPortThread());
}

TEST_F(SerialPortFallbackTest, NoCableFailsWithoutDisturbingTheRunningPort) {
    OpenAndStart();
    EXPECT_FALSE(m_port.OpenPort(&m_owner, 0));
    EXPECT_NE(m_port.LastOpenError().find("no such device"), std::string::npos);
    EXPECT_EQ(m_port.PortNumber(), kPtyPort);
    m_pty.Write({0x01, 0x02});
    ASSERT_TRUE(m_owner.WaitForBytes(2));
    EXPECT_EQ(m_owner.BytesSeen(), (Bytes{0x01, 0x02}));

    CSerialPort other;
    EXPECT_FALSE(other.OpenPort(&m_owner, 99));
    EXPECT_NE(other.LastOpenError().find("no such device"), std::string::npos);
}

}  // namespace
}  // namespace kestro
