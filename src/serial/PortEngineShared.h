#pragma once
// What the POSIX and the Windows port engines share: the line's figures, the slot of the send
// hand-off and the text of a port warning.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace kestro {

inline constexpr std::size_t kSendBufferSize = 256;
inline constexpr unsigned kLineRate = 76800;
// Time-outs of the line: a read may take 2 ms per byte plus 100 ms, a send 100 ms.
inline constexpr int kReadTotalMultiplierMs = 2;
inline constexpr int kReadTotalConstantMs = 100;
inline constexpr int kWriteTotalConstantMs = 100;

// The frame a requester placed for the port thread, taken whole or not at all. The engine guards
// it with a lock of its own; only Pending() may be read without that lock.
class SendSlot {
public:
    // Copies at most kSendBufferSize bytes and marks the frame pending; a frame still pending
    // is replaced.
    void Put(const std::uint8_t* bytes, std::size_t length);
    // Moves a pending frame to `frame` and returns its length; 0 when none was pending.
    std::size_t Take(std::array<std::uint8_t, kSendBufferSize>& frame);
    void Clear() { m_pending.store(false, std::memory_order_relaxed); }
    bool Pending() const { return m_pending.load(std::memory_order_relaxed); }

private:
    std::array<std::uint8_t, kSendBufferSize> m_bytes;
    std::size_t m_length = 0;
    std::atomic<bool> m_pending{false};
};

// "WARNING:  <operation> Failed with the following error: \n<system text>\nPort: <n>\n"
std::string PortWarningText(const char* operationName, const std::string& systemText,
                            int portNumber);

}  // namespace kestro
