#pragma once
// Which serial ports are present and on which one the programming cable sits. Both read the
// kernel's device tree under a sysfs root that tests replace with a fake tree.

#include <filesystem>
#include <string>
#include <vector>

namespace kestro {

inline constexpr unsigned kCableVendorId = 0x10C4;
inline constexpr unsigned kCableProductId = 0xEA60;
inline constexpr const char* kSysfsRootVariable = "KESTRO_SYSFS_ROOT";

struct PortEntry {
    int number = 0;
    std::string name;    // "COM33"
    std::string device;  // "/dev/ttyUSB0"
    std::string label;   // "COM33 (/dev/ttyUSB0)"
};

// KESTRO_SYSFS_ROOT when set and not empty, else "/sys".
std::filesystem::path DefaultSysfsRoot();

// The present ports, ordered by number: every tty under <root>/class/tty that is backed by a
// device and has a number by the fixed rule (unless a mapping took that number), plus every
// mapped device that exists. One device may appear under two numbers; both are kept.
std::vector<PortEntry> ListPresentPorts(const std::filesystem::path& sysfsRoot = "/sys");

// The port of the USB bridge 10C4:EA60 whose serial string equals `instanceId` (interface 0 when
// the device has several interfaces): n >= 1 when found, 0 when found but its tty has no port
// number, -1 when no such bridge is present.
int FindUsbPortNumberIn(const std::filesystem::path& sysfsRoot, const char* instanceId);

// The ports of every programming cable present (USB 10C4:EA60, whatever its serial string;
// interface 0 of a composite device), as the names a user gives with --port: device paths on
// Linux, "COMn" on Windows. Sorted, without duplicates.
std::vector<std::string> FindCablePortsIn(const std::filesystem::path& sysfsRoot);

// The stable name that udev gives `device` in `byIdFolder` (the link whose target is that device,
// such as "usb-Silicon_Labs_CP2102_0006-if00-port0"); "" when there is none, and always on
// Windows, where a COM name is already stable.
std::string SerialByIdName(const std::string& device,
                           const std::filesystem::path& byIdFolder = "/dev/serial/by-id");

// The stable identity of the USB device behind `device` ("usb 10C4:EA60 serial 0006 interface 0"),
// the same whatever node name the kernel gives it at the next plug; "" for a port that is no USB
// device (a UART, a pseudo-terminal), and always on Windows, where the COM number stays with the
// cable.
std::string CableIdentityIn(const std::filesystem::path& sysfsRoot, const std::string& device);

// The present devices whose cable has `identity`, sorted. Several cables can share one (their
// serial strings are often fixed by the maker): callers treat more than one as no answer.
std::vector<std::string> DevicesWithIdentityIn(const std::filesystem::path& sysfsRoot,
                                               const std::string& identity);

}  // namespace kestro
