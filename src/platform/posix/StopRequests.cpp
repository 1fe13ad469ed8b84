#include "platform/StopRequests.h"

#include <signal.h>

#include <initializer_list>

namespace kestro {

namespace {

volatile std::sig_atomic_t g_stopRequests = 0;

extern "C" void OnStopRequest(int /*signal*/) { g_stopRequests = g_stopRequests + 1; }

}  // namespace

const volatile std::sig_atomic_t* CountStopRequests() {
    struct sigaction action {};
    action.sa_handler = OnStopRequest;
    // A write or wait that the signal interrupts goes on: no output is lost to it.
    action.sa_flags = SA_RESTART;
    // One handler runs at a time, so that no request is lost between two of them.
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, signal);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
    return &g_stopRequests;
}

}  // namespace kestro
