#include "soak/SoakFirmware.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <map>
#include <vector>

namespace kestro::soak {

namespace {

constexpr std::array<std::size_t, 4> kSizes = {1, 16, 64, 256};

std::string Record(int type, std::uint16_t address, const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> bytes = {
        static_cast<std::uint8_t>(data.size()), static_cast<std::uint8_t>(address >> 8),
        static_cast<std::uint8_t>(address & 0xFF), static_cast<std::uint8_t>(type)};
    bytes.insert(bytes.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (const std::uint8_t b : bytes) sum += b;
    bytes.push_back(static_cast<std::uint8_t>((0x100 - (sum & 0xFF)) & 0xFF));
    std::string line = ":";
    for (const std::uint8_t b : bytes) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02X", b);
        line += hex;
    }
    return line + "\r\n";
}

// Sixteen bytes that differ from row to row and are never all erased.
std::array<std::uint8_t, 16> RowBytes(std::uint32_t row) {
    std::array<std::uint8_t, 16> data{};
    std::uint32_t x = row * 2654435761U + 12345U;
    for (auto& b : data) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<std::uint8_t>(x);
    }
    if (data[0] == 0xFF) data[0] = 0x00;
    return data;
}

}  // namespace

std::span<const std::size_t> SoakImageSizes() { return kSizes; }

std::string SoakFirmwareText(std::size_t applicationRows) {
    // Rows by number: a sparse boot area, then the application, its second half above 64 KiB
    // (rows 0x1000 on) so that segment records are needed.
    std::map<std::uint32_t, std::array<std::uint8_t, 16>> rows;
    for (std::uint32_t r = 0; r < 0x100; r += 7) rows[r] = RowBytes(r);
    const std::size_t low = (applicationRows + 1) / 2;
    for (std::size_t i = 0; i < applicationRows; ++i) {
        const auto r = static_cast<std::uint32_t>(i < low ? 0x200 + i : 0x1000 + (i - low));
        rows[r] = RowBytes(r);
    }

    std::string text;
    std::uint32_t segmentBase = 0;
    for (auto it = rows.begin(); it != rows.end();) {
        const std::uint32_t address = it->first * 16;
        const std::uint32_t base = address & 0xF0000;
        if (base != segmentBase) {
            const auto segment = static_cast<std::uint16_t>(base >> 4);
            text += Record(0x02, 0,
                           {static_cast<std::uint8_t>(segment >> 8),
                            static_cast<std::uint8_t>(segment & 0xFF)});
            segmentBase = base;
        }
        // Two neighbouring rows go out as one 32-byte record.
        std::vector<std::uint8_t> data(it->second.begin(), it->second.end());
        auto next = std::next(it);
        if (next != rows.end() && next->first == it->first + 1 &&
            ((next->first * 16) & 0xF0000) == base) {
            data.insert(data.end(), next->second.begin(), next->second.end());
            ++next;
        }
        text += Record(0x00, static_cast<std::uint16_t>(address - segmentBase), data);
        it = next;
    }
    text += ":00000001FF\r\n";
    return text;
}

}  // namespace kestro::soak
