// How signals become the user's acts of stopping, in virtual time: each step is what arrived
// since the last poll and the acts the poll then gives.

#include <gtest/gtest.h>

#include <vector>

#include "platform/StopActs.h"
#include "platform/VirtualClock.h"

namespace kestro {
namespace {

struct Step {
    int atMs;     // the poll's virtual instant
    int stops;    // Ctrl-C or SIGTERM arrived since the last poll
    int hangUps;  // SIGHUP arrived since the last poll
    int acts;     // what the poll gives
};

struct Case {
    const char* what;
    std::vector<Step> steps;
};

TEST(StopActs, OneActIsCountedOnceHoweverManySignalsCarryIt) {
    const Case cases[] = {
        {"nothing arrived", {{0, 0, 0, 0}, {5000, 0, 0, 0}}},
        {"the shell's and the kernel's hang-up in one poll", {{0, 0, 2, 1}, {1500, 0, 0, 1}}},
        {"the kernel's hang-up a poll after the shell's, or long after",
         {{0, 0, 1, 1}, {20, 0, 1, 1}, {5000, 0, 1, 1}}},
        {"a double press of Ctrl-C; the second press is not kept for later",
         {{0, 1, 0, 1}, {300, 1, 0, 1}, {2000, 0, 0, 1}}},
        {"Ctrl-C again once the first was acknowledged a window before",
         {{0, 1, 0, 1}, {999, 1, 0, 1}, {1000, 1, 0, 2}}},
        {"the window runs from the acknowledgement, not from the signal",
         {{500, 1, 0, 1}, {1200, 1, 0, 1}, {1500, 1, 0, 2}}},
        {"SIGTERM after the terminal went", {{0, 0, 1, 1}, {1200, 1, 0, 2}}},
        {"a hang-up after Ctrl-C", {{0, 1, 0, 1}, {1500, 0, 1, 1}}},
        {"no count beyond the second act", {{0, 1, 0, 1}, {1000, 1, 0, 2}, {3000, 3, 1, 2}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        VirtualClock clock;
        StopSignalCounts signals;
        StopActs acts(signals, clock);
        for (const Step& step : c.steps) {
            clock.RunUntil(Millis{step.atMs});
            signals.stops += step.stops;
            signals.hangUps += step.hangUps;
            EXPECT_EQ(acts.Poll(), step.acts) << "at " << step.atMs << " ms";
        }
    }
}

}  // namespace
}  // namespace kestro
