#pragma once
// The stored port settings and the port number they select. "AUTO" is "Yes" or "No"; only "No",
// exactly, selects the stored "COM" port; anything else asks for the cable to be found (port 0).

#include <string>

#include "platform/Settings.h"

namespace kestro {

inline constexpr const char* kSettingsSection = "Settings";
inline constexpr const char* kAutoValue = "AUTO";
inline constexpr const char* kComValue = "COM";

// 0 means: find the cable's port automatically. An empty "COM" gives 3. Otherwise the characters
// after the first three are read like atoi (leading blanks and a sign, digits up to the first
// non-digit, none gives 0). `portSetting` receives the stored "COM" text when it was read.
int PortNumberFromSettings(ISettings& settings, std::string* portSetting = nullptr);

// The lenient decimal read used for port names: blanks, one sign, digits; 0 when there are none.
int LenientDecimal(const std::string& text);

}  // namespace kestro
