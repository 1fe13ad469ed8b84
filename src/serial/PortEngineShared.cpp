#include "serial/PortEngineShared.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <system_error>

namespace kestro {

void SendSlot::Put(const std::uint8_t* bytes, std::size_t length) {
    m_length = std::min(length, kSendBufferSize);
    std::memcpy(m_bytes.data(), bytes, m_length);
    m_pending.store(true, std::memory_order_relaxed);
}

std::size_t SendSlot::Take(std::array<std::uint8_t, kSendBufferSize>& frame) {
    if (!m_pending.load(std::memory_order_relaxed)) {
        return 0;
    }
    m_pending.store(false, std::memory_order_relaxed);
    std::memcpy(frame.data(), m_bytes.data(), m_length);
    return m_length;
}

bool PortThreadLife::Start(std::function<void()> body) {
    if (Running()) return false;
    if (m_thread.joinable()) m_thread.join();  // a thread that was stopped from its own callback
    m_running.store(1);
    try {
        m_thread = std::thread(std::move(body));
    } catch (const std::system_error&) {
        m_running.store(0);
        return false;
    }
    return true;
}

void PortThreadLife::Stop(const std::function<void()>& signalStop) {
    if (!m_thread.joinable()) return;
    if (OnIt()) {
        signalStop();  // it ends once the callback that asked has returned
        return;
    }
    while (Running()) {
        signalStop();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    m_thread.join();
}

std::string PortWarningText(const char* operationName, const std::string& systemText,
                            int portNumber) {
    return std::string("WARNING:  ") + operationName + " Failed with the following error: \n" +
           systemText + "\nPort: " + std::to_string(portNumber) + "\n";
}

}  // namespace kestro
