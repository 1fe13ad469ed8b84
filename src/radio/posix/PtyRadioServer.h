#pragma once
// The simulated radio behind a pseudo-terminal: the slave side looks like the cable's serial
// port to any program (the kit's real serial engine included), and a thread of its own answers
// the requests written to it at their real-time delays. A lost cable closes the line.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <thread>

#include "radio/SimRadio.h"

namespace kestro {

class PtyRadioServer {
  public:
    enum class Direction { ToRadio, FromRadio };
    // Called on the server thread with each chunk read from or written to the line.
    using Trace = std::function<void(Direction, std::span<const std::uint8_t>)>;

    explicit PtyRadioServer(SimRadioConfig config = {});
    ~PtyRadioServer();
    PtyRadioServer(const PtyRadioServer&) = delete;
    PtyRadioServer& operator=(const PtyRadioServer&) = delete;

    // Opens a new pseudo-terminal and starts serving it. After Stop() or a hang-up it starts
    // again on a new pseudo-terminal with the same radio, its cable plugged back in. On failure
    // returns false and puts the reason into `error` when given.
    bool Start(std::string* error = nullptr);
    // Ends the thread and closes the line. Safe to call twice.
    void Stop();

    // The path a client opens ("/dev/pts/5"); empty before the first Start.
    const std::string& SlavePath() const { return m_slavePath; }
    // True once the radio lost its cable and the line was hung up.
    bool HungUp() const { return m_hungUp.load(); }
    // Set before Start().
    void SetTrace(Trace trace) { m_trace = std::move(trace); }

    // Runs `action` on the radio, excluding the server thread meanwhile.
    template <typename Action>
    decltype(auto) WithRadio(Action&& action) {
        std::lock_guard lock(m_radioMutex);
        return std::forward<Action>(action)(m_radio);
    }

  private:
    // Owns one file descriptor; closes it when replaced or destroyed.
    class UniqueFd {
      public:
        UniqueFd() = default;
        explicit UniqueFd(int fd) : m_fd(fd) {}
        UniqueFd(UniqueFd&& other) noexcept : m_fd(other.Release()) {}
        UniqueFd& operator=(UniqueFd&& other) noexcept;
        UniqueFd(const UniqueFd&) = delete;
        UniqueFd& operator=(const UniqueFd&) = delete;
        ~UniqueFd() { Reset(); }
        int Get() const { return m_fd; }
        int Release();
        void Reset();

      private:
        int m_fd = -1;
    };
    struct Line {
        UniqueFd master;
        UniqueFd slave;  // kept open so the line survives clients coming and going
        UniqueFd stopRead;
    };

    void Serve(Line line);

    SimRadio m_radio;
    std::mutex m_radioMutex;
    Trace m_trace;
    std::string m_slavePath;
    std::atomic<bool> m_hungUp{false};
    UniqueFd m_stopWrite;
    UniqueFd m_stopReadKeep;
    std::thread m_thread;
};

}  // namespace kestro
