#include "radio/VirtualLink.h"

#include <algorithm>

namespace kestro {

namespace {

Millis CeilMillis(std::chrono::microseconds us) { return std::chrono::ceil<Millis>(us); }

}  // namespace

VirtualLink::VirtualLink(VirtualClock& clock, SimRadio& radio) : m_clock(clock), m_radio(radio) {}

VirtualLink::~VirtualLink() { ClosePort(); }

bool VirtualLink::OpenPort(IPortOwner* owner, int portNumber) {
    ClosePort();
    if (!m_openFailure.empty()) {
        m_lastOpenError = m_openFailure;
        return false;
    }
    m_lastOpenError.clear();
    m_open = true;
    m_portNumber = portNumber != 0 ? portNumber : m_cablePort;
    m_session->owner = owner;
    m_session->portNumber = m_portNumber;
    return true;
}

bool VirtualLink::StartPortThread() {
    if (!m_open) {
        return false;
    }
    m_started = true;
    if (!m_heldRequest.empty()) {
        const std::vector<std::uint8_t> request = std::move(m_heldRequest);
        m_heldRequest.clear();
        Send(request);
    }
    return true;
}

void VirtualLink::ClosePort() {
    m_open = false;
    m_started = false;
    m_heldRequest.clear();
    m_session->owner = nullptr;
    ++m_session->generation;  // deliveries already scheduled find a stale generation
}

void VirtualLink::HandOff(const std::uint8_t* bytes, std::size_t length) {
    if (!m_open || bytes == nullptr || length == 0) {
        return;
    }
    ++m_handOffs;
    std::vector<std::uint8_t> request(bytes, bytes + length);
    if (!m_started) {
        m_heldRequest = std::move(request);  // the real engine sends it at its first wake-up
        return;
    }
    Send(request);
}

void VirtualLink::Send(const std::vector<std::uint8_t>& request) {
    const bool pace = m_radio.Config().pace;
    const std::chrono::microseconds now = m_clock.Now();
    // With pacing the request itself takes wire time before the radio has its last byte.
    const std::chrono::microseconds heardAt =
        pace ? now + PacedByteOffset(request.size() - 1) : now;
    for (SimReply& reply : m_radio.Feed(request, heardAt)) {
        if (reply.bytes.empty()) {
            continue;
        }
        const std::chrono::microseconds start = heardAt + reply.delay;
        if (!pace) {
            Deliver(CeilMillis(start), std::move(reply.bytes));
            continue;
        }
        const std::chrono::microseconds base = std::max(start, m_lineFreeAt);
        for (std::size_t i = 0; i < reply.bytes.size(); ++i) {
            Deliver(CeilMillis(base + PacedByteOffset(i)), {reply.bytes[i]});
        }
        m_lineFreeAt = base + PacedByteOffset(reply.bytes.size() - 1);
    }
}

void VirtualLink::Deliver(Millis at, std::vector<std::uint8_t> bytes) {
    std::weak_ptr<Session> weak = m_session;
    const std::uint64_t generation = m_session->generation;
    m_clock.ScheduleAt(at, [weak, generation, bytes = std::move(bytes)] {
        const std::shared_ptr<Session> session = weak.lock();
        for (const std::uint8_t byte : bytes) {
            // Re-checked per byte: the owner may close the port from inside its callback.
            if (!session || session->generation != generation || session->owner == nullptr) {
                return;
            }
            ++session->delivered;
            session->owner->OnSerialRxChar(byte, session->portNumber);
        }
    });
}

}  // namespace kestro
