#pragma once
// The link between the upgrade procedure and whatever carries its bytes: the real serial engine
// (serial/CSerialPort) or a virtual link to the simulated radio (radio/VirtualLink).

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestro {

// Receives what a port engine reports. OnSerialRxChar is called once per received byte, in
// arrival order, synchronously: the engine waits until it returns (the analogue of the window
// message WM_SERIAL_RXCHAR, with the port number as its second parameter).
class IPortOwner {
public:
    virtual ~IPortOwner() = default;
    virtual void OnSerialRxChar(std::uint8_t byte, int portNumber) = 0;
    // A port failure worth telling the user about (for example the cable was pulled).
    // `text` is complete and readable; `portNumber` names the port.
    virtual void OnPortError(const std::string& text, int portNumber) = 0;
    // Called once a handed-off frame has been written to the line, on the thread that wrote it
    // (the port thread or the requester). It lets a measurement see when a request left; the
    // kit itself needs nothing here.
    virtual void OnFrameWritten(int /*portNumber*/) {}
};

// The send hand-off: the requester places a frame and signals; the engine's thread sends it at
// its next wake-up. The requester learns nothing of the outcome; it waits for the reply instead.
class ISendHandoff {
public:
    virtual ~ISendHandoff() = default;
    // Copies `length` bytes (1..256) into the send buffer, then sets the send flag and event.
    virtual void HandOff(const std::uint8_t* bytes, std::size_t length) = 0;
};

// The port a front end chose, carried as one value to the engine: the device to open (empty:
// the device of `number`), the COM number where one exists (0 with no device: the cable found
// automatically), and the port as the user named it ("COM5", "/dev/ttyUSB3"), for messages.
struct PortTarget {
    int number = 0;
    std::string device;
    std::string name;

    bool Automatic() const { return number == 0 && device.empty(); }
};

class IPortEngine : public ISendHandoff {
public:
    // portNumber 0: find the cable's port automatically. Returns success.
    virtual bool OpenPort(IPortOwner* owner, int portNumber) = 0;
    // Returns whether a port thread was created.
    virtual bool StartPortThread() = 0;
    // Stops the port thread (a handshake) and closes the port. Safe to call twice.
    virtual void ClosePort() = 0;
    // The number of the port really opened (after any fall-back).
    virtual int PortNumber() const = 0;
    // A plain-language reason for the last failed OpenPort ("permission denied: ..."), or empty.
    virtual std::string LastOpenError() const { return {}; }
    // The port that opening port 0 (the cable found automatically) would take now; 0 when no
    // cable is found.
    virtual int AutomaticPortNumber() const { return 0; }
    // Opens the port a front end chose. Engines that know only port numbers open its number.
    virtual bool OpenTarget(IPortOwner* owner, const PortTarget& target) {
        return OpenPort(owner, target.number);
    }
};

}  // namespace kestro
