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

enum RecordType : int {
    kData = 0x00,
    kEndOfFile = 0x01,
    kExtendedSegment = 0x02,
    kExtendedLinear = 0x04,
};

// Start character, byte count, address and type: everything before the data field.
constexpr std::size_t kHeaderChars = 9;
constexpr std::size_t kChecksumChars = 2;

bool Refuse(HexParseError& error, int line, const char* reason) {
    error.m_line = line;
    error.m_reason = reason;
    return false;
}

bool IsRowErased(const std::uint8_t* bytes) {
    std::uint64_t first = 0;
    std::uint64_t second = 0;
    std::memcpy(&first, bytes, sizeof first);
    std::memcpy(&second, bytes + sizeof first, sizeof second);
    return (first & second) == ~std::uint64_t{0};
}

}  // namespace

bool CCommFile::ParseHexRecords(std::string_view text, HexParseError& error) {
    auto image = std::make_unique<ByteImage>();
    image->fill(0xFF);
    m_byteImage.reset();

    std::uint32_t base = 0;
    int dataRecords = 0;
    int line = 0;
    std::size_t pos = 0;
    // A text that ends with CR LF still has one (empty) line after it; it holds no record.
    while (pos <= text.size()) {
        ++line;
        std::size_t end = pos;
        for (;;) {
            const void* cr = std::memchr(text.data() + end, '\r', text.size() - end);
            if (cr == nullptr) {
                end = text.size();
                break;
            }
            end = static_cast<std::size_t>(static_cast<const char*>(cr) - text.data());
            if (end + 1 < text.size() && text[end + 1] == '\n') {
                break;
            }
            ++end;
        }
        const std::string_view record = text.substr(pos, end - pos);
        pos = end + 2;
        if (record.empty()) {
            continue;
        }

        // The start character is skipped unread: the radio's own files have been accepted with
        // whatever stands there.
        if (record.size() < kHeaderChars + kChecksumChars) {
            return Refuse(error, line, "record too short");
        }
        const char* p = record.data();
        const int count = HexByte(p + 1);
        const int addressHigh = HexByte(p + 3);
        const int addressLow = HexByte(p + 5);
        const int type = HexByte(p + 7);
        if ((count | addressHigh | addressLow | type) < 0) {
            return Refuse(error, line, "non-hexadecimal character");
        }
        const std::size_t needed =
            kHeaderChars + 2 * static_cast<std::size_t>(count) + kChecksumChars;
        if (record.size() < needed) {
            return Refuse(error, line, "record shorter than its byte count");
        }
        // Anything but blanks after the checksum would be a record lost to a line break that is
        // not CR LF; such a file must not be flashed with its records missing.
        for (std::size_t i = needed; i < record.size(); ++i) {
            if (record[i] != ' ' && record[i] != '\t') {
                return Refuse(error, line, "unexpected characters after the checksum");
            }
        }

        std::array<std::uint8_t, 255> data{};
        unsigned sum = static_cast<unsigned>(count + addressHigh + addressLow + type);
        for (int j = 0; j <= count; ++j) {
            const int value = HexByte(p + kHeaderChars + 2 * static_cast<std::size_t>(j));
            if (value < 0) {
                return Refuse(error, line, "non-hexadecimal character");
            }
            if (j < count) {
                data[static_cast<std::size_t>(j)] = static_cast<std::uint8_t>(value);
            }
            sum += static_cast<unsigned>(value);
        }
        if ((sum & 0xFFu) != 0) {
            return Refuse(error, line, "checksum mismatch");
        }

        const auto offset = static_cast<std::uint32_t>((addressHigh << 8) | addressLow);
        switch (type) {
            case kData: {
                const std::uint32_t first = base + offset;
                if (first + static_cast<std::uint32_t>(count) > kImageBytes) {
                    return Refuse(error, line, "data beyond byte address 0x3FFFF");
                }
                std::copy_n(data.begin(), count, image->begin() + first);
                ++dataRecords;
                break;
            }
            case kEndOfFile:
                if (dataRecords == 0) {
                    return Refuse(error, line, "no data record");
                }
                m_byteImage = std::move(image);
                return true;
            case kExtendedSegment:
            case kExtendedLinear: {
                if (count != 2) {
                    return Refuse(error, line, "address record without two bytes");
                }
                const auto value = static_cast<std::uint32_t>((data[0] << 8) | data[1]);
                base = type == kExtendedSegment ? value << 4 : value << 16;
                break;
            }
            default:
                // Start address records (03, 05) and unknown types carry nothing for the radio.
                break;
        }
    }
    return Refuse(error, line, "no end-of-file record");
}

void CCommFile::BuildRowTable() {
    if (!m_byteImage) {
        m_byteImage = std::make_unique<ByteImage>();
        m_byteImage->fill(0xFF);
    }
    const std::uint8_t* bytes = m_byteImage->data();

    int kept = kBootRows;
    for (int r = kBootRows; r < kMaxRows; ++r) {
        kept += IsRowErased(bytes + r * kRowDataBytes) ? 0 : 1;
    }

    std::vector<Row> table;
    table.reserve(static_cast<std::size_t>(kept));
    m_appStartRow = 0;
    for (int r = 0; r < kMaxRows; ++r) {
        const std::uint8_t* rowBytes = bytes + r * kRowDataBytes;
        if (r >= kBootRows && IsRowErased(rowBytes)) {
            continue;
        }
        Row& row = table.emplace_back();
        row[0] = static_cast<std::uint8_t>(r >> 8);
        row[1] = static_cast<std::uint8_t>(r & 0xFF);
        std::memcpy(row.data() + 2, rowBytes, kRowDataBytes);
        if (r == kAppStartRowNumber) {
            m_appStartRow = static_cast<int>(table.size()) - 1;
        }
    }
    m_rowTable = std::move(table);
    m_rowCount = static_cast<int>(m_rowTable.size());
    m_byteImage.reset();
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
