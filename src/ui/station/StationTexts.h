#pragma once
// The station's own texts.

namespace kestro::station::stationtexts {

inline constexpr const char* kTitle = "Kestro Upgrade Station";
inline constexpr const char* kApplicationName = "Kestro Upgrade Station";
inline constexpr const char* kCloseDuringErase =
    "A radio is being programmed.\n\nClosing the station now would stop it between erase and boot "
    "swap and leave it without working firmware, needing a recovery run. Please wait until its "
    "upgrade has ended.";

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
