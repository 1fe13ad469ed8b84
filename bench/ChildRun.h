#pragma once
// What the several-radio benchmarks share: the radios, served by the benchmark itself on
// pseudo-terminals paced at the wire's speed, and the front end under measure, run as a child
// process of the benchmark so that its CPU time and memory are its own.

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "BareLine.h"
#include "radio/posix/PtyRadioServer.h"

namespace kestro::bench {

// A radio on a paced line that answers at once.
// The radio restarts at once after the end of programming: its restart's silence is the radio's
// time, not a front end's, and the floor's bare-line replay of one radio's exchanges, which has
// no restart to wait through, could not cross it.
inline SimRadioConfig PacedRadio() {
    SimRadioConfig config;
    config.pace = true;
    config.latency = std::chrono::milliseconds{0};
    config.restart = SimMillis{0};
    return config;
}

// `n` paced radios, each counting the bytes that cross its line; the first notes its exchanges
// in `firstExchanges` when given.
class PacedRadios {
  public:
    explicit PacedRadios(int n, ExchangeLog* firstExchanges = nullptr) {
        for (int i = 0; i < n; ++i) {
            m_servers.push_back(std::make_unique<PtyRadioServer>(PacedRadio()));
            m_bytes.push_back(std::make_unique<std::atomic<std::size_t>>(0));
            ExchangeLog* log = i == 0 ? firstExchanges : nullptr;
            m_servers.back()->SetTrace(
                [count = m_bytes.back().get(), log](PtyRadioServer::Direction d,
                                                    std::span<const std::uint8_t> chunk) {
                    *count += chunk.size();
                    if (log != nullptr) log->Note(d, chunk);
                });
            std::string error;
            if (!m_servers.back()->Start(&error)) {
                std::fprintf(stderr, "cannot serve radio %d: %s\n", i, error.c_str());
                std::exit(1);
            }
            m_ports.push_back(m_servers.back()->SlavePath());
        }
    }
    const std::vector<std::string>& Ports() const { return m_ports; }
    std::size_t Bytes(std::size_t i) const { return m_bytes[i]->load(); }
    // Stops serving; the byte counts stay.
    void Stop() { m_servers.clear(); }

  private:
    std::vector<std::unique_ptr<PtyRadioServer>> m_servers;
    std::vector<std::unique_ptr<std::atomic<std::size_t>>> m_bytes;
    std::vector<std::string> m_ports;
};

// Runs this program again with `args` after its name and returns what it printed.
inline std::string RunSelf(const char* self, const std::vector<std::string>& args) {
    int out[2];
    if (::pipe(out) != 0) std::exit(1);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::close(out[0]);
        ::close(out[1]);
        std::vector<std::string> all{self};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv("/proc/self/exe", argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(n));
    ::close(out[0]);
    ::waitpid(pid, nullptr, 0);
    return text;
}

// The numbers in `text`, in order.
inline std::vector<double> Numbers(const std::string& text) {
    std::istringstream in(text);
    std::vector<double> numbers;
    for (double x; in >> x;) numbers.push_back(x);
    return numbers;
}

}  // namespace kestro::bench
