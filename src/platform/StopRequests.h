#pragma once
// The user's requests to stop a program without a window: Ctrl-C, and the terminal or console
// window going away (SIGINT, SIGTERM, SIGHUP on POSIX; the console's Ctrl-C, Ctrl-Break, close,
// log-off and shut-down events on Windows). Each back end (posix/, win32/) implements it.
// StopActs.h tells the user's acts apart in what these counts show.

#include <atomic>

namespace kestro {

// Signals received, by kind; the counts only grow. Handlers may run on any thread or between
// any two instructions, so the counts are lock-free atomics and nothing else is touched there.
struct StopSignalCounts {
    std::atomic<int> stops{0};    // Ctrl-C, SIGTERM, Ctrl-Break
    std::atomic<int> hangUps{0};  // the terminal gone: SIGHUP; the console closed, log-off, shut-down
};

// Starts counting stop requests and returns the counts. A hang-up that the program was started
// to ignore (POSIX: SIGHUP set to SIG_IGN, as nohup does) stays ignored and is never counted.
const StopSignalCounts& CountStopRequests();

}  // namespace kestro
