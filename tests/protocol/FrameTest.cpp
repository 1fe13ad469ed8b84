#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LinkTestSupport.h"
#include "protocol/CommandTable.h"
#include "protocol/Frame.h"

namespace kestro {
namespace {

using test::Bytes;

Bytes Of(const Frame& f) { return Bytes(f.bytes.begin(), f.bytes.begin() + f.length); }

TEST(Crc16, CheckValueAndEmptyInput) {
    const std::string text = "123456789";
    EXPECT_EQ(Crc16(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), 0x2189);
    EXPECT_EQ(Crc16(nullptr, 0), 0);
    const std::vector<std::uint8_t> zeros(4096, 0);
    EXPECT_EQ(Crc16(zeros.data(), zeros.size()), 0);
}

TEST(Crc16, FrameCrcSkipsTheStartByte) {
    const std::uint8_t frame[] = {0x01, 0x70, 0x92};
    EXPECT_EQ(FrameCrc(frame, 3), 0x475F);
    EXPECT_NE(Crc16(frame, 3), FrameCrc(frame, 3));
    EXPECT_EQ(FrameCrc(frame, 1), 0);
    EXPECT_EQ(FrameCrc(frame, 0), 0);
}

TEST(RequestFrames, WorkedExamplesByteForByte) {
    EXPECT_EQ(Of(BuildRequest(REQ_DETECT)), (Bytes{0x01, 0x70, 0x92, 0x47, 0x5F, 0x04}));
    EXPECT_EQ(Of(BuildRequest(REQ_UPDATE_START)), (Bytes{0x01, 0x75, 0x67, 0x99, 0xC5, 0x04}));
    EXPECT_EQ(Of(BuildRequest(REQ_CP_READ, 0x3049)),
              (Bytes{0x01, 0x70, 0x02, 0x30, 0x49, 0x00, 0x01, 0x14, 0x9A, 0x04}));
    EXPECT_EQ(Of(BuildRequest(REQ_CP_WRITE, 0x3197, 0x6F)),
              (Bytes{0x01, 0x70, 0x01, 0x31, 0x97, 0x00, 0x01, 0x6F, 0xF1, 0x35, 0x04}));

    std::array<std::uint8_t, kRecordSize> record{};
    record.fill(0xFF);
    record[0] = 0x02;
    record[1] = 0x00;
    Bytes expected{0x01, 0x75, 0x62, 0x02, 0x00};
    expected.insert(expected.end(), 16, 0xFF);
    expected.insert(expected.end(), {0x27, 0x46, 0x04});
    EXPECT_EQ(Of(BuildWriteRecordFrame(record)), expected);

    Bytes swap{0x01, 0x75, 0x65};
    swap.insert(swap.end(), 18, 0x00);
    swap.insert(swap.end(), {0xBC, 0x55, 0x04});
    EXPECT_EQ(Of(BuildBootSwapFrame(0)), swap);
}

TEST(ReplyFrames, WorkedExamplesByteForByte) {
    using test::ReplyFrame;
    EXPECT_EQ(ReplyFrame({0x80, 0x06}), (Bytes{0x01, 0x80, 0x06, 0xE9, 0xFA, 0x04}));
    EXPECT_EQ(ReplyFrame({0x80, 0x15, 0, 0}), (Bytes{0x01, 0x80, 0x15, 0, 0, 0x91, 0x46, 0x04}));
    EXPECT_EQ(ReplyFrame({0x80, 0x93, 0x00, 0x01, 0x01}),
              (Bytes{0x01, 0x80, 0x93, 0x00, 0x01, 0x01, 0x49, 0x06, 0x04}));
    EXPECT_EQ(ReplyFrame({0x80, 0x7D, 0x00, 0x01, 0x00}),
              (Bytes{0x01, 0x80, 0x7D, 0x00, 0x01, 0x00, 0x42, 0x47, 0x04}));
    EXPECT_EQ(ReplyFrame({0x80, 0x71, 0x00, 0x05, 'R', '0', '1', '0', '3'}),
              (Bytes{0x01, 0x80, 0x71, 0x00, 0x05, 0x52, 0x30, 0x31, 0x30, 0x33, 0x9F, 0x46, 0x04}));
    EXPECT_EQ(ReplyFrame({0x80, 0x03, 0x31, 0x97, 0x00, 0x01, 0x6F}),
              (Bytes{0x01, 0x80, 0x03, 0x31, 0x97, 0x00, 0x01, 0x6F, 0x6E, 0x32, 0x04}));
    EXPECT_EQ(ReplyFrame({0x80, 0xA0}), (Bytes{0x01, 0x80, 0xA0, 0x29, 0xC6, 0x04}));
    EXPECT_EQ(ReplyFrame({0x80, 0xA2, 0x02, 0x00}),
              (Bytes{0x01, 0x80, 0xA2, 0x02, 0x00, 0xA4, 0xB1, 0x04}));
}

TEST(CommandTable, RowsAreIndexedByIdAndRepliesFollowTheOpcodeRule) {
    for (int i = 0; i < REQ_COUNT; ++i) {
        const CommandSpec& c = kCommandTable[i];
        ASSERT_EQ(c.id, i) << c.name;
        EXPECT_TRUE(c.group == GROUP_DEVICE || c.group == GROUP_PROGRAM) << c.name;
        if (c.reply == RSP_ACK) continue;  // commands that act rather than query
        const int expected = c.group == GROUP_DEVICE ? c.opcode + 1 : c.opcode + 0x40;
        EXPECT_EQ(c.reply, expected) << c.name;
    }
    for (int i = 0; i < REQ_COUNT; ++i) {
        const auto id = static_cast<RequestId>(i);
        if (id == REQ_WRITE_RECORD || id == REQ_BOOT_SWAP) continue;
        const Frame f = BuildRequest(id, 0x1234, 0x56);
        EXPECT_EQ(f.length, CommandOf(id).frameLength) << CommandOf(id).name;
        EXPECT_EQ(f.bytes[1], CommandOf(id).group);
        EXPECT_EQ(f.bytes[2], CommandOf(id).opcode);
    }
}

}  // namespace
}  // namespace kestro
