#include "platform/StopRequests.h"

#include <signal.h>

#include <initializer_list>

namespace kestro {

namespace {

StopSignalCounts g_counts;
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void OnStopRequest(int signal) {
    (signal == SIGHUP ? g_counts.hangUps : g_counts.stops).fetch_add(1);
}

}  // namespace

const StopSignalCounts& CountStopRequests() {
    struct sigaction action {};
    action.sa_handler = OnStopRequest;
    // A write or wait that the signal interrupts goes on: no output is lost to it.
    action.sa_flags = SA_RESTART;
    // One handler runs at a time, so that no request is lost between two of them.
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, signal);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction before {};
        // Started under nohup: whoever started the kit wants it to outlive the terminal.
        if (signal == SIGHUP && ::sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) {
            continue;
        }
        ::sigaction(signal, &action, nullptr);
    }
    return g_counts;
}

}  // namespace kestro
