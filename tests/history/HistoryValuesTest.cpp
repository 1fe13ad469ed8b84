// The values of a history row: SHA-256 against published and boundary vectors, run ids, and the
// UTC text that the database sorts and `history --since` takes.

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <regex>
#include <set>
#include <string>

#include "history/RunHistory.h"
#include "history/Sha256.h"

namespace kestro {
namespace {

std::string Hash(const std::string& text, std::size_t chunk) {
    Sha256 hash;
    for (std::size_t at = 0; at < text.size(); at += chunk) {
        const std::string piece = text.substr(at, chunk);
        hash.Update({reinterpret_cast<const std::uint8_t*>(piece.data()), piece.size()});
    }
    return hash.HexDigest();
}

TEST(Sha256, MatchesKnownDigestsWhateverTheChunks) {
    struct Case {
        std::string text;
        const char* digest;
    };
    const Case cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        // Lengths where the padding just fits, just does not fit, and fills a block.
        {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
        {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Case& c : cases) {
        for (const std::size_t chunk : {std::size_t{1}, std::size_t{63}, std::size_t{997}}) {
            if (c.text.size() > 1000 && chunk == 1) continue;
            EXPECT_EQ(Hash(c.text, chunk), c.digest) << c.text.size() << " bytes in chunks of " << chunk;
        }
    }
    const auto file = std::filesystem::temp_directory_path() / "kestro-sha256-test.bin";
    std::ofstream(file, std::ios::binary) << std::string(200000, 'a').append("abc");
    EXPECT_EQ(Sha256OfFile(file), Hash(std::string(200000, 'a').append("abc"), 4096));
    std::filesystem::remove(file);
    EXPECT_FALSE(Sha256OfFile(file).has_value());
    EXPECT_FALSE(Sha256OfFile(std::filesystem::temp_directory_path()).has_value()) << "a folder";
}

TEST(RunId, IsARandomVersion4Uuid) {
    const std::regex form("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
    std::set<std::string> seen;
    std::array<std::set<char>, 36> digits;  // the values seen at each place
    for (int i = 0; i < 1000; ++i) {
        const std::string id = NewRunId();
        ASSERT_TRUE(std::regex_match(id, form)) << id;
        seen.insert(id);
        for (std::size_t k = 0; k < id.size(); ++k) digits[k].insert(id[k]);
    }
    EXPECT_EQ(seen.size(), 1000U);
    // Every digit but the version's is random: 122 bits, not a few random bytes and zeros.
    for (std::size_t k = 0; k < digits.size(); ++k) {
        const std::size_t expected = k == 8 || k == 13 || k == 18 || k == 23 ? 1 : k == 14 ? 1 : k == 19 ? 4 : 16;
        EXPECT_EQ(digits[k].size(), expected) << "place " << k;
    }
}

TEST(UtcText, ParsesWhatItFormatsAndRefusesTheRest) {
    using namespace std::chrono;
    const UtcSeconds instant = sys_days{2026y / 12 / 1} + 9h + 5min + 7s;
    EXPECT_EQ(FormatUtc(instant), "2026-12-01T09:05:07Z");
    EXPECT_EQ(FormatUtc(sys_days{1999y / 1 / 31}), "1999-01-31T00:00:00Z");
    struct Case {
        const char* text;
        std::optional<UtcSeconds> expected;
    };
    const Case cases[] = {
        {"2026-12-01T09:05:07Z", instant},
        {"2026-12-01 09:05:07", instant},
        {"2026-12-01", sys_days{2026y / 12 / 1}},
        {"2024-02-29", sys_days{2024y / 2 / 29}},
        {"2023-02-29", std::nullopt},
        {"2026-13-01", std::nullopt},
        {"2026-12-01T24:00:00Z", std::nullopt},
        {"2026-12-01T09:60:00Z", std::nullopt},
        {"2026-12-01T09:05:07+", std::nullopt},
        {"2026-12-1", std::nullopt},
        {"2026/12/01", std::nullopt},
        {"yesterday", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseUtc(c.text), c.expected) << c.text;
}

}  // namespace
}  // namespace kestro
