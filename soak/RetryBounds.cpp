#include "soak/RetryBounds.h"

#include <algorithm>

namespace kestro::soak {

namespace {

constexpr std::size_t kBootRows = 256;
constexpr std::chrono::milliseconds kBeforeBootRows{20};

void Add(RunBound& total, const RunBound& part, std::size_t times = 1) {
    total.time += part.time * static_cast<long long>(times);
    total.requests += part.requests * times;
}

}  // namespace

RunBound LongestTransaction(const CommandSpec& c) {
    const long long n = c.attempts;
    long long ms = 0;
    long long requests = n;
    switch (c.discipline) {
        case Discipline::Counted: {
            // Each attempt: pause before the wait, the wait, the pause after a NAK; the time-out
            // grows by the larger of its two steps.
            const long long step = std::max(c.step, c.nakStep);
            for (long long i = 0; i < n; ++i) {
                ms += c.pauseBeforeWait + c.firstTimeout + i * step + c.pauseAfterNak;
            }
            break;
        }
        case Discipline::ResendWhileSilent:
            for (long long i = 0; i < n; ++i) ms += c.firstTimeout + i * c.step;
            break;
        case Discipline::NakRetried:
            // Up to `attempts` silent requests before each judgement, and up to two NAKs retried.
            requests = 3 * n;
            for (long long i = 0; i < requests; ++i) ms += c.firstTimeout + i * c.step;
            break;
    }
    ms += c.pauseAfterSuccess;
    return RunBound{std::chrono::milliseconds{ms}, static_cast<std::size_t>(requests)};
}

RunBound LongestRun(std::size_t applicationRows, bool recovery) {
    RunBound total;
    const auto add = [&total](RequestId id, std::size_t times = 1) {
        Add(total, LongestTransaction(CommandOf(id)), times);
    };
    if (!recovery) {
        for (RequestId id :
             {REQ_DETECT, REQ_BATTERY, REQ_MODEL, REQ_FW_VERSION, REQ_SERIAL, REQ_CP_CHECK}) {
            add(id);
        }
        add(REQ_CP_READ, 2);
        add(REQ_CP_PREPARE);
        add(REQ_CP_RESTORE);
        add(REQ_CP_WRITE, 2);
        add(REQ_RESET_MODE);
    }
    add(REQ_UPDATE_START);
    add(REQ_SELF_PROGRAM);
    add(REQ_ERASE_FLASH);
    add(REQ_WRITE_RECORD, applicationRows);
    add(REQ_BOOT_ERASE);
    total.time += kBeforeBootRows;
    add(REQ_WRITE_RECORD, kBootRows);
    add(REQ_BOOT_SWAP);
    add(REQ_UPDATE_END);
    return total;
}

}  // namespace kestro::soak
