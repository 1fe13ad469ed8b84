// The Linux port-number rule and the mappings that extend it. The environment variable is read
// at every lookup, so a mapping set before a run (or by a test) needs no restart.

#include "serial/PortNames.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <map>
#include <mutex>

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

std::mutex& RegistryLock() {
    static std::mutex lock;
    return lock;
}

std::map<int, std::string>& Registry() {
    static std::map<int, std::string> registry;
    return registry;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

}  // namespace

std::string PortName(int portNumber) { return "COM" + std::to_string(portNumber); }

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

void RegisterPortDevice(int portNumber, std::string devicePath) {
    if (portNumber < 1) {
        return;
    }
    std::lock_guard lock(RegistryLock());
    Registry()[portNumber] = std::move(devicePath);
}

void UnregisterPortDevice(int portNumber) {
    std::lock_guard lock(RegistryLock());
    Registry().erase(portNumber);
}

void ClearRegisteredPortDevices() {
    std::lock_guard lock(RegistryLock());
    Registry().clear();
}

std::vector<std::pair<int, std::string>> ParsePortMap(std::string_view text) {
    std::vector<std::pair<int, std::string>> result;
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        const std::string_view item = Trim(text.substr(0, comma));
        text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);

        const std::size_t equals = item.find('=');
        if (equals == std::string_view::npos) {
            continue;
        }
        std::string_view numberText = Trim(item.substr(0, equals));
        const std::string_view path = Trim(item.substr(equals + 1));
        // "COM97=..." reads as naturally as "97=...".
        if (numberText.size() > 3 && (numberText.substr(0, 3) == "COM" ||
                                      numberText.substr(0, 3) == "com")) {
            numberText.remove_prefix(3);
        }
        int number = 0;
        const auto [end, ec] =
            std::from_chars(numberText.data(), numberText.data() + numberText.size(), number);
        if (ec != std::errc{} || end != numberText.data() + numberText.size() || number < 1 ||
            path.empty()) {
            continue;
        }
        result.emplace_back(number, std::string(path));
    }
    return result;
}

std::vector<std::pair<int, std::string>> PortMappings() {
    std::map<int, std::string> merged;
    {
        std::lock_guard lock(RegistryLock());
        merged = Registry();
    }
    if (const char* text = std::getenv(kPortMapVariable); text != nullptr) {
        for (auto& [number, path] : ParsePortMap(text)) {
            merged.try_emplace(number, std::move(path));  // a registered number wins
        }
    }
    return {merged.begin(), merged.end()};
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
