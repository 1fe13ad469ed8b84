#include "firmware/CCommFile.h"

#include <gtest/gtest.h>

#include <map>

#include "firmware/HexText.h"

namespace kestro {
namespace {

using test::Bytes;
using test::Data;
using test::kEof;
using test::Linear;
using test::Segment;

// Decodes `text`, failing the test on a refusal.
CCommFile Decode(const std::string& text) {
    CCommFile file;
    HexParseError error;
    EXPECT_TRUE(file.ParseHexRecords(text, error)) << "line " << error.m_line << ": "
                                                   << error.m_reason;
    file.BuildRowTable();
    return file;
}

HexParseError Refusal(const std::string& text) {
    CCommFile file;
    HexParseError error;
    EXPECT_FALSE(file.ParseHexRecords(text, error));
    return error;
}

// Row number -> position, checking along the way that the table is ordered and well-formed.
std::map<int, int> RowPositions(const CCommFile& file) {
    std::map<int, int> positions;
    int previous = -1;
    for (int p = 0; p < file.m_rowCount; ++p) {
        const auto& row = file.RowAt(p);
        const int number = row[0] << 8 | row[1];
        EXPECT_GT(number, previous) << "rows out of order at position " << p;
        previous = number;
        positions[number] = p;
    }
    return positions;
}

std::uint8_t ByteAt(const CCommFile& file, unsigned address) {
    const auto positions = RowPositions(file);
    const auto it = positions.find(static_cast<int>(address / 16));
    return it == positions.end() ? 0xFF : file.RowAt(it->second)[2 + address % 16];
}

TEST(CCommFileRows, BootRowsAlwaysPresentAndErasedRowsAboveLeftOut) {
    const auto file = Decode(Data(0x0010, Bytes(16, 0x10)) +   // boot row 0x0001
                             Data(0x1000, Bytes(16, 0xFF, 0)) +  // row 0x0100 written all FF
                             Data(0x1FF0, {0xFF, 0xFF, 0xFE}) +  // row 0x01FF: one byte not FF
                             Data(0x2000, Bytes(16, 0xA0)) +     // row 0x0200
                             Data(0xFFF0, Bytes(2, 0x55)) + kEof);
    ASSERT_EQ(file.m_rowCount, 256 + 3);
    for (int p = 0; p < 256; ++p) {
        EXPECT_EQ(file.RowAt(p)[0], 0);
        EXPECT_EQ(file.RowAt(p)[1], p);
    }
    const CCommFile::Row row1 = file.RowAt(1);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(row1[2 + i], 0x10 + i);
        EXPECT_EQ(file.RowAt(0)[2 + i], 0xFF) << "an erased boot row stays in the table";
    }
    EXPECT_EQ(file.RowAt(256)[0], 0x01);
    EXPECT_EQ(file.RowAt(256)[1], 0xFF);
    EXPECT_EQ(file.RowAt(256)[4], 0xFE);
    EXPECT_EQ(file.m_appStartRow, 257);
    EXPECT_EQ(file.RowAt(258)[0], 0x0F);
    EXPECT_EQ(file.RowAt(258)[1], 0xFF);
    EXPECT_EQ(CCommFile::RowText(file.RowAt(257)),
              "02 00 A0 A1 A2 A3 A4 A5 A6 A7 A8 A9 AA AB AC AD AE AF ");
}

TEST(CCommFileRows, NothingAboveBootAreaGivesOnlyBootRowsAndNoAppStart) {
    const auto file = Decode(Data(0x0FF0, Bytes(16, 1)) + Data(0x2000, Bytes(16, 0xFF, 0)) +
                             Data(0x2010, Bytes(16, 1)) + kEof);
    // Row 0x0200 holds only FF, so the application start falls back to position 0.
    EXPECT_EQ(file.m_rowCount, 257);
    EXPECT_EQ(file.m_appStartRow, 0);

    const auto bootOnly = Decode(Data(0x0000, Bytes(4, 9)) + kEof);
    EXPECT_EQ(bootOnly.m_rowCount, 256);
    EXPECT_EQ(bootOnly.m_appStartRow, 0);
}

TEST(CCommFileRows, AddressRecordsSetTheBaseAndTheLaterOneHolds) {
    const auto file = Decode(Segment(0x1000) + Data(0x0010, {0x11}) +  // 0x10010
                             Linear(0x0002) + Data(0x0020, {0x22}) +   // 0x20020
                             Segment(0x0100) + Data(0x0030, {0x33}) +  // 0x01030
                             Data(0x0000, {}) +                        // no effect, no reset
                             test::HexRecord(0x03, 0, {0, 0, 0, 0}) + "\r\n" +  // ignored
                             Data(0x0040, {0x44}) +  // segment 0x0100 holds
                             Linear(0x0003) + Data(0xFFFF, {0x99}) + kEof);
    EXPECT_EQ(ByteAt(file, 0x10010), 0x11);
    EXPECT_EQ(ByteAt(file, 0x20020), 0x22);
    EXPECT_EQ(ByteAt(file, 0x01030), 0x33);
    EXPECT_EQ(ByteAt(file, 0x01040), 0x44);
    EXPECT_EQ(ByteAt(file, 0x3FFFF), 0x99);
    EXPECT_EQ(ByteAt(file, 0x00010), 0xFF);
    EXPECT_EQ(file.m_rowCount, 256 + 5);
}

TEST(CCommFileRows, LaterRecordsWinAndBlankLinesAndLowerCaseAreRead) {
    std::string lower = Data(0x3000, Bytes(16, 0xAA, 0));
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    const auto file = Decode("\r\n" + Data(0x2000, Bytes(16, 0x00)) + "\r\n\r\n" +
                             Data(0x2004, {0xC4, 0xC5}) + lower + Data(0x3000, {0xFF}) + kEof);
    EXPECT_EQ(ByteAt(file, 0x2003), 0x03);
    EXPECT_EQ(ByteAt(file, 0x2004), 0xC4);
    EXPECT_EQ(ByteAt(file, 0x2005), 0xC5);
    EXPECT_EQ(ByteAt(file, 0x2006), 0x06);
    EXPECT_EQ(ByteAt(file, 0x3000), 0xFF);
    EXPECT_EQ(ByteAt(file, 0x3001), 0xAA);
}

TEST(CCommFileRows, LastLineWithoutCrLfAndTheLineBeforeItAreRead) {
    const std::string eofUnended = kEof.substr(0, kEof.size() - 2);
    const auto file = Decode(Data(0x2000, {1}) + Data(0x2010, {2}) + eofUnended);
    EXPECT_EQ(file.m_rowCount, 258);
    // Records after the end-of-file record are not part of the image.
    const auto stopped = Decode(Data(0x2000, {1}) + kEof + Data(0x2010, {2}) + "garbage");
    EXPECT_EQ(stopped.m_rowCount, 257);
}

TEST(CCommFileRows, RefusedTextKeepsThePreviousTable) {
    auto file = Decode(Data(0x2000, {1}) + kEof);
    ASSERT_EQ(file.m_rowCount, 257);
    HexParseError error;
    EXPECT_FALSE(file.ParseHexRecords(Data(0x2000, {1}), error));
    EXPECT_EQ(file.m_rowCount, 257);
    EXPECT_EQ(file.RowAt(256)[2], 1);
    EXPECT_THROW((void)file.RowAt(257), std::out_of_range);
}

TEST(CCommFileRefusals, EachDamageIsNamedWithItsLine) {
    const std::string good = Data(0x2000, Bytes(4, 1));  // line 1
    struct Case {
        std::string text;
        int line;
        std::string reason;
    };
    const std::string badChecksum = test::HexRecord(0, 0x2010, {1, 2}, 1) + "\r\n";
    std::string badDigit = Data(0x2010, {0x12, 0x34});
    badDigit[10] = 'G';
    std::string badCount = Data(0x2010, {1});
    badCount[2] = 'x';
    std::string shortLine = Data(0x2010, Bytes(8, 1));
    shortLine.erase(shortLine.size() - 6, 4);
    const Case cases[] = {
        {good + badChecksum + kEof, 2, "checksum mismatch"},
        {good + "\r\n" + badDigit + kEof, 3, "non-hexadecimal character"},
        {good + badCount + kEof, 2, "non-hexadecimal character"},
        {good + shortLine + kEof, 2, "record shorter than its byte count"},
        {good + ":0000\r\n" + kEof, 2, "record too short"},
        {good + test::HexRecord(0, 0x2010, {1}) + "\n" + Data(0x2020, {2}) + kEof, 2,
         "unexpected characters after the checksum"},
        {good + Linear(0x0004) + Data(0x0000, {1}) + kEof, 3, "data beyond byte address 0x3FFFF"},
        {good + Linear(0x0003) + Data(0xFFF0, Bytes(17, 1)) + kEof, 3,
         "data beyond byte address 0x3FFFF"},
        {good + test::HexRecord(2, 0, {0x10}) + "\r\n" + kEof, 2,
         "address record without two bytes"},
        {good + Data(0x2010, {2}), 3, "no end-of-file record"},
        {good + Data(0x2010, {2}).substr(0, 10), 2, "record too short"},
        {"\r\n" + Segment(0x1000) + kEof, 3, "no data record"},
        // Records of no bytes carry nothing to write.
        {Data(0x2000, {}) + Data(0x2010, {}) + kEof, 3, "no data record"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto error = Refusal(c.text);
        EXPECT_EQ(error.m_line, c.line);
        EXPECT_EQ(error.m_reason, c.reason);
    }
}

}  // namespace
}  // namespace kestro
