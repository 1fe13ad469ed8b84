#include "platform/StopRequests.h"

#include <windows.h>

namespace kestro {

namespace {

volatile std::sig_atomic_t g_stopRequests = 0;

BOOL WINAPI OnConsoleEvent(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            // Handlers run on a thread of their own, one at a time.
            g_stopRequests = g_stopRequests + 1;
            return TRUE;
        default: return FALSE;
    }
}

}  // namespace

const volatile std::sig_atomic_t* CountStopRequests() {
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    return &g_stopRequests;
}

}  // namespace kestro
