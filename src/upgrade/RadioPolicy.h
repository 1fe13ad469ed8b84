#pragma once
// What the kit requires of a radio before it upgrades it, written once for the upgrade run, its
// confirmation and the read-only check: the version it installs, the model it supports, how the
// detection status is read and which codeplug byte decides a restore.

#include <array>
#include <cstdint>
#include <cstring>
#include <string>

#include "upgrade/Texts.h"

namespace kestro::policy {

// The kit's firmware version as the radio reports it: R, 0, 1, 0, 4.
inline constexpr std::array<std::uint8_t, 5> kKitVersionBytes = {'R', '0', '1', '0', '4'};

// The radio's firmware may be upgraded only when it is older than the kit's. A version of
// another family (first byte not R) is not compared at all.
inline bool FirmwareOlderThanKit(const std::array<std::uint8_t, 5>& device) {
    if (device[0] != kKitVersionBytes[0]) return true;
    for (std::size_t i = 1; i < device.size(); ++i) {
        if (device[i] != kKitVersionBytes[i]) return device[i] < kKitVersionBytes[i];
    }
    return false;  // equal
}

// Compared as a zero-terminated text: the 16 bytes match only as the number and a zero.
inline bool SupportedModel(const std::string& model) {
    return std::strcmp(model.c_str(), texts::kSupportedModel) == 0;
}

// The detection reply's status byte.
enum class DetectionStatus { Usable, Disabled, OtherModelType };
inline DetectionStatus ReadDetectionStatus(int status) {
    if ((status & 0x10) != 0) return DetectionStatus::Disabled;
    if (status == 0) return DetectionStatus::OtherModelType;
    return DetectionStatus::Usable;
}

// The codeplug bytes a run checks: the first is read once and never judged, the second decides;
// a restore writes both values back.
inline constexpr std::uint16_t kCodeplugFirstAddress = 0x3049;
inline constexpr std::uint16_t kCodeplugDecidingAddress = 0x3197;
inline constexpr std::uint8_t kCodeplugFirstValue = 0x14;
inline constexpr std::uint8_t kCodeplugDecidingValue = 0x6F;

}  // namespace kestro::policy
