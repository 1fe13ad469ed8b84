#include "soak/DamagedLine.h"

#include "soak/SoakRandom.h"

namespace kestro::soak {

void DamagedLine::SetDamage(double corruptRate, double dropRate, std::uint32_t seed) {
    m_corruptRate = corruptRate;
    m_dropRate = dropRate;
    m_random.seed(seed);
}

void DamagedLine::StartRun(const RunBound& bound) {
    m_bound = bound;
    m_start = m_clock.Now();
    m_requests = 0;
    m_sent.clear();
    m_lastCommand = 0;
}

void DamagedLine::HandOff(const std::uint8_t* bytes, std::size_t length) {
    ++m_requests;
    if (m_requests > m_bound.requests) {
        throw RunOverrun("more requests than the retries allow (" +
                         std::to_string(m_bound.requests) + ")");
    }
    if (m_clock.Now() - m_start > m_bound.time) {
        throw RunOverrun("still sending after " + std::to_string(m_bound.time.count()) +
                         " ms, the longest its retries allow");
    }
    m_sent.emplace(reinterpret_cast<const char*>(bytes), length);
    if (length >= 3) m_lastCommand = static_cast<std::uint16_t>((bytes[1] << 8) | bytes[2]);
    if (m_corruptRate <= 0.0 && m_dropRate <= 0.0 && !m_rewrite) {
        m_inner.HandOff(bytes, length);
        return;
    }
    m_buffer.clear();
    for (std::size_t i = 0; i < length; ++i) {
        if (Chance(m_random, m_dropRate)) continue;
        std::uint8_t byte = bytes[i];
        if (Chance(m_random, m_corruptRate)) {
            byte = static_cast<std::uint8_t>(byte ^ (1U + m_random() % 255U));  // never unchanged
        }
        m_buffer.push_back(byte);
    }
    if (m_rewrite) m_rewrite(m_buffer);
    if (!m_buffer.empty()) m_inner.HandOff(m_buffer.data(), m_buffer.size());
}

}  // namespace kestro::soak
