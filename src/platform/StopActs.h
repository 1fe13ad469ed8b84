#pragma once
// The user's acts of stopping, told apart from the signals that carry them. One act often
// arrives as several signals: a double press of Ctrl-C, or a closed terminal, whose loss the
// shell and the kernel each pass on as a hang-up a few milliseconds apart. Counting signals
// would turn one act into two, and a second act stops radios in the middle of programming. So:
//  - the first signal of any kind is the first act;
//  - a later Ctrl-C or SIGTERM is a second act only once the first has been acknowledged (Poll
//    returned it, and its caller told the user) at least `window` before;
//  - a hang-up is never a second act: the terminal goes only once, and no one is left at it to
//    have read what the first act did.
// Read on one thread; the counts may grow on any.

#include "platform/Clock.h"
#include "platform/StopRequests.h"

namespace kestro {

inline constexpr Millis kStopActWindow{1000};

class StopActs {
public:
    StopActs(const StopSignalCounts& counts, IClock& clock, Millis window = kStopActWindow)
        : m_signals(counts), m_clock(clock), m_window(window) {}

    // The acts so far: 0, 1 or 2; it counts no further. The caller tells the user of a new act
    // at once: the first act counts as acknowledged from the call that returned it.
    int Poll();

private:
    const StopSignalCounts& m_signals;
    IClock& m_clock;
    Millis m_window;
    int m_stopsSeen = 0;
    int m_hangUpsSeen = 0;
    int m_acts = 0;
    Millis m_firstActAt{0};
};

}  // namespace kestro
