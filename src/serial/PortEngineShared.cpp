#include "serial/PortEngineShared.h"

#include <algorithm>
#include <cstring>

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

std::string PortWarningText(const char* operationName, const std::string& systemText,
                            int portNumber) {
    return std::string("WARNING:  ") + operationName + " Failed with the following error: \n" +
           systemText + "\nPort: " + std::to_string(portNumber) + "\n";
}

}  // namespace kestro
