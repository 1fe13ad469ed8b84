// The POSIX back end of the port engine. The three-way wait is one poll() on the stop event, the
// port and the send event; a pending send is taken first, then a stop, then bytes.
// Line events (break, CTS, ring, framing errors) are not reported on Linux: nothing in the kit
// acts on them, and termios offers no portable way to wait for them alongside the data.

#include "serial/CSerialPort.h"

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

#include "serial/PortDiscovery.h"
#include "serial/PortErrors.h"
#include "serial/PortNames.h"
#include "serial/posix/LineRate.h"

namespace kestro {
namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr const char* kAutomaticInstance = "0006";
constexpr const char* kFallbackInstance = "0001";

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
    // root, and any well-behaved program that locks the device the same way.
    if (::ioctl(fd, TIOCEXCL) != 0 && errno != ENOTTY && errno != EINVAL) {
        error = errno;
        ::close(fd);
        return -1;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = errno == EWOULDBLOCK ? EBUSY : errno;
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
    return posix::SetExactLineRate(fd, kLineRate);
}

}  // namespace

CSerialPort::CSerialPort() = default;

CSerialPort::~CSerialPort() {
    StopPortThread();
    std::lock_guard lock(m_portLock);
    ReleasePort();
}

int CSerialPort::FindUsbPortNumber(const char* instanceId) {
    return FindUsbPortNumberIn(DefaultSysfsRoot(), instanceId);
}

std::string CSerialPort::LastOpenError() const {
    std::lock_guard lock(m_errorLock);
    return m_lastOpenError;
}

bool CSerialPort::OpenPort(IPortOwner* owner, int portNumber) {
    auto setError = [this](std::string text) {
        std::lock_guard lock(m_errorLock);
        m_lastOpenError = std::move(text);
    };
    setError({});

    if (portNumber == 0) {
        portNumber = FindUsbPortNumber(kAutomaticInstance);
        if (portNumber < 1) {
            setError(std::string("no such device: no programming cable (USB 10C4:EA60, serial ") +
                     kAutomaticInstance + ") is connected");
            return false;
        }
    }

    std::string firstFailure;
    for (int attempt = 0; attempt < 2; ++attempt) {
        StopPortThread();
        if (!m_hStopEvent.Exists() && !m_hStopEvent.Create()) {
            setError("cannot create the port thread's events: " + SystemErrorText(errno));
            return false;
        }
        if (!m_hSendEvent.Exists() && !m_hSendEvent.Create()) {
            setError("cannot create the port thread's events: " + SystemErrorText(errno));
            return false;
        }
        m_hSendEvent.Reset();
        m_hStopEvent.Reset();
        m_owner = owner;
        {
            std::lock_guard sendLock(m_sendLock);
            m_sendRequested.store(0);
            m_sendBuffer = std::make_unique_for_overwrite<std::uint8_t[]>(kSendBufferSize);
        }
        m_portNumber.store(portNumber);

        std::unique_lock lock(m_portLock);
        ReleasePort();
        const auto device = DevicePathForPort(portNumber);
        int error = ENODEV;
        const int fd = device ? OpenExclusive(*device, error) : -1;
        if (fd >= 0) {
            m_hPort.Reset(fd);
            if (const int configError = ConfigureLine(fd); configError != 0) {
                // The port stays open (and ours) until the next OpenPort or ClosePort.
                setError("cannot configure " + PortName(portNumber) + " (" + *device +
                         ") for 76800 bit/s 8N1: " + SystemErrorText(configError));
                return false;
            }
            ::tcflush(fd, TCIOFLUSH);
            return true;
        }
        lock.unlock();

        std::string reason = device ? PortName(portNumber) + ": " + DescribeOpenFailure(error, *device)
                                    : "no such device: " + PortName(portNumber) +
                                          " names no device on this system";
        if (attempt == 1) {
            setError(firstFailure + "; the cable's port " + reason);
            return false;
        }
        firstFailure = reason;
        if (!m_cableFallback) {
            setError(firstFailure);
            return false;
        }
        portNumber = FindUsbPortNumber(kFallbackInstance);
        if (portNumber < 1) {
            setError(firstFailure);
            return false;
        }
    }
    return false;
}

bool CSerialPort::StartPortThread() {
    if (m_threadRunning.load() == 1 || !m_hStopEvent.Exists() || !m_hSendEvent.Exists()) {
        return false;
    }
    {
        // A thread on a closed port would only wait for its stop.
        std::lock_guard lock(m_portLock);
        if (!m_hPort.IsOpen()) {
            return false;
        }
    }
    if (m_portThread.joinable()) {
        m_portThread.join();  // a thread that was stopped from its own callback
    }
    m_portDead = false;
    m_threadRunning.store(1);
    try {
        m_portThread = std::thread([this] { PortThreadProc(); });
    } catch (const std::system_error&) {
        m_threadRunning.store(0);
        return false;
    }
    return true;
}

void CSerialPort::StopPortThread() {
    if (!m_portThread.joinable()) {
        return;
    }
    if (m_portThread.get_id() == std::this_thread::get_id()) {
        // Called from a callback on the port thread: it ends once the callback has returned.
        m_hStopEvent.Set();
        return;
    }
    while (m_threadRunning.load() == 1) {
        m_hStopEvent.Set();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    m_portThread.join();
}

void CSerialPort::ClosePort() {
    const bool onPortThread =
        m_portThread.joinable() && m_portThread.get_id() == std::this_thread::get_id();
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

void CSerialPort::ReleasePort() {
    if (m_hPort.IsOpen()) {
        ::ioctl(m_hPort.Get(), TIOCNXCL);
        m_hPort.Reset();
    }
}

void CSerialPort::HandOff(const std::uint8_t* bytes, std::size_t length) {
    if (bytes == nullptr || length == 0) {
        return;
    }
    {
        std::lock_guard lock(m_sendLock);
        if (m_sendBuffer == nullptr) {
            return;
        }
        length = std::min(length, kSendBufferSize);
        std::memcpy(m_sendBuffer.get(), bytes, length);
        m_sendLength = static_cast<int>(length);
        m_sendRequested.store(1);
    }
    m_hSendEvent.Set();
}

bool CSerialPort::TakeSend() {
    std::lock_guard lock(m_sendLock);
    if (m_sendRequested.exchange(0) != 1 || m_sendBuffer == nullptr) {
        return false;
    }
    m_outgoingLength = static_cast<std::size_t>(m_sendLength);
    std::memcpy(m_outgoing.data(), m_sendBuffer.get(), m_outgoingLength);
    return true;
}

void CSerialPort::PortThreadProc() {
    {
        std::lock_guard lock(m_portLock);
        if (m_hPort.IsOpen()) {
            ::tcflush(m_hPort.Get(), TCIOFLUSH);
        }
    }
    for (;;) {
        // After a hang-up the port is left out of the wait: it would report POLLHUP forever.
        const int portFd = m_portDead ? -1 : m_hPort.Get();
        pollfd handles[3] = {
            {m_hStopEvent.PollHandle(), POLLIN, 0},
            {portFd, POLLIN, 0},
            {m_hSendEvent.PollHandle(), POLLIN, 0},
        };
        WaitResult result = WAIT_FAILED;
        if (::poll(handles, 3, -1) > 0) {
            if (handles[WAIT_STOP].revents != 0) {
                result = WAIT_STOP;
            } else if (handles[WAIT_PORT].revents != 0) {
                result = WAIT_PORT;
            } else if (handles[WAIT_SEND].revents != 0) {
                result = WAIT_SEND;
            }
        }
        // The event is reset before the flag is looked at: a hand-off that comes later sets
        // the event again and wakes the next wait, so no send is ever left waiting unseen.
        m_hSendEvent.Reset();
        const bool sendTaken = TakeSend();
        if (sendTaken) {
            result = WAIT_SEND;
        }

        switch (result) {
            case WAIT_STOP: {
                std::lock_guard lock(m_portLock);
                ReleasePort();
                m_threadRunning.store(0);
                return;
            }
            case WAIT_PORT: {
                DrainInput();
                constexpr short kLineGone = POLLHUP | POLLERR | POLLNVAL;
                if (!m_portDead && (handles[WAIT_PORT].revents & kLineGone) != 0 &&
                    !m_hStopEvent.IsSet()) {
                    // Nothing is left to read, yet the line keeps signalling: it has hung up
                    // without a failing read telling us so.
                    std::string text;
                    {
                        std::lock_guard lock(m_portLock);
                        text = ReportPortError("ReadFile()", EIO);
                    }
                    m_portDead = true;
                    DeliverError(text);
                }
                break;
            }
            case WAIT_SEND:
                // Without a taken send the event merely outlived one already performed.
                if (sendTaken) {
                    PerformSend();
                }
                break;
            case WAIT_FAILED:
                break;
        }
    }
}

void CSerialPort::PerformSend() {
    std::lock_guard lock(m_portLock);
    const int fd = m_hPort.Get();
    if (fd < 0) {
        return;
    }
    ::tcflush(fd, TCIOFLUSH);
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(kWriteTotalConstantMs);
    const std::uint8_t* next = m_outgoing.data();
    std::size_t left = m_outgoingLength;
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
        const int wait = MillisecondsUntil(deadline);
        if (wait == 0) {
            return;
        }
        pollfd writable{fd, POLLOUT, 0};
        if (::poll(&writable, 1, wait) <= 0 || (writable.revents & (POLLHUP | POLLERR)) != 0) {
            return;
        }
    }
}

bool CSerialPort::ReadOneByte(std::uint8_t& byte, int& error) {
    error = 0;
    const int fd = m_hPort.Get();
    const auto deadline =
        SteadyClock::now() +
        std::chrono::milliseconds(kReadTotalMultiplierMs * 1 + kReadTotalConstantMs);
    for (;;) {
        const ssize_t got = ::read(fd, &byte, 1);
        if (got == 1) {
            return true;
        }
        if (got == 0) {
            error = EIO;  // a tty reads end-of-file only once it has hung up
            return false;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN) {
            error = errno;
            return false;
        }
        const int wait = MillisecondsUntil(deadline);
        if (wait == 0) {
            return false;  // timed out: no byte, and no failure either
        }
        pollfd readable{fd, POLLIN, 0};
        ::poll(&readable, 1, wait);
    }
}

void CSerialPort::DrainInput() {
    for (;;) {
        if (m_hStopEvent.IsSet()) {
            return;
        }
        int waiting = 0;
        {
            std::lock_guard lock(m_portLock);
            if (::ioctl(m_hPort.Get(), FIONREAD, &waiting) != 0) {
                waiting = 0;
            }
        }
        if (waiting <= 0) {
            return;
        }
        std::uint8_t byte = 0;
        int error = 0;
        bool got = false;
        std::string text;
        {
            std::lock_guard lock(m_portLock);
            got = ReadOneByte(byte, error);
            if (!got && error != 0) {
                text = ReportPortError("ReadFile()", error);
            }
        }
        if (!got) {
            if (error == 0) {
                continue;
            }
            if (IsHangUpError(error)) {
                m_portDead = true;
                DeliverError(text);
                return;
            }
            DeliverError(text);
            continue;
        }
        // A byte read after the stop was signalled can no longer reach a waiting owner.
        if (m_hStopEvent.IsSet()) {
            return;
        }
        if (m_owner != nullptr) {
            m_owner->OnSerialRxChar(byte, m_portNumber.load());
        }
    }
}

std::string CSerialPort::ReportPortError(const char* operationName, int error) const {
    return std::string("WARNING:  ") + operationName +
           " Failed with the following error: \n" + SystemErrorText(error) +
           "\nPort: " + std::to_string(m_portNumber.load()) + "\n";
}

void CSerialPort::DeliverError(const std::string& text) {
    if (m_owner != nullptr) {
        m_owner->OnPortError(text, m_portNumber.load());
    }
}

}  // namespace kestro
