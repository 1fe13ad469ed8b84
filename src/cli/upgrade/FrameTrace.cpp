#include "cli/upgrade/FrameTrace.h"

namespace kestro::cli {

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

long long FrameTrace::NowMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 m_start)
        .count();
}

void FrameTrace::PrintReceived() {
    if (m_received.empty()) return;
    std::fprintf(m_out, "%9lld ms  <- %s\n", m_firstReceivedMs, Hex(m_received).c_str());
    m_received.clear();
}

void FrameTrace::OnSerialRxChar(std::uint8_t byte, int portNumber) {
    {
        std::lock_guard lock(m_lock);
        if (m_received.empty()) m_firstReceivedMs = NowMs();
        // A radio that never stops talking must not grow this without bound.
        if (m_received.size() >= 4096) PrintReceived();
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
    PrintReceived();
    std::fprintf(m_out, "%9lld ms  -> %s\n", NowMs(), Hex(frame).c_str());
    std::fflush(m_out);
}

void FrameTrace::Flush() {
    std::lock_guard lock(m_lock);
    PrintReceived();
    std::fflush(m_out);
}

}  // namespace kestro::cli
