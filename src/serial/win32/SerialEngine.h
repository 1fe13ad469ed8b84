#pragma once
// The Windows back end's state and port thread, behind CSerialPort: the port's handle, the events
// of the three-way wait and the system's records for overlapped I/O (win32/OsRecords.h). Only the
// engine's own files include it.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "serial/CSerialPort.h"
#include "serial/PortEngineShared.h"
#include "serial/PortOpening.h"
#include "serial/win32/WinHandle.h"

namespace kestro {

// The gap after which a read of several bytes returns what it has.
inline constexpr int kReadIntervalMs = 100;
// EV_RXCHAR, EV_RXFLAG, EV_CTS, EV_BREAK, EV_ERR and EV_RING.
inline constexpr unsigned long kWatchedEvents = 0x01CB;
inline constexpr const char* kLineDefinition = "baud=%d parity=%c data=%d stop=%d xon=off";

class CSerialPort::Engine : public PortEngineState {
public:
    Engine();
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // The target as this platform opens it: by its COM number.
    static PortTarget AsOpened(const PortTarget& target);
    // One port of an open (PortOpening tries them): the events ready, the device opened and
    // set up; the owner changed only once the port thread has stopped.
    AttemptResult OpenOne(IPortOwner* owner, const PortAttempt& port);
    bool StartPortThread();
    void ClosePort();
    void HandOff(const std::uint8_t* bytes, std::size_t length);


    // The system's records (overlapped I/O, time-outs, line configuration): win32/OsRecords.h.
    struct OsRecords;

private:
    // What woke the port thread: the index of the lowest signalled wait handle, or nothing.
    enum class Wake { Stop = 0, PortActivity = 1, Send = 2, Nothing = 3 };

    void StopPortThread();
    void PortThreadProc();
    void DrainInput();
    void DeliverError(const std::string& text);
    // Events of the three-way wait and of the reads and writes: each reset when it exists,
    // created otherwise. False when the system refuses one.
    bool PrepareEvents();
    // Opening steps from the device name to the purge, with m_portLock held. Returns 0 on
    // success, else the system error, with `failedStep` naming what failed.
    unsigned long OpenDevice(const std::string& device, std::string& failedStep);
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
};

}  // namespace kestro
