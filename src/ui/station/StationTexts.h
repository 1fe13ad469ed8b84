#pragma once
// The station's own texts.

namespace kestro::station::stationtexts {

inline constexpr const char* kTitle = "Kestro Upgrade Station";
inline constexpr const char* kApplicationName = "Kestro Upgrade Station";
// The notice while a close waits: %1 the ports of the radios between erase and boot swap.
inline constexpr const char* kCloseWaitsForOne =
    "Closing waits for the radio on %1: it is being programmed, and stopping it between erase "
    "and boot swap would leave it without working firmware. The station closes by itself when "
    "its upgrade has ended.";
inline constexpr const char* kCloseWaitsForMany =
    "Closing waits for the radios on %1: they are being programmed, and stopping them between "
    "erase and boot swap would leave them without working firmware. The station closes by "
    "itself when their upgrades have ended.";

}  // namespace kestro::station::stationtexts
