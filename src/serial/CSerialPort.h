#pragma once
// The serial port engine: opens the cable's port at 76 800 bit/s 8N1, runs one port thread that
// hands every received byte to its owner and performs the sends handed over by the requester,
// and stops that thread by a handshake. OS calls live in the back end (posix/).

#if defined(_WIN32)
#include "serial/win32/CSerialPort.h"
#else

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "protocol/PortEngine.h"

namespace kestro {

inline constexpr std::size_t kSendBufferSize = 256;
inline constexpr unsigned kLineRate = 76800;
// Time-outs of the line: a one-byte read may take 2 ms per byte plus 100 ms, a send 100 ms.
inline constexpr int kReadTotalMultiplierMs = 2;
inline constexpr int kReadTotalConstantMs = 100;
inline constexpr int kWriteTotalConstantMs = 100;

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
// stays set until reset, and its descriptor polls readable meanwhile.
class PortEvent {
public:
    PortEvent() = default;
    PortEvent(const PortEvent&) = delete;
    PortEvent& operator=(const PortEvent&) = delete;

    bool Create();  // false when the system refuses the descriptors
    bool Exists() const { return m_readEnd.IsOpen(); }
    void Set();
    void Reset();
    bool IsSet() const;
    int PollHandle() const { return m_readEnd.Get(); }

private:
    PortHandle m_readEnd;
    PortHandle m_writeEnd;
};

class CSerialPort final : public IPortEngine {
public:
    CSerialPort();
    ~CSerialPort() override;
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;

    bool OpenPort(IPortOwner* owner, int portNumber) override;
    // Whether a named port that cannot be opened is replaced by the cable found by its USB
    // lookup (the default, as the window does). Off, the named port alone is tried.
    void SetCableFallback(bool enabled) { m_cableFallback = enabled; }
    bool StartPortThread() override;
    void ClosePort() override;
    int PortNumber() const override { return m_portNumber.load(); }
    std::string LastOpenError() const override;
    void HandOff(const std::uint8_t* bytes, std::size_t length) override;

    // The cable's port by its USB instance identifier, looked up under DefaultSysfsRoot():
    // n >= 1 found, 0 found without a port number, -1 not found.
    static int FindUsbPortNumber(const char* instanceId);

private:
    enum WaitResult { WAIT_STOP = 0, WAIT_PORT = 1, WAIT_SEND = 2, WAIT_FAILED = 3 };

    void StopPortThread();
    // Gives up the descriptor, first lifting the exclusive mode: a tty that stays in use
    // elsewhere (a pseudo-terminal whose other side is open) would otherwise keep refusing every
    // program but root's.
    void ReleasePort();
    void PortThreadProc();
    // Takes a pending send: copies the frame out of the hand-off buffer and clears the flag.
    bool TakeSend();
    void PerformSend();
    void DrainInput();
    // Reading one byte: true with `byte` set when one came; false otherwise, with `error` set
    // to a system error number when the read failed (0 when it merely timed out).
    bool ReadOneByte(std::uint8_t& byte, int& error);
    // Builds the warning text with m_portLock held; the caller delivers it after releasing.
    std::string ReportPortError(const char* operationName, int error) const;
    void DeliverError(const std::string& text);

    // The send hand-off: the requester writes buffer, length and flag, then signals the event.
    // m_sendLock guards only buffer, length and flag against the port thread copying them out,
    // so a frame handed off while the previous one is still being written can never be torn;
    // it is held for a copy of at most 256 bytes and never while the port is touched.
    std::atomic<int> m_sendRequested{0};
    std::thread m_portThread;
    std::mutex m_portLock;
    std::atomic<int> m_threadRunning{0};
    PortEvent m_hStopEvent;
    PortHandle m_hPort;
    PortEvent m_hSendEvent;
    IPortOwner* m_owner = nullptr;
    std::atomic<int> m_portNumber{0};
    std::mutex m_sendLock;
    std::unique_ptr<std::uint8_t[]> m_sendBuffer;
    int m_sendLength = 0;
    // The port thread's copy of the frame it is writing.
    std::array<std::uint8_t, kSendBufferSize> m_outgoing{};
    std::size_t m_outgoingLength = 0;

    // Set by the port thread once the line has hung up: it then stops watching the port.
    bool m_portDead = false;
    bool m_cableFallback = true;
    mutable std::mutex m_errorLock;
    std::string m_lastOpenError;
};

}  // namespace kestro

#endif  // _WIN32
