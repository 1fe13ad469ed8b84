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

// The result line of a row whose run found no radio answering.
inline constexpr const char* kSilentRadio =
    "A radio that answers nothing may be one that an interrupted upgrade left without firmware: "
    "Finish programs it directly.";
inline constexpr const char* kStopRefused =
    "Not stopped: the radio is between erase and boot swap, and stopping now would leave it without "
    "working firmware. Its run goes on to the boot swap.";
inline constexpr const char* kCountsToolTip =
    "Radios, not attempts: each radio of this session (told apart by its serial number, else by "
    "its row) counts once, in the column of its latest outcome.";

}  // namespace kestro::station::stationtexts
