// Faults and request names written as text, as the command-line tools take them.

#include <gtest/gtest.h>

#include "radio/FaultSpec.h"

namespace kestro {
namespace {

TEST(FaultSpec, EveryKindReadsWithItsArguments) {
    EXPECT_EQ(ParseFault("silence")->kind, FaultKind::Silence);
    EXPECT_EQ(ParseFault("twice")->kind, FaultKind::Twice);
    EXPECT_EQ(ParseFault("status-first")->kind, FaultKind::StatusFirst);

    const auto plainNak = ParseFault("nak");
    ASSERT_TRUE(plainNak);
    EXPECT_EQ(plainNak->errorBytes, NAK_INJECTED);
    const auto nak = ParseFault("nak:12aB");
    ASSERT_TRUE(nak);
    EXPECT_EQ(nak->errorBytes, (std::array<std::uint8_t, 2>{0x12, 0xAB}));

    const auto late = ParseFault("late:1500");
    ASSERT_TRUE(late);
    EXPECT_EQ(late->kind, FaultKind::Late);
    EXPECT_EQ(late->delay, SimMillis{1500});

    const auto corrupt = ParseFault("corrupt:5");
    ASSERT_TRUE(corrupt);
    EXPECT_EQ(corrupt->index, 5U);

    const auto drop = ParseFault("drop:2:3");
    ASSERT_TRUE(drop);
    EXPECT_EQ(drop->kind, FaultKind::Drop);
    EXPECT_EQ(drop->index, 2U);
    EXPECT_EQ(drop->count, 3U);
    EXPECT_EQ(ParseFault("drop:4")->count, 1U);

    const auto wrong = ParseFault("wrong-code:A1*2");
    ASSERT_TRUE(wrong);
    EXPECT_EQ(wrong->kind, FaultKind::WrongCode);
    EXPECT_EQ(wrong->code, 0xA1);
    EXPECT_EQ(wrong->times, 2U);
    EXPECT_EQ(ParseFault("wrong-code")->code, 0);
    EXPECT_EQ(ParseFault("nak")->times, 0U);
}

TEST(FaultSpec, MalformedTextIsRefused) {
    for (const char* text :
         {"", "Silence", "silence:1", "nak:123", "nak:12345", "nak:zz00", "late", "late:",
          "late:-5", "late:5ms", "corrupt", "drop:1:0", "drop:1:2:3", "wrong-code:0",
          "wrong-code:100", "twice*0", "twice*", "twice*x", "nak:1234:5", "reboot"}) {
        EXPECT_FALSE(ParseFault(text)) << '"' << text << '"';
    }
}

TEST(FaultSpec, RequestsAreNamedAsInTheCommandTable) {
    EXPECT_EQ(ParseRequestName("REQ_CP_WRITE"), REQ_CP_WRITE);
    EXPECT_EQ(ParseRequestName("req_boot_swap"), REQ_BOOT_SWAP);
    EXPECT_EQ(ParseRequestName("detect"), REQ_DETECT);
    EXPECT_FALSE(ParseRequestName("REQ_"));
    EXPECT_FALSE(ParseRequestName("REQ_?"));
    EXPECT_FALSE(ParseRequestName("REQ_DETECTX"));
    EXPECT_FALSE(ParseRequestName(""));
}

}  // namespace
}  // namespace kestro
