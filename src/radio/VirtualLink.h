#pragma once
// A port engine without a port: hands each request to a SimRadio at the current instant of a
// VirtualClock and delivers the replies' bytes to the owner at their virtual instants, so a whole
// upgrade runs on one thread in virtual time. There is no port thread; the clock is the engine.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/VirtualClock.h"
#include "protocol/PortEngine.h"
#include "radio/SimRadio.h"

namespace kestro {

class VirtualLink final : public IPortEngine {
  public:
    // `clock` and `radio` must outlive every delivery the link schedules; the link itself may go
    // first (its pending deliveries then do nothing).
    VirtualLink(VirtualClock& clock, SimRadio& radio);
    ~VirtualLink() override;
    VirtualLink(const VirtualLink&) = delete;
    VirtualLink& operator=(const VirtualLink&) = delete;

    bool OpenPort(IPortOwner* owner, int portNumber) override;
    bool StartPortThread() override;
    void ClosePort() override;
    int PortNumber() const override { return m_portNumber; }
    std::string LastOpenError() const override { return m_lastOpenError; }
    int AutomaticPortNumber() const override { return m_cablePort; }
    void HandOff(const std::uint8_t* bytes, std::size_t length) override;

    // Every OpenPort fails with `reason` until AllowOpen().
    void FailOpen(std::string reason) { m_openFailure = std::move(reason); }
    void AllowOpen() { m_openFailure.clear(); }
    // The port number that automatic detection (port 0) finds.
    void SetCablePort(int portNumber) { m_cablePort = portNumber; }

    std::size_t HandOffs() const { return m_handOffs; }
    std::size_t BytesDelivered() const { return m_session->delivered; }

  private:
    // What a scheduled delivery needs; shared so a delivery outliving the link is harmless.
    struct Session {
        IPortOwner* owner = nullptr;
        int portNumber = 0;
        std::uint64_t generation = 0;
        std::size_t delivered = 0;
    };

    void Send(const std::vector<std::uint8_t>& request);
    void Deliver(Millis at, std::vector<std::uint8_t> bytes);

    VirtualClock& m_clock;
    SimRadio& m_radio;
    std::shared_ptr<Session> m_session = std::make_shared<Session>();
    bool m_open = false;
    bool m_started = false;
    int m_portNumber = 0;
    int m_cablePort = 7;
    std::string m_openFailure;
    std::string m_lastOpenError;
    std::vector<std::uint8_t> m_heldRequest;  // handed off before the "thread" started
    std::size_t m_handOffs = 0;
    std::chrono::microseconds m_lineFreeAt{0};  // paced replies queue behind each other
};

}  // namespace kestro
