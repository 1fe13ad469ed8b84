#include "platform/StopRequests.h"

#include <signal.h>

#include <initializer_list>

namespace kestro {

namespace {

std::atomic<int> g_stopRequests{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void OnStopRequest(int /*signal*/) { g_stopRequests.fetch_add(1); }

}  // namespace

const std::atomic<int>& CountStopRequests() {
    struct sigaction action {};
    action.sa_handler = OnStopRequest;
    // A write or wait that the signal interrupts goes on: no output is lost to it.
    action.sa_flags = SA_RESTART;
    // One handler runs at a time, so that no request is lost between two of them.
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, signal);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
    return g_stopRequests;
}

}  // namespace kestro
