#include "protocol/Frame.h"

#include <algorithm>

namespace kestro {

namespace {

// Table-driven form of the bit-reversed 0x1021 polynomial (0x8408), initial value 0.
constexpr std::array<std::uint16_t, 256> MakeCrcTable() {
    std::array<std::uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        std::uint16_t reg = static_cast<std::uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit) {
            reg = (reg & 1U) != 0 ? static_cast<std::uint16_t>((reg >> 1) ^ 0x8408U)
                                  : static_cast<std::uint16_t>(reg >> 1);
        }
        table[i] = reg;
    }
    return table;
}

constexpr auto kCrcTable = MakeCrcTable();

// Appends check high, check low and the end byte after the body that ends at index count-1.
void Seal(Frame& frame, std::size_t count) {
    const std::uint16_t crc = FrameCrc(frame.bytes.data(), count);
    frame.bytes[count] = static_cast<std::uint8_t>(crc >> 8);
    frame.bytes[count + 1] = static_cast<std::uint8_t>(crc & 0xFF);
    frame.bytes[count + 2] = FRAME_EOT;
    frame.length = count + 3;
}

}  // namespace

std::uint16_t Crc16(const std::uint8_t* data, std::size_t count) {
    std::uint16_t reg = 0;
    for (std::size_t i = 0; i < count; ++i) {
        reg = static_cast<std::uint16_t>((reg >> 8) ^ kCrcTable[(reg ^ data[i]) & 0xFFU]);
    }
    return reg;
}

std::uint16_t FrameCrc(const std::uint8_t* frame, std::size_t count) {
    return count <= 1 ? 0 : Crc16(frame + 1, count - 1);
}

Frame BuildCommandFrame(std::uint8_t group, std::uint8_t opcode) {
    Frame f;
    f.bytes[0] = FRAME_SOH;
    f.bytes[1] = group;
    f.bytes[2] = opcode;
    Seal(f, 3);
    return f;
}

Frame BuildCpReadFrame(std::uint16_t address) {
    Frame f;
    f.bytes[0] = FRAME_SOH;
    f.bytes[1] = GROUP_DEVICE;
    f.bytes[2] = 0x02;
    f.bytes[3] = static_cast<std::uint8_t>(address >> 8);
    f.bytes[4] = static_cast<std::uint8_t>(address & 0xFF);
    f.bytes[5] = 0x00;
    f.bytes[6] = 0x01;
    Seal(f, 7);
    return f;
}

Frame BuildCpWriteFrame(std::uint16_t address, std::uint8_t value) {
    Frame f;
    f.bytes[0] = FRAME_SOH;
    f.bytes[1] = GROUP_DEVICE;
    f.bytes[2] = 0x01;
    f.bytes[3] = static_cast<std::uint8_t>(address >> 8);
    f.bytes[4] = static_cast<std::uint8_t>(address & 0xFF);
    f.bytes[5] = 0x00;
    f.bytes[6] = 0x01;
    f.bytes[7] = value;
    Seal(f, 8);
    return f;
}

Frame BuildWriteRecordFrame(std::span<const std::uint8_t, kRecordSize> record) {
    Frame f;
    f.bytes[0] = FRAME_SOH;
    f.bytes[1] = GROUP_PROGRAM;
    f.bytes[2] = 0x62;
    std::copy(record.begin(), record.end(), f.bytes.begin() + 3);
    Seal(f, 21);
    return f;
}

Frame BuildBootSwapFrame(std::uint16_t imageCrc) {
    Frame f;  // bytes start zeroed: the sixteen fill bytes stay 00
    f.bytes[0] = FRAME_SOH;
    f.bytes[1] = GROUP_PROGRAM;
    f.bytes[2] = 0x65;
    f.bytes[3] = static_cast<std::uint8_t>(imageCrc >> 8);
    f.bytes[4] = static_cast<std::uint8_t>(imageCrc & 0xFF);
    Seal(f, 21);
    return f;
}

}  // namespace kestro
