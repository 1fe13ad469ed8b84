// Whole runs in real time: the hub's own serial engine talks to the simulated radio served on a
// pseudo-terminal, so the port thread, the worker and the fixed pauses all run for real. Each
// run takes a few seconds.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "UpgradeTestSupport.h"
#include "radio/posix/PtyRadioServer.h"
#include "serial/PortNames.h"
#include "upgrade/PortSetting.h"
#include "upgrade/Texts.h"

namespace kestro {
namespace {

using test::LogLines;
namespace t = texts;

constexpr int kPort = kFirstFreePort + 3;

class PtyRun : public ::testing::Test {
protected:
    void SetUp() override {
        firmwarePath = dir.path() / "firmware.pvx";
        logPath = dir.path() / "Kestro_UpdateKit_log.csv";
        test::SmallFirmware(30).WriteTo(firmwarePath);
        settings.SetString(kSettingsSection, kAutoValue, "No");
        settings.SetString(kSettingsSection, kComValue, PortName(kPort));
        CUpgradeHub::Options options;
        options.firmwarePath = firmwarePath;
        options.logPath = logPath;
        hub = std::make_unique<CUpgradeHub>(reporter, settings, options);
        hub->OnInitialUpdate();
    }
    void TearDown() override {
        hub.reset();
        server.Stop();
        UnregisterPortDevice(kPort);
    }

    void Serve() {
        std::string error;
        ASSERT_TRUE(server.Start(&error)) << error;
        RegisterPortDevice(kPort, server.SlavePath());
    }

    // Starts a run and waits for its worker; the limit only guards against a hang.
    void RunToEnd() {
        ASSERT_EQ(hub->OnUpgrade(), StartResult::Started);
        const auto limit = std::chrono::steady_clock::now() + std::chrono::minutes(3);
        while (hub->UpgradeRunning() && std::chrono::steady_clock::now() < limit) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ASSERT_FALSE(hub->UpgradeRunning()) << "the run did not end";
        hub->JoinWorker();
    }

    ::testing::AssertionResult RadioHoldsFirmware() {
        return server.WithRadio(
            [&](SimRadio& radio) { return test::RadioHoldsFirmware(hub->CommFile(), radio); });
    }

    test::TempDir dir;
    std::filesystem::path firmwarePath;
    std::filesystem::path logPath;
    test::RecordingReporter reporter;
    MemorySettings settings;
    PtyRadioServer server;
    std::unique_ptr<CUpgradeHub> hub;
};

TEST_F(PtyRun, UpgradesARadioThatNeedsItsCodeplugRestored) {
    server.WithRadio([](SimRadio& radio) { radio.SetCodeplugByte(0x3197, 0x00); });
    Serve();
    RunToEnd();
    EXPECT_EQ(hub->LastOutcome(), RunOutcome::Completed) << hub->LastMessage();
    EXPECT_TRUE(reporter.boxes.empty());
    EXPECT_EQ(reporter.Status(), t::kCompleted);
    EXPECT_FALSE(reporter.progressVisible);
    EXPECT_TRUE(RadioHoldsFirmware());
    server.WithRadio([](SimRadio& radio) {
        EXPECT_EQ(radio.CodeplugByte(0x3049), 0x14);
        EXPECT_EQ(radio.CodeplugByte(0x3197), 0x6F);
    });
    const auto lines = LogLines(logPath);
    ASSERT_EQ(lines.size(), 1U);
    EXPECT_NE(lines[0].find(",KS24001735,R0103,Yes,OK"), std::string::npos) << lines[0];
}

TEST_F(PtyRun, ACablePulledDuringTheRowsLeavesTheRecoveryFlagAndTheNextRunFinishes) {
    // In the rows, whatever requests a busy machine resent before them.
    server.WithRadio([](SimRadio& radio) { radio.Config().loseCableAtRecord = 8; });
    Serve();
    RunToEnd();
    EXPECT_EQ(hub->LastOutcome(), RunOutcome::Failed);
    EXPECT_EQ(hub->RecoveryFlag(), 1);
    ASSERT_FALSE(reporter.boxes.empty());
    EXPECT_EQ(reporter.boxes.back().text, t::kWriteError4);
    EXPECT_EQ(reporter.Status(), t::kStartTheUpgrade);
    EXPECT_TRUE(LogLines(logPath).empty());

    // The cable is plugged back in: the radio shows up on a new line under the same port.
    server.Stop();
    server.WithRadio([](SimRadio& radio) {
        radio.Reconnect();
        radio.Config().loseCableAtRecord = 0;
    });
    Serve();
    const std::size_t before = server.WithRadio([](SimRadio& radio) { return radio.Requests().size(); });
    reporter.boxes.clear();
    RunToEnd();
    EXPECT_EQ(hub->LastOutcome(), RunOutcome::Completed) << hub->LastMessage();
    EXPECT_EQ(hub->RecoveryFlag(), 0);
    EXPECT_TRUE(reporter.boxes.empty());
    server.WithRadio([&](SimRadio& radio) {
        ASSERT_GT(radio.Requests().size(), before);
        EXPECT_EQ(radio.Requests()[before].id, REQ_UPDATE_START);
    });
    EXPECT_TRUE(RadioHoldsFirmware());
    const auto lines = LogLines(logPath);
    ASSERT_EQ(lines.size(), 1U);
    // A recovery run reads nothing from the radio: no record armed it here, so its serial,
    // version and codeplug columns stay empty.
    EXPECT_EQ(std::count(lines[0].begin(), lines[0].end(), ','), 5) << lines[0];
    EXPECT_EQ(lines[0].substr(lines[0].size() - 3), ",OK") << lines[0];
}

}  // namespace
}  // namespace kestro
