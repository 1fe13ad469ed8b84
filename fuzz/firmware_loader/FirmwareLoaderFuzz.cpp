// Feeds arbitrary file contents to the firmware loader and record parser. The first input byte
// chooses how the rest is stored: as it is, or as UTF-16 (little-endian with and without a
// byte-order mark, big-endian with one). Checked:
//  - a UTF-16 file reaches the parser as the 8-bit, upper-case text it holds, up to a NUL;
//  - the load either refuses with a status text naming the damaged line that a simple reference
//    decoder also refuses, or builds exactly the row table the reference builds;
//  - a refused text leaves the row table as it was; nothing is read or written outside the image
//    (the sanitizers watch that).

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "../FuzzSupport.h"
#include "firmware/CCommFile.h"
#include "firmware/FirmwareLoader.h"
#include "firmware/FirmwareText.h"
#include "firmware/FirmwareTexts.h"

namespace {

constexpr std::uint64_t kImageBytes = 0x40000;

int Hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The byte written as two digits at line[at], or -1.
int HexPair(std::string_view line, std::size_t at) {
    if (at + 2 > line.size()) return -1;
    const int high = Hex(line[at]);
    const int low = Hex(line[at + 1]);
    return high < 0 || low < 0 ? -1 : high * 16 + low;
}

struct Decoded {
    bool accepted = false;
    int errorLine = 0;
    std::map<std::uint32_t, std::array<std::uint8_t, 16>> rows;  // row number -> bytes
};

// The record grammar the kit accepts, written as plainly as possible: lines end at CR LF; an
// empty line is skipped; every other line is ':' (not examined), count, address, type, data and
// checksum in hexadecimal, optionally followed by blanks or tabs; the bytes sum to 0 modulo 256.
// Data must lie inside the 256 KiB image, address records carry two bytes (02: segment x 16,
// 04: linear x 65536), other types are ignored, and the first end-of-file record after at least
// one data record ends the text.
Decoded ReferenceDecode(std::string_view text) {
    Decoded out;
    std::uint64_t base = 0;
    int dataRecords = 0;
    int lineNumber = 0;
    std::size_t pos = 0;
    while (true) {
        ++lineNumber;
        const std::size_t crlf = text.find("\r\n", pos);
        const std::string_view line =
            text.substr(pos, crlf == std::string_view::npos ? std::string_view::npos : crlf - pos);
        out.errorLine = lineNumber;
        if (!line.empty()) {
            const int count = HexPair(line, 1);
            const int high = HexPair(line, 3);
            const int low = HexPair(line, 5);
            const int type = HexPair(line, 7);
            if (line.size() < 11 || count < 0 || high < 0 || low < 0 || type < 0) return out;
            const std::size_t end = 11 + 2 * static_cast<std::size_t>(count);
            if (line.size() < end) return out;
            for (std::size_t i = end; i < line.size(); ++i) {
                if (line[i] != ' ' && line[i] != '\t') return out;
            }
            std::vector<std::uint8_t> bytes;
            int sum = count + high + low + type;
            for (int j = 0; j <= count; ++j) {
                const int value = HexPair(line, 9 + 2 * static_cast<std::size_t>(j));
                if (value < 0) return out;
                bytes.push_back(static_cast<std::uint8_t>(value));
                sum += value;
            }
            if (sum % 256 != 0) return out;
            const std::uint64_t offset = static_cast<std::uint64_t>(high * 256 + low);
            if (type == 0) {
                if (base + offset + static_cast<std::uint64_t>(count) > kImageBytes) return out;
                for (int j = 0; j < count; ++j) {
                    const auto address = static_cast<std::uint32_t>(base + offset) + j;
                    auto [it, fresh] = out.rows.try_emplace(address / 16);
                    if (fresh) it->second.fill(0xFF);
                    it->second[address % 16] = bytes[static_cast<std::size_t>(j)];
                }
                ++dataRecords;
            } else if (type == 1) {
                if (dataRecords == 0) return out;
                out.accepted = true;
                return out;
            } else if (type == 2 || type == 4) {
                if (count != 2) return out;
                const std::uint64_t value = bytes[0] * 256U + bytes[1];
                base = type == 2 ? value * 16 : value * 65536;
            }
        }
        if (crlf == std::string_view::npos) return out;  // no end-of-file record
        pos = crlf + 2;
    }
}

std::string Upper(std::string_view bytes) {
    std::string text;
    for (const char c : bytes) {
        if (c == '\0') break;
        text += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return text;
}

// The file bytes for a storage mode, and the text the parser must then see (when known).
std::string FileBytes(int mode, std::string_view payload, std::optional<std::string>& text) {
    if (mode == 0) return std::string(payload);
    text = Upper(payload);
    std::string bytes;
    const bool bigEndian = mode == 3;
    if (mode != 2) bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (const char c : payload) {
        if (bigEndian) bytes += '\0';
        bytes += c;
        if (!bigEndian) bytes += '\0';
    }
    return bytes;
}

}  // namespace

std::filesystem::path kestro::fuzz::SeedCorpus() { return CorpusBeside(__FILE__); }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestro;
    if (size < 1) return 0;
    const int mode = data[0] % 4;
    const std::string_view payload(reinterpret_cast<const char*>(data + 1), size - 1);
    std::optional<std::string> expectedText;
    const std::string bytes = FileBytes(mode, payload, expectedText);

    CFirmwareLoader loader;
    loader.m_firmwareText = DecodeFirmwareBytes(bytes);
    if (expectedText) FUZZ_REQUIRE(loader.m_firmwareText == *expectedText);
    for (const char c : loader.m_firmwareText) FUZZ_REQUIRE(c != '\0' && !(c >= 'a' && c <= 'z'));

    CCommFile file;
    std::vector<std::string> statuses;
    loader.DecodeFirmwareText(file, [&statuses](const std::string& s) { statuses.push_back(s); });
    FUZZ_REQUIRE(statuses.size() == 1);
    const std::string& status = statuses.front();

    const std::string_view text = loader.m_firmwareText;
    if (text.find("\r\n") == std::string_view::npos) {
        FUZZ_REQUIRE(status == kFirmwareCanNotOpenText);
        FUZZ_REQUIRE(loader.m_firmwareLoadFailed == 1);
        FUZZ_REQUIRE(file.m_rowCount == 0 && file.m_rowTable.empty());
        return 0;
    }
    const Decoded reference = ReferenceDecode(text);
    if (!reference.accepted) {
        const std::string prefix =
            "Firmware file is damaged (line " + std::to_string(reference.errorLine) + ": ";
        FUZZ_REQUIRE(status.compare(0, prefix.size(), prefix) == 0 && status.back() == ')');
        FUZZ_REQUIRE(loader.m_firmwareLoadFailed == 1);
        FUZZ_REQUIRE(file.m_rowCount == 0 && file.m_rowTable.empty());
        return 0;
    }

    FUZZ_REQUIRE(status == kFirmwareLoadingText);
    FUZZ_REQUIRE(loader.m_firmwareLoadFailed == 0);
    std::vector<CCommFile::Row> rows;
    int appStart = 0;
    for (std::uint32_t r = 0; r < 0x4000; ++r) {
        CCommFile::Row row{};
        row[0] = static_cast<std::uint8_t>(r >> 8);
        row[1] = static_cast<std::uint8_t>(r & 0xFF);
        const auto it = reference.rows.find(r);
        bool erased = true;
        for (int j = 0; j < 16; ++j) {
            row[2 + j] = it == reference.rows.end() ? 0xFF : it->second[j];
            erased = erased && row[2 + j] == 0xFF;
        }
        if (r < 0x100 || !erased) {
            if (r == 0x200) appStart = static_cast<int>(rows.size());
            rows.push_back(row);
        }
        // Rows past the last written one are erased: stop early.
        if (r >= 0x100 && (reference.rows.empty() || r >= reference.rows.rbegin()->first)) break;
    }
    FUZZ_REQUIRE(file.m_rowCount == static_cast<int>(rows.size()));
    FUZZ_REQUIRE(file.m_rowTable.size() == rows.size());
    FUZZ_REQUIRE(file.m_appStartRow == appStart);
    for (std::size_t p = 0; p < rows.size(); ++p) {
        FUZZ_REQUIRE(file.RowAt(static_cast<int>(p)) == rows[p]);
        FUZZ_REQUIRE(CCommFile::RowText(rows[p]).size() == 54);
    }
    return 0;
}
