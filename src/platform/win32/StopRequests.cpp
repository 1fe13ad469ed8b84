#include "platform/StopRequests.h"

#include <windows.h>

namespace kestro {

namespace {

std::atomic<int> g_stopRequests{0};
static_assert(std::atomic<int>::is_always_lock_free);

BOOL WINAPI OnConsoleEvent(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            // Handlers run on a thread of their own, one at a time.
            g_stopRequests.fetch_add(1);
            return TRUE;
        default: return FALSE;
    }
}

}  // namespace

const std::atomic<int>& CountStopRequests() {
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    return g_stopRequests;
}

}  // namespace kestro
