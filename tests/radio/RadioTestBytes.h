#pragma once
// Byte helpers for the radio tests: frames as vectors, and a strict reader of reply frames.

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <vector>

#include "protocol/Frame.h"
#include "radio/SimRadio.h"

namespace kestro::test {

using Bytes = std::vector<std::uint8_t>;

inline Bytes ToBytes(const Frame& frame) { return Bytes(frame.data(), frame.data() + frame.size()); }

// All reply bytes of one feed, joined.
inline Bytes Answer(SimRadio& radio, const Frame& request) {
    Bytes out;
    for (const SimReply& reply : radio.Feed(request.view())) {
        out.insert(out.end(), reply.bytes.begin(), reply.bytes.end());
    }
    return out;
}

// The body (80, code, data) of a well-formed reply frame, or nullopt.
inline std::optional<Bytes> ReplyBody(const Bytes& frame) {
    if (frame.size() < 6 || frame.front() != FRAME_SOH || frame.back() != FRAME_EOT ||
        frame[1] != REPLY_MARK) {
        return std::nullopt;
    }
    const std::size_t n = frame.size() - 4;
    const auto carried = static_cast<std::uint16_t>((frame[n + 1] << 8) | frame[n + 2]);
    if (Crc16(frame.data() + 1, n) != carried) {
        return std::nullopt;
    }
    return Bytes(frame.begin() + 1, frame.begin() + 1 + static_cast<std::ptrdiff_t>(n));
}

inline Frame Command(RequestId id) {
    switch (id) {
        case REQ_DETECT: return BuildCommandFrame(GROUP_DEVICE, 0x92);
        case REQ_BATTERY: return BuildCommandFrame(GROUP_DEVICE, 0x7C);
        case REQ_MODEL: return BuildCommandFrame(GROUP_DEVICE, 0x74);
        case REQ_FW_VERSION: return BuildCommandFrame(GROUP_DEVICE, 0x70);
        case REQ_SERIAL: return BuildCommandFrame(GROUP_DEVICE, 0x76);
        case REQ_CP_CHECK: return BuildCommandFrame(GROUP_DEVICE, 0x22);
        case REQ_CP_PREPARE: return BuildCommandFrame(GROUP_DEVICE, 0x23);
        case REQ_CP_RESTORE: return BuildCommandFrame(GROUP_DEVICE, 0x20);
        case REQ_RESET_MODE: return BuildCommandFrame(GROUP_DEVICE, 0x72);
        case REQ_UPDATE_START: return BuildCommandFrame(GROUP_PROGRAM, 0x67);
        case REQ_SELF_PROGRAM: return BuildCommandFrame(GROUP_PROGRAM, 0x60);
        case REQ_ERASE_FLASH: return BuildCommandFrame(GROUP_PROGRAM, 0x63);
        case REQ_BOOT_ERASE: return BuildCommandFrame(GROUP_PROGRAM, 0x64);
        case REQ_UPDATE_END: return BuildCommandFrame(GROUP_PROGRAM, 0x61);
        default: break;
    }
    return Frame{};
}

inline Frame Record(std::uint16_t row, std::uint8_t fill) {
    std::array<std::uint8_t, kRecordSize> record{};
    record[0] = static_cast<std::uint8_t>(row >> 8);
    record[1] = static_cast<std::uint8_t>(row & 0xFF);
    for (std::size_t i = 2; i < kRecordSize; ++i) {
        record[i] = static_cast<std::uint8_t>(fill + i);
    }
    return BuildWriteRecordFrame(record);
}

inline const Bytes kAck = {0x01, 0x80, 0x06, 0xE9, 0xFA, 0x04};

}  // namespace kestro::test
