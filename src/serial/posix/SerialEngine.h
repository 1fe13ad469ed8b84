#pragma once
// The POSIX back end's state and port thread, behind CSerialPort: the descriptor, its lock and the
// events of the three-way wait. Only the engine's own files include it.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "serial/CSerialPort.h"
#include "serial/PortEngineShared.h"
#include "serial/PortOpening.h"
#include "serial/posix/PortEvent.h"

namespace kestro {

class CSerialPort::Engine : public PortEngineState {
public:
    Engine() = default;
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // The target as this platform opens it: as it is.
    static PortTarget AsOpened(const PortTarget& target) { return target; }
    // One port of an open (PortOpening tries them): the events ready, the device opened and
    // set up; the owner changed only once the port thread has stopped.
    AttemptResult OpenOne(IPortOwner* owner, const PortAttempt& port);
    bool StartPortThread();
    void ClosePort();
    void HandOff(const std::uint8_t* bytes, std::size_t length);


private:
    void StopPortThread();
    void PortThreadProc();
    void DrainInput();
    void DeliverError(const std::string& text);
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
};

}  // namespace kestro
