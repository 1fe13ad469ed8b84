#include "protocol/LinkState.h"

#include <algorithm>

namespace kestro {

std::array<std::uint8_t, 5> LinkState::DeviceFirmwareBytes() const {
    std::lock_guard lock(m_textLock);
    return m_deviceFirmwareBytes;
}

std::string LinkState::DeviceFirmwareVersion() const {
    std::lock_guard lock(m_textLock);
    return m_deviceFirmwareVersion;
}

std::string LinkState::DeviceModelNumber() const {
    std::lock_guard lock(m_textLock);
    return m_deviceModelNumber;
}

std::string LinkState::DeviceSerialNumber() const {
    std::lock_guard lock(m_textLock);
    return m_deviceSerialNumber;
}

void LinkState::StoreFirmwareVersion(const std::uint8_t* bytes) {
    std::lock_guard lock(m_textLock);
    std::copy(bytes, bytes + 5, m_deviceFirmwareBytes.begin());
    m_deviceFirmwareVersion.assign(reinterpret_cast<const char*>(bytes), 5);
}

void LinkState::StoreModelNumber(const std::uint8_t* bytes) {
    std::lock_guard lock(m_textLock);
    m_deviceModelNumber.assign(reinterpret_cast<const char*>(bytes), 16);
}

void LinkState::StoreSerialNumber(const std::uint8_t* bytes) {
    std::lock_guard lock(m_textLock);
    m_deviceSerialNumber.assign(reinterpret_cast<const char*>(bytes), 10);
}

}  // namespace kestro
