#pragma once
// What the fuzz targets share: a check that stops the run with a message (libFuzzer then keeps
// the input as a crash), and a plain bit-by-bit CRC-16 (KERMIT parameters) kept apart from the
// kit's own table-free implementation, so that a fault in one is not hidden by the other.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace kestro::fuzz {

[[noreturn]] inline void Fail(const char* what, const char* file, int line) {
    std::fprintf(stderr, "invariant broken at %s:%d: %s\n", file, line, what);
    std::abort();
}

#define FUZZ_REQUIRE(condition)                                                 \
    do {                                                                        \
        if (!(condition)) ::kestro::fuzz::Fail(#condition, __FILE__, __LINE__); \
    } while (false)

inline std::uint16_t ReferenceCrc(const std::uint8_t* data, std::size_t count) {
    std::uint16_t crc = 0;
    for (std::size_t i = 0; i < count; ++i) {
        crc = static_cast<std::uint16_t>(crc ^ data[i]);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1U) != 0 ? static_cast<std::uint16_t>((crc >> 1) ^ 0x8408U)
                                  : static_cast<std::uint16_t>(crc >> 1);
        }
    }
    return crc;
}

// The seed corpus committed beside the target defined in `file` (pass __FILE__).
inline std::filesystem::path CorpusBeside(const char* file) {
    return std::filesystem::path(file).parent_path() / "corpus";
}

// Defined by each target: its seed corpus, so that an ordinary test can replay it.
std::filesystem::path SeedCorpus();

}  // namespace kestro::fuzz
