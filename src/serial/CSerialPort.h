#pragma once
// The serial port engine: opens the cable's port at 76 800 bit/s 8N1, runs one port thread that
// hands every received byte to its owner, one at a time and in order, and writes the frames the
// requester hands off, each after a purge of both queues; its thread is stopped by a handshake.
// Each platform declares the engine in its own back end (posix/, win32/); what they share is in
// PortEngineShared.h.

#if defined(_WIN32)
#include "serial/win32/CSerialPort.h"
#else
#include "serial/posix/CSerialPort.h"
#endif
