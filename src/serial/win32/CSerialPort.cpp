// The Win32 back end of the port engine.
//
// The event wait, the one-byte reads and the writes each have an overlapped record and an event
// of their own. A send may start while the event wait is still outstanding, and the system
// writes into an operation's record until that operation completes, so one record shared by
// the three would let a completing wait signal (and overwrite the status of) a write in flight.
//
// Line events (CTS, break, ring, line errors, the flag character) are watched as the mask asks
// but not passed on: no owner acts on them, and IPortOwner has no place for them. A failed arming
// of the event wait is likewise not passed on; the thread then waits for stop and send only.

#include "serial/CSerialPort.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "serial/PortErrors.h"
#include "serial/PortNames.h"
#include "serial/win32/RegistryPorts.h"

namespace kestro {
namespace {

constexpr const char* kAutomaticInstance = "0006";
constexpr const char* kFallbackInstance = "0001";
constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
// How often in a row an event wait may complete at once with no input before the thread goes
// on to its three-way wait: a driver that keeps reporting line events must not keep the thread
// from seeing a stop or a send.
constexpr int kMaxImmediateWakes = 64;

// A manual-reset event, not signalled: reset when it exists, created otherwise.
bool PrepareEvent(WinHandle& event) {
    if (event.IsOpen()) {
        return ::ResetEvent(event.Get()) != 0;
    }
    event.Reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    return event.IsOpen();
}

bool IsSignalled(void* event) {
    return event != nullptr && ::WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

}  // namespace

struct CSerialPort::OsRecords {
    OVERLAPPED m_overlapped{};  // the port's event wait; its event is m_waitHandles[1]
    DWORD m_eventsSeen = 0;     // written by the system when the event wait completes
    OVERLAPPED m_readOverlapped{};
    OVERLAPPED m_writeOverlapped{};
    WinHandle m_hWaitEvent;
    WinHandle m_hReadEvent;
    WinHandle m_hWriteEvent;
    COMMTIMEOUTS m_timeouts{};
    DCB m_lineConfig{};
};

CSerialPort::CSerialPort() : m_os(std::make_unique<OsRecords>()) {}

CSerialPort::~CSerialPort() {
    StopPortThread();
    std::lock_guard lock(m_portLock);
    CloseDeviceLocked();
}

int CSerialPort::FindUsbPortNumber(const char* instanceId) {
    return win32::FindUsbPortNumberInRegistry(instanceId);
}

std::string CSerialPort::LastOpenError() const {
    std::lock_guard lock(m_errorLock);
    return m_lastOpenError;
}

bool CSerialPort::PrepareEvents() {
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

bool CSerialPort::OpenPort(IPortOwner* owner, int portNumber) {
    auto setError = [this](std::string text) {
        std::lock_guard lock(m_errorLock);
        m_lastOpenError = std::move(text);
    };
    setError({});

    if (portNumber == 0) {
        portNumber = FindUsbPortNumber(kAutomaticInstance);
        if (portNumber < 1) {
            setError(std::string("no such device: no programming cable (USB 10C4:EA60, instance ") +
                     kAutomaticInstance + ") is connected");
            return false;
        }
    }

    std::string firstFailure;
    for (int attempt = 0; attempt < 2; ++attempt) {
        StopPortThread();
        if (!PrepareEvents()) {
            setError("cannot create the port thread's events: " +
                     SystemErrorText(static_cast<int>(::GetLastError())));
            return false;
        }
        m_sendRequested.store(0);
        m_owner = owner;
        {
            std::lock_guard sendLock(m_sendLock);
            m_sendBuffer = std::make_unique_for_overwrite<std::uint8_t[]>(kSendBufferSize);
            m_sendLength = 0;
        }
        m_portNumber.store(portNumber);

        std::unique_lock lock(m_portLock);
        CloseDeviceLocked();
        std::string failedStep;
        const unsigned long error = OpenDevice(portNumber, failedStep);
        const std::string device = DevicePathForPort(portNumber).value_or(PortName(portNumber));
        if (error == ERROR_SUCCESS) {
            return true;
        }
        if (m_hPort.IsOpen()) {
            // Opened but not configured: it stays open (and ours) until the next OpenPort or
            // ClosePort.
            setError("cannot configure " + PortName(portNumber) + " for 76800 bit/s 8N1 (" +
                     failedStep + "): " + SystemErrorText(static_cast<int>(error)));
            return false;
        }
        lock.unlock();

        const std::string reason =
            PortName(portNumber) + ": " + DescribeOpenFailure(static_cast<int>(error), device);
        if (attempt == 1) {
            setError(firstFailure + "; the cable's port " + reason);
            return false;
        }
        firstFailure = reason;
        if (!m_cableFallback) {
            setError(firstFailure);
            return false;
        }
        portNumber = FindUsbPortNumber(kFallbackInstance);
        if (portNumber < 1) {
            setError(firstFailure);
            return false;
        }
    }
    return false;
}

unsigned long CSerialPort::OpenDevice(int portNumber, std::string& failedStep) {
    const std::string device = DevicePathForPort(portNumber).value_or(PortName(portNumber));
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

bool CSerialPort::StartPortThread() {
    if (m_threadRunning.load() == 1 || !m_hStopEvent.IsOpen() || !m_hSendEvent.IsOpen()) {
        return false;
    }
    if (m_portThread.joinable()) {
        m_portThread.join();  // a thread that was stopped from its own callback
    }
    m_threadRunning.store(1);
    try {
        m_portThread = std::thread([this] { PortThreadProc(); });
    } catch (const std::system_error&) {
        m_threadRunning.store(0);
        return false;
    }
    return true;
}

void CSerialPort::StopPortThread() {
    if (!m_portThread.joinable()) {
        return;
    }
    if (m_portThread.get_id() == std::this_thread::get_id()) {
        // Called from a callback on the port thread: it ends once the callback has returned.
        ::SetEvent(m_hStopEvent.Get());
        return;
    }
    while (m_threadRunning.load() == 1) {
        ::SetEvent(m_hStopEvent.Get());
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    m_portThread.join();
}

void CSerialPort::ClosePort() {
    const bool onPortThread =
        m_portThread.joinable() && m_portThread.get_id() == std::this_thread::get_id();
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

void CSerialPort::CloseDeviceLocked() {
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

void CSerialPort::HandOff(const std::uint8_t* bytes, std::size_t length) {
    if (bytes == nullptr || length == 0) {
        return;
    }
    {
        std::lock_guard lock(m_sendLock);
        if (m_sendBuffer == nullptr) {
            return;
        }
        length = std::min(length, kSendBufferSize);
        std::memcpy(m_sendBuffer.get(), bytes, length);
        m_sendLength = static_cast<int>(length);
        m_sendRequested.store(1);
    }
    ::SetEvent(m_hSendEvent.Get());
}

bool CSerialPort::TakeSend() {
    std::lock_guard lock(m_sendLock);
    if (m_sendRequested.exchange(0) != 1 || m_sendBuffer == nullptr) {
        return false;
    }
    m_outgoingLength = static_cast<std::size_t>(m_sendLength);
    std::memcpy(m_outgoing.data(), m_sendBuffer.get(), m_outgoingLength);
    return true;
}

bool CSerialPort::StopSignalled() const { return IsSignalled(m_hStopEvent.Get()); }

void CSerialPort::PortThreadProc() {
    {
        std::lock_guard lock(m_portLock);
        if (m_hPort.IsOpen()) {
            ::PurgeComm(m_hPort.Get(), kPurgeAll);
        }
    }
    for (;;) {
        ArmEventWait();

        Wake result = Wake::Nothing;
        const DWORD woken = ::WaitForMultipleObjects(static_cast<DWORD>(m_waitHandles.size()),
                                                     m_waitHandles.data(), FALSE, INFINITE);
        if (woken < WAIT_OBJECT_0 + m_waitHandles.size()) {
            result = static_cast<Wake>(woken - WAIT_OBJECT_0);
        }
        // A pending send goes before a stop and before received bytes.
        const bool sendTaken = TakeSend();
        if (sendTaken) {
            result = Wake::Send;
        }

        switch (result) {
            case Wake::Stop: {
                std::lock_guard lock(m_portLock);
                CloseDeviceLocked();
                m_threadRunning.store(0);
                return;
            }
            case Wake::PortActivity:
                ServePortActivity();
                break;
            case Wake::Send:
                if (sendTaken) {
                    PerformSend();
                } else {
                    // The event outlived a send already taken. Reset it, then look at the flag
                    // once more: a hand-off between the two must not be lost.
                    ::ResetEvent(m_hSendEvent.Get());
                    if (TakeSend()) {
                        PerformSend();
                    }
                }
                break;
            case Wake::Nothing:
                break;
        }
    }
}

void CSerialPort::ArmEventWait() {
    for (int wake = 0; wake < kMaxImmediateWakes && !m_waitArmed; ++wake) {
        std::lock_guard lock(m_portLock);
        const HANDLE port = m_hPort.Get();
        DWORD mask = 0;
        // A mask of 0 (the port is being closed) leaves nothing to wait for; a wait armed with
        // it would never end on some systems.
        if (port == nullptr || !::GetCommMask(port, &mask) || mask == 0) {
            return;
        }
        ::ResetEvent(m_os->m_hWaitEvent.Get());
        m_os->m_eventsSeen = 0;
        if (::WaitCommEvent(port, &m_os->m_eventsSeen, &m_os->m_overlapped)) {
            // Completed at once; its event is signalled. Bytes waiting: the three-way wait
            // serves them as port activity. Nothing waiting: arm again.
            COMSTAT status{};
            DWORD errors = 0;
            if (::ClearCommError(port, &errors, &status) && status.cbInQue > 0) {
                return;
            }
            if (StopSignalled() || m_sendRequested.load() == 1) {
                return;
            }
            continue;
        }
        const DWORD error = ::GetLastError();
        if (error == ERROR_IO_PENDING) {
            m_waitArmed = true;
        }
        // ERROR_INVALID_PARAMETER means a wait is armed already; any other error leaves the
        // thread waiting for stop and send only.
        return;
    }
}

void CSerialPort::ServePortActivity() {
    DWORD mask = 0;
    {
        std::lock_guard lock(m_portLock);
        const HANDLE port = m_hPort.Get();
        if (port == nullptr) {
            return;
        }
        if (m_waitArmed) {
            DWORD transferred = 0;
            // Completed normally, or aborted (ERROR_OPERATION_ABORTED) because the mask was
            // cleared: either way the wait is over and the mask read back says what to do.
            ::GetOverlappedResult(port, &m_os->m_overlapped, &transferred, FALSE);
            m_waitArmed = false;
        }
        ::ResetEvent(m_os->m_hWaitEvent.Get());
        if (!::GetCommMask(port, &mask)) {
            mask = 0;
        }
    }
    if ((mask & EV_RXCHAR) != 0) {
        ::Sleep(0);
        DrainInput();
    }
}

void CSerialPort::PerformSend() {
    ::ResetEvent(m_hSendEvent.Get());
    std::lock_guard lock(m_portLock);
    const HANDLE port = m_hPort.Get();
    if (port == nullptr) {
        return;
    }
    OVERLAPPED& write = m_os->m_writeOverlapped;
    write.Offset = 0;
    write.OffsetHigh = 0;
    // Each send starts from empty queues: reply bytes not read by now are lost.
    ::PurgeComm(port, kPurgeAll);
    DWORD written = 0;
    if (::WriteFile(port, m_outgoing.data(), static_cast<DWORD>(m_outgoingLength), &written,
                    &write)) {
        return;
    }
    if (::GetLastError() == ERROR_IO_PENDING) {
        // Bounded by the write time-out of the line (100 ms).
        for (;;) {
            if (::GetOverlappedResult(port, &write, &written, TRUE)) {
                return;
            }
            if (::GetLastError() != ERROR_IO_INCOMPLETE) {
                break;
            }
        }
    }
    // Short or failed writes are not reported: the requester sees only that no reply comes.
    COMSTAT status{};
    DWORD errors = 0;
    ::ClearCommError(port, &errors, &status);
}

void CSerialPort::DrainInput() {
    // A read that fails is reported once and the drain goes on with the next waiting byte; a
    // second failure in a row ends the drain, so that a port that keeps failing cannot keep
    // the thread reporting instead of waiting for a stop.
    bool lastReadFailed = false;
    for (;;) {
        if (StopSignalled()) {
            return;
        }
        DWORD waiting = 0;
        {
            std::lock_guard lock(m_portLock);
            COMSTAT status{};
            DWORD errors = 0;
            if (m_hPort.IsOpen() && ::ClearCommError(m_hPort.Get(), &errors, &status)) {
                waiting = status.cbInQue;
            }
        }
        if (waiting == 0) {
            return;
        }

        std::uint8_t byte = 0;
        bool got = false;
        std::string failure;
        {
            std::lock_guard lock(m_portLock);
            const HANDLE port = m_hPort.Get();
            if (port == nullptr) {
                return;
            }
            OVERLAPPED& read = m_os->m_readOverlapped;
            read.Offset = 0;
            read.OffsetHigh = 0;
            DWORD count = 0;
            if (::ReadFile(port, &byte, 1, &count, &read)) {
                got = count == 1;
            } else if (const DWORD error = ::GetLastError(); error == ERROR_IO_PENDING) {
                if (::GetOverlappedResult(port, &read, &count, TRUE)) {
                    got = count == 1;
                } else {
                    failure =
                        ReportPortError("GetOverlappedResults() in ReadFile()", ::GetLastError());
                }
            } else {
                failure = ReportPortError("ReadFile()", error);
            }
        }
        if (!failure.empty()) {
            if (lastReadFailed) {
                return;
            }
            lastReadFailed = true;
            DeliverError(failure);
            continue;  // the next status query decides whether bytes are still waiting
        }
        lastReadFailed = false;
        // A byte read after the stop was signalled can no longer reach a waiting owner.
        if (!got || StopSignalled()) {
            continue;
        }
        if (m_owner != nullptr) {
            m_owner->OnSerialRxChar(byte, m_portNumber.load());
        }
    }
}

std::string CSerialPort::ReportPortError(const char* operationName, unsigned long error) const {
    char* systemText = nullptr;
    ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<char*>(&systemText), 0, nullptr);
    const std::string system = systemText != nullptr ? systemText : "";
    if (systemText != nullptr) {
        ::LocalFree(systemText);
    }
    return std::string("WARNING:  ") + operationName + " Failed with the following error: \n" +
           system + "\nPort: " + std::to_string(m_portNumber.load()) + "\n";
}

void CSerialPort::DeliverError(const std::string& text) {
    if (m_owner != nullptr) {
        m_owner->OnPortError(text, m_portNumber.load());
    }
}

}  // namespace kestro
