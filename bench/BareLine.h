#pragma once
// The simplest client a paced simulated line can have, for the benchmarks' floor: one thread,
// blocking reads, each request written as its reply ends, no pauses. Its time over the wire
// time is what the pseudo-terminal and the simulated radio's wake-ups cost on this machine.

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "radio/posix/PtyRadioServer.h"

namespace kestro::bench {

// The run's exchanges as the simulated radio saw them: each request's bytes and how many reply
// bytes followed it. Filled on the server thread, read once the run is over.
struct Exchange {
    std::vector<std::uint8_t> request;
    std::size_t replyBytes = 0;
};

class ExchangeLog {
public:
    void Note(PtyRadioServer::Direction direction, std::span<const std::uint8_t> bytes) {
        std::lock_guard lock(m_lock);
        if (direction == PtyRadioServer::Direction::ToRadio) {
            if (m_exchanges.empty() || m_exchanges.back().replyBytes != 0) m_exchanges.emplace_back();
            m_exchanges.back().request.insert(m_exchanges.back().request.end(), bytes.begin(), bytes.end());
        } else if (!m_exchanges.empty()) {
            m_exchanges.back().replyBytes += bytes.size();
        }
    }
    std::vector<Exchange> Take() {
        std::lock_guard lock(m_lock);
        return std::move(m_exchanges);
    }

private:
    std::mutex m_lock;
    std::vector<Exchange> m_exchanges;
};

// Replays `exchanges` on a fresh paced radio as fast as its line allows. Returns the seconds it
// took and the bytes that crossed the line, or a negative time when a request or its reply did
// not cross whole.
inline std::pair<double, std::size_t> ReplayOnBareLine(const SimRadioConfig& config,
                                                const std::vector<Exchange>& exchanges) {
    PtyRadioServer server(config);
    std::string error;
    if (!server.Start(&error)) {
        std::fprintf(stderr, "cannot serve the radio: %s\n", error.c_str());
        return {-1.0, 0};
    }
    const int fd = ::open(server.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return {-1.0, 0};
    termios settings{};
    ::tcgetattr(fd, &settings);
    ::cfmakeraw(&settings);
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    ::tcsetattr(fd, TCSANOW, &settings);
    std::vector<std::uint8_t> reply(4096);
    std::size_t bytes = 0;
    const auto started = std::chrono::steady_clock::now();
    for (const Exchange& exchange : exchanges) {
        bool whole = ::write(fd, exchange.request.data(), exchange.request.size()) ==
                     static_cast<ssize_t>(exchange.request.size());
        bytes += exchange.request.size();
        for (std::size_t got = 0; whole && got < exchange.replyBytes;) {
            pollfd readable{fd, POLLIN, 0};
            const ssize_t n = ::poll(&readable, 1, 2000) == 1
                                  ? ::read(fd, reply.data(), std::min(reply.size(), exchange.replyBytes - got))
                                  : -1;
            whole = n > 0;
            got += whole ? static_cast<std::size_t>(n) : 0;
        }
        if (!whole) {
            ::close(fd);
            return {-1.0, bytes};
        }
        bytes += exchange.replyBytes;
    }
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    ::close(fd);
    return {took, bytes};
}

}  // namespace kestro::bench
