#pragma once
// Plain-language reasons for a port that cannot be opened, worded for the Linux user who meets
// them (groups, ModemManager, unplugged cables) rather than as bare system error texts.

#include <string>

namespace kestro {

// `error` is the system error number of the failed open or lock of `devicePath`.
std::string DescribeOpenFailure(int error, const std::string& devicePath);

// The system's own text for an error number.
std::string SystemErrorText(int error);

}  // namespace kestro
