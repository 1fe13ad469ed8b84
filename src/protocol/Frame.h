#pragma once
// The frame layout of the device link, its checksum, and one builder per request layout.
// A frame is 01, body, check high, check low, 04; the check is a CRC-16 (KERMIT parameters)
// over the body only, sent high byte first. There is no byte stuffing.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace kestro {

inline constexpr std::uint8_t FRAME_SOH = 0x01;
inline constexpr std::uint8_t FRAME_EOT = 0x04;
inline constexpr std::uint8_t REPLY_MARK = 0x80;
inline constexpr std::uint8_t GROUP_DEVICE = 0x70;
inline constexpr std::uint8_t GROUP_PROGRAM = 0x75;

// Reply codes (second body byte of a reply).
inline constexpr int RSP_CP_DATA = 0x03;
inline constexpr int RSP_ACK = 0x06;
inline constexpr int RSP_NAK = 0x15;
inline constexpr int RSP_FW_VERSION = 0x71;
inline constexpr int RSP_MODEL = 0x75;
inline constexpr int RSP_SERIAL = 0x77;
inline constexpr int RSP_BATTERY = 0x7D;
inline constexpr int RSP_DETECT = 0x93;
inline constexpr int RSP_9A = 0x9A;
inline constexpr int RSP_SELF_PROGRAM = 0xA0;
inline constexpr int RSP_UPDATE_END = 0xA1;
inline constexpr int RSP_RECORD = 0xA2;
inline constexpr int RSP_ERASE_FLASH = 0xA3;
inline constexpr int RSP_BOOT_ERASE = 0xA4;
inline constexpr int RSP_BOOT_SWAP = 0xA5;

// The requests of the kit; their opcodes, replies and retry rules are in the command table.
enum RequestId : int {
    REQ_DETECT,
    REQ_BATTERY,
    REQ_MODEL,
    REQ_FW_VERSION,
    REQ_SERIAL,
    REQ_CP_CHECK,
    REQ_CP_READ,
    REQ_CP_PREPARE,
    REQ_CP_RESTORE,
    REQ_CP_WRITE,
    REQ_RESET_MODE,
    REQ_UPDATE_START,
    REQ_SELF_PROGRAM,
    REQ_ERASE_FLASH,
    REQ_WRITE_RECORD,
    REQ_BOOT_ERASE,
    REQ_BOOT_SWAP,
    REQ_UPDATE_END,
    REQ_COUNT
};

inline constexpr std::size_t kRecordSize = 18;     // row number high, low, 16 data bytes
inline constexpr std::size_t kBootImageSize = 4096;
inline constexpr std::size_t kMaxFrameLength = 24;

// One request frame; fixed storage, so building a frame never allocates.
struct Frame {
    std::array<std::uint8_t, kMaxFrameLength> bytes{};
    std::size_t length = 0;

    const std::uint8_t* data() const { return bytes.data(); }
    std::size_t size() const { return length; }
    std::span<const std::uint8_t> view() const { return {bytes.data(), length}; }
};

// Checksum of data[0..count-1]; 0 for count 0.
std::uint16_t Crc16(const std::uint8_t* data, std::size_t count);
// Checksum of a request frame under construction: bytes 1..count-1 (skips the start byte);
// 0 for count <= 1.
std::uint16_t FrameCrc(const std::uint8_t* frame, std::size_t count);

Frame BuildCommandFrame(std::uint8_t group, std::uint8_t opcode);          // 6 bytes
Frame BuildCpReadFrame(std::uint16_t address);                             // 10 bytes
Frame BuildCpWriteFrame(std::uint16_t address, std::uint8_t value);        // 11 bytes
Frame BuildWriteRecordFrame(std::span<const std::uint8_t, kRecordSize> record);  // 24 bytes
Frame BuildBootSwapFrame(std::uint16_t imageCrc);                          // 24 bytes

}  // namespace kestro
