#pragma once
// The serial lines a Windows test may use, as the test run describes them in the environment:
//   KESTRO_TEST_PORT_PAIR=5,6           COM5 and COM6 joined like a null-modem cable
//   KESTRO_TEST_RADIO_PORT=7            a simulated radio on COM7
//   KESTRO_TEST_USB_PORTS=0006=7,0001=5 the cable's bridge as the registry's USB keys give it
// Tests that need a line are skipped without them. scripts/test-windows provides all three under
// Wine; on Windows a virtual null-modem pair and a radio can be named the same way.

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "protocol/PortEngine.h"

namespace kestro::test {

struct PortPair {
    int engine = 0;  // the port the engine under test opens
    int peer = 0;    // the port the test itself writes and reads
};

inline std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

inline std::optional<PortPair> PortPairFromEnvironment() {
    const std::string text = Environment("KESTRO_TEST_PORT_PAIR");
    PortPair pair;
    if (std::sscanf(text.c_str(), "%d,%d", &pair.engine, &pair.peer) != 2 || pair.engine < 1 ||
        pair.peer < 1) {
        return std::nullopt;
    }
    return pair;
}

inline std::optional<int> RadioPortFromEnvironment() {
    const int port = std::atoi(Environment("KESTRO_TEST_RADIO_PORT").c_str());
    return port >= 1 ? std::optional<int>(port) : std::nullopt;
}

// Instance identifier -> port number.
inline std::map<std::string, int> UsbPortsFromEnvironment() {
    std::map<std::string, int> ports;
    std::string text = Environment("KESTRO_TEST_USB_PORTS");
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        const std::string item = text.substr(0, comma);
        text = comma == std::string::npos ? std::string{} : text.substr(comma + 1);
        const std::size_t equals = item.find('=');
        if (equals != std::string::npos) {
            ports[item.substr(0, equals)] = std::atoi(item.c_str() + equals + 1);
        }
    }
    return ports;
}

// The far end of a null-modem pair, driven by the test with plain blocking I/O.
class PeerPort {
  public:
    explicit PeerPort(int number) {
        const std::string name = "\\\\.\\COM" + std::to_string(number);
        m_handle = ::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
        if (m_handle == INVALID_HANDLE_VALUE) {
            return;
        }
        DCB line{};
        line.DCBlength = sizeof line;
        ::GetCommState(m_handle, &line);
        ::BuildCommDCBA("baud=76800 parity=N data=8 stop=1 xon=off", &line);
        line.fRtsControl = RTS_CONTROL_DISABLE;
        ::SetCommState(m_handle, &line);
        ::PurgeComm(m_handle, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    }
    PeerPort(const PeerPort&) = delete;
    PeerPort& operator=(const PeerPort&) = delete;
    ~PeerPort() {
        if (IsOpen()) {
            ::CloseHandle(m_handle);
        }
    }

    bool IsOpen() const { return m_handle != INVALID_HANDLE_VALUE; }

    bool Write(const std::vector<std::uint8_t>& bytes) {
        DWORD written = 0;
        return ::WriteFile(m_handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                           nullptr) &&
               written == bytes.size();
    }

    // Up to `count` bytes, returning early only when `patience` passes without all of them.
    std::vector<std::uint8_t> Read(std::size_t count,
                                   std::chrono::milliseconds patience = std::chrono::seconds(10)) {
        COMMTIMEOUTS timeouts{};
        timeouts.ReadIntervalTimeout = MAXDWORD;
        timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
        timeouts.ReadTotalTimeoutConstant = 100;
        ::SetCommTimeouts(m_handle, &timeouts);
        std::vector<std::uint8_t> bytes;
        const auto deadline = std::chrono::steady_clock::now() + patience;
        while (bytes.size() < count && std::chrono::steady_clock::now() < deadline) {
            std::uint8_t chunk[256];
            DWORD got = 0;
            const DWORD wanted =
                static_cast<DWORD>(std::min<std::size_t>(count - bytes.size(), 256));
            if (!::ReadFile(m_handle, chunk, wanted, &got, nullptr)) {
                break;
            }
            bytes.insert(bytes.end(), chunk, chunk + got);
        }
        return bytes;
    }

    // Throws away whatever is waiting.
    void Purge() { ::PurgeComm(m_handle, PURGE_RXCLEAR | PURGE_TXCLEAR); }

  private:
    HANDLE m_handle = INVALID_HANDLE_VALUE;
};

// An owner that records what the engine delivers; `onByte` runs first for each byte, on the
// port thread, so that a test can hold the thread inside a delivery.
class RecordingOwner final : public IPortOwner {
  public:
    struct Delivery {
        std::uint8_t byte;
        int port;
    };

    void OnSerialRxChar(std::uint8_t byte, int portNumber) override {
        if (onByte) {
            onByte(byte);
        }
        std::lock_guard lock(m_lock);
        m_deliveries.push_back({byte, portNumber});
        m_changed.notify_all();
    }
    void OnPortError(const std::string& text, int /*portNumber*/) override {
        std::lock_guard lock(m_lock);
        m_errors.push_back(text);
    }

    // True once `count` bytes have been delivered; gives up after `patience`.
    bool WaitForBytes(std::size_t count,
                      std::chrono::milliseconds patience = std::chrono::seconds(10)) {
        std::unique_lock lock(m_lock);
        return m_changed.wait_for(lock, patience, [&] { return m_deliveries.size() >= count; });
    }
    std::vector<Delivery> Deliveries() const {
        std::lock_guard lock(m_lock);
        return m_deliveries;
    }
    std::vector<std::uint8_t> Bytes() const {
        std::vector<std::uint8_t> bytes;
        for (const Delivery& d : Deliveries()) {
            bytes.push_back(d.byte);
        }
        return bytes;
    }
    std::vector<std::string> Errors() const {
        std::lock_guard lock(m_lock);
        return m_errors;
    }

    std::function<void(std::uint8_t)> onByte;

  private:
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<Delivery> m_deliveries;
    std::vector<std::string> m_errors;
};

}  // namespace kestro::test
