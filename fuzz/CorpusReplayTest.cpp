// Replays a fuzz target's committed seed corpus as an ordinary test, so that every build (and
// the sanitizer builds) runs the target's invariants on those inputs without libFuzzer.

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

TEST(FuzzCorpus, EverySeedHoldsTheTargetsInvariants) {
    const auto folder = kestro::fuzz::SeedCorpus();
#ifdef _WIN32
    // A cross-built program sees the build machine's source path, which it may not reach.
    if (!std::filesystem::is_directory(folder)) GTEST_SKIP() << folder << " is not reachable";
#endif
    std::size_t seeds = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), {}};
        SCOPED_TRACE(entry.path().filename().string());
        // A broken invariant aborts the program, which fails the test.
        EXPECT_EQ(LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                         bytes.size()),
                  0);
        ++seeds;
    }
    EXPECT_GE(seeds, 4U) << folder;
}

}  // namespace
