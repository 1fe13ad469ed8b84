// The Win32 back end of the port engine: opening, closing and the send hand-off. The port
// thread is in PortThread.cpp.
//
// The event wait, the reads and the writes each have an overlapped record and an event
// of their own. A send may start while the event wait is still outstanding, and the system
// writes into an operation's record until that operation completes, so one record shared by
// the three would let a completing wait signal (and overwrite the status of) a write in flight.
//
// Line events (CTS, break, ring, line errors, the flag character) are watched as the mask asks
// but not passed on: no owner acts on them, and IPortOwner has no place for them. A failed arming
// of the event wait is likewise not passed on; the thread then waits for stop and send only.

#include "serial/win32/OsRecords.h"

#include <chrono>
#include <cstdio>

#include "serial/PortErrors.h"
#include "serial/PortNames.h"

namespace kestro {
namespace {

// A manual-reset event, not signalled: reset when it exists, created otherwise.
bool PrepareEvent(WinHandle& event) {
    if (event.IsOpen()) {
        return ::ResetEvent(event.Get()) != 0;
    }
    event.Reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    return event.IsOpen();
}

}  // namespace

CSerialPort::Engine::Engine() : m_os(std::make_unique<OsRecords>()) {}

CSerialPort::Engine::~Engine() {
    StopPortThread();
    std::lock_guard lock(m_portLock);
    CloseDeviceLocked();
}

bool CSerialPort::Engine::PrepareEvents() {
    if (!PrepareEvent(m_os->m_hWaitEvent) || !PrepareEvent(m_hSendEvent) ||
        !PrepareEvent(m_hStopEvent) || !PrepareEvent(m_os->m_hReadEvent) ||
        !PrepareEvent(m_os->m_hWriteEvent)) {
        return false;
    }
    m_os->m_overlapped.hEvent = m_os->m_hWaitEvent.Get();
    m_os->m_readOverlapped.hEvent = m_os->m_hReadEvent.Get();
    m_os->m_writeOverlapped.hEvent = m_os->m_hWriteEvent.Get();
    m_waitHandles = {m_hStopEvent.Get(), m_os->m_hWaitEvent.Get(), m_hSendEvent.Get()};
    return true;
}

PortTarget CSerialPort::Engine::AsOpened(const PortTarget& target) {
    // Windows knows a port by its COM number: the device is always that number's.
    return PortTarget{target.number, {}, target.number > 0 ? PortName(target.number) : std::string{}};
}

AttemptResult CSerialPort::Engine::OpenOne(IPortOwner* owner, const PortAttempt& port) {
    StopPortThread();  // before anything the port thread reads changes
    m_owner = owner;
    if (!PrepareEvents()) {
        return {false, true, "cannot create the port thread's events: " + SystemErrorText(static_cast<int>(::GetLastError()))};
    }
    {
        std::lock_guard sendLock(m_sendLock);
        m_send.Clear();
    }
    m_portNumber.store(port.number);

    std::unique_lock lock(m_portLock);
    CloseDeviceLocked();
    std::string failedStep;
    const std::string device = DevicePathForPort(port.number).value_or(PortName(port.number));
    const unsigned long error = OpenDevice(device, failedStep);
    if (error == ERROR_SUCCESS) return {true, false, {}};
    if (m_hPort.IsOpen()) {
        // Opened but not configured: it stays open (and ours) until the next OpenPort or
        // ClosePort.
        return {false, true,
                "cannot configure " + PortName(port.number) + " for 76800 bit/s 8N1 (" + failedStep +
                    "): " + SystemErrorText(static_cast<int>(error))};
    }
    lock.unlock();
    return {false, false, PortName(port.number) + ": " + DescribeOpenFailure(static_cast<int>(error), device)};
}

unsigned long CSerialPort::Engine::OpenDevice(const std::string& device, std::string& failedStep) {
    char definition[64];
    std::snprintf(definition, sizeof definition, kLineDefinition, static_cast<int>(kLineRate), 'N',
                  8, 1);

    failedStep = "CreateFileA";
    const HANDLE opened = ::CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    const DWORD openError = ::GetLastError();
    m_hPort.Reset(opened);
    if (!m_hPort.IsOpen()) {
        return openError;
    }
    const HANDLE port = m_hPort.Get();
    m_waitArmed = false;

    COMMTIMEOUTS& timeouts = m_os->m_timeouts;
    timeouts.ReadIntervalTimeout = kReadIntervalMs;
    timeouts.ReadTotalTimeoutMultiplier = kReadTotalMultiplierMs;
    timeouts.ReadTotalTimeoutConstant = kReadTotalConstantMs;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = kWriteTotalConstantMs;
    failedStep = "SetCommTimeouts";
    if (!::SetCommTimeouts(port, &timeouts)) {
        return ::GetLastError();
    }
    failedStep = "SetCommMask";
    if (!::SetCommMask(port, kWatchedEvents)) {
        return ::GetLastError();
    }
    DCB& line = m_os->m_lineConfig;
    line = DCB{};
    line.DCBlength = sizeof line;
    failedStep = "GetCommState";
    if (!::GetCommState(port, &line)) {
        return ::GetLastError();
    }
    line.fRtsControl = RTS_CONTROL_DISABLE;
    failedStep = "BuildCommDCBA";
    if (!::BuildCommDCBA(definition, &line)) {
        return ::GetLastError();
    }
    line.XonLim = 0;
    line.XoffLim = 0;
    line.XonChar = 0;
    line.XoffChar = 0;
    failedStep = "SetCommState";
    if (!::SetCommState(port, &line)) {
        return ::GetLastError();
    }
    ::PurgeComm(port, kPurgeAll);
    failedStep.clear();
    return ERROR_SUCCESS;
}

bool CSerialPort::Engine::StartPortThread() {
    if (m_thread.Running() || !m_hStopEvent.IsOpen() || !m_hSendEvent.IsOpen()) {
        return false;
    }
    return m_thread.Start([this] { PortThreadProc(); });
}

void CSerialPort::Engine::StopPortThread() {
    m_thread.Stop([this] { ::SetEvent(m_hStopEvent.Get()); });
}

void CSerialPort::Engine::ClosePort() {
    const bool onPortThread = m_thread.OnIt();
    {
        // An armed event wait completes when the mask changes, so the thread wakes.
        std::lock_guard lock(m_portLock);
        if (m_hPort.IsOpen()) {
            ::SetCommMask(m_hPort.Get(), 0);
        }
    }
    StopPortThread();
    if (onPortThread) {
        return;  // the port thread closes the port itself as it ends
    }
    std::lock_guard lock(m_portLock);
    CloseDeviceLocked();
}

void CSerialPort::Engine::CloseDeviceLocked() {
    if (!m_hPort.IsOpen()) {
        return;
    }
    const HANDLE port = m_hPort.Get();
    if (m_waitArmed) {
        // The system may write the wait's record until the wait has ended, so end it first.
        // Clearing the mask ends an armed wait everywhere; CancelIo does not on every system
        // (Wine keeps the wait), so it is only the second resort and neither wait is unbounded.
        constexpr DWORD kWaitEndMs = 1000;
        ::SetCommMask(port, 0);
        if (::WaitForSingleObject(m_os->m_hWaitEvent.Get(), kWaitEndMs) != WAIT_OBJECT_0) {
            ::CancelIo(port);
            ::WaitForSingleObject(m_os->m_hWaitEvent.Get(), kWaitEndMs);
        }
        DWORD transferred = 0;
        ::GetOverlappedResult(port, &m_os->m_overlapped, &transferred, FALSE);
        m_waitArmed = false;
    }
    ::PurgeComm(port, kPurgeAll);
    m_hPort.Reset();
}

void CSerialPort::Engine::HandOff(const std::uint8_t* bytes, std::size_t length) {
    if (bytes == nullptr || length == 0) {
        return;
    }
    {
        std::lock_guard lock(m_sendLock);
        m_send.Put(bytes, length);
    }
    ::SetEvent(m_hSendEvent.Get());
}

}  // namespace kestro
