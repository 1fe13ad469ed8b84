#include "runcore/TimeLeft.h"

#include <cstdio>

namespace kestro {

namespace {

// "1:05" for 65 seconds.
std::string Minutes(long long seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", seconds / 60, seconds % 60);
    return text;
}

}  // namespace

std::string TimeLeft(int firstPosition, std::chrono::steady_clock::duration sinceFirst, int position) {
    const int done = position - firstPosition;
    if (firstPosition < 0 || done <= 0 || position >= 100) return {};
    const double left = std::chrono::duration<double>(sinceFirst).count() * (100 - position) / done;
    return Minutes(static_cast<long long>(left + 0.5)) + " left";
}

}  // namespace kestro
