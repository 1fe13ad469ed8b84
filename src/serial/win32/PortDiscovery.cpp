// Port discovery on Windows: the system's device registry stands where Linux has sysfs, so the
// sysfs root of the shared interface has no meaning here and is ignored. Ports are listed in the
// registry's order, as the settings dialog shows them, not sorted by number.

#include "serial/PortDiscovery.h"

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

}  // namespace kestro
