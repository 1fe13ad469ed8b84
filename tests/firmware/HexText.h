#pragma once
// Builds Intel hexadecimal record texts for the firmware tests, with correct checksums unless a
// test asks for a wrong one.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace kestro::test {

inline std::string HexRecord(int type, unsigned address, const std::vector<std::uint8_t>& data,
                             int checksumDelta = 0) {
    unsigned sum = static_cast<unsigned>(data.size()) + (address >> 8) + (address & 0xFF) +
                   static_cast<unsigned>(type);
    char field[16];
    std::snprintf(field, sizeof field, "%02X%04X%02X", static_cast<unsigned>(data.size()),
                  address & 0xFFFF, static_cast<unsigned>(type));
    std::string line = ":";
    line += field;
    for (const std::uint8_t byte : data) {
        std::snprintf(field, sizeof field, "%02X", byte);
        line += field;
        sum += byte;
    }
    std::snprintf(field, sizeof field, "%02X",
                  static_cast<unsigned>((0x100 - (sum & 0xFF) + checksumDelta) & 0xFF));
    line += field;
    return line;
}

inline std::string Data(unsigned address, const std::vector<std::uint8_t>& data) {
    return HexRecord(0x00, address, data) + "\r\n";
}
inline std::string Segment(unsigned segment) {
    return HexRecord(0x02, 0, {static_cast<std::uint8_t>(segment >> 8),
                               static_cast<std::uint8_t>(segment & 0xFF)}) +
           "\r\n";
}
inline std::string Linear(unsigned upper) {
    return HexRecord(0x04, 0, {static_cast<std::uint8_t>(upper >> 8),
                               static_cast<std::uint8_t>(upper & 0xFF)}) +
           "\r\n";
}
inline const std::string kEof = ":00000001FF\r\n";

inline std::vector<std::uint8_t> Bytes(std::size_t count, std::uint8_t first, int step = 1) {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<std::uint8_t>(first + static_cast<int>(i) * step);
    }
    return bytes;
}

}  // namespace kestro::test
