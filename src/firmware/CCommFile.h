#pragma once
// The firmware image of the kit: the Intel hexadecimal records of the firmware file decoded into
// the table of 16-byte rows that the programming steps send to the radio, one row per request.
// Decoding runs in two passes, ParseHexRecords (records -> byte image) and BuildRowTable.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestro {

// Why a text was refused, and on which line (1-based, lines ended by CR LF).
struct HexParseError {
    int m_line = 0;
    std::string m_reason;
};

class CCommFile {
public:
    // Row number high, row number low, then the row's 16 data bytes.
    using Row = std::array<std::uint8_t, 18>;

    static constexpr int kRowDataBytes = 16;
    static constexpr int kMaxRows = 0x4000;
    static constexpr int kBootRows = 0x100;
    static constexpr int kAppStartRowNumber = 0x200;
    static constexpr std::uint32_t kImageBytes = 0x40000;

    // First pass: reads every record of `text` up to its end-of-file record into a fresh byte
    // image, kept as all kMaxRows rows. Returns false and fills `error` when the text is
    // damaged; the image is then released and the row table keeps its previous content.
    bool ParseHexRecords(std::string_view text, HexParseError& error);

    // Second pass: makes the row table of the image of the last successful first pass, dropping
    // erased rows in place; the image's storage becomes the table. Without such an image it
    // builds the table of an erased image.
    void BuildRowTable();

    // The row at table position 0 .. m_rowCount - 1.
    const Row& RowAt(int position) const;

    // The row in the radio's text form: 18 fields of two upper-case digits, each followed by a
    // blank (54 characters), for logs and diagnostics.
    static std::string RowText(const Row& row);

    std::vector<Row> m_rowTable;
    int m_rowCount = 0;
    int m_appStartRow = 0;

private:
    // Row r holds image bytes 16 r .. 16 r + 15 behind room for its number; empty when there is
    // no image.
    std::vector<Row> m_image;
};

}  // namespace kestro
