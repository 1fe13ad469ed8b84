#include "runcore/RunWords.h"

#include <array>
#include <string_view>

#include "upgrade/Texts.h"

namespace kestro {

namespace {

struct Words {
    const char* message;
    const char* words;
};

// The kit's messages with their causes. A message is matched by its whole text first: two
// messages share a title (the codeplug's write errors and the programming's), not a text.
constexpr std::array kCauses{
    Words{texts::kNoDeviceDetected, "No cable found"},
    Words{texts::kCommError1, "No radio answered"},
    Words{texts::kReadError12, "Radio disabled"},
    Words{texts::kModelMismatch, "Firmware for another model"},
    Words{texts::kReadError8, "Battery low: charge it"},
    Words{texts::kErrorReadModel, "Model number not read"},
    Words{texts::kProgramError15, "Model not supported"},
    Words{texts::kErrorReadFirmware, "Firmware version not read"},
    Words{texts::kFirmwareNotOlder, "Newer firmware already"},
    Words{texts::kErrorReadSerial, "Serial number not read"},
    Words{texts::kReadError1, "Radio stopped answering"},
    Words{texts::kReadError2, "Read failed: try again"},
    Words{texts::kReadError4, "Read failed: try again"},
    Words{texts::kCodeplugWriteError2, "Codeplug not written: try again"},
    Words{texts::kCodeplugWriteError3, "Codeplug not written: try again"},
    Words{texts::kErrorResetMode, "Radio did not restart"},
    Words{texts::kWriteError1, "Radio stopped answering"},
    Words{texts::kWriteError2, "Write failed: try again"},
    Words{texts::kWriteError3, "Write failed: try again"},
    Words{texts::kWriteError4, "Write failed: try again"},
    Words{texts::kWriteError5, "Write failed: try again"},
    Words{texts::kWriteError6, "Write failed: try again"},
    Words{texts::kWriteError7, "Write failed: try again"},
    Words{texts::kWriteError8, "Write failed: try again"},
    Words{texts::kWriteError10, "Write failed: try again"},
    Words{texts::kLogOpenFailed, "Log file not opened"},
    Words{texts::kRecordNotWritten, "Recovery record not written"},
};

// The steps of a run as its status lines name them.
constexpr std::array kStages{
    Words{texts::kCheckConnection, "Detecting the radio"},
    Words{texts::kCheckingBattery, "Checking the battery"},
    Words{texts::kCompareFirmware, "Comparing the firmware"},
    Words{texts::kCheckingCodeplug, "Reading the codeplug"},
    Words{texts::kRestoringCodeplug, "Restoring the codeplug"},
    Words{texts::kCodeplugCompleted, "Restoring the codeplug"},
    Words{texts::kPreparingUpdate, "Preparing the update"},
    Words{texts::kUpdatingFirmware, "Programming"},
    Words{texts::kSelfProgram, "Programming"},
    Words{texts::kEraseFlash, "Erasing"},
    Words{texts::kUpdatingDontPowerOff, "Programming"},
    Words{texts::kBootErase, "Writing the boot area"},
    Words{texts::kBootWriting, "Writing the boot area"},
    Words{texts::kBootSwap, "Swapping the boot area"},
    Words{texts::kCompleted, "Restarting the radio"},
    Words{texts::kWaitingForRestart, "Waiting for the restart"},
};

std::string_view Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// "Read Error #8" of "Read Error #8 \r\n\r\n...": a title with a number; "" for a title without.
std::string Numbered(const std::string& title) {
    return title.find('#') == std::string::npos ? std::string() : " (" + title + ")";
}

const char* KnownCause(const std::string& message) {
    for (const Words& cause : kCauses) {
        if (message == cause.message) return cause.words;
    }
    const std::string title = MessageTitle(message);
    for (const Words& cause : kCauses) {
        if (!title.empty() && title == MessageTitle(cause.message)) return cause.words;
    }
    return nullptr;
}

}  // namespace

std::string CauseInWords(const RadioSummary& summary) {
    const RunEnd& end = summary.end;
    const std::string title = MessageTitle(end.message);
    switch (end.kind) {
        case RunEndKind::Upgraded:
        case RunEndKind::Confirmed: return "upgraded";
        case RunEndKind::NotConfirmedNoAnswer: return "upgraded; no answer after the restart";
        case RunEndKind::NotConfirmedOtherSerial: return "upgraded; another radio answers";
        case RunEndKind::NotConfirmedOldVersion: return "Upgrade did not take: old firmware";
        case RunEndKind::Stopped: return "Stopped: radio untouched";
        case RunEndKind::StoppedNeedsRecovery: return "Stopped in the erase: needs recovery";
        // Between erase and boot swap the radio answers what it is sent: a run that fails there
        // lost its line, as a pulled cable or a radio switched off loses it.
        case RunEndKind::NeedsRecovery: return "Cable pulled: needs recovery" + Numbered(title);
        case RunEndKind::NoAnswer: return "No radio answered" + Numbered(title);
        case RunEndKind::NotStarted:
        case RunEndKind::Checked: return summary.result;  // a check: its verdict
        case RunEndKind::Failed: break;
    }
    if (const char* words = KnownCause(end.message)) return words + Numbered(title);
    return summary.result;
}

std::string StageInWords(const std::string& status) {
    const std::string_view shown = Trimmed(status);
    for (const Words& stage : kStages) {
        if (shown == Trimmed(stage.message)) return stage.words;
    }
    // The writing lines carry their row count after the fixed part.
    if (shown.starts_with(Trimmed(texts::kFirmwareWritingPrefix))) return "Programming";
    if (shown.starts_with(Trimmed(texts::kBootWritingPrefix))) return "Writing the boot area";
    return {};
}

std::string KitFirmwareVersion() { return texts::kKitFirmwareVersion; }

std::string FirmwareAfter(const RadioSummary& summary) {
    if (!summary.end.Upgraded() && summary.end.kind != RunEndKind::NotConfirmedOldVersion) return {};
    if (!summary.end.versionAfter.empty()) return summary.end.versionAfter;
    if (summary.end.kind == RunEndKind::NotConfirmedOldVersion) return {};
    // Written as the radios tell theirs: "R0104".
    std::string version = KitFirmwareVersion();
    if (const auto dot = version.find('.'); dot != std::string::npos) version.erase(dot, 1);
    return version;
}

}  // namespace kestro
