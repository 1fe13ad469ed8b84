// The Linux port-number rule (the mappings that extend it are shared, in PortMappings.cpp).

#include "serial/PortNames.h"

#include <algorithm>
#include <charconv>

namespace kestro {
namespace {

struct FixedRange {
    const char* prefix;
    int firstPort;
};

constexpr FixedRange kFixedRanges[] = {
    {"ttyS", 1},
    {"ttyUSB", kFirstUsbSerialPort},
    {"ttyACM", kFirstUsbModemPort},
};

}  // namespace

std::optional<std::string> FixedKernelName(int portNumber) {
    for (const FixedRange& range : kFixedRanges) {
        const int index = portNumber - range.firstPort;
        if (index >= 0 && index < kPortRangeSize) {
            return std::string(range.prefix) + std::to_string(index);
        }
    }
    return std::nullopt;
}

std::optional<int> FixedPortNumber(std::string_view kernelName) {
    for (const FixedRange& range : kFixedRanges) {
        const std::string_view prefix(range.prefix);
        if (!kernelName.starts_with(prefix)) {
            continue;
        }
        const std::string_view digits = kernelName.substr(prefix.size());
        // "ttyS01" is not a kernel name; only canonical decimal indexes map, unsigned.
        if (digits.empty() || (digits.size() > 1 && digits.front() == '0')) {
            return std::nullopt;
        }
        if (digits.front() < '0' || digits.front() > '9') {
            continue;  // "ttyS" is a prefix of "ttySAC0"-like names; try the other ranges
        }
        int index = -1;
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), index);
        if (ec != std::errc{} || end != digits.data() + digits.size()) {
            return std::nullopt;
        }
        if (index < kPortRangeSize) {
            return range.firstPort + index;
        }
        return std::nullopt;
    }
    return std::nullopt;
}

std::optional<std::string> DevicePathForPort(int portNumber) {
    for (const auto& [number, path] : PortMappings()) {
        if (number == portNumber) {
            return path;
        }
    }
    if (auto name = FixedKernelName(portNumber)) {
        return "/dev/" + *name;
    }
    return std::nullopt;
}

std::optional<int> PortNumberForDevice(std::string_view devicePath) {
    for (const auto& [number, path] : PortMappings()) {
        if (path == devicePath) {
            return number;
        }
    }
    constexpr std::string_view kDevPrefix = "/dev/";
    if (!devicePath.starts_with(kDevPrefix)) {
        return std::nullopt;
    }
    const auto number = FixedPortNumber(devicePath.substr(kDevPrefix.size()));
    // A number that a mapping has taken over no longer names the fixed device.
    if (number && DevicePathForPort(*number) != std::string(devicePath)) {
        return std::nullopt;
    }
    return number;
}

}  // namespace kestro
