// Port discovery on sysfs. A tty is a real serial port when /sys/class/tty/<name>/device exists;
// the USB device behind it is found by walking up from that link's target to the first folder
// with idVendor, passing the interface folder (bInterfaceNumber) on the way. Its node in /dev is
// the DEVNAME of its uevent, as udev names it; without one, the tty's own name.

#include "serial/PortDiscovery.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "serial/PortNames.h"

namespace kestro {
namespace fs = std::filesystem;
namespace {

std::optional<std::string> ReadAttribute(const fs::path& file) {
    std::ifstream in(file);
    if (!in) {
        return std::nullopt;
    }
    std::string text;
    std::getline(in, text);
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return std::string{};
    }
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

std::optional<unsigned long> ReadNumber(const fs::path& file, int base) {
    const auto text = ReadAttribute(file);
    if (!text || text->empty()) {
        return std::nullopt;
    }
    char* end = nullptr;
    const unsigned long value = std::strtoul(text->c_str(), &end, base);
    if (end == nullptr || *end != '\0') {
        return std::nullopt;
    }
    return value;
}

// The tty names under <root>/class/tty that are backed by a device, sorted by name so that the
// result does not depend on the directory's order.
std::vector<std::string> DeviceBackedTtys(const fs::path& sysfsRoot) {
    std::vector<std::string> names;
    std::error_code ec;
    fs::directory_iterator it(sysfsRoot / "class" / "tty", ec);
    if (ec) {
        return names;
    }
    for (const fs::directory_entry& entry : it) {
        if (fs::exists(entry.path() / "device", ec)) {
            names.push_back(entry.path().filename().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

// "/dev/<DEVNAME>"; a DEVNAME that would leave /dev is ignored.
std::string DeviceNodeOf(const fs::path& ttyFolder, const std::string& ttyName) {
    std::ifstream in(ttyFolder / "uevent");
    std::string line;
    constexpr std::string_view kKey = "DEVNAME=";
    while (std::getline(in, line)) {
        if (!line.starts_with(kKey)) {
            continue;
        }
        const std::string name = line.substr(kKey.size());
        const bool escapes = name.empty() || name.front() == '/' ||
                             name.find("..") != std::string::npos;
        if (!escapes) {
            return "/dev/" + name;
        }
        break;
    }
    return "/dev/" + ttyName;
}

// An 8250 slot with no UART behind it still has a device; its "type" reads 0 (PORT_UNKNOWN).
bool IsPhantomUart(const fs::path& ttyFolder) {
    const auto type = ReadNumber(ttyFolder / "type", 10);
    return type && *type == 0;
}

struct UsbLocation {
    fs::path device;     // the folder with idVendor, idProduct, serial
    fs::path interface;  // the interface folder on the way up, when there was one
};

std::optional<UsbLocation> FindUsbAncestor(const fs::path& ttyFolder) {
    std::error_code ec;
    fs::path current = fs::canonical(ttyFolder / "device", ec);
    if (ec) {
        return std::nullopt;
    }
    UsbLocation location;
    while (!current.empty() && current != current.root_path()) {
        if (location.interface.empty() && fs::exists(current / "bInterfaceNumber", ec)) {
            location.interface = current;
        }
        if (fs::exists(current / "idVendor", ec) && fs::exists(current / "idProduct", ec)) {
            location.device = current;
            return location;
        }
        current = current.parent_path();
    }
    return std::nullopt;
}

// A cable; with `instanceId`, the one with that serial string.
bool IsCableInstance(const UsbLocation& usb, const char* instanceId) {
    if (ReadNumber(usb.device / "idVendor", 16) != kCableVendorId ||
        ReadNumber(usb.device / "idProduct", 16) != kCableProductId ||
        (instanceId != nullptr && ReadAttribute(usb.device / "serial") != std::string(instanceId))) {
        return false;
    }
    const auto interfaces = ReadNumber(usb.device / "bNumInterfaces", 10);
    if (interfaces && *interfaces > 1) {
        return !usb.interface.empty() && ReadNumber(usb.interface / "bInterfaceNumber", 16) == 0UL;
    }
    return true;
}

std::string IdentityOf(const UsbLocation& usb) {
    const auto vendor = ReadNumber(usb.device / "idVendor", 16);
    const auto product = ReadNumber(usb.device / "idProduct", 16);
    const auto serial = ReadAttribute(usb.device / "serial");
    if (!vendor || !product || !serial || serial->empty()) return {};  // nothing stable to know it by
    const auto interface =
        usb.interface.empty() ? std::optional<unsigned long>(0) : ReadNumber(usb.interface / "bInterfaceNumber", 16);
    char text[160];
    std::snprintf(text, sizeof text, "usb %04lX:%04lX serial %s interface %lu", *vendor, *product,
                  serial->substr(0, 64).c_str(), interface.value_or(0));
    return text;
}

}  // namespace

fs::path DefaultSysfsRoot() {
    const char* root = std::getenv(kSysfsRootVariable);
    return root != nullptr && *root != '\0' ? fs::path(root) : fs::path("/sys");
}

std::vector<PortEntry> ListPresentPorts(const fs::path& sysfsRoot) {
    std::vector<PortEntry> ports;
    auto add = [&ports](int number, std::string device) {
        PortEntry entry;
        entry.number = number;
        entry.name = PortName(number);
        entry.device = std::move(device);
        entry.label = entry.name + " (" + entry.device + ")";
        ports.push_back(std::move(entry));
    };

    const auto mappings = PortMappings();
    for (const std::string& name : DeviceBackedTtys(sysfsRoot)) {
        const fs::path folder = sysfsRoot / "class" / "tty" / name;
        const std::string device = DeviceNodeOf(folder, name);
        const auto number = FixedPortNumber(device.substr(5));
        if (!number || IsPhantomUart(folder)) {
            continue;  // a node without a fixed number is listed only if a mapping names it
        }
        const bool remapped = std::any_of(mappings.begin(), mappings.end(),
                                          [&](const auto& m) { return m.first == *number; });
        if (!remapped) {
            add(*number, device);
        }
    }
    std::error_code ec;
    for (const auto& [number, path] : mappings) {
        if (fs::exists(path, ec)) {
            add(number, path);
        }
    }
    std::stable_sort(ports.begin(), ports.end(),
                     [](const PortEntry& a, const PortEntry& b) { return a.number < b.number; });
    return ports;
}

int FindUsbPortNumberIn(const fs::path& sysfsRoot, const char* instanceId) {
    if (instanceId == nullptr) {
        return -1;
    }
    int result = -1;
    for (const std::string& name : DeviceBackedTtys(sysfsRoot)) {
        const fs::path folder = sysfsRoot / "class" / "tty" / name;
        const auto usb = FindUsbAncestor(folder);
        if (!usb || !IsCableInstance(*usb, instanceId)) {
            continue;
        }
        const int number = PortNumberForDevice(DeviceNodeOf(folder, name)).value_or(0);
        // Two bridges with the same serial string: take the lowest port, as a stable choice.
        if (number >= 1) {
            if (result < 1 || number < result) {
                result = number;
            }
        } else if (result < 0) {
            result = 0;
        }
    }
    return result;
}

std::vector<std::string> FindCablePortsIn(const fs::path& sysfsRoot) {
    std::vector<std::string> devices;
    for (const std::string& name : DeviceBackedTtys(sysfsRoot)) {
        const fs::path folder = sysfsRoot / "class" / "tty" / name;
        const auto usb = FindUsbAncestor(folder);
        if (usb && IsCableInstance(*usb, nullptr)) devices.push_back(DeviceNodeOf(folder, name));
    }
    std::sort(devices.begin(), devices.end());
    devices.erase(std::unique(devices.begin(), devices.end()), devices.end());
    return devices;
}

std::string CableIdentityIn(const fs::path& sysfsRoot, const std::string& device) {
    std::error_code ec;
    const fs::path wanted = fs::weakly_canonical(device, ec);
    for (const std::string& name : DeviceBackedTtys(sysfsRoot)) {
        const fs::path folder = sysfsRoot / "class" / "tty" / name;
        const std::string node = DeviceNodeOf(folder, name);
        std::error_code nodeError;
        if (node != device && (ec || fs::weakly_canonical(node, nodeError) != wanted)) continue;
        const auto usb = FindUsbAncestor(folder);
        return usb ? IdentityOf(*usb) : std::string{};
    }
    return {};
}

std::vector<std::string> DevicesWithIdentityIn(const fs::path& sysfsRoot, const std::string& identity) {
    std::vector<std::string> devices;
    if (identity.empty()) return devices;
    for (const std::string& name : DeviceBackedTtys(sysfsRoot)) {
        const fs::path folder = sysfsRoot / "class" / "tty" / name;
        const auto usb = FindUsbAncestor(folder);
        if (usb && IdentityOf(*usb) == identity) devices.push_back(DeviceNodeOf(folder, name));
    }
    std::sort(devices.begin(), devices.end());
    devices.erase(std::unique(devices.begin(), devices.end()), devices.end());
    return devices;
}

std::string SerialByIdName(const std::string& device, const fs::path& byIdFolder) {
    std::error_code ec;
    const fs::path wanted = fs::weakly_canonical(device, ec);
    if (ec) return {};
    std::string found;
    for (const auto& entry : fs::directory_iterator(byIdFolder, ec)) {
        std::error_code linkError;
        if (!entry.is_symlink(linkError)) continue;
        if (fs::weakly_canonical(entry.path(), linkError) == wanted && !linkError) {
            const std::string name = entry.path().filename().string();
            if (found.empty() || name < found) found = name;  // the same name at every look
        }
    }
    return found;
}

}  // namespace kestro
