#pragma once
// Whether a firmware file can be used, asked once before any port is opened or any simulated
// radio started, so that a fleet reports a bad file once rather than once per radio.

#include <filesystem>
#include <string>

namespace kestro {

// Why the firmware file cannot be used, or "" when it can. `decode` also decodes it; one radio on
// a real port needs no such look ahead, since its run decodes the file before it opens the port.
std::string FirmwareProblem(const std::filesystem::path& path, bool decode);

}  // namespace kestro
