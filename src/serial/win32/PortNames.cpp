// Port numbers on Windows: port n is the device "\\.\COMn", unless a mapping names another
// device for it. The mappings (registered, or from KESTRO_PORT_MAP) work as on Linux, so that a
// test or a user can put any device under a port number.

#include "serial/PortNames.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <map>
#include <mutex>

namespace kestro {
namespace {

constexpr std::string_view kDevicePrefix = "\\\\.\\";

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

std::string PortName(int portNumber) { return "COM" + std::to_string(portNumber); }

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
        if (StartsWithCom(numberText)) {
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
