// The pre-checks, the codeplug reads, the progress labels and the hub's own ends (load, port,
// stop request, log), in virtual time against the simulated radio.

#include <gtest/gtest.h>

#include <algorithm>

#include "UpgradeTestSupport.h"
#include "upgrade/PortSetting.h"
#include "upgrade/Texts.h"

namespace kestro {
namespace {

using test::LogLines;
using test::VirtualRun;
namespace t = texts;

bool Contains(const std::vector<std::string>& list, const std::string& text) {
    return std::find(list.begin(), list.end(), text) != list.end();
}

TEST(PreChecks, BatteryPassesUnlessBitZeroIsSet) {
    for (const std::uint8_t status : {0x00, 0x02, 0x80}) {
        VirtualRun run;
        run.radio.Config().batteryStatus = status;
        run.Upgrade();
        EXPECT_EQ(run.hub->LastOutcome(), RunOutcome::Completed) << int(status);
    }
    VirtualRun low;
    low.radio.Config().batteryStatus = 0x01;
    low.Upgrade();
    ASSERT_EQ(low.reporter.boxes.size(), 1U);
    EXPECT_EQ(low.reporter.boxes[0].text, t::kReadError8);
    EXPECT_EQ(low.radio.CountOf(REQ_MODEL), 0U);
}

struct VersionCase {
    const char* version;
    bool continues;
};

class VersionCheck : public ::testing::TestWithParam<VersionCase> {};

TEST_P(VersionCheck, OnlyAnOlderReleaseOfTheRFamilyIsUpgraded) {
    VirtualRun run;
    std::copy_n(GetParam().version, 5, run.radio.Config().version.begin());
    run.Upgrade();
    if (GetParam().continues) {
        EXPECT_EQ(run.hub->LastOutcome(), RunOutcome::Completed);
        EXPECT_TRUE(run.reporter.boxes.empty());
    } else {
        ASSERT_EQ(run.reporter.boxes.size(), 1U);
        EXPECT_EQ(run.reporter.boxes[0].text, t::kFirmwareNotOlder);
        EXPECT_EQ(run.reporter.boxes[0].icon, Icon::Warning);
        EXPECT_EQ(run.radio.CountOf(REQ_SERIAL), 0U);
    }
}

INSTANTIATE_TEST_SUITE_P(Versions, VersionCheck,
                         ::testing::Values(VersionCase{"R0103", true}, VersionCase{"R0099", true},
                                           VersionCase{"S0200", true}, VersionCase{"R0104", false},
                                           VersionCase{"R0105", false}, VersionCase{"R0200", false}));

TEST(PreChecks, TheLogRecordStartsWithSerialAndVersionAsTheRadioSentThem) {
    VirtualRun run;
    const char serial[] = "ABCDEFGHIJ";
    std::copy_n(serial, 10, run.radio.Config().serial.begin());
    run.Upgrade();
    const auto lines = LogLines(run.logPath);
    ASSERT_EQ(lines.size(), 1U);
    const std::string record = ",ABCDEFGHIJ,R0103,No,OK";
    ASSERT_GT(lines[0].size(), record.size());
    EXPECT_EQ(lines[0].substr(lines[0].size() - record.size()), record) << lines[0];
    EXPECT_EQ(std::count(lines[0].begin(), lines[0].end(), ','), 5) << lines[0];
}

TEST(PreChecks, ASerialNumberWithCommasAndControlBytesStaysOneRecord) {
    VirtualRun run;
    const std::array<std::uint8_t, 10> hostile = {'=', 'A', ',', 'B', '\r', '\n', 0, 'C', 'D', 'E'};
    run.radio.Config().serial = hostile;
    run.Upgrade();
    const auto lines = LogLines(run.logPath);
    ASSERT_EQ(lines.size(), 1U);
    // Date, time, serial, version, codeplug, result: six fields, whatever the radio sent.
    EXPECT_EQ(std::count(lines[0].begin(), lines[0].end(), ','), 5) << lines[0];
    // A leading '=' would run as a formula in a spreadsheet.
    EXPECT_NE(lines[0].find(",'=A"), std::string::npos) << lines[0];
}

TEST(Codeplug, ALateAnswerToTheFirstReadIsNotTakenForTheDecidingOne) {
    VirtualRun run;
    run.radio.SetCodeplugByte(0x3049, 0x6F);  // what a mistaken reading would decide on
    run.radio.SetCodeplugByte(0x3197, 0x00);
    Fault late;
    late.kind = FaultKind::Late;
    late.delay = SimMillis{210};  // after the first read's wait, inside the second one's
    run.radio.Config().faultsByNumber[7] = late;
    late.delay = SimMillis{40};
    run.radio.Config().faultsByNumber[8] = late;
    run.Upgrade();
    EXPECT_EQ(run.hub->LastOutcome(), RunOutcome::Completed);
    EXPECT_EQ(run.radio.CountOf(REQ_CP_WRITE), 2U);
    EXPECT_EQ(run.radio.CodeplugByte(0x3197), 0x6F);
}

TEST(Progress, EachWholePercentOfTheApplicationRowsShowsOnce) {
    VirtualRun run(101);
    run.Upgrade();
    ASSERT_EQ(run.hub->LastOutcome(), RunOutcome::Completed);
    const auto& labels = run.reporter.labels;
    const auto firstBoot = std::find(labels.begin(), labels.end(), "Boot Writing  0%");
    ASSERT_NE(firstBoot, labels.end());
    std::vector<std::string> application(labels.begin() + 1, firstBoot);  // after "Firmware Writing"
    ASSERT_EQ(application.size(), 101U);
    for (int i = 0; i <= 100; ++i) {
        char expected[32];
        std::snprintf(expected, sizeof expected, "Firmware Writing %2d%%", i);
        EXPECT_EQ(application[static_cast<std::size_t>(i)], expected);
    }
    // Boot rows: 0% for the first three, 1% at the fourth, 100% at the last.
    std::vector<std::string> boot(firstBoot, labels.end());
    ASSERT_EQ(boot.size(), 256U);
    EXPECT_EQ(boot[2], "Boot Writing  0%");
    EXPECT_EQ(boot[3], "Boot Writing  1%");
    EXPECT_EQ(boot[255], "Boot Writing 100%");
    EXPECT_EQ(labels.front(), t::kFirmwareWriting);
}

TEST(Progress, ASingleApplicationRowIsTheWholeStretch) {
    VirtualRun run(1);
    run.Upgrade();
    ASSERT_EQ(run.hub->LastOutcome(), RunOutcome::Completed);
    EXPECT_TRUE(Contains(run.reporter.labels, "Firmware Writing 100%"));
    EXPECT_TRUE(run.RadioHoldsFirmware());
}

TEST(Progress, AFirmwareWithoutApplicationRowsSendsTheBootRowsTwice) {
    VirtualRun run(0);
    run.Upgrade();
    ASSERT_EQ(run.hub->CommFile().m_appStartRow, 0);
    EXPECT_EQ(run.radio.CountOf(REQ_WRITE_RECORD), 512U);
    EXPECT_EQ(run.hub->LastOutcome(), RunOutcome::Completed);
    EXPECT_TRUE(run.RadioHoldsFirmware());
}

TEST(HubEnds, AnUnusableFirmwareFileStartsNothing) {
    VirtualRun run;
    std::filesystem::remove(run.firmwarePath);
    EXPECT_EQ(run.Upgrade(), StartResult::LoadFailed);
    EXPECT_EQ(run.reporter.Status(), "Firmware file can not open");
    EXPECT_EQ(run.hub->UpgradeRunningFlag(), 0);
    EXPECT_EQ(run.radio.RequestsSeen(), 0U);
}

TEST(HubEnds, APortThatCannotBeOpenedSaysCheckTheConnection) {
    VirtualRun run;
    run.link.FailOpen("no such device");
    EXPECT_EQ(run.Upgrade(), StartResult::PortFailed);
    EXPECT_EQ(run.reporter.Status(), t::kCheckConnection);
    ASSERT_EQ(run.reporter.boxes.size(), 1U);
    EXPECT_EQ(run.reporter.boxes[0].text, t::kNoDeviceDetected);
    EXPECT_EQ(run.reporter.boxes[0].icon, Icon::Information);
    EXPECT_EQ(run.hub->UpgradeRunningFlag(), 0);
    EXPECT_EQ(run.hub->Engine().LastOpenError(), "no such device");
}

TEST(HubEnds, AStopRequestEndsTheRunAtItsNextWaitAndSaysWhetherRecoveryIsNeeded) {
    {
        VirtualRun run;
        run.clock.ScheduleAfter(Millis{1}, [&] { run.hub->RequestStop(); });
        run.Upgrade();
        EXPECT_EQ(run.hub->LastOutcome(), RunOutcome::Interrupted);
        EXPECT_EQ(run.hub->RecoveryFlag(), 0);
        ASSERT_EQ(run.reporter.boxes.size(), 1U);
        EXPECT_EQ(run.reporter.boxes[0].text, t::kInterrupted);
        EXPECT_EQ(run.radio.CountOf(REQ_ERASE_FLASH), 0U);
    }
    {
        VirtualRun run(200);
        // Stop once the erase has been answered: the radio is left without firmware.
        run.reporter.onBox = nullptr;
        bool asked = false;
        std::function<void()> watch = [&] {
            if (!asked && run.radio.CountOf(REQ_WRITE_RECORD) >= 10) {
                asked = true;
                run.hub->RequestStop();
                return;
            }
            run.clock.ScheduleAfter(Millis{5}, watch);
        };
        run.clock.ScheduleAfter(Millis{5}, watch);
        run.Upgrade();
        EXPECT_EQ(run.hub->LastOutcome(), RunOutcome::Interrupted);
        EXPECT_EQ(run.hub->RecoveryFlag(), 1);
        ASSERT_EQ(run.reporter.boxes.size(), 1U);
        EXPECT_EQ(run.reporter.boxes[0].text, t::kInterruptedNeedsRecovery);
        EXPECT_LT(run.radio.CountOf(REQ_WRITE_RECORD), 200U);
        EXPECT_EQ(run.hub->UpgradeRunningFlag(), 0);
    }
}

TEST(HubEnds, ALogThatCannotBeWrittenIsReportedAndTheRunStillCompletes) {
    VirtualRun run;
    // A folder where the log file should be: it can be neither created nor opened.
    std::filesystem::remove(run.logPath);
    std::filesystem::create_directories(run.logPath);
    run.Upgrade();
    EXPECT_EQ(run.hub->LastOutcome(), RunOutcome::Completed);
    ASSERT_EQ(run.reporter.boxes.size(), 1U);
    EXPECT_EQ(run.reporter.boxes[0].text, t::kLogOpenFailed);
    EXPECT_TRUE(run.RadioHoldsFirmware());
}

TEST(PortSettings, StoredValuesSelectThePort) {
    struct Case {
        const char* autoValue;
        const char* com;
        int port;
    };
    const Case cases[] = {{"No", "COM12", 12}, {"No", "", 3},   {"No", "COM7x", 7},
                          {"No", "COMx", 0},   {"No", "COM", 0}, {"no", "COM12", 0},
                          {"Yes", "COM12", 0}, {"", "COM12", 0}, {"No", "COM99999999999", INT_MAX}};
    for (const Case& c : cases) {
        MemorySettings settings;
        settings.SetString(kSettingsSection, kAutoValue, c.autoValue);
        settings.SetString(kSettingsSection, kComValue, c.com);
        EXPECT_EQ(PortNumberFromSettings(settings), c.port) << c.autoValue << " " << c.com;
    }
}

}  // namespace
}  // namespace kestro
