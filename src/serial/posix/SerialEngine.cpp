// The POSIX back end of the port engine. The three-way wait (ThreeWayWait) watches the stop
// event, the port and the send event at once; a pending send is taken first, then a stop, then
// bytes. Between a reply's last byte and the next request on the wire the path makes no
// allocation, builds no text and takes only m_portLock, which nobody else holds then.
// Line events (break, CTS, ring, framing errors) are not reported on Linux: nothing in the kit
// acts on them, and termios offers no portable way to wait for them alongside the data.

#include "serial/posix/SerialEngine.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>

#include "serial/PortErrors.h"
#include "serial/PortNames.h"
#include "serial/posix/LineRate.h"
#include "serial/posix/ThreeWayWait.h"

namespace kestro {
namespace {

using SteadyClock = std::chrono::steady_clock;

bool IsHangUpError(int error) {
    return error == EIO || error == ENXIO || error == ENODEV || error == EBADF;
}

int MillisecondsUntil(SteadyClock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

// Opens `path` for exclusive use. Returns the descriptor, or -1 with `error` set.
int OpenExclusive(const std::string& path, int& error) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return -1;
    }
    // TIOCEXCL keeps ordinary users out but not root; the lock also stops a second kit run as
    // root, and any well-behaved program that locks the device the same way. The flag belongs to
    // the device, not to this descriptor: it is lifted again on failure only when it was not
    // already set by whoever holds the device.
    int wasExclusive = 0;
    if (::ioctl(fd, TIOCGEXCL, &wasExclusive) != 0) {
        wasExclusive = 0;
    }
    if (::ioctl(fd, TIOCEXCL) != 0 && errno != ENOTTY && errno != EINVAL) {
        error = errno;
        ::close(fd);
        return -1;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = errno == EWOULDBLOCK ? EBUSY : errno;
        if (wasExclusive == 0) {
            ::ioctl(fd, TIOCNXCL);
        }
        ::close(fd);
        return -1;
    }
    return fd;
}

// Raw 8N1 without flow control, RTS cleared, then the exact rate as the last step.
int ConfigureLine(int fd) {
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0) {
        return errno;
    }
    ::cfmakeraw(&settings);
    settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &settings) != 0) {
        return errno;
    }
    int rts = TIOCM_RTS;
    // A pseudo-terminal has no modem lines; that is no reason to refuse it.
    if (::ioctl(fd, TIOCMBIC, &rts) != 0 && errno != ENOTTY && errno != EINVAL) {
        return errno;
    }
    if (const int error = posix::SetExactLineRate(fd, kLineRate); error != 0) {
        return error;
    }
    posix::RequestLowLatency(fd);
    return 0;
}

}  // namespace

CSerialPort::Engine::~Engine() {
    StopPortThread();
    std::lock_guard lock(m_portLock);
    ReleasePort();
}

AttemptResult CSerialPort::Engine::OpenOne(IPortOwner* owner, const PortAttempt& port) {
    StopPortThread();  // before anything the port thread reads changes
    m_owner = owner;
    if ((!m_hStopEvent.Exists() && !m_hStopEvent.Create()) || (!m_hSendEvent.Exists() && !m_hSendEvent.Create())) {
        return {false, true, "cannot create the port thread's events: " + SystemErrorText(errno)};
    }
    m_hSendEvent.Reset();
    m_hStopEvent.Reset();
    {
        std::lock_guard portLock(m_portLock);
        m_send.Clear();
    }
    m_portNumber.store(port.number);

    std::unique_lock lock(m_portLock);
    ReleasePort();
    const auto device = !port.device.empty() ? std::optional<std::string>(port.device) : DevicePathForPort(port.number);
    int error = ENODEV;
    const int fd = device ? OpenExclusive(*device, error) : -1;
    if (fd >= 0) {
        m_hPort.Reset(fd);
        if (const int configError = ConfigureLine(fd); configError != 0) {
            // A line that cannot be set up is no use to anyone: let it go whole (descriptor,
            // lock and exclusive flag), so that a later open, ours or another's, finds it free.
            ReleasePort();
            return {false, true,
                    "cannot configure " + (port.label == *device ? port.label : port.label + " (" + *device + ")") +
                        " for 76800 bit/s 8N1: " + SystemErrorText(configError)};
        }
        ::tcflush(fd, TCIOFLUSH);
        return {true, false, {}};
    }
    lock.unlock();
    return {false, false,
            device ? port.label + ": " + DescribeOpenFailure(error, *device)
                   : "no such device: " + port.label + " names no device on this system"};
}

bool CSerialPort::Engine::StartPortThread() {
    if (m_thread.Running() || !m_hStopEvent.Exists() || !m_hSendEvent.Exists()) {
        return false;
    }
    {
        // A thread on a closed port would only wait for its stop.
        std::lock_guard lock(m_portLock);
        if (!m_hPort.IsOpen()) {
            return false;
        }
    }
    return m_thread.Start([this] {
        m_portDead = false;
        PortThreadProc();
    });
}

void CSerialPort::Engine::StopPortThread() {
    m_thread.Stop([this] { m_hStopEvent.Set(); });
}

void CSerialPort::Engine::ClosePort() {
    const bool onPortThread = m_thread.OnIt();
    StopPortThread();
    if (onPortThread) {
        return;  // the port thread closes the port itself as it ends
    }
    std::lock_guard lock(m_portLock);
    if (m_hPort.IsOpen()) {
        ::tcflush(m_hPort.Get(), TCIOFLUSH);
        ReleasePort();
    }
}

void CSerialPort::Engine::ReleasePort() {
    if (m_hPort.IsOpen()) {
        ::ioctl(m_hPort.Get(), TIOCNXCL);
        m_hPort.Reset();
    }
}

void CSerialPort::Engine::HandOff(const std::uint8_t* bytes, std::size_t length) {
    if (bytes == nullptr || length == 0) {
        return;
    }
    bool written = false;
    bool wake = false;
    {
        std::lock_guard lock(m_portLock);
        // Bytes still waiting came while the port thread delivered the last ones, and it is
        // about to wake for them: they are delivered before the frame goes out, as in a drain.
        if (m_waiting && m_hPort.IsOpen() && !InputWaitingLocked()) {
            WriteFrameLocked(bytes, std::min(length, kSendBufferSize));
            written = true;
        } else {
            m_send.Put(bytes, length);
            // A running thread looks at the slot before it waits again; the event is for a
            // thread not running yet, whose first wait then ends at once.
            wake = !m_thread.Running();
        }
    }
    if (written) {
        FrameWritten();
    } else if (wake) {
        m_hSendEvent.Set();
    }
}

void CSerialPort::Engine::PortThreadProc() {
    {
        std::lock_guard lock(m_portLock);
        if (m_hPort.IsOpen()) {
            ::tcflush(m_hPort.Get(), TCIOFLUSH);
        }
    }
    posix::ThreeWayWait wait(m_hStopEvent.PollHandle(), m_hPort.Get(), m_hSendEvent.PollHandle());
    for (;;) {
        // A pending send goes first, before a stop and before received bytes, once the drain
        // before it has seen the queue empty: its purge must not drop bytes that came while the
        // last ones were being delivered. Only with the slot empty does the thread announce that
        // it waits, under the same lock as the requester's look at it: a frame is either in the
        // slot or written by the requester.
        std::size_t sendLength = 0;
        bool drainFirst = false;
        {
            std::lock_guard lock(m_portLock);
            drainFirst = m_drainUnconfirmed && m_send.Pending();
            if (!drainFirst) {
                sendLength = m_send.Take(m_outgoing);
                if (sendLength > 0) {
                    WriteFrameLocked(m_outgoing.data(), sendLength);
                }
            }
            m_waiting = !drainFirst && sendLength == 0;
        }
        if (drainFirst) {
            DrainInput();
            continue;
        }
        if (sendLength > 0) {
            FrameWritten();
            continue;
        }

        posix::ThreeWayWait::Readiness ready{};
        const bool woken = wait.Wait(ready);
        {
            std::lock_guard lock(m_portLock);
            m_waiting = false;
        }
        if (!woken) {
            continue;
        }
        if (ready[posix::ThreeWayWait::kSend] != 0) {
            m_hSendEvent.Reset();
        }
        if (m_send.Pending()) {
            continue;  // the send first
        }
        if (ready[posix::ThreeWayWait::kStop] != 0) {
            std::lock_guard lock(m_portLock);
            ReleasePort();
            m_thread.Ended();
            return;
        }
        if (ready[posix::ThreeWayWait::kPort] != 0) {
            DrainInput();
            constexpr short kLineGone = POLLHUP | POLLERR | POLLNVAL;
            if (!m_portDead && (ready[posix::ThreeWayWait::kPort] & kLineGone) != 0 &&
                !m_hStopEvent.IsSet()) {
                // Nothing is left to read, yet the line keeps signalling: it has hung up
                // without a failing read telling us so.
                m_portDead = true;
                DeliverError(PortWarningText("ReadFile()", SystemErrorText(EIO),
                                             m_portNumber.load()));
            }
            if (m_portDead) {
                // After a hang-up the port is left out of the wait: it would report itself
                // forever.
                wait.ForgetPort();
            }
        }
    }
}

void CSerialPort::Engine::WriteFrameLocked(const std::uint8_t* bytes, std::size_t length) {
    const int fd = m_hPort.Get();
    if (fd < 0) {
        return;
    }
    ::tcflush(fd, TCIOFLUSH);
    const std::uint8_t* next = bytes;
    std::size_t left = length;
    SteadyClock::time_point deadline{};
    // Short or failed writes are not reported: the requester sees only that no reply comes.
    while (left > 0) {
        const ssize_t written = ::write(fd, next, left);
        if (written > 0) {
            next += written;
            left -= static_cast<std::size_t>(written);
            continue;
        }
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0 && errno != EAGAIN) {
            return;
        }
        // The line's output queue is full: wait for room, at most the write time-out in all.
        if (deadline == SteadyClock::time_point{}) {
            deadline = SteadyClock::now() + std::chrono::milliseconds(kWriteTotalConstantMs);
        }
        const int wait = MillisecondsUntil(deadline);
        if (wait == 0) {
            return;
        }
        // A signal only cuts the wait short: it goes on with what is left of the deadline.
        pollfd writable{fd, POLLOUT, 0};
        const int ready = ::poll(&writable, 1, wait);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0 || (writable.revents & (POLLHUP | POLLERR)) != 0) {
            return;
        }
    }
}

bool CSerialPort::Engine::InputWaitingLocked() const {
    int waiting = 0;
    return ::ioctl(m_hPort.Get(), FIONREAD, &waiting) == 0 && waiting > 0;
}

void CSerialPort::Engine::FrameWritten() {
    if (m_owner != nullptr) {
        m_owner->OnFrameWritten(m_portNumber.load());
    }
}

void CSerialPort::Engine::DrainInput() {
    // Everything waiting is read in one call and handed over byte by byte. A read that did not
    // fill the buffer took all there was; bytes that came during the delivery wake the next
    // wait, unless a frame is to go out, which waits until a read finds the queue empty. A read
    // that fails is reported once and the drain goes on; a second failure in a row ends it and
    // the port is no longer watched, as after a hang-up: the wait would report a port that keeps
    // failing as readable at once, again and again, and each drain would report it anew.
    m_drainUnconfirmed = false;
    if (m_portDead) {
        return;
    }
    bool lastReadFailed = false;
    for (;;) {
        if (m_hStopEvent.IsSet()) {
            return;
        }
        ssize_t got = 0;
        int error = 0;
        {
            std::lock_guard lock(m_portLock);
            got = ::read(m_hPort.Get(), m_incoming.data(), m_incoming.size());
            error = got < 0 ? errno : 0;
        }
        if (got > 0) {
            lastReadFailed = false;
            for (ssize_t i = 0; i < got; ++i) {
                // A byte read after the stop was signalled can no longer reach a waiting owner.
                if (m_hStopEvent.IsSet()) {
                    return;
                }
                if (m_owner != nullptr) {
                    m_owner->OnSerialRxChar(m_incoming[static_cast<std::size_t>(i)],
                                            m_portNumber.load());
                }
            }
            if (static_cast<std::size_t>(got) < m_incoming.size() && !m_send.Pending()) {
                m_drainUnconfirmed = true;
                return;
            }
            continue;
        }
        if (error == EINTR) {
            continue;
        }
        // Raw mode without a minimum count reads 0 bytes from an empty queue, as a hung-up line
        // does; the wait's hang-up flags tell the two apart.
        if (got == 0 || error == EAGAIN || error == EWOULDBLOCK) {
            return;
        }
        const std::string text =
            PortWarningText("ReadFile()", SystemErrorText(error), m_portNumber.load());
        if (IsHangUpError(error)) {
            m_portDead = true;
            DeliverError(text);
            return;
        }
        if (lastReadFailed) {
            m_portDead = true;
            return;
        }
        lastReadFailed = true;
        DeliverError(text);
    }
}

void CSerialPort::Engine::DeliverError(const std::string& text) {
    if (m_owner != nullptr) {
        m_owner->OnPortError(text, m_portNumber.load());
    }
}

}  // namespace kestro
