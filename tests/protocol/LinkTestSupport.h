#pragma once
// Test support for the device link: reply frames built from their bodies, and a scripted radio
// that answers handed-over frames in virtual time.

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/VirtualClock.h"
#include "protocol/Frame.h"
#include "protocol/PortEngine.h"
#include "protocol/ReplyReceiver.h"

namespace kestro::test {

using Bytes = std::vector<std::uint8_t>;

// 01, body, check high, check low, 04.
inline Bytes ReplyFrame(const Bytes& body) {
    Bytes out{FRAME_SOH};
    out.insert(out.end(), body.begin(), body.end());
    const std::uint16_t crc = Crc16(body.data(), body.size());
    out.push_back(static_cast<std::uint8_t>(crc >> 8));
    out.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    out.push_back(FRAME_EOT);
    return out;
}

inline Bytes Ack() { return ReplyFrame({0x80, 0x06}); }
inline Bytes Nak(std::uint8_t e1 = 0, std::uint8_t e2 = 0) { return ReplyFrame({0x80, 0x15, e1, e2}); }

// Answers each handed-over frame through `answer` (its index counts from 0); the reply bytes
// reach the receiver `latency` later, all at one virtual instant.
class ScriptedRadio final : public ISendHandoff {
public:
    ScriptedRadio(VirtualClock& clock, ReplyReceiver& receiver) : m_clock(clock), m_rx(receiver) {}

    std::function<Bytes(const Frame&, int index)> answer;
    Millis latency{5};

    void HandOff(const std::uint8_t* bytes, std::size_t length) override {
        Frame f;
        std::copy(bytes, bytes + length, f.bytes.begin());
        f.length = length;
        sent.push_back(f);
        sentAt.push_back(m_clock.Now());
        if (!answer) return;
        const Bytes reply = answer(f, static_cast<int>(sent.size()) - 1);
        if (!reply.empty()) Deliver(reply, latency);
    }

    void Deliver(const Bytes& bytes, Millis after) {
        m_clock.ScheduleAfter(after, [this, bytes] {
            for (std::uint8_t b : bytes) m_rx.OnSerialRxChar(b);
        });
    }

    std::vector<Frame> sent;
    std::vector<Millis> sentAt;

private:
    VirtualClock& m_clock;
    ReplyReceiver& m_rx;
};

}  // namespace kestro::test
