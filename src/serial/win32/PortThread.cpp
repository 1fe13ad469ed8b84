// The Win32 port thread: the three-way wait, the port's event wait, the sends and the drain.

#include "serial/win32/OsRecords.h"

#include <algorithm>

namespace kestro {
namespace {

// How often in a row an event wait may complete at once with no input before the thread goes
// on to its three-way wait: a driver that keeps reporting line events must not keep the thread
// from seeing a stop or a send.
constexpr int kMaxImmediateWakes = 64;

bool IsSignalled(void* event) {
    return event != nullptr && ::WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

}  // namespace

bool CSerialPort::Engine::TakeSend() {
    std::lock_guard lock(m_sendLock);
    m_outgoingLength = m_send.Take(m_outgoing);
    return m_outgoingLength > 0;
}

bool CSerialPort::Engine::StopSignalled() const { return IsSignalled(m_hStopEvent.Get()); }

void CSerialPort::Engine::PortThreadProc() {
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
                m_thread.Ended();
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

void CSerialPort::Engine::ArmEventWait() {
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
            if (StopSignalled() || m_send.Pending()) {
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

void CSerialPort::Engine::ServePortActivity() {
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

void CSerialPort::Engine::PerformSend() {
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

void CSerialPort::Engine::DrainInput() {
    // What is waiting is read in one call and delivered byte by byte. A read that fails is
    // reported once and the drain goes on with the next waiting bytes; a second failure in a
    // row ends the drain, so that a port that keeps failing cannot keep the thread reporting
    // instead of waiting for a stop.
    bool lastReadFailed = false;
    for (;;) {
        if (StopSignalled()) {
            return;
        }
        DWORD count = 0;
        std::string failure;
        {
            std::lock_guard lock(m_portLock);
            const HANDLE port = m_hPort.Get();
            COMSTAT status{};
            DWORD errors = 0;
            if (port == nullptr || !::ClearCommError(port, &errors, &status) ||
                status.cbInQue == 0) {
                return;
            }
            const DWORD wanted =
                std::min<DWORD>(status.cbInQue, static_cast<DWORD>(m_incoming.size()));
            OVERLAPPED& read = m_os->m_readOverlapped;
            read.Offset = 0;
            read.OffsetHigh = 0;
            if (!::ReadFile(port, m_incoming.data(), wanted, &count, &read)) {
                if (const DWORD error = ::GetLastError(); error != ERROR_IO_PENDING) {
                    failure = ReportPortError("ReadFile()", error);
                } else if (!::GetOverlappedResult(port, &read, &count, TRUE)) {
                    failure =
                        ReportPortError("GetOverlappedResults() in ReadFile()", ::GetLastError());
                }
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
        for (DWORD i = 0; i < count; ++i) {
            // A byte read after the stop was signalled can no longer reach a waiting owner.
            if (StopSignalled()) {
                return;
            }
            if (m_owner != nullptr) {
                m_owner->OnSerialRxChar(m_incoming[i], m_portNumber.load());
            }
        }
    }
}

std::string CSerialPort::Engine::ReportPortError(const char* operationName, unsigned long error) const {
    char* systemText = nullptr;
    ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<char*>(&systemText), 0, nullptr);
    const std::string system = systemText != nullptr ? systemText : "";
    if (systemText != nullptr) {
        ::LocalFree(systemText);
    }
    return PortWarningText(operationName, system, m_portNumber.load());
}

void CSerialPort::Engine::DeliverError(const std::string& text) {
    if (m_owner != nullptr) {
        m_owner->OnPortError(text, m_portNumber.load());
    }
}

}  // namespace kestro
