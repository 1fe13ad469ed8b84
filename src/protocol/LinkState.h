#pragma once
// What the reply receiver shares with the upgrade worker: the reply event, the code of the last
// recognised reply and the values the radio reported. The receiver writes every value before it
// signals the event; the worker reads them after its wait. Flags are atomic; the device texts are
// guarded so that a duplicate reply arriving while the worker reads cannot tear them.

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/ManualResetEvent.h"

namespace kestro {

class LinkState {
public:
    // Created for each run by the Upgrade command; signalled by the receiver, reset by the worker.
    std::unique_ptr<ManualResetEvent> m_hReplyEvent;

    std::atomic<int> m_replyCode{0};
    std::atomic<int> m_batteryLow{0};
    std::atomic<int> m_deviceStatus{0};
    std::atomic<std::uint8_t> m_codeplugByte{0};
    // Echoes the receiver checks: set by the worker before the request that makes the radio answer.
    std::atomic<std::uint16_t> m_codeplugAddress{0};
    std::atomic<std::uint16_t> m_recordEcho{0};  // record byte 0 in the high half, byte 1 low

    void SetRecordEcho(std::uint8_t byte0, std::uint8_t byte1) {
        m_recordEcho.store(static_cast<std::uint16_t>((byte0 << 8) | byte1));
    }

    // Device texts: one character per payload byte, zero bytes included.
    std::array<std::uint8_t, 5> DeviceFirmwareBytes() const;
    std::string DeviceFirmwareVersion() const;
    std::string DeviceModelNumber() const;
    std::string DeviceSerialNumber() const;

    void StoreFirmwareVersion(const std::uint8_t* bytes);  // 5 bytes
    void StoreModelNumber(const std::uint8_t* bytes);      // 16 bytes
    void StoreSerialNumber(const std::uint8_t* bytes);     // 10 bytes

    // Signals the reply event of the current run, if there is one.
    void SignalReply() const {
        if (ManualResetEvent* ev = m_hReplyEvent.get()) ev->Set();
    }

private:
    mutable std::mutex m_textLock;
    std::array<std::uint8_t, 5> m_deviceFirmwareBytes{};
    std::string m_deviceFirmwareVersion;
    std::string m_deviceModelNumber;
    std::string m_deviceSerialNumber;
};

}  // namespace kestro
