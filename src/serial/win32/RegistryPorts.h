#pragma once
// The two lookups in the system's device registry: the present serial ports, as listed under
// HARDWARE\DEVICEMAP\SERIALCOMM, and the port of the cable's USB bridge below the USB
// enumeration keys. Both only read. The root key and the key paths can be replaced, so that tests
// run the same code against a tree of their own.

#include <windows.h>

#include <string>
#include <vector>

namespace kestro::win32 {

inline constexpr const char* kSerialCommKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
inline constexpr const char* kSystemKey = "SYSTEM\\CurrentControlSet\\";
inline constexpr const char* kUsbEnumKey = "Enum\\USB\\";
inline constexpr std::size_t kValueNameBufferSize = 100;
inline constexpr std::size_t kValueDataBufferSize = 20;
inline constexpr std::size_t kPortNameBufferSize = 100;

// The port names of `serialCommKey`, in the registry's enumeration order, unsorted, duplicates
// kept. Enumeration stops at the first value that cannot be enumerated (no more values, or a
// value name of 100 characters or more). A port name that does not fit 19 characters gives an
// empty entry. No key: an empty list.
std::vector<std::string> ReadSerialCommPortNames(HKEY root = HKEY_LOCAL_MACHINE,
                                                 const char* serialCommKey = kSerialCommKey);

// "Vid_10c4&Pid_ea60\0006\Device Parameters\" or, for interface 0 of a composite device,
// "Vid_10c4&Pid_ea60&MI_00\0006_00\Device Parameters\".
std::string UsbDeviceKeyPath(unsigned vendorId, unsigned productId, const std::string& instanceId,
                             bool compositeInterface0);

// The port number of the bridge's "PortName": n >= 1 found, 0 found without a number, -1 when a
// key or the value is missing. The composite form is tried only when the plain device key
// exists without "PortName".
int FindUsbPortNumberInRegistry(const char* instanceId, HKEY root = HKEY_LOCAL_MACHINE,
                                const char* systemKey = kSystemKey);

// The instance identifiers (serial strings) of every cable 10C4:EA60 the registry knows.
std::vector<std::string> FindCableInstanceIds(HKEY root = HKEY_LOCAL_MACHINE,
                                              const char* systemKey = kSystemKey);

// The number in a port name: the first three characters are skipped unread, then decimal
// digits up to the first non-digit ("COM12" 12, "COM007" 7, "COM", "COM 5" and "COM-5" 0).
// Numbers too large for an int give INT_MAX.
int PortNumberFromName(const std::string& portName);

}  // namespace kestro::win32
