#pragma once
// Firmware files for the soak: Intel hexadecimal records of a boot area and an application
// stretch of a chosen number of rows, some of them above 64 KiB (reached by segment records),
// with data records of 16 and 32 bytes. Deterministic for a given size.

#include <cstddef>
#include <span>
#include <string>

namespace kestro::soak {

// The application sizes the soak cycles through, in rows of 16 bytes.
std::span<const std::size_t> SoakImageSizes();

// The text of a firmware file with `applicationRows` non-erased rows from row 0x0200 on.
std::string SoakFirmwareText(std::size_t applicationRows);

}  // namespace kestro::soak
