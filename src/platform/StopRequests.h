#pragma once
// The user's requests to stop a program without a window: Ctrl-C, and the terminal or console
// window going away (SIGHUP, SIGTERM on POSIX; the console's close, log-off and shut-down events
// on Windows). Each back end (posix/, win32/) implements it.

#include <csignal>

namespace kestro {

// Starts counting stop requests (once per process) and returns the count, which only grows.
const volatile std::sig_atomic_t* CountStopRequests();

}  // namespace kestro
