#include "soak/RunEnds.h"

#include "upgrade/Texts.h"

namespace kestro::soak {

namespace {

namespace t = texts;
constexpr auto U = RecoveryEffect::Unchanged;
constexpr auto S = RecoveryEffect::Set;
constexpr auto C = RecoveryEffect::Cleared;

// clang-format off
const std::vector<RunEnd> kEnds = {
    {"completed", {}, t::kCompleted, {t::kLogOk}, C, true, true},
    {"silent failure (battery or restore preparation)", {}, t::kStartTheUpgrade, {}, U, false, false},
    {"Communication Error #1", {t::kCommError1}, t::kStartTheUpgrade, {}, U, false, false},
    {"Read Error #12", {t::kReadError12, t::kCommError1}, t::kStartTheUpgrade, {}, U, false, false},
    {"model type mismatch", {t::kModelMismatch}, nullptr, {}, U, false, false},
    {"Read Error #8", {t::kReadError8}, t::kStartTheUpgrade, {}, U, false, false},
    {"Error to Read Model Number", {t::kErrorReadModel}, t::kCheckingBattery, {}, U, false, false},
    {"Program Error #15", {t::kProgramError15}, t::kCheckingBattery, {}, U, false, false},
    {"Error to Read Firmware Version", {t::kErrorReadFirmware}, t::kStartTheUpgrade, {}, U, false, false},
    {"firmware not older", {t::kFirmwareNotOlder}, t::kStartTheUpgrade, {}, U, false, false},
    {"Error to Read Serial Number", {t::kErrorReadSerial}, t::kStartTheUpgrade, {}, U, false, false},
    {"codeplug Read Error #1", {t::kReadError1}, t::kStartTheUpgrade, {t::kLogError5}, U, false, false},
    {"codeplug Read Error #2", {t::kReadError2}, t::kStartTheUpgrade, {t::kLogError5}, U, false, false},
    {"codeplug Read Error #4", {t::kReadError4}, t::kStartTheUpgrade, {t::kLogError7}, U, false, false},
    {"codeplug Write Error #2", {t::kCodeplugWriteError2}, t::kStartTheUpgrade, {t::kLogError1}, U, false, false},
    {"codeplug Write Error #3", {t::kCodeplugWriteError3}, t::kStartTheUpgrade, {t::kLogError2, t::kLogError3}, U, false, false},
    {"Error to Reset Mode", {t::kErrorResetMode}, t::kStartTheUpgrade, {}, U, false, false},
    // The radio answered and refused the update start: no interrupted run left it waiting in
    // programming, so a recovery run ends recovery mode (a silent refusal, #1, keeps it).
    {"Write Error #10", {t::kWriteError10}, t::kStartTheUpgrade, {}, C, true, false},
    {"Write Error #1", {t::kWriteError1}, t::kStartTheUpgrade, {}, U, true, false},
    {"Write Error #2", {t::kWriteError2}, t::kStartTheUpgrade, {}, U, true, false},
    {"Write Error #3", {t::kWriteError3}, t::kStartTheUpgrade, {}, S, true, false},
    {"Write Error #4", {t::kWriteError4}, t::kStartTheUpgrade, {}, S, true, false},
    {"Write Error #5", {t::kWriteError5}, t::kStartTheUpgrade, {}, S, true, false},
    {"Write Error #6", {t::kWriteError6}, t::kStartTheUpgrade, {}, S, true, false},
    {"Write Error #7", {t::kWriteError7}, t::kStartTheUpgrade, {}, S, true, false},
    {"Write Error #8", {t::kWriteError8}, t::kStartTheUpgrade, {}, U, true, false},
};
// clang-format on

}  // namespace

std::span<const RunEnd> RunEnds() { return kEnds; }

const RunEnd* FindRunEnd(const std::vector<std::string>& boxes, bool completed) {
    if (boxes.empty()) return completed ? &kEnds[0] : &kEnds[1];
    for (const RunEnd& end : kEnds) {
        if (end.boxes.size() != boxes.size()) continue;
        bool same = true;
        for (std::size_t i = 0; i < boxes.size() && same; ++i) same = boxes[i] == end.boxes[i];
        if (same) return &end;
    }
    return nullptr;
}

}  // namespace kestro::soak
