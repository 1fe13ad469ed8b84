// Port numbers on Windows: port n is the device "\\.\COMn", unless a mapping names another
// device for it (the mappings are shared with Linux, in PortMappings.cpp).

#include "serial/PortNames.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>

namespace kestro {
namespace {

constexpr std::string_view kDevicePrefix = "\\\\.\\";

bool StartsWithCom(std::string_view text) {
    return text.size() > 3 && std::tolower(static_cast<unsigned char>(text[0])) == 'c' &&
           std::tolower(static_cast<unsigned char>(text[1])) == 'o' &&
           std::tolower(static_cast<unsigned char>(text[2])) == 'm';
}

// n of "n" in canonical decimal (no sign, no leading zero), 1 or more.
std::optional<int> CanonicalNumber(std::string_view digits) {
    if (digits.empty() || digits.front() == '0') {
        return std::nullopt;
    }
    int number = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (ec != std::errc{} || end != digits.data() + digits.size() || number < 1) {
        return std::nullopt;
    }
    return number;
}

}  // namespace

std::optional<std::string> FixedKernelName(int portNumber) {
    if (portNumber < 1) {
        return std::nullopt;
    }
    return PortName(portNumber);
}

std::optional<int> FixedPortNumber(std::string_view kernelName) {
    if (!StartsWithCom(kernelName)) {
        return std::nullopt;
    }
    return CanonicalNumber(kernelName.substr(3));
}

std::optional<std::string> DevicePathForPort(int portNumber) {
    for (const auto& [number, path] : PortMappings()) {
        if (number == portNumber) {
            return path;
        }
    }
    if (auto name = FixedKernelName(portNumber)) {
        return std::string(kDevicePrefix) + *name;
    }
    return std::nullopt;
}

std::optional<int> PortNumberForDevice(std::string_view devicePath) {
    for (const auto& [number, path] : PortMappings()) {
        if (path == devicePath) {
            return number;
        }
    }
    std::string_view name = devicePath;
    if (name.starts_with(kDevicePrefix) || name.starts_with("//./")) {
        name.remove_prefix(kDevicePrefix.size());
    }
    const auto number = FixedPortNumber(name);
    // A number that a mapping has taken over no longer names the fixed device.
    if (number && DevicePathForPort(*number) != std::string(kDevicePrefix) + PortName(*number)) {
        return std::nullopt;
    }
    return number;
}

}  // namespace kestro
