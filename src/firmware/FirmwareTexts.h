#pragma once
// The status texts of the firmware load, spelled as the user sees them.

#include <string>

#include "firmware/CCommFile.h"

namespace kestro {

inline constexpr const char* kFirmwareCanNotOpenText = "Firmware file can not open";
inline constexpr const char* kFirmwareLoadingText = "Loading firmware file... Please wait it...";

// "Firmware file is damaged (line 118: checksum mismatch)"
inline std::string FirmwareDamagedText(const HexParseError& error) {
    return "Firmware file is damaged (line " + std::to_string(error.m_line) + ": " +
           error.m_reason + ")";
}

}  // namespace kestro
