// The transactions against the simulated radio through the virtual link: every reply byte reaches
// the receiver at its virtual instant, so latencies, late replies and a lost cable show up as
// exact waits.

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "platform/VirtualClock.h"
#include "protocol/CommandTable.h"
#include "protocol/ReplyReceiver.h"
#include "protocol/Transactions.h"
#include "radio/SimRadio.h"
#include "radio/VirtualLink.h"

namespace kestro {
namespace {

using namespace std::chrono_literals;

// Feeds the receiver as the hub does, and remembers the port number of every delivery.
class ReceiverOwner final : public IPortOwner {
public:
    explicit ReceiverOwner(ReplyReceiver& receiver) : m_receiver(receiver) {}
    void OnSerialRxChar(std::uint8_t byte, int portNumber) override {
        ports.push_back(portNumber);
        m_receiver.OnSerialRxChar(byte, portNumber);
    }
    void OnPortError(const std::string& text, int /*portNumber*/) override {
        errors.push_back(text);
    }

    std::vector<int> ports;
    std::vector<std::string> errors;

private:
    ReplyReceiver& m_receiver;
};

struct WaitSeen {
    long requested;
    long elapsed;
    bool signalled;
    bool operator==(const WaitSeen&) const = default;
};

std::ostream& operator<<(std::ostream& out, const WaitSeen& w) {
    return out << "{" << w.requested << " ms, lasted " << w.elapsed << " ms, "
               << (w.signalled ? "answered" : "timed out") << "}";
}

class VirtualLinkTest : public ::testing::Test {
protected:
    VirtualLinkTest() {
        m_link.m_hReplyEvent = std::make_unique<ManualResetEvent>();
        m_tx.SetPort(&m_port);
    }

    void Open(int portNumber = 5) {
        ASSERT_TRUE(m_port.OpenPort(&m_owner, portNumber)) << m_port.LastOpenError();
        ASSERT_TRUE(m_port.StartPortThread());
    }

    std::vector<WaitSeen> Waits() const {
        std::vector<WaitSeen> out;
        for (const auto& r : m_clock.Waits()) {
            out.push_back({static_cast<long>(r.requested.count()),
                           static_cast<long>(r.elapsed.count()), r.signalled});
        }
        return out;
    }

    VirtualClock m_clock;
    SimRadio m_radio;
    LinkState m_link;
    ReplyReceiver m_receiver{m_link};
    ReceiverOwner m_owner{m_receiver};
    VirtualLink m_port{m_clock, m_radio};
    CTransactions m_tx{m_link, m_clock};
};

TEST_F(VirtualLinkTest, EveryQueryIsAnsweredAfterTheRadiosLatency) {
    m_radio.Config().latency = 25ms;
    Open();

    ASSERT_TRUE(m_tx.Run(REQ_DETECT).ok);
    EXPECT_EQ(m_link.m_deviceStatus.load(), 0x01);
    ASSERT_TRUE(m_tx.Run(REQ_BATTERY).ok);
    EXPECT_EQ(m_link.m_batteryLow.load(), 0);
    ASSERT_TRUE(m_tx.Run(REQ_MODEL).ok);
    EXPECT_EQ(m_link.DeviceModelNumber(), std::string("QXM27TPL4RC8ZN\0\0", 16));
    ASSERT_TRUE(m_tx.Run(REQ_FW_VERSION).ok);
    EXPECT_EQ(m_link.DeviceFirmwareVersion(), "R0103");
    ASSERT_TRUE(m_tx.Run(REQ_SERIAL).ok);
    EXPECT_EQ(m_link.DeviceSerialNumber(), "KS24001735");

    m_link.m_codeplugAddress = 0x3197;
    ASSERT_TRUE(m_tx.Run(REQ_CP_READ).ok);
    EXPECT_EQ(m_link.m_codeplugByte.load(), 0x6F);
    ASSERT_TRUE(m_tx.Run(REQ_CP_WRITE, 0x00).ok);
    EXPECT_EQ(m_radio.CodeplugByte(0x3197), 0x00);

    EXPECT_EQ(Waits(), (std::vector<WaitSeen>{{500, 25, true},
                                              {500, 25, true},
                                              {500, 25, true},
                                              {100, 25, true},
                                              {100, 25, true},
                                              {200, 25, true},
                                              {100, 25, true}}));
    EXPECT_EQ(m_clock.Now(), 7 * 25ms);
    EXPECT_EQ(m_owner.ports, std::vector<int>(m_port.BytesDelivered(), 5));
    EXPECT_TRUE(m_owner.errors.empty());
}

TEST_F(VirtualLinkTest, AReplySlowerThanTheTimeOutAnswersTheNextAttempt) {
    m_radio.Config().latency = 700ms;
    Open();
    const TxResult result = m_tx.Run(REQ_DETECT);
    EXPECT_TRUE(result.ok);
    // The first reply arrives 200 ms into the second attempt's 600 ms wait.
    EXPECT_EQ(Waits(), (std::vector<WaitSeen>{{500, 500, false}, {600, 200, true}}));
    EXPECT_EQ(m_radio.CountOf(REQ_DETECT), 2U);
    EXPECT_EQ(m_clock.Now(), 700ms);
    // The second attempt's own reply is still on its way.
    EXPECT_EQ(m_clock.PendingActions(), 1U);
}

TEST_F(VirtualLinkTest, TheRadiosFaultsDriveTheRetries) {
    m_radio.Config().faultsByNumber[1] = Fault{.kind = FaultKind::Silence};
    m_radio.Config().faultsByNumber[3] = Fault{.kind = FaultKind::Corrupt, .index = 6};
    m_radio.Config().faultsByKind[REQ_CP_WRITE] = Fault{.kind = FaultKind::Nak, .times = 2};
    Open();

    // Unheard, then answered; then a damaged reply is dropped by the receiver and retried.
    ASSERT_TRUE(m_tx.Run(REQ_DETECT).ok);
    ASSERT_TRUE(m_tx.Run(REQ_BATTERY).ok);
    EXPECT_EQ(Waits(), (std::vector<WaitSeen>{
                           {500, 500, false}, {600, 3, true}, {500, 500, false}, {550, 3, true}}));

    // Two refusals, then the write is carried out.
    m_link.m_codeplugAddress = 0x3049;
    ASSERT_TRUE(m_tx.Run(REQ_CP_WRITE, 0x00).ok);
    EXPECT_EQ(m_radio.CountOf(REQ_CP_WRITE), 3U);
    EXPECT_EQ(m_radio.CodeplugByte(0x3049), 0x00);
}

TEST_F(VirtualLinkTest, ACableLostFromTheNthRequestLeavesEveryLaterRequestUnanswered) {
    m_radio.Config().loseCableAt = 3;
    Open();
    ASSERT_TRUE(m_tx.Run(REQ_DETECT).ok);
    ASSERT_TRUE(m_tx.Run(REQ_BATTERY).ok);
    const std::size_t deliveredBefore = m_port.BytesDelivered();
    m_clock.ClearRecords();

    const TxResult result = m_tx.Run(REQ_MODEL);
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.nak);
    EXPECT_EQ(Waits(), (std::vector<WaitSeen>{{500, 500, false},
                                              {550, 550, false},
                                              {600, 600, false},
                                              {650, 650, false},
                                              {700, 700, false}}));
    EXPECT_TRUE(m_radio.CableLost());
    EXPECT_EQ(m_port.HandOffs(), 7U);
    EXPECT_EQ(m_radio.RequestsSeen(), 3U);
    EXPECT_EQ(m_radio.Requests().size(), 2U);
    EXPECT_EQ(m_port.BytesDelivered(), deliveredBefore);
    EXPECT_EQ(m_clock.PendingActions(), 0U);

    // Plugged back in, the radio answers again.
    m_radio.Reconnect();
    EXPECT_TRUE(m_tx.Run(REQ_MODEL).ok);
}

TEST_F(VirtualLinkTest, PacedRepliesTakeTheWireTimeOfEveryByte) {
    m_radio.Config().pace = true;
    m_radio.Config().latency = 3ms;
    Open();
    // 6 request bytes (0.78 ms), 3 ms, then 9 reply bytes (1.17 ms): the last byte is in at 5 ms.
    ASSERT_TRUE(m_tx.Run(REQ_DETECT).ok);
    // 24 reply bytes take 3.13 ms: 0.78 + 3 + 3.13 gives 7 ms.
    ASSERT_TRUE(m_tx.Run(REQ_MODEL).ok);
    EXPECT_EQ(Waits(), (std::vector<WaitSeen>{{500, 5, true}, {500, 7, true}}));
    EXPECT_EQ(m_link.DeviceModelNumber(), std::string("QXM27TPL4RC8ZN\0\0", 16));
}

TEST_F(VirtualLinkTest, ARequestHandedOffBeforeTheThreadStartsGoesOutAtItsStart) {
    ASSERT_TRUE(m_port.OpenPort(&m_owner, 5));
    m_tx.SendRequest(BuildRequest(REQ_DETECT));
    m_clock.RunUntil(100ms);
    EXPECT_EQ(m_radio.RequestsSeen(), 0U);
    ASSERT_TRUE(m_port.StartPortThread());
    EXPECT_EQ(m_radio.RequestsSeen(), 1U);
    EXPECT_TRUE(m_tx.WaitReply(500ms));
    EXPECT_EQ(m_link.m_replyCode.load(), RSP_DETECT);
}

TEST_F(VirtualLinkTest, ClosingDropsRepliesOnTheWayAndAReopenedPortIsFresh) {
    m_radio.Config().latency = 50ms;
    Open(5);
    m_tx.SendRequest(BuildRequest(REQ_DETECT));
    m_port.ClosePort();
    m_clock.RunUntil(200ms);
    EXPECT_EQ(m_radio.CountOf(REQ_DETECT), 1U) << "the radio heard the request";
    EXPECT_EQ(m_port.BytesDelivered(), 0U);
    EXPECT_EQ(m_link.m_replyCode.load(), 0);

    // A closed port takes nothing; a failed open says why.
    m_port.HandOff(BuildRequest(REQ_DETECT).data(), 6);
    EXPECT_EQ(m_radio.RequestsSeen(), 1U);
    m_port.FailOpen("device busy: test");
    EXPECT_FALSE(m_port.OpenPort(&m_owner, 5));
    EXPECT_EQ(m_port.LastOpenError(), "device busy: test");
    EXPECT_FALSE(m_port.StartPortThread());

    // Port 0 finds the cable, and its number travels with every byte.
    m_port.AllowOpen();
    m_port.SetCablePort(12);
    ASSERT_TRUE(m_port.OpenPort(&m_owner, 0));
    EXPECT_EQ(m_port.PortNumber(), 12);
    ASSERT_TRUE(m_port.StartPortThread());
    ASSERT_TRUE(m_tx.Run(REQ_DETECT).ok);
    EXPECT_EQ(m_owner.ports, std::vector<int>(9, 12));
}

TEST_F(VirtualLinkTest, RepliesScheduledByALinkThatIsGoneAreDropped) {
    {
        VirtualLink shortLived(m_clock, m_radio);
        ASSERT_TRUE(shortLived.OpenPort(&m_owner, 5));
        ASSERT_TRUE(shortLived.StartPortThread());
        const Frame frame = BuildRequest(REQ_DETECT);
        shortLived.HandOff(frame.data(), frame.size());
    }
    EXPECT_EQ(m_clock.PendingActions(), 1U);
    m_clock.RunUntil(100ms);
    EXPECT_TRUE(m_owner.ports.empty());
}

TEST_F(VirtualLinkTest, AnOwnerClosingInsideItsCallbackGetsNoFurtherByte) {
    struct ClosingOwner final : IPortOwner {
        VirtualLink* port = nullptr;
        int bytes = 0;
        void OnSerialRxChar(std::uint8_t, int) override {
            if (++bytes == 3) {
                port->ClosePort();
            }
        }
        void OnPortError(const std::string&, int) override {}
    } owner;
    owner.port = &m_port;
    ASSERT_TRUE(m_port.OpenPort(&owner, 5));
    ASSERT_TRUE(m_port.StartPortThread());
    const Frame frame = BuildRequest(REQ_MODEL);
    m_port.HandOff(frame.data(), frame.size());
    m_clock.RunUntil(100ms);
    EXPECT_EQ(owner.bytes, 3);
}

}  // namespace
}  // namespace kestro
