#include "radio/posix/PtyRadioServer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <vector>

namespace kestro {

namespace {

using SteadyClock = std::chrono::steady_clock;

struct Outgoing {
    SteadyClock::time_point due;
    std::vector<std::uint8_t> bytes;
};

// Reply bytes that may wait for a client that does not read. Past this the radio drops new
// replies, as a real one would lose them in its full transmit buffer; memory stays bounded
// whatever a client writes.
constexpr std::size_t kMaxQueuedReplyBytes = 64 * 1024;

// The cable's USB bridge passes received bytes on to the PC in packets; at most what the line
// carries in one 1 ms USB frame (7 bytes at 76 800 bit/s) goes into one.
constexpr std::size_t kUsbPacketBytes =
    static_cast<std::size_t>(kLineBitsPerSecond / kBitsPerByte / 1000);
static_assert(kUsbPacketBytes >= 1);

std::string Describe(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

bool SetFlags(int fd, int statusFlags) {
    const int current = ::fcntl(fd, F_GETFL);
    return current >= 0 && ::fcntl(fd, F_SETFL, current | statusFlags) == 0 &&
           ::fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

// Raw mode by hand (cfmakeraw is not POSIX): no echo, no line editing, no translation.
bool MakeRaw(int fd) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        return false;
    }
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                          ICRNL | IXON | IXOFF);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

// How long the line may sleep: until the next reply byte is due (to the microsecond, since paced
// bytes are 130 us apart), or without limit (nullptr) when nothing is queued.
const timespec* PollTimeout(const std::deque<Outgoing>& queue, timespec& storage) {
    if (queue.empty()) {
        return nullptr;  // only a request or the stop pipe can give us work
    }
    const auto wait = std::max(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                   queue.front().due - SteadyClock::now()),
                               std::chrono::nanoseconds{0});
    storage.tv_sec = static_cast<time_t>(wait.count() / 1000000000);
    storage.tv_nsec = static_cast<long>(wait.count() % 1000000000);
    return &storage;
}

}  // namespace

PtyRadioServer::UniqueFd& PtyRadioServer::UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        Reset();
        m_fd = other.Release();
    }
    return *this;
}

int PtyRadioServer::UniqueFd::Release() {
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

void PtyRadioServer::UniqueFd::Reset() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

PtyRadioServer::PtyRadioServer(SimRadioConfig config) : m_radio(std::move(config)) {}

PtyRadioServer::~PtyRadioServer() { Stop(); }

bool PtyRadioServer::Start(std::string* error) {
    Stop();
    const auto fail = [error](std::string reason) {
        if (error != nullptr) {
            *error = std::move(reason);
        }
        return false;
    };
    {
        std::lock_guard lock(m_radioMutex);
        if (m_radio.CableLost()) {
            m_radio.Reconnect();
        }
    }
    Line line;
    line.master = UniqueFd(::posix_openpt(O_RDWR | O_NOCTTY));
    if (line.master.Get() < 0) {
        return fail(Describe("posix_openpt"));
    }
    if (::grantpt(line.master.Get()) != 0 || ::unlockpt(line.master.Get()) != 0) {
        return fail(Describe("grantpt/unlockpt"));
    }
    const char* name = ::ptsname(line.master.Get());  // only this thread opens terminals here
    if (name == nullptr) {
        return fail(Describe("ptsname"));
    }
    std::string path = name;
    line.slave = UniqueFd(::open(path.c_str(), O_RDWR | O_NOCTTY));
    if (line.slave.Get() < 0) {
        return fail(Describe(("open " + path).c_str()));
    }
    if (!MakeRaw(line.slave.Get())) {
        return fail(Describe("tcsetattr"));
    }
    if (!SetFlags(line.master.Get(), O_NONBLOCK) || !SetFlags(line.slave.Get(), 0)) {
        return fail(Describe("fcntl"));
    }
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        return fail(Describe("pipe"));
    }
    line.stopRead = UniqueFd(pipeFds[0]);
    m_stopWrite = UniqueFd(pipeFds[1]);
    // The thread closes its read end when the line hangs up; this copy keeps the pipe whole
    // until Stop(), so that waking a thread that has already gone is no broken pipe (SIGPIPE).
    m_stopReadKeep = UniqueFd(::dup(pipeFds[0]));
    if (!SetFlags(pipeFds[0], O_NONBLOCK) || !SetFlags(pipeFds[1], O_NONBLOCK)) {
        m_stopWrite.Reset();
        return fail(Describe("fcntl"));
    }
    m_slavePath = std::move(path);
    m_hungUp = false;
    m_thread = std::thread([this, l = std::move(line)]() mutable { Serve(std::move(l)); });
    return true;
}

void PtyRadioServer::Stop() {
    if (m_stopWrite.Get() >= 0) {
        const std::uint8_t wake = 1;
        // A full pipe already wakes the thread, so a failed write needs no handling.
        [[maybe_unused]] const ssize_t written = ::write(m_stopWrite.Get(), &wake, 1);
    }
    if (m_thread.joinable()) {
        m_thread.join();
    }
    m_stopWrite.Reset();
    m_stopReadKeep.Reset();
}

void PtyRadioServer::Serve(Line line) {
    // Paced bytes are 130 us apart; the default timer slack (50 us) would make every reply late.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    const int master = line.master.Get();
    std::deque<Outgoing> queue;
    std::size_t queuedBytes = 0;
    // Paced bytes follow each other on the one line, so a new reply waits for the last byte.
    SteadyClock::time_point lineFreeAt{};
    // The same for the kit's direction: a paced radio hears a request only once its last byte
    // has crossed the wire, although the pseudo-terminal hands it over at once.
    SteadyClock::time_point requestLineFreeAt{};
    std::array<std::uint8_t, 256> buffer{};

    while (true) {
        pollfd fds[2] = {{master, POLLIN, 0}, {line.stopRead.Get(), POLLIN, 0}};
        if (!queue.empty() && queue.front().due <= SteadyClock::now()) {
            fds[0].events |= POLLOUT;
        }
        timespec timeout{};
        const int ready = ::ppoll(fds, 2, fds[0].events & POLLOUT ? nullptr : PollTimeout(queue, timeout),
                                  nullptr);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[1].revents != 0) {
            return;
        }
        // We hold the slave open, so a hang-up here means the line itself is gone.
        if ((fds[0].revents & (POLLERR | POLLNVAL)) != 0 ||
            (fds[0].revents & (POLLHUP | POLLIN)) == POLLHUP) {
            return;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            const ssize_t got = ::read(master, buffer.data(), buffer.size());
            if (got < 0 && errno != EAGAIN && errno != EINTR) {
                return;
            }
            if (got > 0) {
                auto heardAt = SteadyClock::now();
                const std::span<const std::uint8_t> chunk(buffer.data(),
                                                          static_cast<std::size_t>(got));
                if (m_trace) {
                    m_trace(Direction::ToRadio, chunk);
                }
                std::vector<SimReply> replies;
                bool pace = false;
                bool cableLost = false;
                {
                    std::lock_guard lock(m_radioMutex);
                    pace = m_radio.Config().pace;
                    if (pace) {
                        heardAt = std::max(heardAt, requestLineFreeAt) +
                                  PacedByteOffset(static_cast<std::size_t>(got) - 1);
                        requestLineFreeAt = heardAt;
                    }
                    // The steady clock is the radio's own: it times the restart in real time.
                    replies = m_radio.Feed(chunk, std::chrono::duration_cast<std::chrono::microseconds>(
                                                      heardAt.time_since_epoch()));
                    cableLost = m_radio.CableLost();
                }
                if (cableLost) {
                    // Closing the master is the hang-up the client sees; the flag is set first,
                    // so that whoever sees the hang-up also finds it reported here.
                    m_hungUp = true;
                    line.master.Reset();
                    line.slave.Reset();
                    return;
                }
                for (SimReply& reply : replies) {
                    if (queuedBytes + reply.bytes.size() > kMaxQueuedReplyBytes) {
                        continue;
                    }
                    queuedBytes += reply.bytes.size();
                    const auto start = heardAt + reply.delay;
                    if (!pace) {
                        queue.push_back({start, std::move(reply.bytes)});
                        continue;
                    }
                    // Each packet goes out once its last byte has crossed the line: no byte
                    // arrives early, and the PC wakes once per packet rather than per byte.
                    const auto base = std::max(start, lineFreeAt);
                    for (std::size_t first = 0; first < reply.bytes.size();
                         first += kUsbPacketBytes) {
                        const std::size_t end =
                            std::min(reply.bytes.size(), first + kUsbPacketBytes);
                        queue.push_back({base + PacedByteOffset(end - 1),
                                         {reply.bytes.begin() + static_cast<std::ptrdiff_t>(first),
                                          reply.bytes.begin() + static_cast<std::ptrdiff_t>(end)}});
                    }
                    if (!reply.bytes.empty()) {
                        lineFreeAt = base + PacedByteOffset(reply.bytes.size() - 1);
                    }
                }
                // Late replies may be due after later ones; the line sends in time order.
                std::stable_sort(
                    queue.begin(), queue.end(),
                    [](const Outgoing& a, const Outgoing& b) { return a.due < b.due; });
            }
        }
        const auto now = SteadyClock::now();
        while (!queue.empty() && queue.front().due <= now) {
            Outgoing& next = queue.front();
            const ssize_t put = ::write(master, next.bytes.data(), next.bytes.size());
            if (put < 0) {
                if (errno == EAGAIN || errno == EINTR) {
                    break;  // the client is not reading; POLLOUT tells when there is room
                }
                return;
            }
            if (m_trace && put > 0) {
                m_trace(Direction::FromRadio, {next.bytes.data(), static_cast<std::size_t>(put)});
            }
            queuedBytes -= static_cast<std::size_t>(put);
            next.bytes.erase(next.bytes.begin(), next.bytes.begin() + put);
            if (!next.bytes.empty()) {
                break;
            }
            queue.pop_front();
        }
    }
}

}  // namespace kestro
