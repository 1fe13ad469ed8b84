#pragma once
// The Windows port engine: "\\.\COMn" opened exclusively for overlapped I/O, one port thread
// that waits on the stop event, the port's event wait and the send event (in that order of
// precedence, a pending send first of all), reads what is waiting and delivers it byte by byte.
// Included through serial/CSerialPort.h; free of <windows.h> so that its macros never reach
// the code that owns an engine.

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
#include "serial/win32/WinHandle.h"

namespace kestro {

// The gap after which a read of several bytes returns what it has.
inline constexpr int kReadIntervalMs = 100;
// EV_RXCHAR, EV_RXFLAG, EV_CTS, EV_BREAK, EV_ERR and EV_RING.
inline constexpr unsigned long kWatchedEvents = 0x01CB;
inline constexpr const char* kLineDefinition = "baud=%d parity=%c data=%d stop=%d xon=off";

class CSerialPort final : public IPortEngine {
  public:
    CSerialPort();
    ~CSerialPort() override;
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;

    bool OpenPort(IPortOwner* owner, int portNumber) override;
    bool StartPortThread() override;
    void ClosePort() override;
    int PortNumber() const override { return m_portNumber.load(); }
    std::string LastOpenError() const override;
    void HandOff(const std::uint8_t* bytes, std::size_t length) override;

    // The cable's port by its USB instance identifier, from the system's device registry:
    // n >= 1 found, 0 found without a port number, -1 not found.
    static int FindUsbPortNumber(const char* instanceId);

  private:
    // What woke the port thread: the index of the lowest signalled wait handle, or nothing.
    enum class Wake { Stop = 0, PortActivity = 1, Send = 2, Nothing = 3 };
    // The system's records (overlapped I/O, time-outs, line configuration); defined with the
    // engine so that this header needs no system headers.
    struct OsRecords;

    // Events of the three-way wait and of the reads and writes: each reset when it exists,
    // created otherwise. False when the system refuses one.
    bool PrepareEvents();
    // Opening steps from the device name to the purge, with m_portLock held. Returns 0 on
    // success, else the system error, with `failedStep` naming what failed.
    unsigned long OpenDevice(int portNumber, std::string& failedStep);
    void StopPortThread();
    void PortThreadProc();
    // Arms the port's event wait unless one is armed already (see the .cpp for why a wait that
    // completes at once without input is armed again before the thread waits).
    void ArmEventWait();
    void ServePortActivity();
    bool TakeSend();
    void PerformSend();
    void DrainInput();
    // Builds the warning text for `error`; delivered after m_portLock is released.
    std::string ReportPortError(const char* operationName, unsigned long error) const;
    void DeliverError(const std::string& text);
    bool StopSignalled() const;
    void CloseDeviceLocked();

    // The send hand-off: the requester places its frame in the slot under m_sendLock (held for
    // a copy of at most 256 bytes, never while the port is touched), then signals the event.
    std::mutex m_sendLock;
    SendSlot m_send;
    std::thread m_portThread;
    std::mutex m_portLock;
    std::atomic<int> m_threadRunning{0};
    WinHandle m_hStopEvent;
    WinHandle m_hPort;
    WinHandle m_hSendEvent;
    std::array<void*, 3> m_waitHandles{};
    std::unique_ptr<OsRecords> m_os;
    IPortOwner* m_owner = nullptr;
    std::atomic<int> m_portNumber{0};
    // Port thread only: the frame it writes, and what one read brings in.
    std::array<std::uint8_t, kSendBufferSize> m_outgoing{};
    std::size_t m_outgoingLength = 0;
    std::array<std::uint8_t, 512> m_incoming{};
    // Port thread only: an event wait is outstanding on m_hPort.
    bool m_waitArmed = false;

    mutable std::mutex m_errorLock;
    std::string m_lastOpenError;
};

}  // namespace kestro
