#pragma once
// A run told in a few words, for a table cell: the cause of its end with the message's number,
// where it stopped, and the firmware the radio runs afterwards. The whole messages stay as they
// are; these words only stand beside them.

#include <string>

#include "runcore/RadioSummary.h"

namespace kestro {

// "Battery low: charge it (Read Error #8)", "No radio answered (Communication Error #1)",
// "upgraded"; the title of a message the kit does not know otherwise.
std::string CauseInWords(const RadioSummary& summary);

// Where a run was when it ended, from its last status line: "Checking the battery". "" when the
// status says nothing of a step.
std::string StageInWords(const std::string& status);

// The version the kit's firmware file installs: "R01.04".
std::string KitFirmwareVersion();

// The firmware the radio runs after its run: the version it told after its restart where it was
// asked, else the kit's version once the programming completed; "" when it was not upgraded.
std::string FirmwareAfter(const RadioSummary& summary);

}  // namespace kestro
