// Port discovery on Windows: the system's device registry stands where Linux has sysfs, so the
// sysfs root of the shared interface has no meaning here and is ignored. Ports are listed in the
// registry's order, as the settings dialog shows them, not sorted by number.

#include "serial/PortDiscovery.h"

#include <algorithm>

#include "serial/win32/RegistryPorts.h"

namespace kestro {

std::filesystem::path DefaultSysfsRoot() { return {}; }

std::vector<PortEntry> ListPresentPorts(const std::filesystem::path& /*sysfsRoot*/) {
    std::vector<PortEntry> ports;
    for (std::string& name : win32::ReadSerialCommPortNames()) {
        PortEntry entry;
        entry.number = win32::PortNumberFromName(name);
        entry.device = name.empty() ? std::string{} : "\\\\.\\" + name;
        entry.label = name;
        entry.name = std::move(name);
        ports.push_back(std::move(entry));
    }
    return ports;
}

int FindUsbPortNumberIn(const std::filesystem::path& /*sysfsRoot*/, const char* instanceId) {
    return win32::FindUsbPortNumberInRegistry(instanceId);
}

std::vector<std::string> FindCablePortsIn(const std::filesystem::path& /*sysfsRoot*/) {
    std::vector<std::string> ports;
    const auto present = win32::ReadSerialCommPortNames();
    for (const std::string& id : win32::FindCableInstanceIds()) {
        const int number = win32::FindUsbPortNumberInRegistry(id.c_str());
        const std::string name = "COM" + std::to_string(number);
        // The registry keeps cables that were once attached: only present ports count.
        if (number >= 1 && std::find(present.begin(), present.end(), name) != present.end()) {
            ports.push_back(name);
        }
    }
    std::sort(ports.begin(), ports.end());
    ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
    return ports;
}

std::string SerialByIdName(const std::string&, const std::filesystem::path&) { return {}; }

std::string CableIdentityIn(const std::filesystem::path&, const std::string&) { return {}; }

std::vector<std::string> DevicesWithIdentityIn(const std::filesystem::path&, const std::string&) { return {}; }

}  // namespace kestro
