#include "firmware/CCommFile.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace kestro {

namespace {

// Value of each character as a hexadecimal digit, -1 for anything else. Lower-case digits count
// like upper-case ones, so a text need not be upper-cased before it gets here.
constexpr std::array<std::int8_t, 256> MakeHexTable() {
    std::array<std::int8_t, 256> table{};
    for (auto& value : table) {
        value = -1;
    }
    for (int c = '0'; c <= '9'; ++c) {
        table[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(c - '0');
    }
    for (int c = 'A'; c <= 'F'; ++c) {
        table[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(c - 'A' + 10);
        table[static_cast<std::size_t>(c - 'A' + 'a')] = static_cast<std::int8_t>(c - 'A' + 10);
    }
    return table;
}

constexpr std::array<std::int8_t, 256> kHexValue = MakeHexTable();

// The byte written as two hexadecimal digits at `p`, or -1 when either is no digit.
inline int HexByte(const char* p) {
    const int high = kHexValue[static_cast<unsigned char>(p[0])];
    const int low = kHexValue[static_cast<unsigned char>(p[1])];
    return (high | low) < 0 ? -1 : (high << 4) | low;
}

// Decodes 8 hexadecimal digits at `p` into 4 bytes at `out` at once; false when any of the
// characters is no digit. Records are mostly digits, so the whole-word path carries the load.
inline bool HexWord(const char* p, std::uint8_t* out) {
    constexpr std::uint64_t kOnes = 0x0101010101010101u;
    constexpr std::uint64_t kHigh = 0x8080808080808080u;
    std::uint64_t v = 0;
    std::memcpy(&v, p, sizeof v);
    if ((v & kHigh) != 0) {
        return false;
    }
    // With every byte below 0x80, adding per-byte constants cannot carry into the next byte.
    auto inRange = [](std::uint64_t x, std::uint64_t lo, std::uint64_t hi) {
        return (x + (0x80 - lo) * kOnes) & ~(x + (0x7F - hi) * kOnes) & kHigh;
    };
    const std::uint64_t digit = inRange(v, '0', '9');
    const std::uint64_t letter = inRange(v | 0x20 * kOnes, 'a', 'f');
    if ((digit | letter) != kHigh) {
        return false;
    }
    const std::uint64_t nibbles = (v & 0x0F * kOnes) + (letter >> 7) * 9;
    // Even bytes now hold high << 4 | low of each digit pair; gather them into the low word.
    std::uint64_t pairs = ((nibbles << 4) | (nibbles >> 8)) & 0x00FF00FF00FF00FFu;
    pairs = (pairs | (pairs >> 8)) & 0x0000FFFF0000FFFFu;
    pairs = (pairs | (pairs >> 16)) & 0xFFFFFFFFu;
    const auto word = static_cast<std::uint32_t>(pairs);
    std::memcpy(out, &word, sizeof word);
    return true;
}

enum RecordType : int {
    kData = 0x00,
    kEndOfFile = 0x01,
    kExtendedSegment = 0x02,
    kExtendedLinear = 0x04,
};

// Start character, byte count, address and type: everything before the data field.
constexpr std::size_t kHeaderChars = 9;
constexpr std::size_t kChecksumChars = 2;

bool IsRowErased(const std::uint8_t* bytes) {
    std::uint64_t first = 0;
    std::uint64_t second = 0;
    std::memcpy(&first, bytes, sizeof first);
    std::memcpy(&second, bytes + sizeof first, sizeof second);
    return (first & second) == ~std::uint64_t{0};
}

// Where the line that starts at `pos` ends: at the first CR LF, or at the end of the text.
std::size_t FindLineEnd(std::string_view text, std::size_t pos) {
    while (pos < text.size()) {
        const void* cr = std::memchr(text.data() + pos, '\r', text.size() - pos);
        if (cr == nullptr) {
            break;
        }
        pos = static_cast<std::size_t>(static_cast<const char*>(cr) - text.data());
        if (pos + 1 < text.size() && text[pos + 1] == '\n') {
            return pos;
        }
        ++pos;
    }
    return text.size();
}

// Where the line at `pos` ends if it is a well-formed record: its byte count says how long it
// is. Only a guess: the record's own digit checks find a CR LF inside it.
std::size_t GuessLineEnd(std::string_view text, std::size_t pos) {
    if (text.size() - pos < kHeaderChars + kChecksumChars || text[pos] == '\r') {
        return std::string_view::npos;
    }
    const int count = HexByte(text.data() + pos + 1);
    if (count < 0) {
        return std::string_view::npos;
    }
    const std::size_t end = pos + kHeaderChars + 2 * static_cast<std::size_t>(count) + kChecksumChars;
    if (end == text.size() || (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n')) {
        return end;
    }
    return std::string_view::npos;
}

// One decoded record, before it touches the image.
struct Record {
    int m_count = 0;
    int m_type = 0;
    std::uint32_t m_offset = 0;
    std::array<std::uint8_t, 255 + 1> m_data;  // data bytes, then the checksum
};

// Takes a non-empty line apart; the reason when it is no well-formed record, else nullptr.
const char* DecodeRecord(std::string_view line, Record& record) {
    // The start character is skipped unread: the radio's own files have been accepted with
    // whatever stands there.
    if (line.size() < kHeaderChars + kChecksumChars) {
        return "record too short";
    }
    const char* p = line.data();
    const int count = HexByte(p + 1);
    const int addressHigh = HexByte(p + 3);
    const int addressLow = HexByte(p + 5);
    const int type = HexByte(p + 7);
    if ((count | addressHigh | addressLow | type) < 0) {
        return "non-hexadecimal character";
    }
    const std::size_t needed = kHeaderChars + 2 * static_cast<std::size_t>(count) + kChecksumChars;
    if (line.size() < needed) {
        return "record shorter than its byte count";
    }
    // Anything but blanks after the checksum would be a record lost to a line break that is not
    // CR LF; such a file must not be flashed with its records missing.
    for (std::size_t i = needed; i < line.size(); ++i) {
        if (line[i] != ' ' && line[i] != '\t') {
            return "unexpected characters after the checksum";
        }
    }

    const int bytes = count + 1;
    const char* digits = p + kHeaderChars;
    int j = 0;
    for (; j + 4 <= bytes; j += 4) {
        if (!HexWord(digits + 2 * j, record.m_data.data() + j)) {
            return "non-hexadecimal character";
        }
    }
    for (; j < bytes; ++j) {
        const int value = HexByte(digits + 2 * j);
        if (value < 0) {
            return "non-hexadecimal character";
        }
        record.m_data[static_cast<std::size_t>(j)] = static_cast<std::uint8_t>(value);
    }
    unsigned sum = static_cast<unsigned>(count + addressHigh + addressLow + type);
    for (int i = 0; i < bytes; ++i) {
        sum += record.m_data[static_cast<std::size_t>(i)];
    }
    if ((sum & 0xFFu) != 0) {
        return "checksum mismatch";
    }
    record.m_count = count;
    record.m_type = type;
    record.m_offset = static_cast<std::uint32_t>((addressHigh << 8) | addressLow);
    return nullptr;
}

}  // namespace

bool CCommFile::ParseHexRecords(std::string_view text, HexParseError& error) {
    std::vector<Row>().swap(m_image);
    // Every byte starts erased; the table is filled once, with no zeroing before it.
    Row erased;
    erased.fill(0xFF);
    std::vector<Row> image;
    image.assign(kMaxRows, erased);
    auto refuse = [&error](int line, const char* reason) {
        error.m_line = line;
        error.m_reason = reason;
        return false;
    };

    std::uint32_t base = 0;
    int dataRecords = 0;
    int line = 0;
    Record record;
    // A text that ends with CR LF still has one (empty) line after it; it holds no record.
    for (std::size_t pos = 0; pos <= text.size();) {
        ++line;
        const std::size_t guess = GuessLineEnd(text, pos);
        std::size_t end = guess != std::string_view::npos ? guess : FindLineEnd(text, pos);
        if (end == pos) {
            pos = end + 2;
            continue;
        }
        const char* reason = DecodeRecord(text.substr(pos, end - pos), record);
        if (reason != nullptr && guess != std::string_view::npos) {
            end = FindLineEnd(text, pos);
            if (end == pos) {
                pos = end + 2;
                continue;
            }
            reason = DecodeRecord(text.substr(pos, end - pos), record);
        }
        if (reason != nullptr) {
            return refuse(line, reason);
        }
        pos = end + 2;

        switch (record.m_type) {
            case kData: {
                // In 64 bits: a linear base of up to 0xFFFF0000 plus the offset and the count
                // would wrap in 32 bits and pass the test with an address far outside the image.
                const std::uint64_t first = std::uint64_t{base} + record.m_offset;
                if (first + static_cast<std::uint64_t>(record.m_count) > kImageBytes) {
                    return refuse(line, "data beyond byte address 0x3FFFF");
                }
                const std::uint8_t* from = record.m_data.data();
                auto left = static_cast<std::size_t>(record.m_count);
                constexpr auto kRowBytes = static_cast<std::size_t>(kRowDataBytes);
                for (auto at = static_cast<std::size_t>(first); left > 0;) {
                    const std::size_t column = at % kRowBytes;
                    const std::size_t part = std::min(left, kRowBytes - column);
                    std::memcpy(image[at / kRowBytes].data() + 2 + column, from, part);
                    at += part;
                    from += part;
                    left -= part;
                }
                // A record of no bytes carries nothing: a file of only such records would erase
                // the radio and write blank rows.
                if (record.m_count > 0) ++dataRecords;
                break;
            }
            case kEndOfFile:
                if (dataRecords == 0) {
                    return refuse(line, "no data record");
                }
                m_image = std::move(image);
                return true;
            case kExtendedSegment:
            case kExtendedLinear: {
                if (record.m_count != 2) {
                    return refuse(line, "address record without two bytes");
                }
                const auto value =
                    static_cast<std::uint32_t>((record.m_data[0] << 8) | record.m_data[1]);
                base = record.m_type == kExtendedSegment ? value << 4 : value << 16;
                break;
            }
            default:
                // Start address records (03, 05) and unknown types carry nothing for the radio.
                break;
        }
    }
    return refuse(line, "no end-of-file record");
}

void CCommFile::BuildRowTable() {
    if (m_image.empty()) {
        Row erased;
        erased.fill(0xFF);
        m_image.assign(kMaxRows, erased);
    }
    // Kept rows move down over dropped ones; a row never moves up, so none is overwritten
    // before it has been looked at.
    std::size_t kept = 0;
    m_appStartRow = 0;
    for (int r = 0; r < kMaxRows; ++r) {
        Row& row = m_image[static_cast<std::size_t>(r)];
        if (r >= kBootRows && IsRowErased(row.data() + 2)) {
            continue;
        }
        row[0] = static_cast<std::uint8_t>(r >> 8);
        row[1] = static_cast<std::uint8_t>(r & 0xFF);
        if (r == kAppStartRowNumber) {
            m_appStartRow = static_cast<int>(kept);
        }
        if (kept != static_cast<std::size_t>(r)) {
            m_image[kept] = row;
        }
        ++kept;
    }
    m_image.resize(kept);
    m_rowTable = std::move(m_image);
    m_image = {};
    m_rowCount = static_cast<int>(m_rowTable.size());
}

const CCommFile::Row& CCommFile::RowAt(int position) const {
    if (position < 0 || position >= m_rowCount) {
        throw std::out_of_range("firmware row position out of range");
    }
    return m_rowTable[static_cast<std::size_t>(position)];
}

std::string CCommFile::RowText(const Row& row) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(row.size() * 3);
    for (const std::uint8_t value : row) {
        text += kDigits[value >> 4];
        text += kDigits[value & 0x0F];
        text += ' ';
    }
    return text;
}

}  // namespace kestro
