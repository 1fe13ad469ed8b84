// The fault-injection soak: its retry bounds hold for real transactions, its table of ends tells
// the ends apart, its images load, a short soak is clean and repeatable, and a wrong image in the
// radio is caught as a violation.

#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "soak/RetryBounds.h"
#include "soak/RunEnds.h"
#include "soak/SoakCase.h"
#include "soak/SoakFirmware.h"
#include "firmware/TempDir.h"
#include "platform/VirtualClock.h"
#include "protocol/ReplyReceiver.h"
#include "protocol/Transactions.h"
#include "upgrade/Texts.h"

namespace kestro {
namespace {

using namespace std::chrono_literals;

// A radio that answers every request with a NAK 1 ms later.
struct RefusingPort final : ISendHandoff {
    RefusingPort(VirtualClock& clock, ReplyReceiver& receiver) : clock(clock), receiver(receiver) {}
    void HandOff(const std::uint8_t*, std::size_t) override {
        ++requests;
        clock.ScheduleAfter(1ms, [this] {
            for (std::uint8_t b : {0x01, 0x80, 0x15, 0x00, 0x00, 0x91, 0x46, 0x04}) {
                receiver.OnSerialRxChar(b);
            }
        });
    }
    VirtualClock& clock;
    ReplyReceiver& receiver;
    std::size_t requests = 0;
};

TEST(SoakRetryBounds, NoTransactionOutlastsItsBoundWhetherTheRadioIsSilentOrRefuses) {
    EXPECT_EQ(soak::LongestTransaction(CommandOf(REQ_DETECT)).time, 3500ms);       // 500 .. 900
    EXPECT_EQ(soak::LongestTransaction(CommandOf(REQ_WRITE_RECORD)).time, 900ms);  // 100 .. 200
    for (const CommandSpec& command : kCommandTable) {
        const soak::RunBound bound = soak::LongestTransaction(command);
        for (const bool refuse : {false, true}) {
            VirtualClock clock;
            LinkState link;
            link.m_hReplyEvent = std::make_unique<ManualResetEvent>();
            ReplyReceiver receiver(link);
            RefusingPort port(clock, receiver);
            CTransactions tx(link, clock);
            std::size_t silentRequests = 0;
            struct Counter final : ISendHandoff {
                void HandOff(const std::uint8_t*, std::size_t) override { ++*count; }
                std::size_t* count;
            } silent;
            silent.count = &silentRequests;
            tx.SetPort(refuse ? static_cast<ISendHandoff*>(&port) : &silent);
            const auto start = clock.Now();
            const TxResult result =
                command.id == REQ_WRITE_RECORD ? tx.WriteRecord(std::array<std::uint8_t, 18>{})
                : command.id == REQ_BOOT_SWAP  ? tx.SendBootSwap(std::array<std::uint8_t, 4096>{})
                                               : tx.Run(command.id);
            EXPECT_FALSE(result.ok) << command.name;
            EXPECT_LE(clock.Now() - start, bound.time)
                << command.name << (refuse ? " refused" : "");
            EXPECT_LE(refuse ? port.requests : silentRequests, bound.requests) << command.name;
            if (!refuse && command.discipline == Discipline::Counted && command.pauseAfterNak == 0 &&
                command.nakStep <= command.step) {
                // A silent radio uses up the whole bound but the pause after success.
                EXPECT_EQ(clock.Now() - start, bound.time - Millis{command.pauseAfterSuccess})
                    << command.name;
            }
        }
    }
}

TEST(SoakRetryBounds, ARunAddsUpItsTransactionsAndARecoveryRunSkipsTheChecks) {
    const auto full = soak::LongestRun(10, false);
    const auto recovery = soak::LongestRun(10, true);
    const auto record = soak::LongestTransaction(CommandOf(REQ_WRITE_RECORD));
    EXPECT_EQ(soak::LongestRun(11, false).time - full.time, record.time);
    EXPECT_EQ(full.requests - recovery.requests,
              4 * 5 + 3 + 7 + 2 * 3 + 7 + 3 * 7 + 2 * 3 * 7 + 7U);  // detection .. reset mode
    EXPECT_LT(recovery.time, full.time);
}

TEST(SoakRunEnds, EveryEndIsFoundByItsBoxesAndLookalikeTextsAreToldApart) {
    for (const soak::RunEnd& end : soak::RunEnds()) {
        const std::vector<std::string> boxes(end.boxes.begin(), end.boxes.end());
        const soak::RunEnd* found = soak::FindRunEnd(boxes, end.completed);
        ASSERT_NE(found, nullptr) << end.name;
        EXPECT_STREQ(found->name, end.name);
    }
    // The codeplug phase's Write Error #2 ends in a blank, the programming phase's does not.
    EXPECT_EQ(soak::FindRunEnd({texts::kCodeplugWriteError2}, false)->logResults.size(), 1U);
    EXPECT_TRUE(soak::FindRunEnd({texts::kWriteError2}, false)->logResults.empty());
    EXPECT_EQ(soak::FindRunEnd({texts::kWriteError4}, false)->recovery, soak::RecoveryEffect::Set);
    EXPECT_EQ(soak::FindRunEnd({texts::kWriteError8}, false)->recovery,
              soak::RecoveryEffect::Unchanged);
    EXPECT_EQ(soak::FindRunEnd({texts::kCommError1, texts::kReadError12}, false), nullptr);
    EXPECT_EQ(soak::FindRunEnd({"Write Error #4"}, false), nullptr);
    EXPECT_EQ(soak::FindRunEnd({texts::kWriteError4, texts::kWriteError4}, false), nullptr);
}

TEST(SoakFirmware, EachSizeLoadsWithItsRowsOnBothSidesOf64KiB) {
    for (const std::size_t rows : soak::SoakImageSizes()) {
        CCommFile file;
        HexParseError error;
        ASSERT_TRUE(file.ParseHexRecords(soak::SoakFirmwareText(rows), error)) << error.m_reason;
        file.BuildRowTable();
        EXPECT_EQ(static_cast<std::size_t>(file.m_rowCount - file.m_appStartRow), rows);
        EXPECT_EQ(file.RowAt(file.m_appStartRow)[0], 0x02);
        if (rows > 1) {
            EXPECT_EQ(file.RowAt(file.m_rowCount - 1)[0], 0x10);  // row 0x10xx
        }
    }
}

TEST(Soak, AShortSoakIsCleanReachesManyEndsAndRepeatsItself) {
    test::TempDir dir;
    const soak::SoakRunner runner(dir.Path());
    std::set<std::string> outcomes;
    std::size_t recoveries = 0, followUps = 0;
    for (std::size_t i = 0; i < 300; ++i) {
        const soak::CaseResult result = runner.RunCase(1, i);
        EXPECT_TRUE(result.violations.empty())
            << "case " << i << ": " << result.description << ": " << result.violations.front();
        outcomes.insert(result.outcome);
        recoveries += result.recovery ? 1 : 0;
        followUps += result.followUp ? 1 : 0;
    }
    EXPECT_GE(outcomes.size(), 12U);
    EXPECT_TRUE(outcomes.count("completed"));
    EXPECT_GT(recoveries, 0U);
    EXPECT_GT(followUps, 0U);

    const soak::CaseResult once = runner.RunCase(9, 41);
    const soak::CaseResult again = runner.RunCase(9, 41);
    EXPECT_EQ(once.description, again.description);
    EXPECT_EQ(once.outcome, again.outcome);
    EXPECT_EQ(once.virtualTime, again.virtualTime);
    EXPECT_NE(runner.RunCase(9, 42).description, once.description);
}

TEST(Soak, AnImageOtherThanTheFirmwareInTheRadioIsAViolation) {
    test::TempDir dir;
    const soak::SoakRunner runner(dir.Path());
    // The kit now loads another image than the one the soak expects in the radio.
    const auto sizes = soak::SoakImageSizes();
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const std::size_t other = sizes[(i + 1) % sizes.size()];
        std::ofstream(dir.Path() / ("firmware-" + std::to_string(sizes[i]) + ".pvx"),
                      std::ios::binary)
            << soak::SoakFirmwareText(other);
    }
    std::size_t completed = 0;
    for (std::size_t i = 0; i < 40; ++i) {
        const soak::CaseResult result = runner.RunCase(3, i);
        if (result.outcome != "completed") continue;
        ++completed;
        ASSERT_FALSE(result.violations.empty()) << "case " << i;
        EXPECT_NE(result.violations.front().find("row"), std::string::npos)
            << result.violations.front();
    }
    EXPECT_GT(completed, 10U);
}

TEST(Soak, DamageThatTheCheckBytesCannotSeeIsToldApartFromAFaultOfTheKit) {
    test::TempDir dir;
    soak::SoakHooks hooks;
    // One data byte of row 0x0200 changed on the line and the frame's check recomputed: the
    // radio stores a row the kit never sent, and the kit cannot know.
    hooks.rewriteRequest = [](std::vector<std::uint8_t>& frame) {
        if (frame.size() != 24 || frame[2] != 0x62 || frame[3] != 0x02 || frame[4] != 0x00) return;
        frame[10] ^= 0x40;
        const std::uint16_t crc = Crc16(frame.data() + 1, 20);
        frame[21] = static_cast<std::uint8_t>(crc >> 8);
        frame[22] = static_cast<std::uint8_t>(crc & 0xFF);
    };
    const soak::SoakRunner runner(dir.Path(), hooks);
    std::size_t completed = 0;
    for (std::size_t i = 0; i < 40; ++i) {
        const soak::CaseResult result = runner.RunCase(3, i);
        if (result.outcome != "completed") continue;
        ++completed;
        EXPECT_TRUE(result.violations.empty()) << "case " << i << ": " << result.violations.front();
        EXPECT_GT(result.forgedRequests, 0U);
        ASSERT_FALSE(result.forgedFindings.empty()) << "case " << i;
        EXPECT_NE(result.forgedFindings.front().find("flash row 512"), std::string::npos)
            << result.forgedFindings.front();
    }
    EXPECT_GT(completed, 10U);
}

}  // namespace
}  // namespace kestro
