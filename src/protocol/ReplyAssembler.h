#pragma once
// The reply assembler: a byte-at-a-time state machine that recognises the radio's reply frames
// and checks their length, echo and check bytes. Frames carry no byte stuffing, so the end of a
// reply is found from the per-code body length, never by looking for 0x04.

#include <array>
#include <cstdint>
#include <span>

namespace kestro {

class LinkState;

class ReplyAssembler {
public:
    enum class State {
        WAIT_SOH,
        WAIT_MARK,
        WAIT_CODE,
        ECHO_HIGH,
        ECHO_LOW,
        LEN_HIGH,
        LEN_LOW,
        PAYLOAD,
        CHECK_HIGH,
        CHECK_LOW,
        WAIT_EOT,
        NAK_ERR1,
        NAK_ERR2
    };

    // Returned while the body of a frame of a known code is read; no reply code has this value.
    static constexpr int kInProgress = 0x100;
    static constexpr int kMaxBody = 20;
    static constexpr int kMaxPayload = 16;

    // The echoes (codeplug address, record bytes) are read from `echoes` as each frame arrives.
    explicit ReplyAssembler(const LinkState& echoes) : m_echoes(echoes) {}

    // Takes exactly one byte. Returns 1 while waiting for a frame (or inside a frame of an unknown
    // code), kInProgress inside a known frame, the reply code right after the end byte of a valid
    // frame, and 0 right after a wrong end byte.
    int FeedByte(std::uint8_t byte);

    State state() const { return m_state; }
    // The payload of the last frame that reached its length check; valid until the next one does.
    std::span<const std::uint8_t> Payload() const { return {m_payload.data(), m_payloadLength}; }

private:
    void Store(std::uint8_t byte) {
        if (m_bodyCount < kMaxBody) m_body[m_bodyCount++] = byte;
    }
    int ExpectedEcho(bool high) const;

    const LinkState& m_echoes;
    State m_state = State::WAIT_SOH;
    int m_code = 0;
    int m_replyCode = 0;  // the code of the frame being assembled
    std::array<std::uint8_t, kMaxBody> m_body{};
    int m_bodyCount = 0;
    int m_checkLength = 0;
    int m_admittedLength = 0;
    std::size_t m_payloadLength = 0;
    std::size_t m_payloadIndex = 0;
    std::array<std::uint8_t, kMaxPayload> m_payload{};
    std::uint8_t m_checkHigh = 0;
    std::uint8_t m_checkLow = 0;
};

}  // namespace kestro
