// The simulated radio behind a pseudo-terminal, driven by the kit's real serial engine: the engine
// opens the server's line through a registered port number, the reply receiver runs on the port
// thread (as in the command-line kit) and the transactions wait in real time.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/RealClock.h"
#include "protocol/CommandTable.h"
#include "protocol/ReplyReceiver.h"
#include "protocol/Transactions.h"
#include "radio/posix/PtyRadioServer.h"
#include "serial/CSerialPort.h"
#include "serial/PortNames.h"

namespace kestro {
namespace {

using namespace std::chrono_literals;

constexpr int kPort = kFirstFreePort + 7;

class ReceiverOnPortThread final : public IPortOwner {
  public:
    explicit ReceiverOnPortThread(ReplyReceiver& receiver) : m_receiver(receiver) {}
    void OnSerialRxChar(std::uint8_t byte, int portNumber) override {
        m_receiver.OnSerialRxChar(byte, portNumber);
    }
    void OnPortError(const std::string& text, int /*portNumber*/) override {
        {
            std::lock_guard lock(m_lock);
            m_errors.push_back(text);
        }
        m_changed.notify_all();
    }
    // The limit only guards against a hang.
    bool WaitForErrors(std::size_t count) {
        std::unique_lock lock(m_lock);
        return m_changed.wait_for(lock, 20s, [&] { return m_errors.size() >= count; });
    }
    std::size_t Errors() const {
        std::lock_guard lock(m_lock);
        return m_errors.size();
    }

  private:
    ReplyReceiver& m_receiver;
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<std::string> m_errors;
};

class PtyRadioServerTest : public ::testing::Test {
  protected:
    PtyRadioServerTest() {
        m_link.m_hReplyEvent = std::make_unique<ManualResetEvent>();
        m_tx.SetPort(&m_port);
    }
    void TearDown() override {
        m_port.ClosePort();
        m_server.Stop();
        UnregisterPortDevice(kPort);
    }

    void Serve() {
        std::string error;
        ASSERT_TRUE(m_server.Start(&error)) << error;
        ASSERT_FALSE(m_server.SlavePath().empty());
        RegisterPortDevice(kPort, m_server.SlavePath());
    }
    void Connect() {
        ASSERT_TRUE(m_port.OpenPort(&m_owner, kPort)) << m_port.LastOpenError();
        ASSERT_TRUE(m_port.StartPortThread());
    }

    PtyRadioServer m_server;
    LinkState m_link;
    ReplyReceiver m_receiver{m_link};
    ReceiverOnPortThread m_owner{m_receiver};
    CSerialPort m_port;
    CTransactions m_tx{m_link, RealClock::Instance()};
};

TEST_F(PtyRadioServerTest, TheRealEngineGetsEveryAnswerAndChangesTheRadio) {
    // Shared with the server's thread, which may outlive this body when an assertion ends it.
    struct Traced {
        std::mutex lock;
        std::vector<std::uint8_t> toRadio;
        std::size_t fromRadio = 0;
    };
    const auto traced = std::make_shared<Traced>();
    m_server.SetTrace(
        [traced](PtyRadioServer::Direction direction, std::span<const std::uint8_t> bytes) {
            std::lock_guard lock(traced->lock);
            if (direction == PtyRadioServer::Direction::ToRadio) {
                traced->toRadio.insert(traced->toRadio.end(), bytes.begin(), bytes.end());
            } else {
                traced->fromRadio += bytes.size();
            }
        });
    Serve();
    Connect();

    ASSERT_TRUE(m_tx.Run(REQ_DETECT).ok);
    EXPECT_EQ(m_link.m_deviceStatus.load(), 0x01);
    ASSERT_TRUE(m_tx.Run(REQ_MODEL).ok);
    EXPECT_EQ(m_link.DeviceModelNumber(), std::string("QXM27TPL4RC8ZN\0\0", 16));
    m_link.m_codeplugAddress = 0x3049;
    ASSERT_TRUE(m_tx.Run(REQ_CP_READ).ok);
    EXPECT_EQ(m_link.m_codeplugByte.load(), 0x14);
    ASSERT_TRUE(m_tx.Run(REQ_CP_WRITE, 0x5A).ok);
    EXPECT_EQ(m_server.WithRadio([](SimRadio& radio) { return radio.CodeplugByte(0x3049); }), 0x5A);

    // The line carried each request frame whole, and the replies came back over it.
    const Frame detect = BuildRequest(REQ_DETECT);
    std::lock_guard lock(traced->lock);
    ASSERT_GE(traced->toRadio.size(), detect.size());
    EXPECT_TRUE(std::equal(detect.data(), detect.data() + detect.size(), traced->toRadio.begin()));
    // The server traces a reply after writing it, so only the last one may not be counted yet.
    EXPECT_GE(traced->fromRadio, 9U + 24U + 11U);
    EXPECT_EQ(m_owner.Errors(), 0U);
}

TEST_F(PtyRadioServerTest, PacedRepliesArriveWholeAtTheLineRate) {
    m_server.WithRadio([](SimRadio& radio) {
        radio.Config().pace = true;
        radio.Config().latency = SimMillis{0};
    });
    const auto lineBytes = std::make_shared<std::atomic<std::size_t>>(0);
    m_server.SetTrace([lineBytes](PtyRadioServer::Direction, std::span<const std::uint8_t> bytes) {
        *lineBytes += bytes.size();
    });
    Serve();
    Connect();
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_TRUE(m_tx.Run(REQ_SERIAL).ok);
    const auto took = std::chrono::steady_clock::now() - sent;
    EXPECT_EQ(m_link.DeviceSerialNumber(), "KS24001735");
    // Bytes reach the PC in packets, but none before it has crossed the line: the exchange takes
    // at least the wire time of the request and the whole reply.
    std::this_thread::sleep_for(100ms);  // the server counts a reply just after writing it
    EXPECT_GE(took, PacedByteOffset(lineBytes->load() - 1));
    ASSERT_TRUE(m_tx.Run(REQ_FW_VERSION).ok);
    EXPECT_EQ(m_link.DeviceFirmwareVersion(), "R0103");
}

TEST_F(PtyRadioServerTest, ALostCableHangsUpTheLineAndAReconnectedRadioAnswersAgain) {
    m_server.WithRadio([](SimRadio& radio) { radio.Config().loseCableAt = 2; });
    Serve();
    Connect();
    ASSERT_TRUE(m_tx.Run(REQ_DETECT).ok);

    m_tx.SendRequest(BuildRequest(REQ_BATTERY));
    ASSERT_TRUE(m_owner.WaitForErrors(1)) << "the engine never saw the hang-up";
    EXPECT_TRUE(m_server.HungUp());
    EXPECT_FALSE(m_tx.WaitReply(200ms));
    m_port.ClosePort();
    EXPECT_EQ(m_owner.Errors(), 1U);

    // Plugged back in: a new line, the same radio, its cable-loss fault disarmed.
    Serve();
    EXPECT_FALSE(m_server.HungUp());
    Connect();
    ASSERT_TRUE(m_tx.Run(REQ_BATTERY).ok);
    EXPECT_EQ(m_server.WithRadio([](SimRadio& radio) { return radio.CountOf(REQ_DETECT); }), 1U);
}

TEST_F(PtyRadioServerTest, StoppingEndsTheServerAndHangsUpItsLine) {
    Serve();
    Connect();
    ASSERT_TRUE(m_tx.Run(REQ_DETECT).ok);

    m_server.Stop();
    m_server.Stop();
    EXPECT_FALSE(m_server.HungUp()) << "a stop is no lost cable";
    ASSERT_TRUE(m_owner.WaitForErrors(1));
    // With the server gone nothing answers; the engine still stops cleanly.
    EXPECT_FALSE(m_tx.Run(REQ_SERIAL).ok);
    m_port.ClosePort();
    EXPECT_EQ(m_owner.Errors(), 1U);

    Serve();
    Connect();
    EXPECT_TRUE(m_tx.Run(REQ_SERIAL).ok);
}

}  // namespace
}  // namespace kestro
