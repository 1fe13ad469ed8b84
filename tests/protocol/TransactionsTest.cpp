#include <gtest/gtest.h>

#include "LinkTestSupport.h"
#include "protocol/CommandTable.h"
#include "protocol/Transactions.h"

namespace kestro {
namespace {

using test::Ack;
using test::Bytes;
using test::Nak;
using test::ReplyFrame;

std::vector<long> WaitTimeouts(const VirtualClock& clock) {
    std::vector<long> out;
    for (const auto& r : clock.Waits()) out.push_back(static_cast<long>(r.requested.count()));
    return out;
}

std::vector<long> PauseDurations(const VirtualClock& clock) {
    std::vector<long> out;
    for (const auto& r : clock.Pauses()) out.push_back(static_cast<long>(r.requested.count()));
    return out;
}

class TransactionsTest : public ::testing::Test {
protected:
    TransactionsTest() {
        link.m_hReplyEvent = std::make_unique<ManualResetEvent>();
        tx.SetPort(&radio);
    }

    VirtualClock clock;
    LinkState link;
    ReplyReceiver rx{link};
    test::ScriptedRadio radio{clock, rx};
    CTransactions tx{link, clock};
};

TEST_F(TransactionsTest, DetectionWithNoRadioSendsFiveFramesWithGrowingWaits) {
    const TxResult r = tx.Run(REQ_DETECT);
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.nak);
    EXPECT_EQ(radio.sent.size(), 5U);
    EXPECT_EQ(WaitTimeouts(clock), (std::vector<long>{500, 600, 700, 800, 900}));
    EXPECT_EQ(clock.Now(), Millis{3500});
    EXPECT_TRUE(PauseDurations(clock).empty());
}

TEST_F(TransactionsTest, UpdateStartRefusedFiveTimesIsANakFailureWithItsPauses) {
    radio.answer = [](const Frame&, int) { return Nak(); };
    const TxResult r = tx.Run(REQ_UPDATE_START);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.nak);
    EXPECT_EQ(radio.sent.size(), 5U);
    EXPECT_EQ(WaitTimeouts(clock), (std::vector<long>(5, 1000)));
    EXPECT_EQ(PauseDurations(clock),
              (std::vector<long>{100, 1000, 100, 1000, 100, 1000, 100, 1000, 100, 1000}));
    // The order matters: hand-over, 100 ms pause, wait, then the pause after the NAK.
    const auto& rec = clock.Records();
    ASSERT_GE(rec.size(), 3U);
    EXPECT_EQ(rec[0].kind, VirtualClock::Record::Kind::Pause);
    EXPECT_EQ(rec[1].kind, VirtualClock::Record::Kind::Wait);
    EXPECT_EQ(rec[2].kind, VirtualClock::Record::Kind::Pause);
}

TEST_F(TransactionsTest, ANakFollowedBySilenceStillCountsAsANak) {
    radio.answer = [](const Frame&, int i) { return i == 0 ? Nak() : Bytes{}; };
    const TxResult r = tx.Run(REQ_UPDATE_START);
    EXPECT_TRUE(r.nak);
    EXPECT_EQ(radio.sent.size(), 5U);
    EXPECT_EQ(link.m_replyCode, RSP_NAK);
}

TEST_F(TransactionsTest, UpdateStartAcceptedPausesAndConsumes) {
    radio.answer = [](const Frame&, int) { return Ack(); };
    EXPECT_TRUE(tx.Run(REQ_UPDATE_START).ok);
    EXPECT_EQ(PauseDurations(clock), (std::vector<long>{100, 2000}));
    EXPECT_EQ(link.m_replyCode, 0);
    EXPECT_FALSE(link.m_hReplyEvent->IsSet());
}

TEST_F(TransactionsTest, ResendWhileSilentStopsAtTheFirstReplyOfAnyKind) {
    radio.answer = [](const Frame&, int i) { return i == 2 ? Nak() : Bytes{}; };
    const TxResult r = tx.Run(REQ_CP_CHECK);
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(radio.sent.size(), 3U);
    EXPECT_EQ(WaitTimeouts(clock), (std::vector<long>{1000, 1100, 1200}));
}

TEST_F(TransactionsTest, ResendWhileSilentGivesUpAfterSevenRequests) {
    const TxResult r = tx.Run(REQ_CP_CHECK);
    EXPECT_TRUE(r.timedOut);
    EXPECT_EQ(radio.sent.size(), 7U);
    EXPECT_EQ(WaitTimeouts(clock), (std::vector<long>{1000, 1100, 1200, 1300, 1400, 1500, 1600}));
    EXPECT_EQ(clock.Now(), Millis{9100});
}

TEST_F(TransactionsTest, ResetModeAckPausesBeforeItIsConsumed) {
    radio.answer = [](const Frame&, int) { return Ack(); };
    EXPECT_TRUE(tx.Run(REQ_RESET_MODE).ok);
    EXPECT_EQ(PauseDurations(clock), (std::vector<long>{2500}));
    EXPECT_EQ(link.m_replyCode, 0);
}

TEST_F(TransactionsTest, CodeplugWriteRetriesTwoNaksOnly) {
    link.m_codeplugAddress = 0x3049;
    radio.answer = [](const Frame&, int) { return Nak(); };
    EXPECT_FALSE(tx.Run(REQ_CP_WRITE, 0x14).ok);
    EXPECT_EQ(radio.sent.size(), 3U);
    EXPECT_EQ(radio.sent[0].bytes[7], 0x14);
    EXPECT_EQ(radio.sent[0].bytes[3], 0x30);

    radio.sent.clear();
    radio.answer = [](const Frame&, int i) { return i < 2 ? Nak() : Ack(); };
    EXPECT_TRUE(tx.Run(REQ_CP_WRITE, 0x14).ok);
    EXPECT_EQ(radio.sent.size(), 3U);
}

TEST_F(TransactionsTest, CodeplugRestoreWaitsOutSilenceBeforeJudging) {
    const TxResult r = tx.Run(REQ_CP_RESTORE);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(radio.sent.size(), 7U);
    EXPECT_EQ(WaitTimeouts(clock), (std::vector<long>{300, 320, 340, 360, 380, 400, 420}));
}

TEST_F(TransactionsTest, WriteRecordSilentAndRefusingTimings) {
    std::array<std::uint8_t, kRecordSize> record{};
    record[0] = 0x02;
    record[1] = 0x10;
    EXPECT_FALSE(tx.WriteRecord(record).ok);
    EXPECT_EQ(WaitTimeouts(clock), (std::vector<long>{100, 120, 140, 160, 180, 200}));
    EXPECT_EQ(link.m_recordEcho, 0x0210);

    clock.ClearRecords();
    radio.answer = [](const Frame&, int) { return Nak(); };
    EXPECT_FALSE(tx.WriteRecord(record).ok);
    EXPECT_EQ(WaitTimeouts(clock), (std::vector<long>(6, 100)));
}

TEST_F(TransactionsTest, WriteRecordIgnoresAWrongEchoAndAcceptsTheRightOne) {
    std::array<std::uint8_t, kRecordSize> record{};
    record[0] = 0x03;
    record[1] = 0x7F;
    radio.answer = [](const Frame& f, int i) {
        // First a reply echoing another row, then the right one.
        return i == 0 ? ReplyFrame({0x80, 0xA2, 0x03, 0x80})
                      : ReplyFrame({0x80, 0xA2, f.bytes[3], f.bytes[4]});
    };
    EXPECT_TRUE(tx.WriteRecord(record).ok);
    EXPECT_EQ(radio.sent.size(), 2U);
}

TEST_F(TransactionsTest, ALateReplyToAnEarlierAttemptAnswersTheCurrentOne) {
    // The radio answers the first request after 700 ms: past the first 500 ms wait but within
    // the second one, which starts at 500 ms.
    radio.latency = Millis{700};
    radio.answer = [](const Frame&, int i) {
        return i == 0 ? ReplyFrame({0x80, 0x93, 0x00, 0x01, 0x01}) : Bytes{};
    };
    EXPECT_TRUE(tx.Run(REQ_DETECT).ok);
    EXPECT_EQ(radio.sent.size(), 2U);
    EXPECT_EQ(clock.Now(), Millis{700});
}

TEST_F(TransactionsTest, BootSwapCarriesTheImageChecksumAndClearsOnlyTheCode) {
    std::array<std::uint8_t, kBootImageSize> image{};
    image[10] = 0x5A;
    radio.answer = [](const Frame&, int) { return ReplyFrame({0x80, 0xA5}); };
    EXPECT_TRUE(tx.SendBootSwap(image).ok);
    const std::uint16_t crc = Crc16(image.data(), image.size());
    EXPECT_EQ(radio.sent[0].bytes[3], crc >> 8);
    EXPECT_EQ(radio.sent[0].bytes[4], crc & 0xFF);
    EXPECT_EQ(PauseDurations(clock), (std::vector<long>{100}));
    EXPECT_EQ(link.m_replyCode, 0);
    EXPECT_TRUE(link.m_hReplyEvent->IsSet());  // only the code is cleared
}

TEST_F(TransactionsTest, AStopRequestEndsTheTransactionAtItsNextWait) {
    ManualResetEvent cancel;
    tx.SetCancelEvent(&cancel);
    clock.ScheduleAt(Millis{1200}, [&] {
        cancel.Set();
        link.SignalReply();
    });
    const TxResult r = tx.Run(REQ_CP_CHECK);
    EXPECT_TRUE(r.cancelled);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(radio.sent.size(), 2U);
    EXPECT_EQ(clock.Now(), Millis{1200});
}

}  // namespace
}  // namespace kestro
