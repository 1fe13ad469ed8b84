#pragma once
// What the POSIX and the Windows port engines share: the line's figures, the slot of the send
// hand-off and the text of a port warning.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "protocol/PortEngine.h"

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

// The port thread's life, the same on both platforms: one thread at a time; stopped by a
// handshake (the stop is signalled until the thread says it has ended), or, when the stop is
// asked from the thread itself (a callback), only signalled: the thread then ends once the
// callback has returned, and is joined before the next start.
class PortThreadLife {
public:
    // False when a thread runs already or none could be made.
    bool Start(std::function<void()> body);
    // `signalStop` sets the platform's stop event.
    void Stop(const std::function<void()>& signalStop);
    // The caller is the port thread.
    bool OnIt() const { return m_thread.joinable() && m_thread.get_id() == std::this_thread::get_id(); }
    bool Running() const { return m_running.load() == 1; }
    // The thread's last act: after it, a stop asked elsewhere returns.
    void Ended() { m_running.store(0); }

private:
    std::thread m_thread;
    std::atomic<int> m_running{0};
};

// What both platforms' engines keep alike: the port thread, the lock of the port and its owner,
// the send slot and the buffers of the port thread, and the last open's error.
struct PortEngineState {
    std::string LastOpenError() const {
        std::lock_guard lock(m_errorLock);
        return m_lastOpenError;
    }
    void SetOpenError(std::string error) {
        std::lock_guard lock(m_errorLock);
        m_lastOpenError = std::move(error);
    }

    std::atomic<int> m_portNumber{0};
    // A port that cannot be opened may be replaced by the cable's port, found by its USB lookup.
    bool m_cableFallback = true;
    PortThreadLife m_thread;
    std::mutex m_portLock;
    IPortOwner* m_owner = nullptr;
    SendSlot m_send;
    // Port thread only: the frame it writes, and what one read brings in.
    std::array<std::uint8_t, kSendBufferSize> m_outgoing{};
    std::array<std::uint8_t, 512> m_incoming{};
    mutable std::mutex m_errorLock;
    std::string m_lastOpenError;
};

// "WARNING:  <operation> Failed with the following error: \n<system text>\nPort: <n>\n"
std::string PortWarningText(const char* operationName, const std::string& systemText,
                            int portNumber);

}  // namespace kestro
