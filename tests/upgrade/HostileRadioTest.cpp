// Hostile radios, lines, logs and settings against whole runs in virtual time: a radio that
// streams garbage, answers with the wrong codes, echoes the wrong rows or sends every reply twice
// either makes the run fail with its specified message or lets it complete with exactly the
// firmware in the radio; a log or settings store in a bad state changes nothing else.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <random>
#include <set>

#include "UpgradeTestSupport.h"
#include "log/UpgradeLog.h"
#include "upgrade/PortSetting.h"
#include "upgrade/Texts.h"

namespace kestro {
namespace {

using test::VirtualRun;
namespace t = texts;
using namespace std::chrono_literals;

// Junk bursts fed to the hub as if the radio sent them, every 7 ms of virtual time for `span`.
void StreamGarbage(VirtualRun& run, std::uint32_t seed, bool withStartBytes, Millis span) {
    std::mt19937 random(seed);
    for (Millis at{1}; at < span; at += 7ms) {
        std::vector<std::uint8_t> junk(1 + random() % 40);
        for (auto& b : junk) {
            b = static_cast<std::uint8_t>(random());
            if (!withStartBytes && b == FRAME_SOH) b = 0x00;
        }
        run.clock.ScheduleAt(at, [&run, junk] {
            if (!run.hub->UpgradeRunning()) return;
            for (auto b : junk) run.hub->OnSerialRxChar(b, 7);
        });
    }
}

// Completed runs hold exactly the firmware; failed ones showed a message or ended silently where
// the kit does, and a radio left erased is always known to need recovery.
::testing::AssertionResult EndedSafely(VirtualRun& run) {
    if (run.hub->LastOutcome() == RunOutcome::Completed) return run.RadioHoldsFirmware();
    if (run.hub->LastOutcome() != RunOutcome::Failed) {
        return ::testing::AssertionFailure()
               << "outcome " << static_cast<int>(run.hub->LastOutcome());
    }
    if (run.radio.State() == RadioState::NeedsRecovery && run.hub->RecoveryFlag() != 1) {
        return ::testing::AssertionFailure() << "the erased radio is not marked for recovery";
    }
    if (run.hub->UpgradeRunningFlag() != 0) return ::testing::AssertionFailure() << "still running";
    return ::testing::AssertionSuccess();
}

TEST(HostileRadio, GarbageWithoutStartBytesBetweenRepliesChangesNothing) {
    VirtualRun run(40);
    StreamGarbage(run, 11, false, 600000ms);
    ASSERT_EQ(run.Upgrade(), StartResult::Started);
    EXPECT_EQ(run.hub->LastOutcome(), RunOutcome::Completed);
    EXPECT_TRUE(run.RadioHoldsFirmware());
    EXPECT_TRUE(run.reporter.boxes.empty());
}

TEST(HostileRadio, GarbageWithStartBytesEndsEveryRunSafelyAndARecoveryRunFinishesTheJob) {
    for (std::uint32_t seed = 1; seed <= 6; ++seed) {
        VirtualRun run(40);
        run.radio.Config().pace = seed % 2 == 0;  // paced replies let the junk land inside them
        StreamGarbage(run, seed, true, 600000ms);
        ASSERT_EQ(run.Upgrade(), StartResult::Started);
        EXPECT_TRUE(EndedSafely(run)) << "seed " << seed;
        if (run.hub->RecoveryFlag() == 1) {
            run.clock.RunUntil(run.clock.Now() + 600000ms);  // the junk has stopped
            run.Upgrade();
            EXPECT_EQ(run.hub->LastOutcome(), RunOutcome::Completed) << "seed " << seed;
            EXPECT_TRUE(run.RadioHoldsFirmware()) << "seed " << seed;
        }
    }
}

struct WrongCodeCase {
    RequestId kind;
    const char* message;  // nullptr: the run ends without a message box
    int recovery;
};

class WrongCodes : public ::testing::TestWithParam<WrongCodeCase> {};

TEST_P(WrongCodes, AnsweringOneKindOfRequestWithAnotherCodeFailsAtThatStep) {
    const WrongCodeCase& c = GetParam();
    VirtualRun run;
    run.radio.SetCodeplugByte(0x3197, 0x00);  // so that every codeplug request is sent
    Fault fault;
    fault.kind = FaultKind::WrongCode;
    run.radio.Config().faultsByKind[c.kind] = fault;
    ASSERT_EQ(run.Upgrade(), StartResult::Started);
    EXPECT_EQ(run.hub->LastOutcome(), RunOutcome::Failed);
    if (c.message == nullptr) {
        EXPECT_TRUE(run.reporter.boxes.empty());
    } else {
        ASSERT_FALSE(run.reporter.boxes.empty());
        EXPECT_EQ(run.reporter.boxes.back().text, c.message);
    }
    EXPECT_EQ(run.hub->RecoveryFlag(), c.recovery);
    EXPECT_TRUE(EndedSafely(run));
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, WrongCodes,
    ::testing::Values(WrongCodeCase{REQ_DETECT, t::kCommError1, 0},
                      WrongCodeCase{REQ_BATTERY, nullptr, 0},
                      WrongCodeCase{REQ_MODEL, t::kErrorReadModel, 0},
                      WrongCodeCase{REQ_FW_VERSION, t::kErrorReadFirmware, 0},
                      WrongCodeCase{REQ_SERIAL, t::kErrorReadSerial, 0},
                      WrongCodeCase{REQ_CP_CHECK, t::kReadError2, 0},
                      WrongCodeCase{REQ_CP_READ, t::kReadError4, 0},
                      WrongCodeCase{REQ_CP_PREPARE, nullptr, 0},
                      WrongCodeCase{REQ_CP_RESTORE, t::kCodeplugWriteError2, 0},
                      WrongCodeCase{REQ_CP_WRITE, t::kCodeplugWriteError3, 0},
                      WrongCodeCase{REQ_RESET_MODE, t::kErrorResetMode, 0},
                      WrongCodeCase{REQ_UPDATE_START, t::kWriteError1, 0},
                      WrongCodeCase{REQ_SELF_PROGRAM, t::kWriteError2, 0},
                      WrongCodeCase{REQ_ERASE_FLASH, t::kWriteError3, 1},
                      WrongCodeCase{REQ_WRITE_RECORD, t::kWriteError4, 1},
                      WrongCodeCase{REQ_BOOT_ERASE, t::kWriteError5, 1},
                      WrongCodeCase{REQ_BOOT_SWAP, t::kWriteError7, 1},
                      WrongCodeCase{REQ_UPDATE_END, t::kWriteError8, 0}),
    [](const auto& info) { return std::string(RequestName(info.param.kind)).substr(4); });

// Stands between the link and the hub and rewrites the echo of chosen record replies, with a
// valid check, as a radio that acknowledges another row than the one it was sent would.
class EchoRewriter final : public IPortOwner {
  public:
    EchoRewriter(CUpgradeHub*& hub, std::function<bool(std::uint16_t row)> rewrite)
        : m_hub(hub), m_rewrite(std::move(rewrite)) {}
    void OnSerialRxChar(std::uint8_t byte, int port) override {
        m_frame.push_back(byte);
        const std::uint8_t head[] = {FRAME_SOH, REPLY_MARK, RSP_RECORD};
        if (m_frame.size() <= 3 && m_frame.back() == head[m_frame.size() - 1]) return;
        if (m_frame.size() > 3 && m_frame.size() < 8) return;
        if (m_frame.size() == 8) {
            const auto row = static_cast<std::uint16_t>((m_frame[3] << 8) | m_frame[4]);
            if (m_rewrite(row)) {
                const auto wrong = static_cast<std::uint16_t>(row + 1);
                m_frame[3] = static_cast<std::uint8_t>(wrong >> 8);
                m_frame[4] = static_cast<std::uint8_t>(wrong & 0xFF);
                const std::uint16_t crc = Crc16(m_frame.data() + 1, 4);
                m_frame[5] = static_cast<std::uint8_t>(crc >> 8);
                m_frame[6] = static_cast<std::uint8_t>(crc & 0xFF);
            }
        }
        for (auto b : m_frame) m_hub->OnSerialRxChar(b, port);
        m_frame.clear();
    }
    void OnPortError(const std::string& text, int port) override { m_hub->OnPortError(text, port); }

  private:
    CUpgradeHub*& m_hub;
    std::function<bool(std::uint16_t)> m_rewrite;
    std::vector<std::uint8_t> m_frame;
};

// The run's hub, rebuilt with `owner` receiving the link's bytes.
CUpgradeHub* RewireThrough(VirtualRun& run, IPortOwner& owner) {
    return &run.RebuildHub({.portOwner = &owner});
}

TEST(HostileRadio, ARadioThatEchoesTheWrongRowNeverGetsASuccess) {
    VirtualRun run;
    CUpgradeHub* hub = nullptr;
    EchoRewriter rewriter(hub, [](std::uint16_t row) { return row == 0x0205; });
    hub = RewireThrough(run, rewriter);
    run.Upgrade();
    EXPECT_EQ(hub->LastOutcome(), RunOutcome::Failed);
    ASSERT_EQ(run.reporter.boxes.size(), 1U);
    EXPECT_EQ(run.reporter.boxes[0].text, t::kWriteError4);
    EXPECT_EQ(hub->RecoveryFlag(), 1);
    EXPECT_EQ(run.radio.BootSwaps(), 0U);  // nothing after the row was sent
}

TEST(HostileRadio, AWrongEchoOnceIsRetriedAndTheRunCompletesExactly) {
    VirtualRun run;
    CUpgradeHub* hub = nullptr;
    std::set<std::uint16_t> once = {0x0203, 0x0110};  // an application row and a boot row
    EchoRewriter rewriter(hub, [&once](std::uint16_t row) { return once.erase(row) != 0; });
    hub = RewireThrough(run, rewriter);
    run.Upgrade();
    EXPECT_EQ(hub->LastOutcome(), RunOutcome::Completed);
    EXPECT_TRUE(run.RadioHoldsFirmware());
    EXPECT_EQ(run.radio.CountOf(REQ_WRITE_RECORD), 20U + 256U + 2U);  // one resend each
}

TEST(HostileRadio, EveryReplyTwiceOrAfterAStatusReportGivesTheExactFirmwareOrASafeFailure) {
    for (const FaultKind kind : {FaultKind::Twice, FaultKind::StatusFirst}) {
        for (const bool pace : {false, true}) {
            VirtualRun run;
            run.radio.SetCodeplugByte(0x3197, 0x00);
            run.radio.Config().pace = pace;
            Fault fault;
            fault.kind = kind;
            for (int id = 0; id < REQ_COUNT; ++id) {
                run.radio.Config().faultsByKind[static_cast<RequestId>(id)] = fault;
            }
            run.Upgrade();
            const std::string what = (kind == FaultKind::Twice ? "twice" : "status first") +
                                     std::string(pace ? ", paced" : "");
            EXPECT_TRUE(EndedSafely(run)) << what;
            if (!pace || kind == FaultKind::StatusFirst) {
                // Whole bursts: the extra frame is in before the kit looks, and is ignored.
                EXPECT_EQ(run.hub->LastOutcome(), RunOutcome::Completed) << what;
                EXPECT_EQ(run.radio.CodeplugByte(0x3197), 0x6F) << what;
            } else {
                // At the line's pace each duplicate lands in the next request's wait, wakes it
                // with the wrong code and costs an attempt; the resends feed more duplicates
                // until a step runs out of attempts.
                EXPECT_EQ(run.hub->LastOutcome(), RunOutcome::Failed) << what;
                ASSERT_FALSE(run.reporter.boxes.empty()) << what;
                EXPECT_EQ(run.reporter.boxes.back().text, t::kErrorReadFirmware) << what;
            }
        }
    }
}

TEST(HostileLog, AFolderThatCannotBeCreatedIsReportedAndTheRunStillCompletes) {
    VirtualRun run;
    const auto blocker = run.dir.path() / "not-a-folder";
    std::ofstream(blocker) << "keep me";
    run.RebuildHub({.logPath = blocker / "Kestro_UpdateKit_log.csv"});
    ASSERT_EQ(run.reporter.boxes.size(), 1U);
    EXPECT_EQ(run.reporter.boxes[0].text, t::kLogOpenFailed);

    run.Upgrade();
    EXPECT_EQ(run.hub->LastOutcome(), RunOutcome::Completed);
    EXPECT_TRUE(run.RadioHoldsFirmware());
    ASSERT_EQ(run.reporter.boxes.size(), 2U);
    EXPECT_EQ(run.reporter.boxes[1].text, t::kLogOpenFailed);
    EXPECT_EQ(test::ReadFile(blocker), "keep me");
}

TEST(HostileLog, ALogLockedByAnotherProgramKeepsItsLinesAndGetsTheRunsLine) {
    VirtualRun run;
    // Another program holds the log open under an exclusive lock and has added a line of its own.
    const int other = ::open(run.logPath.c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX), 0);
    const std::string theirs = "2024/01/01, 00:00:00,SOMEONE,R0100,No,OK\r\n";
    ASSERT_EQ(::write(other, theirs.data(), theirs.size()), static_cast<ssize_t>(theirs.size()));

    run.Upgrade();
    ::close(other);
    EXPECT_EQ(run.hub->LastOutcome(), RunOutcome::Completed);
    const auto lines = test::LogLines(run.logPath);
    ASSERT_EQ(lines.size(), 2U);
    EXPECT_EQ(lines[0] + "\r\n", theirs);
    EXPECT_NE(lines[1].find("KS24001735,R0103,No,OK"), std::string::npos);
}

TEST(HostileSettings, JunkStoredValuesPickSomePortAndAreLeftAsTheyWere) {
    const std::string junk[] = {"COM-2147483649",
                                "COM+7",
                                std::string("CO\0M5", 5),
                                "\xFF\xFE\x01",
                                std::string(10000, '9'),
                                "COM 12 ",
                                "COMCOM"};
    for (const std::string& com : junk) {
        for (const std::string& autoValue :
             {std::string("No"), std::string("Maybe"), std::string(1, 0)}) {
            VirtualRun run;
            run.settings.SetString(kSettingsSection, kAutoValue, autoValue);
            run.settings.SetString(kSettingsSection, kComValue, com);
            ASSERT_EQ(run.Upgrade(), StartResult::Started) << com;
            EXPECT_EQ(run.hub->LastOutcome(), RunOutcome::Completed) << com;
            EXPECT_EQ(run.settings.GetString(kSettingsSection, kComValue), com);
            EXPECT_EQ(run.settings.GetString(kSettingsSection, kAutoValue), autoValue);
            const int port = PortNumberFromSettings(run.settings);
            EXPECT_EQ(run.link.PortNumber(), port != 0 ? port : VirtualRun::kPort) << com;  // the cable's
        }
    }
}

}  // namespace
}  // namespace kestro
