#pragma once
// The POSIX port engine. Included through serial/CSerialPort.h.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "protocol/PortEngine.h"
#include "serial/PortEngineShared.h"
#include "serial/posix/PortEvent.h"

namespace kestro {

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

    // The cable's port by its USB instance identifier, looked up under DefaultSysfsRoot():
    // n >= 1 found, 0 found without a port number, -1 not found.
    static int FindUsbPortNumber(const char* instanceId);

private:
    void StopPortThread();
    // Gives up the descriptor, first lifting the exclusive mode: a tty that stays in use
    // elsewhere (a pseudo-terminal whose other side is open) would otherwise keep refusing every
    // program but root's.
    void ReleasePort();
    void PortThreadProc();
    // With m_portLock held: purges both queues, then writes the frame.
    void WriteFrameLocked(const std::uint8_t* bytes, std::size_t length);
    // With m_portLock held: received bytes are waiting to be read.
    bool InputWaitingLocked() const;
    void FrameWritten();
    void DrainInput();
    void DeliverError(const std::string& text);

    // The send hand-off. Whoever holds m_portLock owns the port and the slot. While the port
    // thread sits in its wait (m_waiting), the requester writes its frame itself: the port thread
    // would take it first anyway, and waking it would add a thread switch to every exchange. At
    // any other time the frame goes into the slot, which the port thread empties before it
    // waits; a frame handed off during a drain therefore goes out once the drain is over.
    std::mutex m_portLock;
    bool m_waiting = false;
    SendSlot m_send;
    PortHandle m_hPort;
    // Set by the port thread once the line has hung up: it then stops watching the port.
    bool m_portDead = false;

    std::thread m_portThread;
    std::atomic<int> m_threadRunning{0};
    PortEvent m_hStopEvent;
    PortEvent m_hSendEvent;
    IPortOwner* m_owner = nullptr;
    std::atomic<int> m_portNumber{0};
    // Port thread only: the last drain ended on a read that took less than it could, so bytes
    // may have come since.
    bool m_drainUnconfirmed = false;
    // Port thread only: the frame it writes, and what one read brings in.
    std::array<std::uint8_t, kSendBufferSize> m_outgoing{};
    std::array<std::uint8_t, 512> m_incoming{};

    mutable std::mutex m_errorLock;
    std::string m_lastOpenError;
};

}  // namespace kestro
