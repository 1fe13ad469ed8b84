#pragma once
// Port numbers n (the COMn of the stored settings and the cable lookup) and the devices behind
// them. Linux rule: COM1-32 = /dev/ttyS0-31, COM33-64 = /dev/ttyUSB0-31, COM65-96 =
// /dev/ttyACM0-31; any number can also be mapped to a chosen device, which wins over the rule.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestro {

inline constexpr int kPortRangeSize = 32;
inline constexpr int kFirstUsbSerialPort = 33;   // /dev/ttyUSB0
inline constexpr int kFirstUsbModemPort = 65;    // /dev/ttyACM0
inline constexpr int kFirstFreePort = 97;        // no fixed device: free for mappings
inline constexpr const char* kPortMapVariable = "KESTRO_PORT_MAP";

// "COM5" for 5.
std::string PortName(int portNumber);

// The fixed rule alone, both ways. The kernel name is the tty's name without "/dev/" ("ttyUSB0").
std::optional<std::string> FixedKernelName(int portNumber);
std::optional<int> FixedPortNumber(std::string_view kernelName);

// Adds or replaces a process-wide mapping of `portNumber` (1 or more) to `devicePath`.
void RegisterPortDevice(int portNumber, std::string devicePath);
// Maps `devicePath` to the lowest number from kFirstFreePort that no mapping uses yet, so that
// several devices of one process each get their own number; returns it.
int RegisterOnFreePortNumber(std::string devicePath);
void UnregisterPortDevice(int portNumber);
void ClearRegisteredPortDevices();

// Parses "97=/dev/pts/5,98=/tmp/ttyX"; malformed items are skipped.
std::vector<std::pair<int, std::string>> ParsePortMap(std::string_view text);

// Every mapping in force, by port number: registered ones first, then those of KESTRO_PORT_MAP
// for numbers not registered.
std::vector<std::pair<int, std::string>> PortMappings();

// The device of port n: a mapping if there is one, else the fixed rule; nullopt when neither
// names a device.
std::optional<std::string> DevicePathForPort(int portNumber);

// The port number of a device path: the lowest mapped number naming exactly this path, else the
// fixed rule for /dev/<name>.
std::optional<int> PortNumberForDevice(std::string_view devicePath);

}  // namespace kestro
