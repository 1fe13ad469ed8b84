#pragma once
// The serial port engine: opens the cable's port at 76 800 bit/s 8N1, runs one port thread that
// hands every received byte to its owner, one at a time and in order, and writes the frames the
// requester hands off, each after a purge of both queues; its thread is stopped by a handshake.
// The thread waits on the stop event, the port and the send event at once, a pending send first
// of all, then a stop, then received bytes. Which ports an open tries is PortOpening's policy;
// each platform's state and port thread are its back end's (posix/SerialEngine.h,
// win32/SerialEngine.h), behind this class, so that no system header or field of one platform
// reaches the code that owns an engine.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "protocol/PortEngine.h"

namespace kestro {

class CSerialPort final : public IPortEngine {
public:
    CSerialPort();
    ~CSerialPort() override;
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;

    bool OpenPort(IPortOwner* owner, int portNumber) override;
    // The target's own device first (a device path is opened as it is, without a port number of
    // its own; messages name the port as the target does).
    bool OpenTarget(IPortOwner* owner, const PortTarget& target) override;
    // Whether a named port that cannot be opened is replaced by the cable found by its USB
    // lookup (the default, as the window does). Off, the named port alone is tried.
    void SetCableFallback(bool enabled);
    bool StartPortThread() override;
    void ClosePort() override;
    int PortNumber() const override;
    std::string LastOpenError() const override;
    int AutomaticPortNumber() const override;
    void HandOff(const std::uint8_t* bytes, std::size_t length) override;

    // The cable's port by its USB instance identifier, looked up in the system's device tree
    // (DefaultSysfsRoot() on Linux, the registry on Windows): n >= 1 found, 0 found without a
    // port number, -1 not found.
    static int FindUsbPortNumber(const char* instanceId);

    class Engine;  // the platform's back end

private:
    std::unique_ptr<Engine> m_engine;
};

}  // namespace kestro
