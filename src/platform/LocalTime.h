#pragma once
// The local time of a moment, with the thread-safe call each platform has for it.

#include <ctime>

namespace kestro {

inline std::tm LocalTime(std::time_t when) {
    std::tm local{};
#if defined(_WIN32)
    localtime_s(&local, &when);
#else
    localtime_r(&when, &local);
#endif
    return local;
}

}  // namespace kestro
