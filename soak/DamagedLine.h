#pragma once
// The cable between kit and radio as the soak sees it: a port engine in front of the virtual
// link that corrupts and drops request bytes at chosen rates (the radio's own config damages
// the replies), counts the requests handed off, and stops a run that goes past its bounds by
// throwing RunOverrun, so that a run that would never end shows up as a violation.

#include <chrono>
#include <cstdint>
#include <functional>
#include <random>
#include <span>
#include <stdexcept>
#include <string>
#include <unordered_set>
#include <vector>

#include "soak/RetryBounds.h"
#include "platform/VirtualClock.h"
#include "protocol/PortEngine.h"

namespace kestro::soak {

struct RunOverrun : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class DamagedLine final : public IPortEngine {
  public:
    DamagedLine(IPortEngine& inner, VirtualClock& clock) : m_inner(inner), m_clock(clock) {}

    // Rates per request byte (0..1), from a generator seeded with `seed`.
    void SetDamage(double corruptRate, double dropRate, std::uint32_t seed);
    // Sees (and may change) every request after the damage; for tests of the soak's checks.
    void SetRewriter(std::function<void(std::vector<std::uint8_t>&)> rewrite) {
        m_rewrite = std::move(rewrite);
    }
    // From now on: at most `bound` more time and requests.
    void StartRun(const RunBound& bound);

    bool OpenPort(IPortOwner* owner, int portNumber) override {
        return m_inner.OpenPort(owner, portNumber);
    }
    bool StartPortThread() override { return m_inner.StartPortThread(); }
    void ClosePort() override { m_inner.ClosePort(); }
    int PortNumber() const override { return m_inner.PortNumber(); }
    std::string LastOpenError() const override { return m_inner.LastOpenError(); }
    void HandOff(const std::uint8_t* bytes, std::size_t length) override;

    std::size_t RequestsThisRun() const { return m_requests; }
    // Whether the kit handed off exactly these bytes during this run. A request the radio heard
    // that the kit never sent was forged by damage that the check bytes could not see.
    bool SentThisRun(std::span<const std::uint8_t> frame) const {
        return m_sent.count(std::string(frame.begin(), frame.end())) != 0;
    }
    std::chrono::milliseconds RunStart() const { return m_start; }
    // The group and opcode of the last request handed off (00 00 before any).
    std::uint16_t LastCommand() const { return m_lastCommand; }

  private:
    IPortEngine& m_inner;
    VirtualClock& m_clock;
    double m_corruptRate = 0.0;
    double m_dropRate = 0.0;
    std::mt19937 m_random{1};
    RunBound m_bound;
    std::chrono::milliseconds m_start{0};
    std::size_t m_requests = 0;
    std::uint16_t m_lastCommand = 0;
    std::vector<std::uint8_t> m_buffer;
    std::unordered_set<std::string> m_sent;
    std::function<void(std::vector<std::uint8_t>&)> m_rewrite;
};

}  // namespace kestro::soak
