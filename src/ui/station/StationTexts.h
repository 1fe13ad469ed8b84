#pragma once
// The station's own texts.

namespace kestro::station::stationtexts {

inline constexpr const char* kTitle = "Kestro Upgrade Station";
inline constexpr const char* kApplicationName = "Kestro Upgrade Station";
inline constexpr const char* kCloseDuringErase =
    "A radio is being programmed.\n\nClosing the station now would stop it between erase and boot "
    "swap and leave it without working firmware, needing a recovery run. Please wait until its "
    "upgrade has ended.";

}  // namespace kestro::station::stationtexts
