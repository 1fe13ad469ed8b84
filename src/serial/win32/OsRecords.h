#pragma once
// The Windows engine's system records, shared by its two halves: SerialEngine.cpp (opening and
// closing) and PortThread.cpp (the port thread). It brings in <windows.h>, so only those two
// include it.

#include <windows.h>

#include "serial/win32/SerialEngine.h"

namespace kestro {

inline constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

struct CSerialPort::Engine::OsRecords {
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

}  // namespace kestro
