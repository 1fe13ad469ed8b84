#pragma once
// How long the rest of a stretch of rows takes, as the front ends show it beside a radio's
// percent.

#include <chrono>
#include <string>

namespace kestro {

// "1:05 left": the time the rest of a stretch takes at the rate its rows have gone so far,
// from the first row on (the wait for the erase before it is no row); "" until a row is done.
std::string TimeLeft(int firstPosition, std::chrono::steady_clock::duration sinceFirst, int position);

}  // namespace kestro
