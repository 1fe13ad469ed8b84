// A pipe carries the event: set means "a byte in the pipe", so poll() sees it as readable until
// it is reset. The flag beside it answers IsSet() without a system call.

#include "serial/posix/PortEvent.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace kestro {

void PortHandle::Reset(int fd) {
    if (m_fd >= 0 && m_fd != fd) {
        ::close(m_fd);
    }
    m_fd = fd;
}

bool PortEvent::Create() {
    int ends[2];
    if (::pipe2(ends, O_NONBLOCK | O_CLOEXEC) != 0) {
        return false;
    }
    m_readEnd.Reset(ends[0]);
    m_writeEnd.Reset(ends[1]);
    m_set.store(false);
    return true;
}

void PortEvent::Set() {
    // Setting an event that is already set must not fill the pipe: the stop handshake sets the
    // stop event again and again until the thread has gone.
    if (!m_writeEnd.IsOpen() || m_set.exchange(true)) {
        return;
    }
    const char token = 1;
    ssize_t written;
    do {
        written = ::write(m_writeEnd.Get(), &token, 1);
    } while (written < 0 && errno == EINTR);
}

void PortEvent::Reset() {
    if (!m_readEnd.IsOpen()) {
        return;
    }
    // The pipe is emptied before the flag is cleared: the other way round, a Set() in between
    // could leave the flag up with nothing in the pipe to wake a wait, and every later Set()
    // would then see the flag and write nothing.
    char sink[64];
    for (;;) {
        const ssize_t got = ::read(m_readEnd.Get(), sink, sizeof sink);
        if (got > 0 || (got < 0 && errno == EINTR)) {
            continue;
        }
        break;
    }
    m_set.store(false);
}

}  // namespace kestro
