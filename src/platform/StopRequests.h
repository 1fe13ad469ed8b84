#pragma once
// The user's requests to stop a program without a window: Ctrl-C, and the terminal or console
// window going away (SIGHUP, SIGTERM on POSIX; the console's close, log-off and shut-down events
// on Windows). Each back end (posix/, win32/) implements it.

#include <atomic>

namespace kestro {

// Starts counting stop requests and returns the count, which only grows. Its handlers may run
// on any thread, so the count is a lock-free atomic.
const std::atomic<int>& CountStopRequests();

}  // namespace kestro
