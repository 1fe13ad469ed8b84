#pragma once
// Descriptors and pollable manual-reset events for the POSIX port thread.

#include <atomic>

namespace kestro {

// An owned descriptor, closed when replaced or destroyed.
class PortHandle {
public:
    PortHandle() = default;
    explicit PortHandle(int fd) : m_fd(fd) {}
    PortHandle(const PortHandle&) = delete;
    PortHandle& operator=(const PortHandle&) = delete;
    ~PortHandle() { Reset(); }

    void Reset(int fd = -1);
    int Get() const { return m_fd; }
    bool IsOpen() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

// A manual-reset event that the port thread can wait on together with the port: once set it
// stays set until reset, and its descriptor polls readable meanwhile. IsSet() costs no system
// call, so the port thread may ask it before every byte it delivers.
class PortEvent {
public:
    PortEvent() = default;
    PortEvent(const PortEvent&) = delete;
    PortEvent& operator=(const PortEvent&) = delete;

    bool Create();  // false when the system refuses the descriptors
    bool Exists() const { return m_readEnd.IsOpen(); }
    void Set();
    void Reset();
    bool IsSet() const { return m_set.load(); }
    int PollHandle() const { return m_readEnd.Get(); }

private:
    PortHandle m_readEnd;
    PortHandle m_writeEnd;
    std::atomic<bool> m_set{false};
};

}  // namespace kestro
