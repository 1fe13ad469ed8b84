// Descriptors and pollable manual-reset events for the port thread. A pipe carries the event:
// set means "at least one byte in the pipe", so poll() sees it as readable until it is reset.

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "serial/CSerialPort.h"

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
    return true;
}

void PortEvent::Set() {
    // Setting an event that is already set must not fill the pipe: the stop handshake sets the
    // stop event again and again until the thread has gone.
    if (!m_writeEnd.IsOpen() || IsSet()) {
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
    char sink[64];
    for (;;) {
        const ssize_t got = ::read(m_readEnd.Get(), sink, sizeof sink);
        if (got > 0) {
            continue;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        break;
    }
}

bool PortEvent::IsSet() const {
    if (!m_readEnd.IsOpen()) {
        return false;
    }
    pollfd probe{m_readEnd.Get(), POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&probe, 1, 0);
    } while (ready < 0 && errno == EINTR);
    return ready > 0 && (probe.revents & POLLIN) != 0;
}

}  // namespace kestro
