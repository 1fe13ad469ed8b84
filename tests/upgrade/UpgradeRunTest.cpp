// Whole runs in virtual time against the simulated radio: every end of a run, with its message,
// status, log line and recovery flag.

#include <gtest/gtest.h>

#include "UpgradeTestSupport.h"
#include "radio/Scenarios.h"
#include "serial/PortNames.h"
#include "upgrade/Texts.h"

#include <atomic>
#include <map>
#include <optional>
#include <thread>

namespace kestro {
namespace {

using test::LogLines;
using test::RecordingReporter;
using test::VirtualRun;
namespace t = texts;

constexpr const char* kSerial = "KS24001735";  // the simulated radio's default serial number

Fault Silent(std::size_t times = 0) {
    Fault f;
    f.kind = FaultKind::Silence;
    f.times = times;
    return f;
}

Fault Refused(std::size_t times = 0) {
    Fault f;
    f.kind = FaultKind::Nak;
    f.times = times;
    return f;
}

std::string After(const std::string& line) {  // the line without its date and time
    const auto first = line.find(',');
    const auto second = line.find(',', first + 1);
    return second == std::string::npos ? line : line.substr(second + 1);
}

TEST(UpgradeRun, CompletesAndLeavesExactlyTheFirmwareInTheRadio) {
    VirtualRun run;
    ASSERT_EQ(run.Upgrade(), StartResult::Started);
    EXPECT_EQ(run.hub->LastOutcome(), RunOutcome::Completed);
    EXPECT_TRUE(run.reporter.boxes.empty());
    EXPECT_EQ(run.reporter.Status(), t::kCompleted);
    EXPECT_FALSE(run.reporter.progressVisible);
    EXPECT_EQ(run.hub->UpgradeRunningFlag(), 0);
    EXPECT_EQ(run.hub->RecoveryFlag(), 0);
    EXPECT_TRUE(run.RadioHoldsFirmware());
    // No restore was needed: nothing was written to the codeplug.
    EXPECT_EQ(run.radio.CountOf(REQ_CP_WRITE), 0U);
    const auto lines = LogLines(run.logPath);
    ASSERT_EQ(lines.size(), 1U);
    EXPECT_EQ(After(lines[0]), std::string(kSerial) + ",R0103,No,OK");
}

TEST(UpgradeRun, RestoresTheCodeplugInOrderWhenTheDecidingByteIsWrong) {
    VirtualRun run;
    run.radio.SetCodeplugByte(0x3197, 0x00);
    run.radio.SetCodeplugByte(0x3049, 0x00);
    run.Upgrade();
    EXPECT_EQ(run.hub->LastOutcome(), RunOutcome::Completed);
    EXPECT_EQ(run.radio.CodeplugByte(0x3049), 0x14);
    EXPECT_EQ(run.radio.CodeplugByte(0x3197), 0x6F);
    std::vector<RequestId> codeplug;
    for (RequestId id : run.RequestKinds()) {
        if (id >= REQ_CP_CHECK && id <= REQ_CP_WRITE) codeplug.push_back(id);
    }
    EXPECT_EQ(codeplug, (std::vector<RequestId>{REQ_CP_CHECK, REQ_CP_READ, REQ_CP_READ,
                                                REQ_CP_PREPARE, REQ_CP_RESTORE, REQ_CP_WRITE,
                                                REQ_CP_WRITE}));
    std::vector<std::uint16_t> writes;
    for (const auto& r : run.radio.Requests()) {
        if (r.id == REQ_CP_WRITE) writes.push_back(static_cast<std::uint16_t>(r.frame.bytes[3] << 8 | r.frame.bytes[4]));
    }
    EXPECT_EQ(writes, (std::vector<std::uint16_t>{0x3049, 0x3197}));
    EXPECT_NE(std::find(run.reporter.statuses.begin(), run.reporter.statuses.end(),
                        std::string(t::kCodeplugCompleted)),
              run.reporter.statuses.end());
    EXPECT_EQ(After(LogLines(run.logPath).at(0)), std::string(kSerial) + ",R0103,Yes,OK");
    EXPECT_TRUE(run.RadioHoldsFirmware());
}

// One row of the table of run ends.
struct EndCase {
    const char* name;
    std::function<void(VirtualRun&)> arrange;
    std::vector<std::pair<const char*, TitleKind>> boxes;  // text and title, in order
    Icon icon;
    const char* status;  // the status line left at the end
    const char* log;     // the log line after date and time, or nullptr for none
    int recovery;        // m_recoveryMode afterwards
    bool progressVisible;
};

// Request numbers of a run without restore: 1 detect, 2 battery, 3 model, 4 version, 5 serial,
// 6 codeplug check, 7-8 the two reads, 9 reset mode, 10 update start, 11 self program,
// 12 erase, then the application rows, the boot erase, the 256 boot rows.
constexpr int kAppRows = 20;
constexpr std::size_t kFirstBootRow = 12 + kAppRows + 2;

void FailFrom(VirtualRun& run, std::size_t number, int count) {
    for (int i = 0; i < count; ++i) run.radio.Config().faultsByNumber[number + i] = Refused();
}

std::string Logged(const char* result) { return std::string(kSerial) + ",R0103," + result; }

class RunEnds : public ::testing::TestWithParam<EndCase> {};

TEST_P(RunEnds, ShowItsMessageEndItsWayAndLogAsTheTableSays) {
    const EndCase& c = GetParam();
    VirtualRun run(kAppRows);
    c.arrange(run);
    ASSERT_EQ(run.Upgrade(), StartResult::Started);

    ASSERT_EQ(run.reporter.boxes.size(), c.boxes.size());
    for (std::size_t i = 0; i < c.boxes.size(); ++i) {
        EXPECT_EQ(run.reporter.boxes[i].text, c.boxes[i].first);
        EXPECT_EQ(run.reporter.boxes[i].title, c.boxes[i].second);
    }
    if (!c.boxes.empty()) {
        EXPECT_EQ(run.reporter.boxes.back().icon, c.icon);
    }
    EXPECT_EQ(run.reporter.Status(), c.status);
    const auto lines = LogLines(run.logPath);
    if (c.log == nullptr) {
        EXPECT_TRUE(lines.empty()) << lines.front();
    } else {
        ASSERT_EQ(lines.size(), 1U);
        EXPECT_EQ(After(lines[0]), c.log);
    }
    EXPECT_EQ(run.hub->RecoveryFlag(), c.recovery);
    EXPECT_EQ(run.reporter.progressVisible, c.progressVisible);
    EXPECT_EQ(run.hub->UpgradeRunningFlag(), 0);
    EXPECT_EQ(run.hub->Link().m_replyCode, 0);
    EXPECT_EQ(run.hub->LastOutcome(), RunOutcome::Failed);
}

const std::string kOkLog = Logged("No,OK");
const std::string kErr5 = Logged("Error #5");
const std::string kErr7 = Logged("Error #7");
const std::string kErr1 = Logged("Error #1");
const std::string kErr2 = Logged("Error #2");
const std::string kErr3 = Logged("Error #3");

void NeedsRestore(VirtualRun& r) { r.radio.SetCodeplugByte(0x3197, 0x00); }

INSTANTIATE_TEST_SUITE_P(
    FailureTable, RunEnds,
    ::testing::Values(
        EndCase{"NoDetection", [](VirtualRun& r) { r.radio.Config().faultsByKind[REQ_DETECT] = Silent(); },
                {{t::kCommError1, TitleKind::Kit}}, Icon::Error, t::kStartTheUpgrade, nullptr, 0, false},
        EndCase{"DetectionRefused", [](VirtualRun& r) { r.radio.Config().faultsByKind[REQ_DETECT] = Refused(); },
                {{t::kCommError1, TitleKind::Kit}}, Icon::Error, t::kStartTheUpgrade, nullptr, 0, false},
        EndCase{"RadioDisabled", [](VirtualRun& r) { r.radio.Config().detectStatus = 0x10; },
                {{t::kReadError12, TitleKind::Application}, {t::kCommError1, TitleKind::Kit}},
                Icon::Error, t::kStartTheUpgrade, nullptr, 0, false},
        EndCase{"ModelTypeMismatch", [](VirtualRun& r) { r.radio.Config().detectStatus = 0x00; },
                {{t::kModelMismatch, TitleKind::Kit}}, Icon::Error,
                "Loading firmware file... Please wait it...", nullptr, 0, false},
        EndCase{"NoBatteryReply", [](VirtualRun& r) { r.radio.Config().faultsByKind[REQ_BATTERY] = Silent(); },
                {}, Icon::None, t::kStartTheUpgrade, nullptr, 0, false},
        EndCase{"BatteryLow", [](VirtualRun& r) { r.radio.Config().batteryStatus = 0x03; },
                {{t::kReadError8, TitleKind::Kit}}, Icon::Error, t::kStartTheUpgrade, nullptr, 0, false},
        EndCase{"NoModelReply", [](VirtualRun& r) { r.radio.Config().faultsByKind[REQ_MODEL] = Silent(); },
                {{t::kErrorReadModel, TitleKind::Application}}, Icon::Error, t::kCheckingBattery,
                nullptr, 0, false},
        EndCase{"UnsupportedModel", [](VirtualRun& r) { r.radio.Config().model[14] = ' '; r.radio.Config().model[15] = ' '; },
                {{t::kProgramError15, TitleKind::Kit}}, Icon::Error, t::kCheckingBattery, nullptr, 0, false},
        EndCase{"NoVersionReply", [](VirtualRun& r) { r.radio.Config().faultsByKind[REQ_FW_VERSION] = Silent(); },
                {{t::kErrorReadFirmware, TitleKind::Kit}}, Icon::Error, t::kStartTheUpgrade, nullptr, 0, false},
        EndCase{"FirmwareNotOlder", [](VirtualRun& r) { r.radio.Config().version = {'R', '0', '1', '0', '4'}; },
                {{t::kFirmwareNotOlder, TitleKind::Kit}}, Icon::Warning, t::kStartTheUpgrade, nullptr, 0, false},
        EndCase{"NoSerialReply", [](VirtualRun& r) { r.radio.Config().faultsByKind[REQ_SERIAL] = Silent(); },
                {{t::kErrorReadSerial, TitleKind::Application}}, Icon::Error, t::kStartTheUpgrade, nullptr, 0, false},
        EndCase{"CodeplugCheckSilent", [](VirtualRun& r) { r.radio.Config().faultsByKind[REQ_CP_CHECK] = Silent(); },
                {{t::kReadError1, TitleKind::Kit}}, Icon::Error, t::kStartTheUpgrade, kErr5.c_str(), 0, false},
        EndCase{"CodeplugCheckRefused", [](VirtualRun& r) { r.radio.Config().faultsByKind[REQ_CP_CHECK] = Refused(); },
                {{t::kReadError2, TitleKind::Kit}}, Icon::Error, t::kStartTheUpgrade, kErr5.c_str(), 0, false},
        EndCase{"CodeplugReadFails", [](VirtualRun& r) { r.radio.Config().faultsByKind[REQ_CP_READ] = Silent(); },
                {{t::kReadError4, TitleKind::Kit}}, Icon::Error, t::kStartTheUpgrade, kErr7.c_str(), 0, false},
        EndCase{"PrepareRefused", [](VirtualRun& r) { NeedsRestore(r); r.radio.Config().faultsByKind[REQ_CP_PREPARE] = Refused(); },
                {}, Icon::None, t::kStartTheUpgrade, nullptr, 0, false},
        EndCase{"RestoreFails", [](VirtualRun& r) { NeedsRestore(r); r.radio.Config().faultsByKind[REQ_CP_RESTORE] = Refused(); },
                {{t::kCodeplugWriteError2, TitleKind::Kit}}, Icon::Error, t::kStartTheUpgrade, kErr1.c_str(), 0, false},
        EndCase{"FirstCodeplugWriteFails", [](VirtualRun& r) { NeedsRestore(r); r.radio.Config().faultsByKind[REQ_CP_WRITE] = Refused(); },
                {{t::kCodeplugWriteError3, TitleKind::Kit}}, Icon::Error, t::kStartTheUpgrade, kErr2.c_str(), 0, false},
        // Requests 11 and 12 are the writes; 12 to 14 the second one with its NAK retries.
        EndCase{"SecondCodeplugWriteFails", [](VirtualRun& r) { NeedsRestore(r); FailFrom(r, 12, 3); },
                {{t::kCodeplugWriteError3, TitleKind::Kit}}, Icon::Error, t::kStartTheUpgrade, kErr3.c_str(), 0, false},
        EndCase{"ResetModeFails", [](VirtualRun& r) { r.radio.Config().faultsByKind[REQ_RESET_MODE] = Silent(); },
                {{t::kErrorResetMode, TitleKind::Kit}}, Icon::Error, t::kStartTheUpgrade, nullptr, 0, false},
        EndCase{"UpdateStartRefused", [](VirtualRun& r) { r.radio.Config().faultsByKind[REQ_UPDATE_START] = Refused(); },
                {{t::kWriteError10, TitleKind::Kit}}, Icon::Error, t::kStartTheUpgrade, nullptr, 0, true},
        EndCase{"UpdateStartSilent", [](VirtualRun& r) { r.radio.Config().faultsByKind[REQ_UPDATE_START] = Silent(); },
                {{t::kWriteError1, TitleKind::Kit}}, Icon::Error, t::kStartTheUpgrade, nullptr, 0, true},
        EndCase{"SelfProgramFails", [](VirtualRun& r) { r.radio.Config().faultsByKind[REQ_SELF_PROGRAM] = Silent(); },
                {{t::kWriteError2, TitleKind::Kit}}, Icon::Error, t::kStartTheUpgrade, nullptr, 0, true},
        EndCase{"EraseFails", [](VirtualRun& r) { r.radio.Config().faultsByKind[REQ_ERASE_FLASH] = Silent(); },
                {{t::kWriteError3, TitleKind::Kit}}, Icon::Error, t::kStartTheUpgrade, nullptr, 1, true},
        EndCase{"RecordRefused", [](VirtualRun& r) { FailFrom(r, 14, 6); },
                {{t::kWriteError4, TitleKind::Kit}}, Icon::Error, t::kStartTheUpgrade, nullptr, 1, true},
        EndCase{"BootEraseFails", [](VirtualRun& r) { r.radio.Config().faultsByKind[REQ_BOOT_ERASE] = Silent(); },
                {{t::kWriteError5, TitleKind::Kit}}, Icon::Error, t::kStartTheUpgrade, nullptr, 1, true},
        EndCase{"BootRecordRefused", [](VirtualRun& r) { FailFrom(r, kFirstBootRow + 3, 6); },
                {{t::kWriteError6, TitleKind::Kit}}, Icon::Error, t::kStartTheUpgrade, nullptr, 1, true},
        EndCase{"BootSwapFails", [](VirtualRun& r) { r.radio.Config().faultsByKind[REQ_BOOT_SWAP] = Refused(); },
                {{t::kWriteError7, TitleKind::Kit}}, Icon::Error, t::kStartTheUpgrade, nullptr, 1, true},
        EndCase{"UpdateEndFails", [](VirtualRun& r) { r.radio.Config().faultsByKind[REQ_UPDATE_END] = Silent(); },
                {{t::kWriteError8, TitleKind::Kit}}, Icon::Error, t::kStartTheUpgrade, nullptr, 0, true}),
    [](const ::testing::TestParamInfo<EndCase>& info) { return std::string(info.param.name); });

// A failed run whose log line cannot be written either: the log's box names the log and why, and
// the run is still recorded with its own message, not the log's.
TEST(UpgradeRun, ALostLogLineLeavesAFailedRunItsOwnMessage) {
    VirtualRun run;
    std::filesystem::remove(run.logPath);
    std::filesystem::create_directories(run.logPath);
    run.radio.Config().faultsByKind[REQ_CP_CHECK] = Silent();
    run.Upgrade();
    EXPECT_EQ(run.hub->LastOutcome(), RunOutcome::Failed);
    EXPECT_EQ(run.hub->LastMessage(), t::kReadError1);
    ASSERT_EQ(run.reporter.boxes.size(), 2U);
    EXPECT_EQ(run.reporter.boxes[1].text, t::kLogOpenFailed);
    // The system's own words for the reason differ between platforms.
    EXPECT_EQ(run.reporter.boxes[1].detail.rfind("The line was not added to " + run.logPath.string() + ": ", 0), 0U)
        << run.reporter.boxes[1].detail;
}

TEST(UpgradeRun, AFailureBetweenEraseAndBootSwapSendsTheNextRunStraightToProgramming) {
    VirtualRun run;
    FailFrom(run, 14, 6);
    run.Upgrade();
    ASSERT_EQ(run.hub->RecoveryFlag(), 1);
    ASSERT_EQ(run.reporter.boxes.at(0).text, t::kWriteError4);

    const std::size_t before = run.radio.Requests().size();
    run.reporter.boxes.clear();
    ASSERT_EQ(run.Upgrade(), StartResult::Started);
    ASSERT_GT(run.radio.Requests().size(), before);
    EXPECT_EQ(run.radio.Requests()[before].id, REQ_UPDATE_START);
    EXPECT_EQ(run.radio.CountOf(REQ_DETECT), 1U);  // only the first run detected
    EXPECT_EQ(run.hub->LastOutcome(), RunOutcome::Completed);
    EXPECT_EQ(run.hub->RecoveryFlag(), 0);
    EXPECT_TRUE(run.RadioHoldsFirmware());
    // A recovery run reads nothing from the radio: the serial number comes from the record that
    // armed it, the version and codeplug columns stay empty, and the line keeps its six fields.
    const auto records = test::CsvRecords(run.logPath);
    if (!records) GTEST_SKIP() << "no python3 to read the log with";
    ASSERT_EQ(records->size(), 1U);
    const std::vector<std::string>& fields = records->front();
    ASSERT_EQ(fields.size(), 6U) << LogLines(run.logPath).at(0);
    EXPECT_EQ(fields[2], kSerial);
    EXPECT_EQ(fields[3] + fields[4], "");
    EXPECT_EQ(fields[5], "OK");
}

// The recovery records of the run's state folder.
std::vector<RecoveryRecord> RecordsOnDisk(const VirtualRun& run) {
    return CRecoveryRecords(run.dir.path() / "state").All();
}

// A stop that spares radios being programmed, arriving after the radio took the self-program
// request and before the erase (as the erase's status goes up): the run ends there, with no
// record left behind and no erase sent. Armed first and then stopped, the radio would be erased
// by a run that no longer finishes it.
TEST(UpgradeRun, AStopBeforeTheEraseEndsTheRunWithNoRecordAndNoErase) {
    VirtualRun run;
    run.reporter.onStatus = [&run](const std::string& text) {
        if (text == t::kEraseFlash) run.hub->RequestStopBeforeErase();
    };
    ASSERT_EQ(run.Upgrade(), StartResult::Started);
    EXPECT_EQ(run.hub->LastOutcome(), RunOutcome::Interrupted);
    EXPECT_EQ(run.radio.CountOf(REQ_SELF_PROGRAM), 1U);
    EXPECT_EQ(run.radio.CountOf(REQ_ERASE_FLASH), 0U);
    EXPECT_TRUE(RecordsOnDisk(run).empty());
    EXPECT_EQ(run.hub->RecoveryFlag(), 0);
}

// The front end's stop and the worker's step into the erase, on two threads at once: either the
// stop comes first and the run never enters the span, or the run is in it and the stop spares
// it. Never both: a run stopped inside the span leaves its radio erased and unfinished.
TEST(UpgradeHub, AStopBeforeTheEraseAndTheStepIntoTheEraseNeverBothPass) {
    RecordingReporter reporter;
    MemorySettings settings;
    for (int round = 0; round < 1000; ++round) {
        CUpgradeHub hub(reporter, settings, CUpgradeHub::Options{});
        std::atomic<int> ready{0};
        bool entered = false;
        std::thread worker([&] {
            ready.fetch_add(1);
            while (ready.load() < 2) {
            }
            entered = hub.EnterEraseSpan();
        });
        ready.fetch_add(1);
        while (ready.load() < 2) {
        }
        hub.RequestStopBeforeErase();
        worker.join();
        ASSERT_FALSE(entered && hub.StopRequested()) << "round " << round;
    }
}

// The two moments of the record, as the radio sees them: on the disk when the erase request
// arrives, still there when the boot swap request arrives, gone once the run has completed.
TEST(UpgradeRun, TheRecordIsOnDiskFromTheEraseRequestUntilTheBootSwapIsAcknowledged) {
    VirtualRun run;
    std::map<RequestId, std::vector<RecoveryRecord>> seen;
    run.radio.SetRequestObserver([&](const SimRadio::LoggedRequest& request) {
        if (request.id == REQ_ERASE_FLASH || request.id == REQ_BOOT_SWAP) seen[request.id] = RecordsOnDisk(run);
    });
    run.Upgrade();
    ASSERT_EQ(run.hub->LastOutcome(), RunOutcome::Completed);
    for (const RequestId id : {REQ_ERASE_FLASH, REQ_BOOT_SWAP}) {
        ASSERT_EQ(seen[id].size(), 1U) << RequestName(id);
        EXPECT_EQ(seen[id][0].serial, kSerial);
        EXPECT_EQ(seen[id][0].portName, PortName(VirtualRun::kPort));
#ifndef _WIN32
        EXPECT_EQ(seen[id][0].device, run.device);  // Windows names a port by its COM number alone
#endif
        EXPECT_EQ(seen[id][0].firmware, run.firmwarePath.string());
    }
    EXPECT_TRUE(RecordsOnDisk(run).empty());
}

// Radio A is interrupted on a cable; radio B, plugged into the same cable, is upgraded by a new
// kit's plain run: A's record stays, and the run says whose it is.
TEST(UpgradeRun, ASecondRadioOnThePortLeavesTheFirstOnesRecordAndNamesIt) {
    VirtualRun run;
    FailFrom(run, 14, 6);
    run.Upgrade();
    ASSERT_EQ(RecordsOnDisk(run).size(), 1U);

    run.hub->SetRecoveryMode(false);  // as a kit started afresh
    SimRadioConfig other;
    other.serial = {'K', 'S', '2', '4', '0', '0', '9', '9', '9', '9'};
    run.radio.Reset(other);
    run.reporter.guides.clear();
    run.Upgrade();
    ASSERT_EQ(run.hub->LastOutcome(), RunOutcome::Completed);
    EXPECT_TRUE(run.RadioHoldsFirmware());
    const auto left = RecordsOnDisk(run);
    ASSERT_EQ(left.size(), 1U);
    EXPECT_EQ(left[0].serial, kSerial);
    ASSERT_EQ(run.reporter.guides.size(), 1U);
    EXPECT_EQ(run.reporter.guides[0].first, Guidance::OtherRadiosRecordKept);
    const std::string& said = run.reporter.guides[0].second;
    for (const std::string& part : {std::string(kSerial), PortName(VirtualRun::kPort), std::string("KS24009999")}) {
        EXPECT_NE(said.find(part), std::string::npos) << said;
    }
}

// A state folder that cannot take a record: no erase reaches the radio, and the message names
// the folder. Found before the first request normally; at the erase as the last guard.
TEST(UpgradeRun, WithoutAWritableStateFolderNoEraseReachesTheRadio) {
    for (const bool atErase : {false, true}) {
        SCOPED_TRACE(atErase ? "blocked at the erase" : "blocked before the run");
        VirtualRun run;
        const auto state = run.dir.path() / "state";
        const auto block = [&] {
            std::filesystem::remove_all(state);
            std::ofstream(state) << "a file where the folder should be";
        };
        if (atErase) {
            run.radio.SetRequestObserver([&](const SimRadio::LoggedRequest& request) {
                if (request.id == REQ_SELF_PROGRAM) block();
            });
        } else {
            block();
        }
        run.Upgrade();
        EXPECT_EQ(run.radio.CountOf(REQ_ERASE_FLASH), 0U);
        EXPECT_EQ(run.radio.RequestsSeen() == 0, !atErase);
        ASSERT_EQ(run.reporter.boxes.size(), 1U);
        EXPECT_EQ(run.reporter.boxes[0].text, t::kRecordNotWritten);
        EXPECT_NE(run.reporter.boxes[0].detail.find(state.string()), std::string::npos)
            << run.reporter.boxes[0].detail;
        EXPECT_EQ(run.hub->LastOutcome(), RunOutcome::Failed);
        EXPECT_EQ(run.hub->RecoveryFlag(), 0);
    }
}

// The recovery records the run keeps in its state folder.
std::size_t RecordFiles(const VirtualRun& run) {
    std::size_t count = 0;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(run.dir.path() / "state", ec)) {
        if (entry.path().filename().string().rfind("recovery-", 0) == 0) ++count;
    }
    return count;
}

// A recovery run that meets a radio which answers but refuses programming: that radio was not
// left waiting by an interrupted run, so the flag and the record go, and the next run detects,
// checks and upgrades it. A radio that does not answer at all keeps the flag.
struct RecoveryCase {
    const char* name;
    std::function<void(VirtualRun&)> leaveRadio;  // the first run, up to the reconnection
    const char* box;                              // the recovery run's message
    int flagAfter;
};

class RecoveryRuns : public ::testing::TestWithParam<RecoveryCase> {};

TEST_P(RecoveryRuns, EndTheFlagOnlyWhenTheRadioRefusedProgramming) {
    const RecoveryCase& c = GetParam();
    VirtualRun run;
    c.leaveRadio(run);
    ASSERT_EQ(run.hub->RecoveryFlag(), 1);

    run.reporter.boxes.clear();
    const std::size_t before = run.radio.Requests().size();
    ASSERT_EQ(run.Upgrade(), StartResult::Started);
    ASSERT_EQ(run.reporter.boxes.size(), 1U);
    EXPECT_EQ(run.reporter.boxes[0].text, c.box);
    EXPECT_EQ(run.radio.Requests().at(before).id, REQ_UPDATE_START);
    EXPECT_EQ(run.hub->RecoveryFlag(), c.flagAfter);
    EXPECT_EQ(RecordFiles(run), c.flagAfter == 1 && run.radio.CountOf(REQ_ERASE_FLASH) > 0 ? 1U : 0U);
    if (c.flagAfter == 1) return;

    const std::size_t next = run.radio.Requests().size();
    run.Upgrade();
    EXPECT_EQ(run.radio.Requests().at(next).id, REQ_DETECT);
    EXPECT_EQ(run.hub->LastOutcome(), RunOutcome::Completed);
    EXPECT_TRUE(run.RadioHoldsFirmware());
    EXPECT_EQ(RecordFiles(run), 0U);
}

void LoseCableAtErase(VirtualRun& r) {
    r.radio.Config().loseCableAt = 12;  // the erase request
    r.Upgrade();
    EXPECT_EQ(r.radio.CountOf(REQ_ERASE_FLASH), 0U);  // it never reached the radio
    EXPECT_EQ(RecordFiles(r), 1U);                     // but the record was written first
    r.radio.Reconnect();
}

// A recovery run finishes the radio on the port it opened. Forced without a record, it takes the
// newest record of that port with it and leaves another port's; armed from another port's record
// (as a run that reached another cable would be), it leaves that record, whatever its own radio says.
TEST(UpgradeRun, ARecoveryRunRemovesOnlyTheRecordOfThePortItOpened) {
    VirtualRun run;
    FailFrom(run, 14, 6);
    run.Upgrade();
    ASSERT_EQ(RecordsOnDisk(run).size(), 1U);
    const std::string elsewhere = (run.dir.path() / "ttyOther").string();
    std::ofstream(elsewhere) << "";
    const RecoveryRecord other{"COM251", elsewhere, "KS24005555", "", 1, {}, {}, {}};
    ASSERT_TRUE(CRecoveryRecords(run.dir.path() / "state").Mark(other));

    run.hub->SetRecoveryMode(false);  // a kit started afresh, then the recovery key
    run.hub->SetRecoveryMode(true);
    run.Upgrade();
    ASSERT_EQ(run.hub->LastOutcome(), RunOutcome::Completed);
    EXPECT_TRUE(run.RadioHoldsFirmware());
    auto left = RecordsOnDisk(run);
    ASSERT_EQ(left.size(), 1U);
    EXPECT_EQ(left[0].serial, "KS24005555");

    run.hub->ArmFromRecord(left[0]);
    run.Upgrade();
    ASSERT_FALSE(run.reporter.boxes.empty());
    EXPECT_EQ(run.reporter.boxes.back().text, t::kWriteError10);
    EXPECT_EQ(RecordsOnDisk(run).size(), 1U);
}

// A confirmed recovery proves which radio was on the cable: every record of that serial number
// goes, wherever it was made, and another radio's stays.
TEST(UpgradeRun, AConfirmedForcedRecoveryRemovesTheRecordsOfTheSerialThatAnsweredOnly) {
    VirtualRun run;
    run.RebuildHub({.confirmWait = Millis{15000}});
    FailFrom(run, 14, 6);
    run.Upgrade();
    ASSERT_EQ(RecordsOnDisk(run).size(), 1U);
    CRecoveryRecords records(run.dir.path() / "state");
    for (const auto& [port, serial] : {std::pair{"COM250", kSerial}, std::pair{"COM251", "KS24005555"}}) {
        const std::string device = (run.dir.path() / port).string();
        std::ofstream(device) << "";
        ASSERT_TRUE(records.Mark(RecoveryRecord{port, device, serial, "", 1, {}, {}, {}}));
    }
    run.radio.Config().faultsByNumber.clear();

    run.hub->SetRecoveryMode(false);  // a kit started afresh, then the recovery key
    run.hub->SetRecoveryMode(true);
    run.Upgrade();
    ASSERT_EQ(run.hub->LastConfirmation().kind, ConfirmKind::Confirmed);
    const auto left = RecordsOnDisk(run);
    ASSERT_EQ(left.size(), 1U);
    EXPECT_EQ(left[0].serial, "KS24005555");
}

// After the end of programming the radio restarts: the kit waits for it and asks it, with the
// command table's requests, who it is and what it runs, within a bounded wait.
TEST(UpgradeRun, TheRestartedRadioConfirmsItsNewFirmwareOrSaysWhyNot) {
    struct Case {
        const char* scenario;
        ConfirmKind kind;
        const char* version;
    };
    const Case cases[] = {{"normal", ConfirmKind::Confirmed, "R0104"},
                          {"keeps-old-firmware", ConfirmKind::OldVersion, "R0103"},
                          {"no-restart", ConfirmKind::NoAnswer, ""}};
    constexpr Millis kWait{15000};
    for (const Case& c : cases) {
        VirtualRun run;
        ASSERT_TRUE(ApplyScenario(run.radio, c.scenario));
        run.RebuildHub({.confirmWait = kWait});
        Millis endedAt{0};
        std::optional<Millis> heardAgainAt;  // the first request the radio heard after it
        run.radio.SetRequestObserver([&](const SimRadio::LoggedRequest& request) {
            if (request.id == REQ_UPDATE_END) endedAt = run.clock.Now();
            else if (endedAt > Millis{0} && !heardAgainAt) heardAgainAt = run.clock.Now();
        });
        run.Upgrade();
        EXPECT_EQ(run.hub->LastOutcome(), RunOutcome::Completed) << c.scenario;
        const Confirmation confirmation = run.hub->LastConfirmation();
        EXPECT_EQ(confirmation.kind, c.kind) << c.scenario;
        EXPECT_EQ(confirmation.version, c.version) << c.scenario;
        EXPECT_EQ(confirmation.serial, c.kind == ConfirmKind::NoAnswer ? "" : kSerial) << c.scenario;
        // The kit asked again until the radio, silent while it restarted, heard it.
        if (c.kind != ConfirmKind::NoAnswer) {
            ASSERT_TRUE(heardAgainAt.has_value()) << c.scenario;
            EXPECT_GE(*heardAgainAt - endedAt, std::chrono::duration_cast<Millis>(run.radio.Config().restart));
        }
        // Never a hang: the wait ends within its bound and the detection in progress then.
        EXPECT_LE(run.clock.Now() - endedAt, kWait + Millis{3500}) << c.scenario;
    }
}

void LoseBootSwapReply(VirtualRun& r) {
    Fault lost;
    lost.kind = FaultKind::Drop;
    lost.count = 64;
    r.radio.Config().faultsByKind[REQ_BOOT_SWAP] = lost;
    r.Upgrade();
    EXPECT_EQ(r.radio.BootSwaps(), 1U);  // the swap was done; only its reply was lost
    r.radio.Config().faultsByKind.clear();
    r.radio.Reconnect();
}

INSTANTIATE_TEST_SUITE_P(
    HealthyOrNot, RecoveryRuns,
    ::testing::Values(
        RecoveryCase{"CableLostAtTheEraseRequest", LoseCableAtErase, t::kWriteError10, 0},
        RecoveryCase{"BootSwapReplyLost", LoseBootSwapReply, t::kWriteError10, 0},
        RecoveryCase{"RecoveryKeyOnAHealthyRadio",
                     [](VirtualRun& r) { r.hub->SetRecoveryMode(true); }, t::kWriteError10, 0},
        RecoveryCase{"SilentUpdateStart",
                     [](VirtualRun& r) {
                         FailFrom(r, 14, 6);  // leaves it needing recovery, then goes silent
                         r.Upgrade();
                         r.radio.Config().faultsByNumber.clear();
                         r.radio.Config().faultsByKind[REQ_UPDATE_START] = Silent();
                     },
                     t::kWriteError1, 1}),
    [](const ::testing::TestParamInfo<RecoveryCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kestro
