#include "firmware/FirmwareText.h"

#include <algorithm>
#include <cstring>

namespace kestro {

namespace {

// Enough units to tell a record file's ASCII from 8-bit text without reading the whole file.
constexpr std::size_t kProbeUnits = 64;

inline char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

unsigned UnitAt(std::string_view bytes, std::size_t unit, bool bigEndian) {
    const auto first = static_cast<unsigned char>(bytes[2 * unit]);
    const auto second = static_cast<unsigned char>(bytes[2 * unit + 1]);
    return bigEndian ? (first << 8) | second : (second << 8) | first;
}

// True when the leading units, up to a NUL unit, all are non-zero characters below 0x100.
bool LooksLikeUtf16(std::string_view bytes, bool bigEndian) {
    const std::size_t units = std::min(bytes.size() / 2, kProbeUnits);
    for (std::size_t i = 0; i < units; ++i) {
        const unsigned unit = UnitAt(bytes, i, bigEndian);
        if (unit == 0) {
            return i > 0;
        }
        if (unit > 0xFF) {
            return false;
        }
    }
    return units > 0;
}

}  // namespace

TextEncoding DetectTextEncoding(std::string_view bytes) {
    if (bytes.size() >= 2) {
        const auto b0 = static_cast<unsigned char>(bytes[0]);
        const auto b1 = static_cast<unsigned char>(bytes[1]);
        if (b0 == 0xFF && b1 == 0xFE) {
            return TextEncoding::kUtf16Le;
        }
        if (b0 == 0xFE && b1 == 0xFF) {
            return TextEncoding::kUtf16Be;
        }
    }
    if (bytes.size() < 2 || bytes.size() % 2 != 0) {
        return TextEncoding::kEightBit;
    }
    // An 8-bit text has a zero byte only where it ends, so a zero in the second byte of the first
    // unit while the first is a character marks little-endian, the reverse big-endian.
    if (bytes[0] != 0 && bytes[1] == 0 && LooksLikeUtf16(bytes, false)) {
        return TextEncoding::kUtf16Le;
    }
    if (bytes[0] == 0 && bytes[1] != 0 && LooksLikeUtf16(bytes, true)) {
        return TextEncoding::kUtf16Be;
    }
    return TextEncoding::kEightBit;
}

std::string DecodeFirmwareBytes(std::string_view bytes) {
    return DecodeFirmwareBytes(std::string(bytes));
}

std::string DecodeFirmwareBytes(std::string&& bytes) {
    const TextEncoding encoding = DetectTextEncoding(bytes);
    if (encoding == TextEncoding::kEightBit) {
        bytes.resize(std::min(bytes.find('\0'), bytes.size()));
        // A UTF-8 byte-order mark would otherwise stand in front of the first record.
        if (bytes.size() >= 3 && std::memcmp(bytes.data(), "\xEF\xBB\xBF", 3) == 0) {
            bytes.erase(0, 3);
        }
        std::transform(bytes.begin(), bytes.end(), bytes.begin(), Upper);
        return std::move(bytes);
    }

    const bool bigEndian = encoding == TextEncoding::kUtf16Be;
    const auto b0 = static_cast<unsigned char>(bytes[0]);
    const bool hasMark = (b0 == 0xFF || b0 == 0xFE) && UnitAt(bytes, 0, bigEndian) == 0xFEFF;
    const std::size_t units = bytes.size() / 2;
    std::string text;
    text.reserve(units);
    for (std::size_t i = hasMark ? 1 : 0; i < units; ++i) {
        const unsigned unit = UnitAt(bytes, i, bigEndian);
        if (unit == 0) {
            break;
        }
        text += unit > 0xFF ? '?' : Upper(static_cast<char>(unit));
    }
    return text;
}

int FirmwareLineCount(std::string_view text) {
    int lines = 1;
    for (std::size_t pos = text.find("\r\n"); pos != std::string_view::npos;
         pos = text.find("\r\n", pos + 2)) {
        ++lines;
    }
    return lines;
}

}  // namespace kestro
