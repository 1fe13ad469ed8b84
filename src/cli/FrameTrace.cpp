#include "cli/FrameTrace.h"

#include <chrono>
#include <cstdio>

namespace kestro::cli {

namespace {

// The time origin of every trace line, taken as the program starts.
const std::chrono::steady_clock::time_point kProcessStart = std::chrono::steady_clock::now();

std::string Line(long long ms, const char* arrow, const std::string& hex) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%9lld ms  %s ", ms, arrow);
    return stamp + hex;
}

}  // namespace

std::string FrameTrace::Hex(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 3);
    for (const std::uint8_t b : bytes) {
        if (!out.empty()) out += ' ';
        out += kDigits[b >> 4];
        out += kDigits[b & 0x0F];
    }
    return out;
}

long long FrameTrace::NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 kProcessStart)
        .count();
}

void FrameTrace::GiveReceived() {
    if (m_received.empty()) return;
    m_sink(Line(m_firstReceivedMs, "<-", Hex(m_received)));
    m_received.clear();
}

void FrameTrace::OnSerialRxChar(std::uint8_t byte, int portNumber) {
    {
        std::lock_guard lock(m_lock);
        if (m_received.empty()) m_firstReceivedMs = NowMs();
        // A radio that never stops talking must not grow this without bound.
        if (m_received.size() >= 4096) GiveReceived();
        m_received.push_back(byte);
    }
    if (m_next != nullptr) m_next->OnSerialRxChar(byte, portNumber);
}

void FrameTrace::OnPortError(const std::string& text, int portNumber) {
    Flush();
    if (m_next != nullptr) m_next->OnPortError(text, portNumber);
}

void FrameTrace::OnSent(std::span<const std::uint8_t> frame) {
    std::lock_guard lock(m_lock);
    GiveReceived();
    m_sink(Line(NowMs(), "->", Hex(frame)));
}

void FrameTrace::Flush() {
    std::lock_guard lock(m_lock);
    GiveReceived();
}

}  // namespace kestro::cli
