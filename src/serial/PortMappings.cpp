// Port mappings that extend the platform's port-number rule: numbers registered by the program
// (a test, or the command-line kit for a device path) and those of KESTRO_PORT_MAP. The variable
// is read at every lookup, so a mapping set before a run needs no restart.

#include <cctype>
#include <charconv>
#include <cstdlib>
#include <map>
#include <mutex>

#include "serial/PortNames.h"

namespace kestro {
namespace {

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

}  // namespace

std::string PortName(int portNumber) { return "COM" + std::to_string(portNumber); }

void RegisterPortDevice(int portNumber, std::string devicePath) {
    if (portNumber < 1) {
        return;
    }
    std::lock_guard lock(RegistryLock());
    Registry()[portNumber] = std::move(devicePath);
}

int RegisterOnFreePortNumber(std::string devicePath) {
    // Under the registry's lock, so that two devices registered at once never share a number.
    const auto mapped = PortMappings();
    std::lock_guard lock(RegistryLock());
    int number = kFirstFreePort;
    const auto taken = [&](int n) {
        if (Registry().count(n) != 0) return true;
        for (const auto& [m, path] : mapped) {
            if (m == n) return true;
        }
        return false;
    };
    while (taken(number)) ++number;
    Registry()[number] = std::move(devicePath);
    return number;
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

}  // namespace kestro
