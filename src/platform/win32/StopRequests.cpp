#include "platform/StopRequests.h"

#include <windows.h>

namespace kestro {

namespace {

StopSignalCounts g_counts;
static_assert(std::atomic<int>::is_always_lock_free);

BOOL WINAPI OnConsoleEvent(DWORD event) {
    // Handlers run on a thread of their own, one at a time.
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            g_counts.stops.fetch_add(1);
            return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            g_counts.hangUps.fetch_add(1);
            return TRUE;
        default: return FALSE;
    }
}

}  // namespace

const StopSignalCounts& CountStopRequests() {
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    return g_counts;
}

}  // namespace kestro
