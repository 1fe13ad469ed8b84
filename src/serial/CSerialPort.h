#pragma once
// The serial port engine: opens the cable's port at 76 800 bit/s 8N1, runs one port thread that
// hands every received byte to its owner, one at a time and in order, and writes the frames the
// requester hands off, each after a purge of both queues; its thread is stopped by a handshake.
// The thread waits on the stop event, the port and the send event at once, a pending send first
// of all, then a stop, then received bytes. Each platform has its back end (posix/, win32/) and
// its own private part below; neither brings system headers in, so that their macros never
// reach the code that owns an engine.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "protocol/PortEngine.h"
#include "serial/PortEngineShared.h"
#if defined(_WIN32)
#include "serial/win32/WinHandle.h"
#else
#include "serial/posix/PortEvent.h"
#endif

namespace kestro {

#if defined(_WIN32)
// The gap after which a read of several bytes returns what it has.
inline constexpr int kReadIntervalMs = 100;
// EV_RXCHAR, EV_RXFLAG, EV_CTS, EV_BREAK, EV_ERR and EV_RING.
inline constexpr unsigned long kWatchedEvents = 0x01CB;
inline constexpr const char* kLineDefinition = "baud=%d parity=%c data=%d stop=%d xon=off";
#endif

class CSerialPort final : public IPortEngine {
public:
    CSerialPort();
    ~CSerialPort() override;
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;

    bool OpenPort(IPortOwner* owner, int portNumber) override;
#if !defined(_WIN32)
    // A device path is opened as it is, without a port number of its own; messages name the
    // port as the target does.
    bool OpenTarget(IPortOwner* owner, const PortTarget& target) override;
#endif
    // Whether a named port that cannot be opened is replaced by the cable found by its USB
    // lookup (the default, as the window does). Off, the named port alone is tried.
    void SetCableFallback(bool enabled) { m_cableFallback = enabled; }
    bool StartPortThread() override;
    void ClosePort() override;
    int PortNumber() const override { return m_portNumber.load(); }
    std::string LastOpenError() const override;
    int AutomaticPortNumber() const override;
    void HandOff(const std::uint8_t* bytes, std::size_t length) override;

    // The cable's port by its USB instance identifier, looked up in the system's device tree
    // (DefaultSysfsRoot() on Linux, the registry on Windows): n >= 1 found, 0 found without a
    // port number, -1 not found.
    static int FindUsbPortNumber(const char* instanceId);

private:
    void StopPortThread();
    void PortThreadProc();
    void DrainInput();
    void DeliverError(const std::string& text);

    std::thread m_portThread;
    std::atomic<int> m_threadRunning{0};
    std::mutex m_portLock;
    IPortOwner* m_owner = nullptr;
    std::atomic<int> m_portNumber{0};
    SendSlot m_send;
    // Port thread only: the frame it writes, and what one read brings in.
    std::array<std::uint8_t, kSendBufferSize> m_outgoing{};
    std::array<std::uint8_t, 512> m_incoming{};
    mutable std::mutex m_errorLock;
    std::string m_lastOpenError;
    // A port that cannot be opened may be replaced by the cable's port, found by its USB lookup.
    bool m_cableFallback = true;

#if defined(_WIN32)
    // What woke the port thread: the index of the lowest signalled wait handle, or nothing.
    enum class Wake { Stop = 0, PortActivity = 1, Send = 2, Nothing = 3 };
    // The system's records (overlapped I/O, time-outs, line configuration): win32/OsRecords.h.
    struct OsRecords;

    // Events of the three-way wait and of the reads and writes: each reset when it exists,
    // created otherwise. False when the system refuses one.
    bool PrepareEvents();
    // Opening steps from the device name to the purge, with m_portLock held. Returns 0 on
    // success, else the system error, with `failedStep` naming what failed.
    unsigned long OpenDevice(int portNumber, std::string& failedStep);
    // Arms the port's event wait unless one is armed already (see PortThread.cpp for why a wait
    // that completes at once without input is armed again before the thread waits).
    void ArmEventWait();
    void ServePortActivity();
    bool TakeSend();
    void PerformSend();
    // Builds the warning text for `error`; delivered after m_portLock is released.
    std::string ReportPortError(const char* operationName, unsigned long error) const;
    bool StopSignalled() const;
    void CloseDeviceLocked();

    // The requester places its frame in m_send under m_sendLock (held for a copy of at most 256
    // bytes, never while the port is touched), then signals the send event.
    std::mutex m_sendLock;
    WinHandle m_hStopEvent;
    WinHandle m_hPort;
    WinHandle m_hSendEvent;
    std::array<void*, 3> m_waitHandles{};
    std::unique_ptr<OsRecords> m_os;
    std::size_t m_outgoingLength = 0;
    // Port thread only: an event wait is outstanding on m_hPort.
    bool m_waitArmed = false;
#else
    // Gives up the descriptor, first lifting the exclusive mode: a tty that stays in use
    // elsewhere (a pseudo-terminal whose other side is open) would otherwise keep refusing every
    // program but root's.
    void ReleasePort();
    // With m_portLock held: purges both queues, then writes the frame.
    void WriteFrameLocked(const std::uint8_t* bytes, std::size_t length);
    // With m_portLock held: received bytes are waiting to be read.
    bool InputWaitingLocked() const;
    void FrameWritten();

    // The send hand-off. Whoever holds m_portLock owns the port and m_send. While the port
    // thread sits in its wait (m_waiting), the requester writes its frame itself: the port thread
    // would take it first anyway, and waking it would add a thread switch to every exchange. At
    // any other time the frame goes into m_send, which the port thread empties before it waits;
    // a frame handed off during a drain therefore goes out once the drain is over.
    bool m_waiting = false;
    PortHandle m_hPort;
    PortEvent m_hStopEvent;
    PortEvent m_hSendEvent;
    // Port thread only: set once the line has hung up, when it stops watching the port.
    bool m_portDead = false;
    // Port thread only: the last drain ended on a read that took less than it could, so bytes
    // may have come since.
    bool m_drainUnconfirmed = false;
#endif
};

}  // namespace kestro
