// The Win32 port engine on real COM ports: a null-modem pair (the engine on one end, the test on
// the other) and a simulated radio found through the registry, as the environment names them.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <numeric>
#include <thread>

#include "protocol/CommandTable.h"
#include "protocol/LinkState.h"
#include "protocol/ReplyReceiver.h"
#include "serial/CSerialPort.h"
#include "serial/win32/WindowsLines.h"

namespace kestro {
namespace {

using namespace std::chrono_literals;
using test::PeerPort;
using test::RecordingOwner;

class NullModemTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto pair = test::PortPairFromEnvironment();
        if (!pair) {
            GTEST_SKIP() << "KESTRO_TEST_PORT_PAIR names no null-modem pair";
        }
        m_pair = *pair;
        m_peer = std::make_unique<PeerPort>(m_pair.peer);
        ASSERT_TRUE(m_peer->IsOpen()) << "COM" << m_pair.peer;
    }

    // Opens and starts the engine and returns once its thread runs: the thread purges the port
    // as it starts, so bytes sent to it before then could be lost.
    void OpenAndStart(CSerialPort& engine, RecordingOwner& owner) {
        ASSERT_TRUE(engine.OpenPort(&owner, m_pair.engine)) << engine.LastOpenError();
        m_peer->Purge();
        ASSERT_TRUE(engine.StartPortThread());
        const std::uint8_t hello = 0x55;
        engine.HandOff(&hello, 1);
        ASSERT_EQ(m_peer->Read(1), std::vector<std::uint8_t>{hello})
            << "the port thread sends nothing";
    }

    test::PortPair m_pair;
    std::unique_ptr<PeerPort> m_peer;
};

TEST_F(NullModemTest, EveryByteArrivesOnceInOrderWithThePortNumber) {
    CSerialPort engine;
    RecordingOwner owner;
    ASSERT_NO_FATAL_FAILURE(OpenAndStart(engine, owner));

    std::vector<std::uint8_t> all(256);
    std::iota(all.begin(), all.end(), 0);  // 0x00 included, and every byte with its high bit set
    ASSERT_TRUE(m_peer->Write(all));
    ASSERT_TRUE(m_peer->Write(all));
    ASSERT_TRUE(owner.WaitForBytes(512)) << owner.Deliveries().size() << " bytes delivered";

    std::vector<std::uint8_t> expected = all;
    expected.insert(expected.end(), all.begin(), all.end());
    EXPECT_EQ(owner.Bytes(), expected);
    for (const auto& delivery : owner.Deliveries()) {
        ASSERT_EQ(delivery.port, m_pair.engine);
    }
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(owner.Deliveries().size(), 512u) << "a byte was delivered twice";
    EXPECT_TRUE(owner.Errors().empty());
    engine.ClosePort();
}

TEST_F(NullModemTest, SendsWriteExactlyTheHandedOffBytes) {
    CSerialPort engine;
    RecordingOwner owner;
    ASSERT_NO_FATAL_FAILURE(OpenAndStart(engine, owner));

    std::array<std::uint8_t, kRecordSize> row{};
    std::iota(row.begin(), row.end(), 0xE0);
    const Frame record = BuildWriteRecordFrame(row);
    const Frame detect = BuildRequest(REQ_DETECT);
    ASSERT_EQ(record.size(), 24u);
    ASSERT_EQ(detect.size(), 6u);
    const std::vector<std::uint8_t> recordBytes(record.data(), record.data() + record.size());
    const std::vector<std::uint8_t> detectBytes(detect.data(), detect.data() + detect.size());

    engine.HandOff(record.data(), record.size());
    EXPECT_EQ(m_peer->Read(24), recordBytes);
    // A shorter frame after a longer one: nothing of the longer one's tail goes with it.
    engine.HandOff(detect.data(), detect.size());
    EXPECT_EQ(m_peer->Read(6), detectBytes);
    EXPECT_TRUE(m_peer->Read(1, 300ms).empty());

    // More than the send buffer holds is cut to its 256 bytes.
    std::vector<std::uint8_t> tooLong(300, 0x5A);
    engine.HandOff(tooLong.data(), tooLong.size());
    EXPECT_EQ(m_peer->Read(300, 2s).size(), 256u);
    engine.ClosePort();
}

TEST_F(NullModemTest, ASendWaitsUntilTheDrainHasDeliveredEveryWaitingByte) {
    CSerialPort engine;
    RecordingOwner owner;
    std::promise<void> firstByteHeld;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> holding{true};
    owner.onByte = [&](std::uint8_t) {
        if (holding.exchange(false)) {
            firstByteHeld.set_value();
            released.wait();
        }
    };
    ASSERT_NO_FATAL_FAILURE(OpenAndStart(engine, owner));

    ASSERT_TRUE(m_peer->Write({'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H'}));
    ASSERT_EQ(firstByteHeld.get_future().wait_for(10s), std::future_status::ready)
        << "no byte was delivered";
    // The port thread is inside the delivery of 'A' with seven bytes waiting behind it.
    std::this_thread::sleep_for(100ms);
    const Frame detect = BuildRequest(REQ_DETECT);
    engine.HandOff(detect.data(), detect.size());
    std::this_thread::sleep_for(100ms);
    release.set_value();

    // Had the send gone first, its purge would have thrown the seven bytes away.
    EXPECT_EQ(m_peer->Read(6).size(), 6u);
    ASSERT_TRUE(owner.WaitForBytes(8));
    EXPECT_EQ(owner.Bytes(), (std::vector<std::uint8_t>{'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H'}));
    engine.ClosePort();
}

TEST_F(NullModemTest, ASendHandedOffJustBeforeClosingIsStillWritten) {
    CSerialPort engine;
    RecordingOwner owner;
    ASSERT_NO_FATAL_FAILURE(OpenAndStart(engine, owner));

    const Frame end = BuildRequest(REQ_UPDATE_END);
    engine.HandOff(end.data(), end.size());
    engine.ClosePort();
    EXPECT_EQ(m_peer->Read(end.size()).size(), end.size());
}

TEST_F(NullModemTest, ClosingAndReopeningInEveryStateLeavesAWorkingEngine) {
    CSerialPort engine;
    RecordingOwner owner;

    // Opened without a thread, closed twice.
    ASSERT_TRUE(engine.OpenPort(&owner, m_pair.engine)) << engine.LastOpenError();
    engine.ClosePort();
    engine.ClosePort();

    // A thread idling in its armed event wait wakes for the close.
    ASSERT_NO_FATAL_FAILURE(OpenAndStart(engine, owner));
    std::this_thread::sleep_for(200ms);
    engine.ClosePort();

    // OpenPort on a running engine stops the old thread first; the new one carries the bytes.
    ASSERT_NO_FATAL_FAILURE(OpenAndStart(engine, owner));
    ASSERT_NO_FATAL_FAILURE(OpenAndStart(engine, owner));
    EXPECT_FALSE(engine.StartPortThread()) << "a second port thread was started";
    ASSERT_TRUE(m_peer->Write({0x42}));
    ASSERT_TRUE(owner.WaitForBytes(1));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(owner.Bytes(), std::vector<std::uint8_t>{0x42});
    // Destroyed while running: the destructor's stop handshake ends the thread.
}

TEST_F(NullModemTest, TheLineIsEightDataBitsNoParityOneStopBitWithoutFlowControl) {
    CSerialPort engine;
    RecordingOwner owner;
    ASSERT_TRUE(engine.OpenPort(&owner, m_pair.engine)) << engine.LastOpenError();

    // A second look at the same port: Wine allows it (Windows would refuse: the engine's open is
    // exclusive), which is how the configuration is read back here.
    const std::string name = "\\\\.\\COM" + std::to_string(m_pair.engine);
    HANDLE second = ::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
    if (second == INVALID_HANDLE_VALUE) {
        engine.ClosePort();
        GTEST_SKIP() << "the port is held exclusively, as on Windows";
    }
    DCB line{};
    line.DCBlength = sizeof line;
    ASSERT_TRUE(::GetCommState(second, &line));
    ::CloseHandle(second);
    EXPECT_EQ(line.ByteSize, 8);
    EXPECT_EQ(line.Parity, NOPARITY);
    EXPECT_EQ(line.StopBits, ONESTOPBIT);
    EXPECT_FALSE(line.fOutX);
    EXPECT_FALSE(line.fInX);
    EXPECT_FALSE(line.fOutxCtsFlow);
    EXPECT_FALSE(line.fOutxDsrFlow);
    EXPECT_NE(line.fRtsControl, static_cast<DWORD>(RTS_CONTROL_HANDSHAKE));
    engine.ClosePort();
}

TEST(SerialPortWin32, AnEngineNeverOpenedIsDestroyedAtOnceAndClosesHarmlessly) {
    CSerialPort engine;
    engine.ClosePort();
    EXPECT_FALSE(engine.StartPortThread());
    const std::uint8_t byte = 0;
    engine.HandOff(&byte, 1);  // no buffer yet: nothing to do
}

// The registry's USB keys name the cable's bridge; OpenPort takes them for port 0 and as the
// fall-back for a port that cannot be opened.
class RegistryPortChoiceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_usb = test::UsbPortsFromEnvironment();
        if (m_usb.count("0006") == 0 || m_usb.count("0001") == 0) {
            GTEST_SKIP() << "KESTRO_TEST_USB_PORTS names no bridge with instances 0006 and 0001";
        }
    }
    std::map<std::string, int> m_usb;
};

TEST_F(RegistryPortChoiceTest, APortThatCannotBeOpenedFallsBackToTheBridgeOfInstance0001) {
    CSerialPort engine;
    RecordingOwner owner;
    ASSERT_TRUE(engine.OpenPort(&owner, 241)) << engine.LastOpenError();
    EXPECT_EQ(engine.PortNumber(), m_usb["0001"]);
    engine.ClosePort();
}

TEST_F(RegistryPortChoiceTest, AutomaticChoiceFindsTheRadioAndItAnswers) {
    const auto radio = test::RadioPortFromEnvironment();
    if (!radio || *radio != m_usb["0006"]) {
        GTEST_SKIP() << "no simulated radio on the bridge of instance 0006";
    }
    LinkState link;
    link.m_hReplyEvent = std::make_unique<ManualResetEvent>();
    ReplyReceiver receiver(link);
    struct Owner final : IPortOwner {
        ReplyReceiver* receiver = nullptr;
        void OnSerialRxChar(std::uint8_t byte, int port) override {
            receiver->OnSerialRxChar(byte, port);
        }
        void OnPortError(const std::string&, int) override {}
    } owner;
    owner.receiver = &receiver;

    CSerialPort engine;
    ASSERT_TRUE(engine.OpenPort(&owner, 0)) << engine.LastOpenError();
    EXPECT_EQ(engine.PortNumber(), *radio);
    ASSERT_TRUE(engine.StartPortThread());

    const Frame serial = BuildRequest(REQ_SERIAL);
    engine.HandOff(serial.data(), serial.size());
    ASSERT_TRUE(link.m_hReplyEvent->WaitFor(5s)) << "no reply from the radio";
    EXPECT_EQ(link.m_replyCode.load(), RSP_SERIAL);
    EXPECT_EQ(link.DeviceSerialNumber().size(), 10u);
    engine.ClosePort();
}

}  // namespace
}  // namespace kestro
