#pragma once
// Tells as soon as a serial device comes or goes, so that a front end need not look for cables
// on a timer. On Linux it is udev's monitor of the tty subsystem (libudev, netlink): an event
// arrives once udev has made the device's node and its /dev/serial/by-id name. Where there is no
// such monitor (no libudev in this build, Windows, udev not running) Open says why, and the
// caller keeps looking for cables on a timer.

#include <memory>
#include <string>

namespace kestro {

class TtyEventMonitor {
  public:
    // Null, with the reason in `reason`, when this system gives no device events.
    static std::unique_ptr<TtyEventMonitor> Open(std::string& reason);
    virtual ~TtyEventMonitor() = default;

    // Becomes readable when events wait; the caller watches it and then calls TakeEvents.
    virtual int Descriptor() const = 0;
    // Reads every event that waits, without blocking; true when there was any.
    virtual bool TakeEvents() = 0;
};

}  // namespace kestro
