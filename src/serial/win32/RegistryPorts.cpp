// Registry reads of port discovery. Every buffer is one byte longer than the length passed to
// the system, and cleared before each read, so that a value that fills its buffer exactly still
// reads as a terminated text.

#include "serial/win32/RegistryPorts.h"

#include <array>
#include <climits>
#include <cstdio>
#include <cstring>

#include "serial/PortDiscovery.h"

namespace kestro::win32 {
namespace {

constexpr const char* kPortNameValue = "PortName";

// An open registry key, closed when it goes out of scope.
class RegKey {
  public:
    RegKey() = default;
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    ~RegKey() { Close(); }

    bool Open(HKEY parent, const char* path) {
        Close();
        if (::RegOpenKeyExA(parent, path, 0, KEY_READ, &m_key) != ERROR_SUCCESS) {
            m_key = nullptr;
            return false;
        }
        return true;
    }
    void Close() {
        if (m_key != nullptr) {
            ::RegCloseKey(m_key);
            m_key = nullptr;
        }
    }
    HKEY Get() const { return m_key; }

  private:
    HKEY m_key = nullptr;
};

// "PortName" of `device`, or false when the value cannot be read.
bool ReadPortName(HKEY device, std::string& portName) {
    std::array<char, kPortNameBufferSize + 1> buffer{};
    DWORD length = kPortNameBufferSize;
    if (::RegQueryValueExA(device, kPortNameValue, nullptr, nullptr,
                           reinterpret_cast<BYTE*>(buffer.data()), &length) != ERROR_SUCCESS) {
        return false;
    }
    portName = buffer.data();
    return true;
}

}  // namespace

std::vector<std::string> ReadSerialCommPortNames(HKEY root, const char* serialCommKey) {
    std::vector<std::string> names;
    RegKey key;
    if (!key.Open(root, serialCommKey)) {
        return names;  // no serial port is present
    }
    std::array<char, kValueNameBufferSize + 1> name{};
    std::array<char, kValueDataBufferSize + 1> data{};
    for (DWORD index = 0;; ++index) {
        name.fill(0);
        data.fill(0);
        DWORD nameLength = kValueNameBufferSize;
        DWORD dataLength = kValueDataBufferSize;
        if (::RegEnumValueA(key.Get(), index, name.data(), &nameLength, nullptr, nullptr, nullptr,
                            nullptr) != ERROR_SUCCESS) {
            break;
        }
        // A port name too long for the buffer leaves its contents undefined: the entry is then
        // empty rather than whatever the system left there.
        if (::RegQueryValueExA(key.Get(), name.data(), nullptr, nullptr,
                               reinterpret_cast<BYTE*>(data.data()),
                               &dataLength) != ERROR_SUCCESS) {
            data.fill(0);
        }
        names.emplace_back(data.data());
    }
    return names;
}

std::string UsbDeviceKeyPath(unsigned vendorId, unsigned productId, const std::string& instanceId,
                             bool compositeInterface0) {
    char ids[48];
    std::snprintf(ids, sizeof ids, "Vid_%x&Pid_%x", vendorId, productId);
    std::string path = ids;
    if (compositeInterface0) {
        path += "&MI_00";
    }
    path += "\\";
    path += instanceId;
    if (compositeInterface0) {
        path += "_00";
    }
    path += "\\Device Parameters\\";
    return path;
}

int FindUsbPortNumberInRegistry(const char* instanceId, HKEY root, const char* systemKey) {
    if (instanceId == nullptr) {
        return -1;
    }
    RegKey system;
    if (!system.Open(root, systemKey)) {
        return -1;
    }
    RegKey usb;
    if (!usb.Open(system.Get(), kUsbEnumKey)) {
        return -1;
    }
    RegKey device;
    if (!device.Open(
            usb.Get(),
            UsbDeviceKeyPath(kCableVendorId, kCableProductId, instanceId, false).c_str())) {
        return -1;  // without the plain key the composite form is not tried
    }
    std::string portName;
    if (ReadPortName(device.Get(), portName)) {
        return PortNumberFromName(portName);
    }
    device.Close();
    if (device.Open(usb.Get(),
                    UsbDeviceKeyPath(kCableVendorId, kCableProductId, instanceId, true).c_str()) &&
        ReadPortName(device.Get(), portName)) {
        return PortNumberFromName(portName);
    }
    return -1;
}

std::vector<std::string> FindCableInstanceIds(HKEY root, const char* systemKey) {
    std::vector<std::string> ids;
    char path[64];
    std::snprintf(path, sizeof path, "%sVid_%x&Pid_%x", kUsbEnumKey, kCableVendorId, kCableProductId);
    RegKey system;
    RegKey cables;
    if (!system.Open(root, systemKey) || !cables.Open(system.Get(), path)) return ids;
    std::array<char, 256> name{};
    for (DWORD index = 0;; ++index) {
        DWORD length = static_cast<DWORD>(name.size());
        if (::RegEnumKeyExA(cables.Get(), index, name.data(), &length, nullptr, nullptr, nullptr,
                            nullptr) != ERROR_SUCCESS) {
            break;
        }
        ids.emplace_back(name.data(), length);
    }
    return ids;
}

int PortNumberFromName(const std::string& portName) {
    long long number = 0;
    for (std::size_t i = 3; i < portName.size(); ++i) {
        const char c = portName[i];
        if (c < '0' || c > '9') {
            break;
        }
        number = number * 10 + (c - '0');
        if (number > INT_MAX) {
            return INT_MAX;
        }
    }
    return static_cast<int>(number);
}

}  // namespace kestro::win32
