#include "protocol/ReplyAssembler.h"

#include "protocol/Frame.h"
#include "protocol/LinkState.h"

namespace kestro {

namespace {

struct CodeRule {
    ReplyAssembler::State next;
    int checkLength;
    int admittedLength;  // payload length for LEN_HIGH codes and RSP_CP_DATA
};

// What a reply code leads to, taken in WAIT_CODE; checkLength 0 means unknown code.
CodeRule RuleFor(int code) {
    using S = ReplyAssembler::State;
    switch (code) {
        case RSP_CP_DATA: return {S::ECHO_HIGH, 7, 1};
        case RSP_ACK: return {S::CHECK_HIGH, 2, 0};
        case RSP_NAK: return {S::NAK_ERR1, 4, 0};
        case RSP_FW_VERSION: return {S::LEN_HIGH, 9, 5};
        case RSP_MODEL: return {S::LEN_HIGH, 20, 16};
        case RSP_SERIAL: return {S::LEN_HIGH, 14, 10};
        case RSP_BATTERY: return {S::LEN_HIGH, 5, 1};
        case RSP_DETECT: return {S::LEN_HIGH, 5, 1};
        case RSP_9A: return {S::LEN_HIGH, 6, 2};
        case RSP_SELF_PROGRAM:
        case RSP_UPDATE_END:
        case RSP_ERASE_FLASH:
        case RSP_BOOT_ERASE:
        case RSP_BOOT_SWAP: return {S::CHECK_HIGH, 2, 0};
        case RSP_RECORD: return {S::ECHO_HIGH, 4, 0};
        default: return {S::WAIT_SOH, 0, 0};
    }
}

}  // namespace

int ReplyAssembler::ExpectedEcho(bool high) const {
    const std::uint16_t echo = m_replyCode == RSP_CP_DATA ? m_echoes.m_codeplugAddress.load()
                                                          : m_echoes.m_recordEcho.load();
    return high ? (echo >> 8) : (echo & 0xFF);
}

int ReplyAssembler::FeedByte(std::uint8_t byte) {
    switch (m_state) {
        case State::WAIT_SOH:
            m_bodyCount = 0;
            m_code = 1;
            if (byte == FRAME_SOH) m_state = State::WAIT_MARK;
            break;

        case State::WAIT_MARK:
            // A second 0x01 here is not looked at again: it does not restart the frame.
            if (byte == REPLY_MARK) {
                Store(byte);
                m_state = State::WAIT_CODE;
            } else {
                m_state = State::WAIT_SOH;
            }
            break;

        case State::WAIT_CODE: {
            Store(byte);
            const CodeRule rule = RuleFor(byte);
            m_checkLength = rule.checkLength;
            m_admittedLength = rule.admittedLength;
            m_state = rule.next;
            if (rule.checkLength != 0) {
                m_replyCode = byte;
                m_code = kInProgress;
            }
            break;
        }

        case State::ECHO_HIGH:
            Store(byte);
            m_state = byte == ExpectedEcho(true) ? State::ECHO_LOW : State::WAIT_SOH;
            break;

        case State::ECHO_LOW:
            Store(byte);
            if (byte != ExpectedEcho(false)) {
                m_state = State::WAIT_SOH;
            } else {
                m_state = m_replyCode == RSP_CP_DATA ? State::LEN_HIGH : State::CHECK_HIGH;
            }
            break;

        case State::LEN_HIGH:
            Store(byte);
            m_state = byte == 0 ? State::LEN_LOW : State::WAIT_SOH;
            break;

        case State::LEN_LOW:
            Store(byte);
            m_payloadIndex = 0;
            if (byte == m_admittedLength) {
                m_payloadLength = byte;
                m_state = State::PAYLOAD;
            } else {
                m_payloadLength = 0;
                m_state = State::WAIT_SOH;
            }
            break;

        case State::PAYLOAD:
            Store(byte);
            m_payload[m_payloadIndex++] = byte;
            if (m_payloadIndex == m_payloadLength) m_state = State::CHECK_HIGH;
            break;

        case State::CHECK_HIGH: {
            const std::uint16_t crc = Crc16(m_body.data(), static_cast<std::size_t>(m_checkLength));
            m_checkHigh = static_cast<std::uint8_t>(crc >> 8);
            m_checkLow = static_cast<std::uint8_t>(crc & 0xFF);
            m_state = byte == m_checkHigh ? State::CHECK_LOW : State::WAIT_SOH;
            break;
        }

        case State::CHECK_LOW:
            m_state = byte == m_checkLow ? State::WAIT_EOT : State::WAIT_SOH;
            break;

        case State::WAIT_EOT:
            m_state = State::WAIT_SOH;
            m_code = byte == FRAME_EOT ? m_replyCode : 0;
            break;

        case State::NAK_ERR1:
            Store(byte);
            m_state = State::NAK_ERR2;
            break;

        case State::NAK_ERR2:
            Store(byte);
            // 01 80 15 04 is a short NAK: its "error bytes" are the end byte and the start of the
            // next frame. It is never reported; the 0x01 starts the next frame at once.
            if (byte == FRAME_SOH && m_body[2] == FRAME_EOT) {
                m_bodyCount = 0;
                m_code = 1;
                m_state = State::WAIT_MARK;
            } else {
                m_state = State::CHECK_HIGH;
            }
            break;
    }
    return m_code;
}

}  // namespace kestro
