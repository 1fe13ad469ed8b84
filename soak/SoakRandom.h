#pragma once
// Draws for the soak from a 32-bit Mersenne Twister, in integer arithmetic only, so that a seed
// gives the same runs with every standard library.

#include <cstdint>
#include <random>

namespace kestro::soak {

// True with probability `rate` (clamped to 0..1).
inline bool Chance(std::mt19937& random, double rate) {
    if (rate <= 0.0) return false;
    if (rate >= 1.0) return true;
    return random() < static_cast<std::uint64_t>(rate * 4294967296.0);
}

// A number from `low` to `high`, both included.
inline std::uint32_t Between(std::mt19937& random, std::uint32_t low, std::uint32_t high) {
    return low + static_cast<std::uint32_t>(random() % (std::uint64_t{high} - low + 1));
}

}  // namespace kestro::soak
